#include "ai/AIConfig.h"

#include "core/Text.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>

namespace ai {
namespace {

QSettings settings() {
    return QSettings(QStringLiteral("Vitrino"), QStringLiteral("Vitrino"));
}

/// The settings file holds the API key: it is created, and kept, readable by its owner only.
void keepPrivate(const QString& fileName) {
    const std::filesystem::path path = core::toPath(fileName);
    if (!QFileInfo::exists(fileName)) {
        QDir().mkpath(QFileInfo(fileName).absolutePath());
        platform::createNewFile(path, 0600);
    }
    platform::setPermissions(path, 0600);
}

QString loadTrimmed(QSettings& store, const QString& key, const QString& fallback) {
    const QString value = store.value(key).toString().trimmed();
    return value.isEmpty() ? fallback : value;
}

/// Anything unreadable or out of range in the file is one request at a time or the most there is.
int clampedRequests(int value) {
    return std::clamp(value, 1, 32);
}

} // namespace

bool AISettings::isConfigured() const {
    return !baseURL.trimmed().isEmpty() && !apiKey.trimmed().isEmpty() && !modelID.trimmed().isEmpty();
}

AIConfig::AIConfig(QObject* parent) : QObject(parent) {
    QSettings store = settings();
    m_values.baseURL = loadTrimmed(store, kBaseURLKey, kDefaultBaseURL);
    m_values.modelID = loadTrimmed(store, kModelIDKey, kDefaultModelID);
    m_values.apiKey = store.value(kApiKeyKey).toString();
    const QVariant offline = store.value(kUseOfflineEngineKey);
    if (offline.isValid()) m_values.useOfflineEngine = offline.toBool();
    m_values.maxRequestsInFlight = clampedRequests(store.value(kMaxRequestsInFlightKey, 1).toInt());
}

AIConfig& AIConfig::shared() {
    static AIConfig* instance = new AIConfig();
    return *instance;
}

void AIConfig::store(const QString& key, const QVariant& value) {
    QSettings store = settings();
    keepPrivate(store.fileName());
    store.setValue(key, value);
    store.sync();
    keepPrivate(store.fileName());
}

void AIConfig::setBaseURL(const QString& value) {
    m_values.baseURL = value;
    store(kBaseURLKey, value);
    emit changed();
}

void AIConfig::setApiKey(const QString& value) {
    m_values.apiKey = value;
    store(kApiKeyKey, value);
    emit changed();
}

void AIConfig::setModelID(const QString& value) {
    m_values.modelID = value;
    store(kModelIDKey, value);
    emit changed();
}

void AIConfig::setUseOfflineEngine(bool on) {
    m_values.useOfflineEngine = on;
    store(kUseOfflineEngineKey, on);
    emit changed();
}

bool AIConfig::settleOfflineEngine() {
    const bool on = useOfflineEngine();
    if (!offlineEngineStored()) setUseOfflineEngine(on);
    return on;
}

void AIConfig::setMaxRequestsInFlight(int value) {
    m_values.maxRequestsInFlight = clampedRequests(value);
    store(kMaxRequestsInFlightKey, m_values.maxRequestsInFlight);
    emit changed();
}

} // namespace ai
