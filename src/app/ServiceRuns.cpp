#include "app/ServiceRuns.h"

#include "engine/LocalAIService.h"
#include "organize/AutoOrganizer.h"

namespace app {

OrganizeOutcome ServiceRuns::organize(const std::filesystem::path& folder, bool useVisionPrefilter,
                                      bool offlineEngine, const ai::AISettings& settings,
                                      const RunHooks& hooks) {
    OrganizeOutcome outcome;
    ai::AISettings endpoint = settings;
    engine::LocalAIServer local;
    if (offlineEngine) {
        if (!local.start()) {
            outcome.errors << QStringLiteral("本机离线引擎无法启动");
            hooks.log(QStringLiteral("[失败] ") + outcome.errors.last());
            return outcome;
        }
        endpoint = {local.url(), engine::kApiKey, engine::kModelID};
    }
    AutoOrganizer::RunOptions options;
    options.useVisionPrefilter = useVisionPrefilter;
    outcome.errors = AutoOrganizer::run(folder, endpoint, hooks.log, options).errors;
    return outcome;
}

RefineOutcome ServiceRuns::refine(const std::filesystem::path&, const RunHooks&) {
    return {};
}

UndoOutcome ServiceRuns::undoRefine(const std::vector<MoveRecord>& moves, const RunHooks&) {
    UndoOutcome outcome;
    outcome.remaining = moves;
    return outcome;
}

bool ServiceRuns::canUndoOrganize(const std::filesystem::path&) const {
    return false;
}

UndoOutcome ServiceRuns::undoOrganize(const std::filesystem::path&, const RunHooks&) {
    return {};
}

} // namespace app
