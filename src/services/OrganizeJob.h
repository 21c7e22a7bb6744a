#pragma once

// The organize job every front end runs between RunJob::begin() and RunJob::end().

#include "organize/AutoOrganizer.h"
#include "services/Engine.h"
#include "services/RunJob.h"

#include <filesystem>
#include <functional>

namespace services {

inline const QString kDryRunNote = QStringLiteral("预演：只分类、读标签并列出计划，不创建文件夹、不移动文件");

/// The engine's notice, the dry-run note, the organize run and the summary of its errors. A dry
/// run given `planOut` writes its plan there (see PlanJob.h).
AutoOrganizer::RunResult organize(const RunJob& job, const Engine& engine,
                                  const std::filesystem::path& folder,
                                  const AutoOrganizer::RunOptions& options = {},
                                  const std::filesystem::path& planOut = {});

/// Runs `work` with the shoot's organize history listening to every step on disk, so that the
/// run can be undone: refused before `work` starts when the history cannot be written, and
/// stopped (an error, not a cancel) when writing fails later. Without `changes` (a dry run, a
/// caller's own observer) `work` gets no history.
AutoOrganizer::RunResult
withOrganizeHistory(const RunJob& job, const std::filesystem::path& folder, bool changes,
                    const std::function<AutoOrganizer::RunResult(AutoOrganizer::MoveObserver*)>& work);

} // namespace services
