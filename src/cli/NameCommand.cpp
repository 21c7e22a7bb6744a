#include "cli/Cli.h"

#include "services/NameJob.h"

namespace cli {

int nameCommand(Args& args) {
    const auto engine = engineForRun(args);
    if (!engine) return 2;
    FolderProcessor::RunOptions options;
    options.useVisionPrefilter = !args.flag(QStringLiteral("--no-prefilter"));
    if (args.unknownOption() || args.rest().isEmpty()) return usageError("name");
    std::vector<std::filesystem::path> folders;
    for (int i = 0; i < args.rest().size(); ++i)
        folders.push_back(args.path(i));

    TerminalProgress progress;
    services::RunJob job(services::organizeFrame(), ProcessingLock::Owner::main,
                         [&progress](const QString& line) { progress.print(line); });
    if (!job.begin()) {
        err(job.frame().busyMessage);
        return 2;
    }
    job.setProgressObserver([&progress](const core::Progress& p) { progress.update(p); });
    const CancelOnSignals cancelOnSignals(job.cancelToken());
    const auto result = services::nameFolders(job, *engine, folders, options);
    progress.clear();
    job.end();
    return services::exitStatus(result.errors, result.cancelled);
}

} // namespace cli
