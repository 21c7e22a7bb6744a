#include "platform/SingleInstance.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include <unistd.h>

namespace platform {

namespace {

constexpr char kAck = '\x06';
constexpr quint32 kMaxMessage = 16u << 20;

QByteArray frame(const QStringList& arguments) {
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out << arguments;
    QByteArray framed;
    QDataStream head(&framed, QIODevice::WriteOnly);
    head << quint32(body.size());
    return framed + body;
}

QString lockPathFor(const QString& name) {
    const QString socketPath = name.contains(QLatin1Char('/')) ? name : QDir(QDir::tempPath()).filePath(name);
    return socketPath + QStringLiteral(".lock");
}

} // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent), m_name(name.isEmpty() ? defaultName() : name) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    return QDir(dir).filePath(QStringLiteral("vitrino-%1.socket").arg(::getuid()));
}

bool SingleInstance::send(const QString& name, const QStringList& arguments, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(int(deadline.remainingTime()))) return false;
    socket.write(frame(arguments));
    if (!socket.waitForBytesWritten(int(deadline.remainingTime()))) return false;
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(int(deadline.remainingTime()))) return false;
    char ack = 0;
    return socket.getChar(&ack) && ack == kAck;
}

SingleInstance::Role SingleInstance::claim(const QStringList& arguments, int timeoutMs) {
    if (m_server) return Role::instance;
    const QDeadlineTimer deadline(timeoutMs);
    QLockFile lock(lockPathFor(m_name));
    // The lock only spans the decision; a holder that died is recognised by its pid.
    if (!lock.tryLock(int(deadline.remainingTime()))) return Role::failed;

    if (send(m_name, arguments, int(deadline.remainingTime()))) return Role::handedOver;

    // Nobody answered: whatever is at the name is a socket left by a crash.
    QLocalServer::removeServer(m_name);
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(m_name)) return Role::failed;
    connect(server.get(), &QLocalServer::newConnection, this, &SingleInstance::accept);
    m_server = std::move(server);
    return Role::instance;
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // Each connection carries one framed argument list; it is read as it arrives so a slow
        // sender never blocks the interface thread.
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QDataStream in(socket);
            in.startTransaction();
            quint32 size = 0;
            QStringList arguments;
            in >> size;
            if (in.status() == QDataStream::Ok && size > kMaxMessage) {
                socket->abort();
                return;
            }
            in >> arguments;
            if (!in.commitTransaction()) return; // the rest has not arrived yet
            socket->putChar(kAck);
            socket->flush();
            emit argumentsReceived(arguments);
        });
    }
}

} // namespace platform
