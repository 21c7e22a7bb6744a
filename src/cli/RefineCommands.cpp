#include "cli/Cli.h"

#include "intake/ImageScanner.h"
#include "services/RefineJob.h"

namespace cli {

int undoCommand(Args& args, MoveJournal::Kind kind) {
    const char* name = kind == MoveJournal::Kind::refine ? "refine" : "organize";
    if (args.unknownOption() || args.rest().size() != 1) return usageError(name);
    const std::filesystem::path folder = args.path(0);
    return runJob(kind == MoveJournal::Kind::refine ? services::refineUndoFrame()
                                                    : services::organizeUndoFrame(),
                  [&](const services::RunJob& job) { return services::undo(job, kind, folder); });
}

int refineCommand(Args& args) {
    if (args.flag(QStringLiteral("--undo"))) return undoCommand(args, MoveJournal::Kind::refine);
    if (args.unknownOption() || args.rest().size() != 1) return usageError("refine");
    const std::filesystem::path root = args.path(0);
    return runJob(services::refineFrame(), [&](const services::RunJob& job) {
        std::error_code ec;
        if (!std::filesystem::is_directory(root, ec)) {
            // As organize says it: a folder that is not there is a failure, not "nothing to do".
            FeaturePrintRefiner::RunResult missing;
            missing.errors << ImageScanner::kFolderNotFound;
            job.summarize(missing.errors, services::kRefineErrors);
            return missing;
        }
        return services::refine(job, root);
    });
}

} // namespace cli
