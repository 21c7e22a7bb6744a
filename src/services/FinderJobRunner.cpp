#include "services/FinderJobRunner.h"

#include "ai/AIConfig.h"
#include "services/Engine.h"
#include "services/NameJob.h"
#include "services/OCRJob.h"

#include <mutex>

namespace {

class ApplicationRunner final : public FinderJobRunner {
  public:
    explicit ApplicationRunner(std::function<ai::AISettings()> settings) : m_read(std::move(settings)) {}

    void beginBatch(const services::RunJob& job) override {
        // The settings are read on the interface thread, where they are edited, and the engine is
        // picked by the rule of every front end (the stored offline switch first). Every batch's
        // log says which engine it uses.
        const ai::AISettings settings = m_read ? m_read() : ai::AIConfig::shared().snapshot();
        auto engine = services::selectEngine(settings, services::EngineChoice::automatic);
        std::lock_guard guard(m_mutex);
        if (!engine) {
            m_engine.reset();
            m_engineError = engine.error().description();
            job.log(core::failure(m_engineError));
            return;
        }
        m_engine = std::make_shared<services::Engine>(std::move(engine.value()));
        job.log(m_engine->notice);
    }

    FolderOutcome nameFolder(const services::RunJob& job, const std::filesystem::path& folder) override {
        const auto engine = current();
        if (!engine) return {folder, {engineError()}};
        FolderProcessor::RunOptions options;
        options.useVisionPrefilter = true;
        // The command line's naming service, for one folder.
        const services::NameResult result = services::nameFolders(job, quiet(*engine), {folder}, options);
        FolderOutcome outcome{folder, result.errors, 0, false};
        if (!result.folders.empty()) {
            outcome.folder = result.folders.front().folder;
            outcome.renamed = result.folders.front().renamedCount;
            outcome.cancelled = result.folders.front().cancelled;
        }
        return outcome;
    }

    ImageOutcome readImage(const services::RunJob& job, const std::filesystem::path& image) override {
        const auto engine = current();
        if (!engine) return {false, {engineError()}, false};
        // The command line's OCR service, for one image.
        const services::OCRResult result = services::readImages(job, quiet(*engine), {image});
        return {!result.written.empty(), result.errors, result.cancelled};
    }

  private:
    /// The batch's engine without its notice: the batch has logged it once already.
    static services::Engine quiet(services::Engine& engine) {
        return services::Engine{std::make_unique<ai::BorrowedBackend>(*engine.backend), QString(),
                                engine.isLocal, engine.model};
    }

    std::shared_ptr<services::Engine> current() {
        std::lock_guard guard(m_mutex);
        return m_engine;
    }

    QString engineError() {
        std::lock_guard guard(m_mutex);
        return m_engineError;
    }

    std::function<ai::AISettings()> m_read;
    std::mutex m_mutex;
    std::shared_ptr<services::Engine> m_engine;
    QString m_engineError;
};

} // namespace

std::unique_ptr<FinderJobRunner> makeApplicationRunner(std::function<ai::AISettings()> settings) {
    return std::make_unique<ApplicationRunner>(std::move(settings));
}
