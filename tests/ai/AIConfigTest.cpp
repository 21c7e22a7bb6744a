#include "ai/AIConfig.h"
#include "support/Fixtures.h"

#include <QSettings>
#include <QSignalSpy>

#include <gtest/gtest.h>

using ai::AIConfig;

namespace {

/// Points the user's preferences at a fresh temporary folder for one test.
struct PrivateSettings {
    fixtures::TempDir dir;
    PrivateSettings() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(dir.path().string()));
    }
    QSettings store() const { return QSettings(QStringLiteral("Vitrino"), QStringLiteral("Vitrino")); }
};

} // namespace

TEST(AIConfig, AssignmentsAreStoredAsTypedNotifyAndStayPrivate) {
    PrivateSettings settings;
    AIConfig config;
    QSignalSpy spy(&config, &AIConfig::changed);
    config.setBaseURL(QStringLiteral("https://example.test/v1/chat/completions\n"));
    config.setApiKey(QStringLiteral("sk-secret"));
    config.setModelID(QStringLiteral("vision-model"));
    EXPECT_EQ(spy.count(), 3);
    EXPECT_TRUE(config.isConfigured());
    EXPECT_EQ(settings.store().value(AIConfig::kBaseURLKey).toString(),
              QStringLiteral("https://example.test/v1/chat/completions\n"));

    EXPECT_EQ(QFile::permissions(settings.store().fileName()), // 0600
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

    AIConfig reloaded; // the URL loads trimmed; a key keeps its spaces, and one of spaces is no key
    EXPECT_EQ(reloaded.baseURL(), QStringLiteral("https://example.test/v1/chat/completions"));
    config.setApiKey(QStringLiteral("  k  "));
    EXPECT_EQ(AIConfig().apiKey(), QStringLiteral("  k  "));
    config.setApiKey(QStringLiteral("   "));
    EXPECT_FALSE(AIConfig().isConfigured());
    config.setModelID(QStringLiteral(" \n"));
    EXPECT_EQ(AIConfig().modelID(), AIConfig::kDefaultModelID);

    // Requests in flight: one unless set, kept within 1–32, whatever the file says.
    EXPECT_EQ(reloaded.snapshot().maxRequestsInFlight, 1);
    config.setMaxRequestsInFlight(40);
    EXPECT_EQ(config.snapshot().maxRequestsInFlight, 32);
    EXPECT_EQ(AIConfig().maxRequestsInFlight(), 32);
    config.setMaxRequestsInFlight(8);
    EXPECT_EQ(AIConfig().maxRequestsInFlight(), 8);
    settings.store().setValue(AIConfig::kMaxRequestsInFlightKey, QStringLiteral("many"));
    EXPECT_EQ(AIConfig().maxRequestsInFlight(), 1);
}

TEST(AIConfig, TheOfflineSwitchIsStoredOnceAndNeverChangesByItself) {
    const struct {
        const char* name;
        bool configured;            // the endpoint at the first start
        std::optional<bool> stored; // before the first start
        bool expected;
    } cases[] = {{"first start, nothing configured", false, {}, true},
                 {"first start, configured", true, {}, false},
                 {"stored on, configured", true, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PrivateSettings settings;
        {
            QSettings store = settings.store();
            if (c.configured) store.setValue(AIConfig::kApiKeyKey, QStringLiteral("k"));
            if (c.stored) store.setValue(AIConfig::kUseOfflineEngineKey, *c.stored);
        }
        AIConfig config;
        EXPECT_EQ(config.snapshot().useOfflineEngine, c.stored);
        EXPECT_EQ(config.settleOfflineEngine(), c.expected);
        EXPECT_EQ(settings.store().value(AIConfig::kUseOfflineEngineKey).toBool(), c.expected);
        // Whatever happens to the endpoint afterwards, the next start shows the same switch.
        config.setApiKey(c.configured ? QString() : QStringLiteral("k"));
        AIConfig next;
        EXPECT_EQ(next.snapshot().useOfflineEngine, c.expected);
        EXPECT_EQ(next.settleOfflineEngine(), c.expected);
    }
}
