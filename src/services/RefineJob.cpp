#include "services/RefineJob.h"

#include "intake/ImageScanner.h"
#include "refine/ImageFeaturePrint.h"
#include "services/History.h"

namespace services {

JobFrame refineFrame() {
    return JobFrame{QStringLiteral("—— 开始 FeaturePrint 后处理 ——"),
                    QStringLiteral("—— FeaturePrint 后处理结束 ——"), ProcessingLock::kBusy, true};
}

JobFrame refineMenuFrame() {
    return JobFrame{QStringLiteral("—— 开始 FeaturePrint 后处理（文件菜单）——"),
                    QStringLiteral("—— FeaturePrint 后处理结束 ——"), ProcessingLock::kBusy, true};
}

JobFrame refineUndoFrame() {
    return JobFrame{QStringLiteral("—— 撤销上一次后处理 ——"), QStringLiteral("—— 撤销结束 ——"),
                    ProcessingLock::kBusy, false};
}

JobFrame organizeUndoFrame() {
    return JobFrame{QStringLiteral("—— 撤销上一次整理 ——"), QStringLiteral("—— 撤销结束 ——"),
                    ProcessingLock::kBusy, false};
}

FeaturePrintRefiner::FeaturePrintFn featurePrint() {
    // Without the model files every print fails: a pass then logs its lines and moves nothing.
    return refine::ImageFeaturePrint::featureVector;
}

void warnAboutJournal(const RunJob& job, const std::optional<QString>& error) {
    if (error) job.log(core::warning(*error));
}

FeaturePrintRefiner::RunResult refinePass(const std::filesystem::path& root, const core::RunContext& context,
                                          const FeaturePrintRefiner::FeaturePrintFn& print) {
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) {
        FeaturePrintRefiner::RunResult missing;
        missing.errors << ImageScanner::kFolderNotFound;
        context.log(core::failure(ImageScanner::kFolderNotFound));
        return missing;
    }
    if (const auto reason = refuseWithoutHistory(context))
        return refusedResult<FeaturePrintRefiner::RunResult>(*reason);
    MoveJournal::LazyWriter journal(MoveJournal::Kind::refine, root, root);
    journal.stopOnFailure(context.cancel);
    FeaturePrintRefiner::Options options;
    options.featurePrint = print;
    options.journal = &journal;
    auto result = FeaturePrintRefiner::refine(root, context, options);
    settleHistory(result, journal.error());
    return result;
}

FeaturePrintRefiner::RunResult refine(const RunJob& job, const std::filesystem::path& root,
                                      const FeaturePrintRefiner::FeaturePrintFn& print) {
    auto result = refinePass(root, job.context(), print);
    job.summarize(result.errors, kRefineErrors);
    return result;
}

JobFrame historyUndoFrame() {
    return JobFrame{QStringLiteral("—— 撤销上一次操作 ——"), QStringLiteral("—— 撤销结束 ——"),
                    ProcessingLock::kBusy, false};
}

namespace {

FeaturePrintRefiner::UndoResult undoPrepared(const core::Result<MoveJournal::PendingUndo>& pending,
                                             const core::RunContext& context) {
    if (!pending) {
        FeaturePrintRefiner::UndoResult refused;
        refused.errors << pending.error().description();
        return refused;
    }
    context.log(kToRestore.arg(pending->records.size()));
    auto result = MoveJournal::runUndo(*pending, context);
    if (result.cancelled)
        context.log(core::kCancelledLine.arg(result.restored));
    else
        context.log(FeaturePrintRefiner::undoSummaryLine(result));
    if (!result.cancelled && pending->contents.kind == MoveJournal::Kind::name &&
        !pending->contents.attributes.empty())
        context.log(kRatingsInFilesStay);
    return result;
}

} // namespace

FeaturePrintRefiner::UndoResult undoJournal(MoveJournal::Kind kind, const std::filesystem::path& folder,
                                            const core::RunContext& context) {
    return undoPrepared(MoveJournal::prepareUndo(kind, folder), context);
}

FeaturePrintRefiner::UndoResult undo(const RunJob& job, MoveJournal::Kind kind,
                                     const std::filesystem::path& folder) {
    auto result = undoJournal(kind, folder, job.context());
    job.summarize(result.errors, kUndoErrors);
    return result;
}

FeaturePrintRefiner::UndoResult undoAt(const RunJob& job, const std::filesystem::path& path) {
    const auto pending = MoveJournal::prepareUndoAt(path);
    if (pending) job.log(kUndoing.arg(MoveJournal::describe(pending->contents, pending->contents.root)));
    auto result = undoPrepared(pending, job.context());
    job.summarize(result.errors, kUndoErrors);
    return result;
}

} // namespace services
