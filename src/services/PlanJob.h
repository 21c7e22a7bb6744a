#pragma once

// A plan saved by a dry run, possibly edited, carried out later: read and checked against the
// shoot before anything moves, then executed as an organize run (locked, logged, in the shoot's
// history, undone like any other). The window's preview carries out its plan the same way.

#include "organize/AutoOrganizer.h"
#include "organize/Plan.h"
#include "services/Engine.h"
#include "services/RunJob.h"

#include <filesystem>
#include <optional>

namespace services {

inline const QString kPlanWritten = QStringLiteral("计划已写入：%1");
inline const QString kPlanNotWritten = QStringLiteral("无法写入计划文件 %1：%2");
inline const QString kPlanNotRead = QStringLiteral("无法读取计划文件 %1：%2");
inline const QString kPlanRun = QStringLiteral("按计划整理：%1");
/// {the plan's folder}.
inline const QString kPlanForOtherFolder = QStringLiteral("计划属于另一个文件夹：%1");
/// {what no longer fits}; "（共 {n} 个文件不符）" follows when more than one.
inline const QString kPlanStale = QStringLiteral("计划已过时：%1");
inline const QString kStaleMissing = QStringLiteral("%1 已不存在");
inline const QString kStaleSize = QStringLiteral("%1 的大小已改变");
inline const QString kStaleTime = QStringLiteral("%1 的修改时间已改变");
/// {count}, {names}.
inline const QString kAppearedSincePlan = QStringLiteral("计划之后新增的 %1 个文件留在原处：%2");

/// Writes the plan of a dry run to `path` (logging "计划已写入：…"); a failure is logged with
/// "[失败] " and added to the result's errors.
void writePlan(const RunJob& job, const std::filesystem::path& folder, AutoOrganizer::RunResult& result,
               const std::filesystem::path& path);

/// A dry run and the plan it made, for a preview: no plan when the run was stopped, found no
/// media or its plan could not be made (the reason is in the errors and the log).
struct PreparedPlan {
    AutoOrganizer::RunResult run;
    std::optional<plan::Plan> plan;
};
PreparedPlan preparePlan(const RunJob& job, const Engine& engine, const std::filesystem::path& folder,
                         AutoOrganizer::RunOptions options);

/// The plan in a file, or why it cannot be used.
core::Result<plan::Plan> readPlanFile(const std::filesystem::path& path);

/// Nothing when the plan was made for `folder` and every file it lists is still there as it was
/// (same size and modification time); else the reason.
std::optional<QString> checkPlanFits(const plan::Plan& plan, const std::filesystem::path& folder);

/// The media files in `folder` the plan does not list (they stay where they are).
QStringList filesNotInPlan(const plan::Plan& plan, const std::filesystem::path& folder);

/// Carries out a plan in `folder` through the same moves, label files and history as an organize
/// run, reading no label and asking no model. A plan that does not fit is refused before
/// anything moves (`refused`, the reason logged with "[失败] ").
AutoOrganizer::RunResult organizeFromPlan(const RunJob& job, const std::filesystem::path& folder,
                                          const plan::Plan& plan);
/// The same from a plan file; a file that cannot be read as a plan is refused the same way.
AutoOrganizer::RunResult organizeFromPlanFile(const RunJob& job, const std::filesystem::path& folder,
                                              const std::filesystem::path& planFile);

} // namespace services
