#pragma once

// The window's runs, carried out by the services below the application.

#include "app/WindowRuns.h"

namespace app {

class ServiceRuns : public WindowRuns {
  public:
    OrganizeOutcome organize(const std::filesystem::path& folder, bool useVisionPrefilter, bool offlineEngine,
                             const ai::AISettings& settings, const RunHooks& hooks) override;
    RefineOutcome refine(const std::filesystem::path& folder, const RunHooks& hooks) override;
    UndoOutcome undoRefine(const std::vector<MoveRecord>& moves, const RunHooks& hooks) override;
    bool canUndoOrganize(const std::filesystem::path& folder) const override;
    UndoOutcome undoOrganize(const std::filesystem::path& folder, const RunHooks& hooks) override;
};

} // namespace app
