#include "app/ServiceRuns.h"

#include "services/OrganizeJob.h"
#include "services/PlanJob.h"
#include "services/RefineJob.h"

namespace app {

ServiceRuns::ServiceRuns(EngineSource engines) : m_engines(std::move(engines)) {
    if (!m_engines)
        m_engines = [](ai::AISettings settings, bool offline) {
            // The window's switch is the stored one; the rule of every front end decides.
            settings.useOfflineEngine = offline;
            return services::selectEngine(settings, services::EngineChoice::automatic);
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
    options.requestsInFlight = settings.maxRequestsInFlight;
    return services::organize(job, *engine, folder, options);
}

services::PreparedPlan ServiceRuns::preparePlan(const services::RunJob& job,
                                                const std::filesystem::path& folder, bool useVisionPrefilter,
                                                bool offlineEngine, const ai::AISettings& settings) {
    auto engine = m_engines(settings, offlineEngine);
    if (!engine) {
        services::PreparedPlan prepared;
        prepared.run.errors << engine.error().description();
        job.summarize(prepared.run.errors);
        return prepared;
    }
    AutoOrganizer::RunOptions options;
    options.useVisionPrefilter = useVisionPrefilter;
    return services::preparePlan(job, *engine, folder, options);
}

namespace {

std::vector<MoveRecord> fromRefiner(const std::vector<FeaturePrintRefiner::MoveRecord>& moves) {
    std::vector<MoveRecord> out;
    for (const auto& m : moves)
        out.push_back({m.fromPath, m.toPath});
    return out;
}

UndoOutcome outcomeOf(const FeaturePrintRefiner::UndoResult& result) {
    return {result.restored, fromRefiner(result.remaining), result.errors};
}

} // namespace

RefineOutcome ServiceRuns::refine(const std::filesystem::path& folder, const core::RunContext& context) {
    const auto result = services::refinePass(folder, context);
    return {result.errors, fromRefiner(result.moves), result.cancelled};
}

bool ServiceRuns::canUndoRefine(const std::filesystem::path& folder) const {
    return MoveJournal::prepareUndo(MoveJournal::Kind::refine, folder).ok();
}

UndoOutcome ServiceRuns::undoRefine(const std::filesystem::path& folder, const core::RunContext& context) {
    return outcomeOf(services::undoJournal(MoveJournal::Kind::refine, folder, context));
}

bool ServiceRuns::canUndoOrganize(const std::filesystem::path& folder) const {
    return MoveJournal::prepareUndo(MoveJournal::Kind::organize, folder).ok();
}

UndoOutcome ServiceRuns::undoOrganize(const std::filesystem::path& folder, const core::RunContext& context) {
    return outcomeOf(services::undoJournal(MoveJournal::Kind::organize, folder, context));
}

bool ServiceRuns::canUndoLatest(const std::filesystem::path& folder) const {
    return MoveJournal::prepareUndoAt(folder).ok();
}

UndoOutcome ServiceRuns::undoLatest(const services::RunJob& job, const std::filesystem::path& folder) {
    return outcomeOf(services::undoAt(job, folder));
}

} // namespace app
