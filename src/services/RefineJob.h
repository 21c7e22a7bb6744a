#pragma once

// The refinement pass and the two undos (of a pass, of an organize run) as jobs every front end
// runs between RunJob::begin() and RunJob::end(); each writes or reads the folder's move journal.

#include "refine/FeaturePrintRefiner.h"
#include "refine/MoveJournal.h"
#include "services/RunJob.h"

namespace services {

inline const QString kRefineErrors = QStringLiteral("后处理错误 %1 条（详见上方日志）");
inline const QString kUndoErrors = QStringLiteral("撤销错误 %1 条（详见上方日志）");
inline const QString kToRestore = QStringLiteral("待恢复 %1 个文件");
inline const QString kUndoing = QStringLiteral("撤销：%1");
inline const QString kRatingsInFilesStay =
    QStringLiteral("星级属性已恢复；exiftool 写进照片文件的星级（XMP）仍保留在照片中");

/// "—— 开始 FeaturePrint 后处理 ——" … "—— FeaturePrint 后处理结束 ——".
JobFrame refineFrame();
/// The pass started from the window's File menu.
JobFrame refineMenuFrame();
/// "—— 撤销上一次后处理 ——" … "—— 撤销结束 ——", without the log file line.
JobFrame refineUndoFrame();
/// "—— 撤销上一次整理 ——" … "—— 撤销结束 ——", without the log file line.
JobFrame organizeUndoFrame();

/// The feature print the application uses.
FeaturePrintRefiner::FeaturePrintFn featurePrint();

/// "[警告] {error}" when a journal could not be written (the run itself goes on).
void warnAboutJournal(const RunJob& job, const std::optional<QString>& error);

/// The pass on an organized folder with a new journal ("[警告] " when it cannot be written).
FeaturePrintRefiner::RunResult refinePass(const std::filesystem::path& root, const core::RunContext& context,
                                          const FeaturePrintRefiner::FeaturePrintFn& print = featurePrint());
/// The folder's newest journal of `kind` undone: "待恢复 {n} 个文件", the moves back and the
/// closing count. A journal that cannot be used is one error; nothing moves.
FeaturePrintRefiner::UndoResult undoJournal(MoveJournal::Kind kind, const std::filesystem::path& folder,
                                            const core::RunContext& context);

/// The pass on an organized folder with a new journal, and the summary of its errors.
FeaturePrintRefiner::RunResult refine(const RunJob& job, const std::filesystem::path& root,
                                      const FeaturePrintRefiner::FeaturePrintFn& print = featurePrint());

/// "—— 撤销上一次操作 ——" … "—— 撤销结束 ——", without the log file line.
JobFrame historyUndoFrame();

/// Undoes the newest operation that touched `path`'s tree (the shoot or a folder in it):
/// "待恢复 {n} 个文件", the moves back, the files and attributes put back, the closing count, and
/// the summary of errors. Later operations in its way, or a record pointing outside the shoot,
/// refuse it before anything moves.
FeaturePrintRefiner::UndoResult undoAt(const RunJob& job, const std::filesystem::path& path);

/// Undoes the folder's newest journal of `kind`: "待恢复 {n} 个文件", the moves back, the closing
/// count, and the summary of errors. A journal that cannot be used is one error; nothing moves.
FeaturePrintRefiner::UndoResult undo(const RunJob& job, MoveJournal::Kind kind,
                                     const std::filesystem::path& folder);

} // namespace services
