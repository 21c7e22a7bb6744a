#pragma once

// The refinement pass and the two undos (of a pass, of an organize run) as jobs every front end
// runs between RunJob::begin() and RunJob::end(); each writes or reads the folder's move journal.

#include "refine/FeaturePrintRefiner.h"
#include "refine/MoveJournal.h"
#include "services/RunJob.h"

namespace services {

inline const QString kBusy = QStringLiteral("另有任务正在处理，请稍后再试。");
inline const QString kRefineErrors = QStringLiteral("后处理错误 %1 条（详见上方日志）");
inline const QString kUndoErrors = QStringLiteral("撤销错误 %1 条（详见上方日志）");
inline const QString kToRestore = QStringLiteral("待恢复 %1 个文件");

/// "—— 开始 FeaturePrint 后处理 ——" … "—— FeaturePrint 后处理结束 ——".
JobFrame refineFrame();
/// "—— 撤销上一次后处理 ——" … "—— 撤销结束 ——", without the log file line.
JobFrame refineUndoFrame();
/// "—— 撤销上一次整理 ——" … "—— 撤销结束 ——", without the log file line.
JobFrame organizeUndoFrame();

/// The feature print the application uses.
FeaturePrintRefiner::FeaturePrintFn featurePrint();

/// "[警告] {error}" when a journal could not be written (the run itself goes on).
void warnAboutJournal(const RunJob& job, const std::optional<QString>& error);

/// The pass on an organized folder with a new journal, and the summary of its errors.
FeaturePrintRefiner::RunResult refine(const RunJob& job, const std::filesystem::path& root,
                                      const FeaturePrintRefiner::FeaturePrintFn& print = featurePrint());

/// Undoes the folder's newest journal of `kind`: "待恢复 {n} 个文件", the moves back, the closing
/// count, and the summary of errors. A journal that cannot be used is one error; nothing moves.
FeaturePrintRefiner::UndoResult undo(const RunJob& job, MoveJournal::Kind kind,
                                     const std::filesystem::path& folder);

} // namespace services
