#pragma once

// The work the main window starts, seen from the window: each call runs on a worker thread and
// reports through the hooks it is given. The application uses the real runs (ServiceRuns); tests
// can put scripted runs in their place.

#include "ai/AIConfig.h"
#include "core/Log.h"

#include <QStringList>

#include <filesystem>
#include <functional>
#include <vector>

namespace app {

/// What every run gets besides its inputs.
struct RunHooks {
    core::Log log; ///< one complete line per call, any thread
    std::function<void(const QString& stage, int index, int count)> progress;
    std::function<bool()> cancelled;
};

/// One file move of a refinement pass (where it was, where it is now).
struct MoveRecord {
    std::filesystem::path fromPath;
    std::filesystem::path toPath;
};

struct OrganizeOutcome {
    QStringList errors;
    bool cancelled = false;
};

struct RefineOutcome {
    QStringList errors;
    std::vector<MoveRecord> moves;
    bool cancelled = false;
};

struct UndoOutcome {
    int restored = 0;
    std::vector<MoveRecord> remaining;
    QStringList errors;
};

class WindowRuns {
  public:
    virtual ~WindowRuns() = default;
    /// The organize run by capture time, with the offline engine or the configured endpoint.
    virtual OrganizeOutcome organize(const std::filesystem::path& folder, bool useVisionPrefilter,
                                     bool offlineEngine, const ai::AISettings& settings, const RunHooks&) = 0;
    /// The refinement pass over an organized folder.
    virtual RefineOutcome refine(const std::filesystem::path& folder, const RunHooks&) = 0;
    /// Puts the moves of the last refinement back, last first.
    virtual UndoOutcome undoRefine(const std::vector<MoveRecord>& moves, const RunHooks&) = 0;
    /// Whether the folder holds the journal of an organize run that can be undone.
    virtual bool canUndoOrganize(const std::filesystem::path& folder) const = 0;
    /// Undoes the last organize run of the folder from its journal.
    virtual UndoOutcome undoOrganize(const std::filesystem::path& folder, const RunHooks&) = 0;
};

} // namespace app
