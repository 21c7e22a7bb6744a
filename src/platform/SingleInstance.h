#pragma once

// One Vitrino per user: the first process listens on a local socket whose name includes the
// user id; a later process hands its arguments to it and exits.

#include <QObject>
#include <QStringList>

#include <memory>

class QLocalServer;

namespace platform {

class SingleInstance : public QObject {
    Q_OBJECT

  public:
    /// name: the socket (a full path, or a bare name placed in the temporary folder); empty
    /// means defaultName(). Tests pass a name of their own.
    explicit SingleInstance(const QString& name = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    /// "vitrino-{uid}.socket" in the user's runtime folder (the temporary folder without one).
    static QString defaultName();

    enum class Role { instance, handedOver, failed };

    /// Hands `arguments` to a running instance (handedOver), or, when none answers, removes a
    /// socket left by a crashed one and becomes the instance (instance): from then on
    /// argumentsReceived() is emitted for every later process. Processes starting at the same
    /// moment are serialised by a lock file beside the socket, so exactly one becomes the instance.
    Role claim(const QStringList& arguments, int timeoutMs = 5000);

    const QString& name() const { return m_name; }

    /// Delivers `arguments` to the instance listening on `name`; true once it acknowledged them.
    static bool send(const QString& name, const QStringList& arguments, int timeoutMs = 5000);

  signals:
    void argumentsReceived(const QStringList& arguments);

  private:
    void accept();

    QString m_name;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace platform
