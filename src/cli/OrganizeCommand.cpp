#include "cli/Cli.h"

#include "services/OrganizeJob.h"

namespace cli {

int organizeCommand(Args& args) {
    if (args.flag(QStringLiteral("--undo"))) return undoCommand(args, MoveJournal::Kind::organize);
    const auto engine = engineForRun(args);
    if (!engine) return 2;
    AutoOrganizer::RunOptions options;
    options.useVisionPrefilter = !args.flag(QStringLiteral("--no-prefilter"));
    options.dryRun = args.flag(QStringLiteral("--dry-run"));
    if (args.unknownOption() || args.rest().size() != 1) return usageError("organize");

    TerminalProgress progress;
    services::RunJob job(services::organizeFrame(), ProcessingLock::Owner::main,
                         [&progress](const QString& line) { progress.print(line); });
    if (!job.begin()) {
        err(job.frame().busyMessage);
        return 2;
    }
    job.setProgressObserver([&progress](const core::Progress& p) { progress.update(p); });
    const CancelOnSignals cancelOnSignals(job.cancelToken());
    const auto result = services::organize(job, *engine, args.path(0), options);
    progress.clear();
    job.end();
    return services::exitStatus(result.errors, result.cancelled);
}

} // namespace cli
