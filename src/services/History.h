#pragma once

// The shoot's history as every job that changes files uses it: refused before anything changes
// when it cannot be written, and the job stopped (as a cancel stops it) when writing fails later.

#include "refine/MoveJournal.h"
#include "services/RunJob.h"

#include <QStringList>

#include <filesystem>
#include <optional>

namespace services {

/// The reason a job that changes files must not start ("[失败] " is written), or nothing.
std::optional<QString> refuseWithoutHistory(const RunJob& job);
std::optional<QString> refuseWithoutHistory(const core::RunContext& context);

/// After a run that wrote its history: a failure to write stopped the run, which is then an error
/// of the run, not a cancel.
template <typename Result> void settleHistory(Result& result, const std::optional<QString>& error) {
    if (!error) return;
    result.errors << MoveJournal::kStoppedForJournal.arg(*error);
    result.cancelled = false;
}

/// Where a change at `path` (a file or a folder that a job changes or renames) is written down:
/// the shoot above it that has a history, else the folder holding it.
std::filesystem::path historyRootFor(const std::filesystem::path& path);

/// A job's result when it was refused before it started.
template <typename Result> Result refusedResult(const QString& reason) {
    Result result;
    result.errors << reason;
    result.refused = true;
    return result;
}

} // namespace services
