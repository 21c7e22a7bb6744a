#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <optional>

namespace ai {

/// The three endpoint values, as one request reads them, and the offline switch.
struct AISettings {
    QString baseURL;
    QString apiKey;
    QString modelID;
    /// The offline switch as stored ("ai.useOfflineEngine"); nothing while it never was.
    std::optional<bool> useOfflineEngine = std::nullopt;
    /// How many requests a run may have in flight at once (1–32); 1 sends one after another.
    int maxRequestsInFlight = 1;

    /// True when all three, trimmed, are non-empty.
    bool isConfigured() const;
};

/// The AI endpoint settings and the offline switch, kept in the user's preferences ("ai.baseURL",
/// "ai.apiKey", "ai.modelID", "ai.useOfflineEngine" under organisation and application
/// "Vitrino"). Touched on the GUI thread; runs on worker threads take a snapshot() when they
/// start.
class AIConfig : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString baseURL READ baseURL WRITE setBaseURL NOTIFY changed)
    Q_PROPERTY(QString apiKey READ apiKey WRITE setApiKey NOTIFY changed)
    Q_PROPERTY(QString modelID READ modelID WRITE setModelID NOTIFY changed)

  public:
    /// Ark (Volcano Engine) serves the default model under exactly this OpenAI-compatible path.
    static inline const QString kDefaultBaseURL =
        QStringLiteral("https://ark.cn-beijing.volces.com/api/v3/chat/completions");
    static inline const QString kDefaultModelID = QStringLiteral("doubao-seed-2-0-lite-260215");
    static inline const QString kBaseURLKey = QStringLiteral("ai.baseURL");
    static inline const QString kApiKeyKey = QStringLiteral("ai.apiKey");
    static inline const QString kModelIDKey = QStringLiteral("ai.modelID");
    static inline const QString kUseOfflineEngineKey = QStringLiteral("ai.useOfflineEngine");
    static inline const QString kMaxRequestsInFlightKey = QStringLiteral("ai.maxRequestsInFlight");

    /// Loads the stored values (base URL and model trimmed, empty → default; key as stored).
    explicit AIConfig(QObject* parent = nullptr);

    /// The one instance of the application, created on first use.
    static AIConfig& shared();

    QString baseURL() const { return m_values.baseURL; }
    QString apiKey() const { return m_values.apiKey; }
    QString modelID() const { return m_values.modelID; }
    int maxRequestsInFlight() const { return m_values.maxRequestsInFlight; }

    /// Each assignment is stored at once, exactly as given (not trimmed), and notifies.
    void setBaseURL(const QString& value);
    void setApiKey(const QString& value);
    void setModelID(const QString& value);
    /// Clamped to 1–32, stored and notified.
    void setMaxRequestsInFlight(int value);

    /// The offline switch as the window shows it: as stored, else on while the endpoint is not
    /// configured.
    bool useOfflineEngine() const { return m_values.useOfflineEngine.value_or(!isConfigured()); }
    /// Whether the switch has been stored.
    bool offlineEngineStored() const { return m_values.useOfflineEngine.has_value(); }
    /// Stores the switch and notifies.
    void setUseOfflineEngine(bool on);
    /// The window's first start stores the switch as useOfflineEngine() shows it, so that its
    /// default is worked out once and never changes by itself; later starts store nothing.
    /// Returns the switch.
    bool settleOfflineEngine();

    bool isConfigured() const { return m_values.isConfigured(); }
    AISettings snapshot() const { return m_values; }

  signals:
    void changed();

  private:
    void store(const QString& key, const QVariant& value);
    AISettings m_values;
};

} // namespace ai
