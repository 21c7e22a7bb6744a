#pragma once

// The organize job every front end runs between RunJob::begin() and RunJob::end().

#include "organize/AutoOrganizer.h"
#include "services/Engine.h"
#include "services/RunJob.h"

namespace services {

inline const QString kDryRunNote = QStringLiteral("预演：只分类、读标签并列出计划，不创建文件夹、不移动文件");

/// The engine's notice, the dry-run note, the organize run and the summary of its errors.
AutoOrganizer::RunResult organize(const RunJob& job, const Engine& engine,
                                  const std::filesystem::path& folder,
                                  const AutoOrganizer::RunOptions& options = {});

} // namespace services
