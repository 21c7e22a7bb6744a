#include "services/Engine.h"

#include "ai/AIClient.h"
#include "ai/RemoteVisionBackend.h"
#include "engine/LocalAIService.h"
#include "engine/LocalVisionBackend.h"

namespace services {

std::optional<EngineChoice> engineChoiceFromName(const QString& name) {
    if (name == QLatin1String("remote")) return EngineChoice::remote;
    if (name == QLatin1String("local")) return EngineChoice::local;
    return std::nullopt;
}

core::Result<Engine> selectEngine(const ai::AISettings& settings, EngineChoice choice, bool baseURLGiven) {
    const bool local = choice == EngineChoice::local ||
                       (choice == EngineChoice::automatic && !settings.isConfigured() && !baseURLGiven);
    if (local)
        return Engine{std::make_unique<engine::LocalVisionBackend>(),
                      choice == EngineChoice::local ? kUsingLocalEngineByChoice : kUsingLocalEngine, true,
                      engine::kModelID};
    if (!settings.isConfigured()) return core::Error{AIClient::kNotConfigured};
    return Engine{std::make_unique<ai::RemoteVisionBackend>(settings), QString(), false,
                  settings.modelID.trimmed()};
}

} // namespace services
