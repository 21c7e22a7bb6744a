#include "cli/Cli.h"

#include "services/NameJob.h"

namespace cli {

int nameCommand(Args& args) {
    const auto requests = requestsForRun(args);
    if (!requests) return usageError("name");
    const auto engine = engineForRun(args);
    if (!engine) return 2;
    FolderProcessor::RunOptions options;
    options.requestsInFlight = *requests;
    options.useVisionPrefilter = !args.flag(QStringLiteral("--no-prefilter"));
    if (args.unknownOption() || args.rest().isEmpty()) return usageError("name");
    std::vector<std::filesystem::path> folders;
    for (int i = 0; i < args.rest().size(); ++i)
        folders.push_back(args.path(i));

    return runJob(services::organizeFrame(), [&](const services::RunJob& job) {
        return services::nameFolders(job, *engine, folders, options);
    });
}

} // namespace cli
