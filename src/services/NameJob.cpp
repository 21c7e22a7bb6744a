#include "services/NameJob.h"

namespace services {

NameResult nameFolders(const RunJob& job, const Engine& engine,
                       const std::vector<std::filesystem::path>& folders,
                       FolderProcessor::RunOptions options) {
    if (!engine.notice.isEmpty()) job.log(engine.notice);
    options.model = engine.model;
    NameResult result;
    const core::RunContext context = job.context();
    for (const auto& folder : folders) {
        if (context.cancelled()) {
            result.cancelled = true;
            break;
        }
        auto named = FolderProcessor::run(folder, *engine.backend, context, options);
        result.errors << named.errors;
        result.cancelled = named.cancelled;
        result.folders.push_back(std::move(named));
        if (result.cancelled) break;
    }
    job.summarize(result.errors);
    return result;
}

} // namespace services
