#include "services/OrganizeJob.h"

#include "services/History.h"
#include "services/PlanJob.h"

namespace services {

AutoOrganizer::RunResult
withOrganizeHistory(const RunJob& job, const std::filesystem::path& folder, bool changes,
                    const std::function<AutoOrganizer::RunResult(AutoOrganizer::MoveObserver*)>& work) {
    if (!changes) return work(nullptr);
    if (const auto reason = refuseWithoutHistory(job))
        return refusedResult<AutoOrganizer::RunResult>(*reason);
    // The run's history, so that it can be undone; started by its first step on disk.
    MoveJournal::LazyWriter journal(MoveJournal::Kind::organize, folder, folder);
    journal.stopOnFailure(job.cancelToken());
    auto result = work(&journal);
    settleHistory(result, journal.error());
    return result;
}

AutoOrganizer::RunResult organize(const RunJob& job, const Engine& engine,
                                  const std::filesystem::path& folder,
                                  const AutoOrganizer::RunOptions& options,
                                  const std::filesystem::path& planOut) {
    if (!engine.notice.isEmpty()) job.log(engine.notice);
    if (options.dryRun) job.log(kDryRunNote);
    const bool changes = !options.dryRun && !options.observer;
    auto result = withOrganizeHistory(job, folder, changes, [&](AutoOrganizer::MoveObserver* history) {
        AutoOrganizer::RunOptions journaled = options;
        if (history) journaled.observer = history;
        return AutoOrganizer::run(folder, *engine.backend, job.context(), journaled);
    });
    if (result.refused) return result;
    if (options.dryRun && !planOut.empty() && !result.cancelled && !result.classified.empty())
        writePlan(job, folder, result, planOut);
    job.summarize(result.errors);
    return result;
}

} // namespace services
