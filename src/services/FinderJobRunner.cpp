#include "services/FinderJobRunner.h"

#include "ai/AIConfig.h"
#include "folder/FolderProcessor.h"
#include "services/Engine.h"
#include "services/ImageOCRProcessor.h"

#include <mutex>

namespace {

bool same(const ai::AISettings& a, const ai::AISettings& b) {
    return a.baseURL == b.baseURL && a.apiKey == b.apiKey && a.modelID == b.modelID;
}

class ApplicationRunner final : public FinderJobRunner {
  public:
    explicit ApplicationRunner(std::function<ai::AISettings()> settings) : m_read(std::move(settings)) {}

    void beginItem(const core::Log& log) override {
        // The settings are read on the interface thread, where they are edited; the engine is
        // picked again only when they changed, and its notice is logged when it is picked.
        const ai::AISettings settings = m_read ? m_read() : ai::AIConfig::shared().snapshot();
        std::lock_guard guard(m_mutex);
        if (m_engine && same(settings, m_settings)) return;
        m_settings = settings;
        auto engine = services::selectEngine(settings, services::EngineChoice::automatic);
        if (!engine) {
            m_engine.reset();
            m_engineError = engine.error().description();
            log(ImageOCRProcessor::kFailurePrefix + m_engineError);
            return;
        }
        m_engine = std::make_shared<services::Engine>(std::move(engine.value()));
        if (!m_engine->notice.isEmpty()) log(m_engine->notice);
    }

    FolderOutcome nameFolder(const std::filesystem::path& folder, const core::Log& log) override {
        const auto engine = current();
        if (!engine) return {folder, {engineError()}};
        FolderProcessor::RunOptions options;
        options.useVisionPrefilter = true;
        options.model = engine->model;
        auto result = FolderProcessor::run(folder, *engine->backend, core::logOnly(log), options);
        return {result.folder, result.errors};
    }

    bool readImage(const std::filesystem::path& image, const core::Log& log) override {
        const auto engine = current();
        if (!engine) return false;
        return bool(ImageOCRProcessor::run(image, *engine->backend, log));
    }

  private:
    inline static const QString kFolderNamingUnavailable =
        QStringLiteral("[失败] 这个版本还不能就地命名文件夹");

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
    ai::AISettings m_settings;
    std::shared_ptr<services::Engine> m_engine;
    QString m_engineError;
};

} // namespace

std::unique_ptr<FinderJobRunner> makeApplicationRunner(std::function<ai::AISettings()> settings) {
    return std::make_unique<ApplicationRunner>(std::move(settings));
}
