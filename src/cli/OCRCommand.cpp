#include "cli/Cli.h"

#include "services/OCRJob.h"

namespace cli {

int ocrCommand(Args& args) {
    const auto engine = engineForRun(args);
    if (!engine) return 2;
    if (args.unknownOption() || args.rest().isEmpty()) return usageError("ocr");
    std::vector<std::filesystem::path> selection;
    for (int i = 0; i < args.rest().size(); ++i)
        selection.push_back(args.path(i));

    TerminalProgress progress;
    services::RunJob job(services::ocrFrame(), ProcessingLock::Owner::main,
                         [&progress](const QString& line) { progress.print(line); });
    if (!job.begin()) {
        err(job.frame().busyMessage);
        return 2;
    }
    job.setProgressObserver([&progress](const core::Progress& p) { progress.update(p); });
    const CancelOnSignals cancelOnSignals(job.cancelToken());
    const auto result = services::readImages(job, *engine, selection);
    progress.clear();
    job.end();
    return services::exitStatus(result.errors, result.cancelled);
}

} // namespace cli
