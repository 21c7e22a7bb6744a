#pragma once

// Naming folders in place, one after another, inside one run job (the command line now; the
// file-manager jobs later).

#include "folder/FolderProcessor.h"
#include "services/Engine.h"
#include "services/RunJob.h"

#include <filesystem>
#include <vector>

namespace services {

struct NameResult {
    std::vector<FolderProcessor::RunResult> folders; ///< one per folder named, in order
    QStringList errors;                              ///< every folder's errors, in order
    bool cancelled = false;
    bool refused = false; ///< not started: the history could not be written
};

/// The engine's notice, each folder's run in the order given (stopping when cancelled), and the
/// summary of all errors. `options.model` is taken from the engine.
NameResult nameFolders(const RunJob& job, const Engine& engine,
                       const std::vector<std::filesystem::path>& folders,
                       FolderProcessor::RunOptions options = {});

} // namespace services
