#include "services/OrganizeJob.h"

#include "services/RefineJob.h"

namespace services {

AutoOrganizer::RunResult organize(const RunJob& job, const Engine& engine,
                                  const std::filesystem::path& folder,
                                  const AutoOrganizer::RunOptions& options) {
    if (!engine.notice.isEmpty()) job.log(engine.notice);
    if (options.dryRun) job.log(kDryRunNote);
    // The run's journal, so that it can be undone; started by its first step on disk.
    MoveJournal::LazyWriter journal(MoveJournal::Kind::organize, folder);
    AutoOrganizer::RunOptions journaled = options;
    if (!journaled.observer && !journaled.dryRun) journaled.observer = &journal;
    auto result = AutoOrganizer::run(folder, *engine.backend, job.context(), journaled);
    warnAboutJournal(job, journal.error());
    job.summarize(result.errors);
    return result;
}

} // namespace services
