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

FeaturePrintRefiner::RunResult refine(const RunJob& job, const std::filesystem::path& root,
                                      const FeaturePrintRefiner::FeaturePrintFn& print) {
    // Every pass on a folder replaces its undo history, even one that moves nothing.
    std::unique_ptr<MoveJournal::Writer> journal;
    std::error_code ec;
    if (std::filesystem::is_directory(root, ec)) {
        auto created = MoveJournal::Writer::create(MoveJournal::Kind::refine, root);
        if (created)
            journal = std::move(created.value());
        else
            warnAboutJournal(job, created.error().description());
    }
    FeaturePrintRefiner::Options options;
    options.featurePrint = print;
    options.journal = journal.get();
    auto result = FeaturePrintRefiner::refine(root, job.context(), options);
    if (journal) warnAboutJournal(job, journal->error());
    job.summarize(result.errors, kRefineErrors);
    return result;
}

FeaturePrintRefiner::UndoResult undo(const RunJob& job, MoveJournal::Kind kind,
                                     const std::filesystem::path& folder) {
    const auto pending = MoveJournal::prepareUndo(kind, folder);
    if (!pending) {
        FeaturePrintRefiner::UndoResult refused;
        refused.errors << pending.error().description();
        job.summarize(refused.errors, kUndoErrors);
        return refused;
    }
    job.log(kToRestore.arg(pending->records.size()));
    auto result = MoveJournal::runUndo(*pending, job.context());
    if (result.cancelled)
        job.log(core::kCancelledLine.arg(result.restored));
    else
        job.log(FeaturePrintRefiner::undoSummaryLine(result));
    job.summarize(result.errors, kUndoErrors);
    return result;
}

} // namespace services
