#pragma once

// The window's runs, carried out by the services below the application.

#include "app/WindowRuns.h"
#include "services/Engine.h"

#include <functional>

namespace app {

class ServiceRuns : public WindowRuns {
  public:
    /// Picks the vision backend for a run (the offline switch decides local or remote).
    using EngineSource = std::function<core::Result<services::Engine>(const ai::AISettings&, bool offline)>;
    explicit ServiceRuns(EngineSource engines = {});

    AutoOrganizer::RunResult organize(const services::RunJob& job, const std::filesystem::path& folder,
                                      bool useVisionPrefilter, bool offlineEngine,
                                      const ai::AISettings& settings) override;
    services::PreparedPlan preparePlan(const services::RunJob& job, const std::filesystem::path& folder,
                                       bool useVisionPrefilter, bool offlineEngine,
                                       const ai::AISettings& settings) override;
    RefineOutcome refine(const std::filesystem::path& folder, const core::RunContext& context) override;
    bool canUndoRefine(const std::filesystem::path& folder) const override;
    bool canUndoOrganize(const std::filesystem::path& folder) const override;
    UndoOutcome undoRefine(const std::filesystem::path& folder, const core::RunContext& context) override;
    UndoOutcome undoOrganize(const std::filesystem::path& folder, const core::RunContext& context) override;
    bool canUndoLatest(const std::filesystem::path& folder) const override;
    UndoOutcome undoLatest(const services::RunJob& job, const std::filesystem::path& folder) override;

  private:
    EngineSource m_engines;
};

} // namespace app
