#include "services/OrganizeJob.h"

#include "services/History.h"

namespace services {

AutoOrganizer::RunResult organize(const RunJob& job, const Engine& engine,
                                  const std::filesystem::path& folder,
                                  const AutoOrganizer::RunOptions& options) {
    if (!engine.notice.isEmpty()) job.log(engine.notice);
    if (options.dryRun) job.log(kDryRunNote);
    const bool changes = !options.dryRun && !options.observer;
    if (changes)
        if (const auto reason = refuseWithoutHistory(job))
            return refusedResult<AutoOrganizer::RunResult>(*reason);
    // The run's history, so that it can be undone; started by its first step on disk.
    MoveJournal::LazyWriter journal(MoveJournal::Kind::organize, folder, folder);
    journal.stopOnFailure(job.cancelToken());
    AutoOrganizer::RunOptions journaled = options;
    if (changes) journaled.observer = &journal;
    auto result = AutoOrganizer::run(folder, *engine.backend, job.context(), journaled);
    settleHistory(result, journal.error());
    job.summarize(result.errors);
    return result;
}

} // namespace services
