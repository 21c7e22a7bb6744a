#include "services/Engine.h"

#include "ai/AIClient.h"
#include "ai/RemoteVisionBackend.h"
#include "engine/LocalAIService.h"
#include "engine/LocalVisionBackend.h"

#include <QUrl>

namespace services {

std::optional<EngineChoice> engineChoiceFromName(const QString& name) {
    if (name == QLatin1String("remote")) return EngineChoice::remote;
    if (name == QLatin1String("local")) return EngineChoice::local;
    return std::nullopt;
}

namespace {

/// "host:port" of the endpoint, never its path or query (a key could hide there).
QString endpointHost(const QString& baseURL) {
    const QUrl url(baseURL.trimmed());
    if (url.host().isEmpty()) return QStringLiteral("?");
    return url.port() > 0 ? QStringLiteral("%1:%2").arg(url.host()).arg(url.port()) : url.host();
}

Engine localEngine(const QString& notice) {
    return Engine{std::make_unique<engine::LocalVisionBackend>(), notice, true, engine::kModelID};
}

} // namespace

core::Result<Engine> selectEngine(const ai::AISettings& settings, EngineChoice choice, bool baseURLGiven) {
    if (choice == EngineChoice::local) return localEngine(kUsingLocalEngineByChoice);
    if (choice == EngineChoice::automatic) {
        if (settings.useOfflineEngine.value_or(false))
            return localEngine(baseURLGiven ? kLocalEngineOverridesBaseURL : kUsingLocalEngineByChoice);
        // Switched off: the configured service. Never stored: the automatic choice.
        if (!settings.useOfflineEngine && !settings.isConfigured() && !baseURLGiven)
            return localEngine(kUsingLocalEngine);
    }
    if (!settings.isConfigured()) return core::Error{AIClient::kNotConfigured};
    const QString model = settings.modelID.trimmed();
    return Engine{std::make_unique<ai::RemoteVisionBackend>(settings),
                  kUsingRemoteEngine.arg(endpointHost(settings.baseURL), model), false, model};
}

} // namespace services
