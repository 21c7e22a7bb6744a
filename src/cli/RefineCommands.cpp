#include "cli/Cli.h"

#include "core/Text.h"
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
    // A folder that is not there fails inside the job, as organize does.
    return runJob(services::refineFrame(),
                  [&](const services::RunJob& job) { return services::refine(job, root); });
}

int historyUndoCommand(Args& args) {
    if (args.unknownOption() || args.rest().size() != 1) return usageError("undo");
    const std::filesystem::path path = args.path(0);
    return runJob(services::historyUndoFrame(),
                  [&](const services::RunJob& job) { return services::undoAt(job, path); });
}

int historyCommand(Args& args) {
    if (args.unknownOption() || args.rest().size() != 1) return usageError("history");
    const auto root = MoveJournal::historyRootFor(args.path(0));
    if (!root) {
        out(QStringLiteral("没有记录的操作"));
        return 0;
    }
    out(QStringLiteral("文件夹：") + core::displayPath(*root));
    const auto operations = MoveJournal::operationsOf(*root);
    for (auto it = operations.rbegin(); it != operations.rend(); ++it) {
        if (!it->contents) {
            out(QStringLiteral("%1  无法读取：%2").arg(core::displayName(it->file), it->problem));
            continue;
        }
        out(QStringLiteral("%1  %2 个文件  %3")
                .arg(MoveJournal::describe(*it->contents, *root))
                .arg(it->contents->fileCount())
                .arg(it->undoable ? QStringLiteral("可撤销") : QStringLiteral("已撤销")));
    }
    return 0;
}

} // namespace cli
