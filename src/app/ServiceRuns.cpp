#include "app/ServiceRuns.h"

#include "services/OrganizeJob.h"

namespace app {

namespace {
const QString kRefineUnavailable = QStringLiteral("FeaturePrint 后处理在此版本中不可用");
}

ServiceRuns::ServiceRuns(EngineSource engines) : m_engines(std::move(engines)) {
    if (!m_engines)
        m_engines = [](const ai::AISettings& settings, bool offline) {
            return services::selectEngine(settings, offline ? services::EngineChoice::local
                                                            : services::EngineChoice::remote);
        };
}

AutoOrganizer::RunResult ServiceRuns::organize(const services::RunJob& job,
                                               const std::filesystem::path& folder, bool useVisionPrefilter,
                                               bool offlineEngine, const ai::AISettings& settings) {
    auto engine = m_engines(settings, offlineEngine);
    if (!engine) {
        AutoOrganizer::RunResult result;
        result.errors << engine.error().description();
        job.summarize(result.errors);
        return result;
    }
    AutoOrganizer::RunOptions options;
    options.useVisionPrefilter = useVisionPrefilter;
    return services::organize(job, *engine, folder, options);
}

// The refinement pass and the journals come with the refinement subsystem; until it is part of
// the build these say so instead of moving anything.
RefineOutcome ServiceRuns::refine(const std::filesystem::path&, const core::RunContext& context) {
    context.log(QStringLiteral("[失败] ") + kRefineUnavailable);
    return {{kRefineUnavailable}, {}, false};
}

UndoOutcome ServiceRuns::undoRefine(const std::vector<MoveRecord>& moves, const core::RunContext& context) {
    context.log(QStringLiteral("[失败] ") + kRefineUnavailable);
    return {0, moves, {kRefineUnavailable}};
}

bool ServiceRuns::canUndoOrganize(const std::filesystem::path&) const {
    return false;
}

UndoOutcome ServiceRuns::undoOrganize(const std::filesystem::path&, const core::RunContext& context) {
    context.log(QStringLiteral("[失败] ") + kRefineUnavailable);
    return {0, {}, {kRefineUnavailable}};
}

} // namespace app
