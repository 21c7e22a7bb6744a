#include "services/RefineJob.h"

#include "refine/ImageFeaturePrint.h"

namespace services {

JobFrame refineFrame() {
    return JobFrame{QStringLiteral("—— 开始 FeaturePrint 后处理 ——"),
                    QStringLiteral("—— FeaturePrint 后处理结束 ——"), kBusy, true};
}

JobFrame refineUndoFrame() {
    return JobFrame{QStringLiteral("—— 撤销上一次后处理 ——"), QStringLiteral("—— 撤销结束 ——"), kBusy, false};
}

JobFrame organizeUndoFrame() {
    return JobFrame{QStringLiteral("—— 撤销上一次整理 ——"), QStringLiteral("—— 撤销结束 ——"), kBusy, false};
}

FeaturePrintRefiner::FeaturePrintFn featurePrint() {
    // Without the model files every print fails: a pass then logs its lines and moves nothing.
    return refine::ImageFeaturePrint::featureVector;
}

void warnAboutJournal(const RunJob& job, const std::optional<QString>& error) {
    if (error) job.log(QStringLiteral("[警告] ") + *error);
}

FeaturePrintRefiner::RunResult refinePass(const std::filesystem::path& root, const core::RunContext& context,
                                          const FeaturePrintRefiner::FeaturePrintFn& print) {
    const auto warn = [&](const std::optional<QString>& error) {
        if (error) context.log(QStringLiteral("[警告] ") + *error);
    };
    // Every pass on a folder replaces its undo history, even one that moves nothing.
    std::unique_ptr<MoveJournal::Writer> journal;
    std::error_code ec;
    if (std::filesystem::is_directory(root, ec)) {
        auto created = MoveJournal::Writer::create(MoveJournal::Kind::refine, root);
        if (created)
            journal = std::move(created.value());
        else
            warn(created.error().description());
    }
    FeaturePrintRefiner::Options options;
    options.featurePrint = print;
    options.journal = journal.get();
    auto result = FeaturePrintRefiner::refine(root, context, options);
    if (journal) warn(journal->error());
    return result;
}

FeaturePrintRefiner::RunResult refine(const RunJob& job, const std::filesystem::path& root,
                                      const FeaturePrintRefiner::FeaturePrintFn& print) {
    auto result = refinePass(root, job.context(), print);
    job.summarize(result.errors, kRefineErrors);
    return result;
}

FeaturePrintRefiner::UndoResult undoJournal(MoveJournal::Kind kind, const std::filesystem::path& folder,
                                            const core::RunContext& context) {
    const auto pending = MoveJournal::prepareUndo(kind, folder);
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
    return result;
}

FeaturePrintRefiner::UndoResult undo(const RunJob& job, MoveJournal::Kind kind,
                                     const std::filesystem::path& folder) {
    auto result = undoJournal(kind, folder, job.context());
    job.summarize(result.errors, kUndoErrors);
    return result;
}

} // namespace services
