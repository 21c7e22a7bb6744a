#pragma once

// The work the main window starts, seen from the window: each call runs on a worker thread inside
// a begun run job and reports through it. The application uses the real runs (ServiceRuns);
// tests put a scripted vision backend, or scripted refinement, in their place.

#include "ai/AIConfig.h"
#include "core/Progress.h"
#include "organize/AutoOrganizer.h"
#include "services/PlanJob.h"
#include "services/RunJob.h"

#include <QStringList>

#include <filesystem>
#include <vector>

namespace app {

/// One file move of a refinement pass (where it was, where it is now).
struct MoveRecord {
    std::filesystem::path fromPath;
    std::filesystem::path toPath;
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
    /// The organize run by capture time, on the offline engine or the configured endpoint,
    /// errors summarized into the job's log.
    virtual AutoOrganizer::RunResult organize(const services::RunJob& job,
                                              const std::filesystem::path& folder, bool useVisionPrefilter,
                                              bool offlineEngine, const ai::AISettings& settings) = 0;
    /// The preview's dry run: classification and label reading as a run does them, and the plan.
    virtual services::PreparedPlan preparePlan(const services::RunJob& job,
                                               const std::filesystem::path& folder, bool useVisionPrefilter,
                                               bool offlineEngine, const ai::AISettings& settings) {
        Q_UNUSED(folder);
        Q_UNUSED(useVisionPrefilter);
        Q_UNUSED(offlineEngine);
        Q_UNUSED(settings);
        services::PreparedPlan none;
        job.summarize(none.run.errors);
        return none;
    }
    /// Carries out the plan the preview shows, as `organize --plan` does.
    virtual AutoOrganizer::RunResult
    carryOutPlan(const services::RunJob& job, const std::filesystem::path& folder, const plan::Plan& plan) {
        return services::organizeFromPlan(job, folder, plan);
    }
    /// The refinement pass over an organized folder.
    virtual RefineOutcome refine(const std::filesystem::path& folder, const core::RunContext& context) = 0;
    /// Whether the shoot's history holds a refinement pass / an organize run that can be undone.
    virtual bool canUndoRefine(const std::filesystem::path& folder) const = 0;
    virtual bool canUndoOrganize(const std::filesystem::path& folder) const = 0;
    /// Undoes the shoot's last refinement pass from its history.
    virtual UndoOutcome undoRefine(const std::filesystem::path& folder, const core::RunContext& context) = 0;
    /// Whether anything Vitrino changed in the folder's tree can still be undone.
    virtual bool canUndoLatest(const std::filesystem::path& folder) const = 0;
    /// Undoes the newest operation in the folder's tree (naming and OCR from the file manager
    /// included), whatever its kind.
    virtual UndoOutcome undoLatest(const services::RunJob& job, const std::filesystem::path& folder) = 0;
    /// Undoes the last organize run of the folder from its history.
    virtual UndoOutcome undoOrganize(const std::filesystem::path& folder,
                                     const core::RunContext& context) = 0;
};

} // namespace app
