#include "services/OrganizeJob.h"

namespace services {

AutoOrganizer::RunResult organize(const RunJob& job, const Engine& engine,
                                  const std::filesystem::path& folder,
                                  const AutoOrganizer::RunOptions& options) {
    if (!engine.notice.isEmpty()) job.log(engine.notice);
    if (options.dryRun) job.log(kDryRunNote);
    auto result = AutoOrganizer::run(folder, *engine.backend, job.context(), options);
    job.summarize(result.errors);
    return result;
}

} // namespace services
