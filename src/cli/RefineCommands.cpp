#include "cli/Cli.h"

#include "services/RefineJob.h"

namespace cli {

namespace {

/// Runs one journal job with the command line's framing, progress and signals.
template <typename Work> int runJournalJob(services::JobFrame frame, Work work) {
    TerminalProgress progress;
    services::RunJob job(std::move(frame), ProcessingLock::Owner::main,
                         [&progress](const QString& line) { progress.print(line); });
    if (!job.begin()) {
        err(job.frame().busyMessage);
        return 2;
    }
    job.setProgressObserver([&progress](const core::Progress& p) { progress.update(p); });
    const CancelOnSignals cancelOnSignals(job.cancelToken());
    const auto result = work(job);
    progress.clear();
    job.end();
    return services::exitStatus(result.errors, result.cancelled);
}

} // namespace

int undoCommand(Args& args, MoveJournal::Kind kind) {
    const char* name = kind == MoveJournal::Kind::refine ? "refine" : "organize";
    if (args.unknownOption() || args.rest().size() != 1) return usageError(name);
    const std::filesystem::path folder = args.path(0);
    return runJournalJob(kind == MoveJournal::Kind::refine ? services::refineUndoFrame()
                                                           : services::organizeUndoFrame(),
                         [&](const services::RunJob& job) { return services::undo(job, kind, folder); });
}

int refineCommand(Args& args) {
    if (args.flag(QStringLiteral("--undo"))) return undoCommand(args, MoveJournal::Kind::refine);
    if (args.unknownOption() || args.rest().size() != 1) return usageError("refine");
    const std::filesystem::path root = args.path(0);
    return runJournalJob(services::refineFrame(),
                         [&](const services::RunJob& job) { return services::refine(job, root); });
}

} // namespace cli
