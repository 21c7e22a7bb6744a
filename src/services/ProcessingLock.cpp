#include "services/ProcessingLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

QString holderFile(const QString& lockFile) {
    return lockFile + QStringLiteral(".holder");
}

QByteArray roleName(ProcessingLock::Owner owner, bool commandLine) {
    if (commandLine) return "cli";
    return owner == ProcessingLock::Owner::finder ? "finder" : "main";
}

} // namespace

ProcessingLock::ProcessingLock(const QString& lockFilePath, QObject* parent)
    : QObject(parent), m_path(lockFilePath.isEmpty() ? defaultLockFilePath() : lockFilePath) {}

ProcessingLock::~ProcessingLock() = default;

ProcessingLock& ProcessingLock::shared() {
    static ProcessingLock* instance = new ProcessingLock();
    return *instance;
}

QString ProcessingLock::defaultLockFilePath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    return QDir(dir).filePath(QStringLiteral("vitrino-processing.lock"));
}

bool ProcessingLock::tryAcquire(Owner owner) {
    if (owner == Owner::idle || m_owner != Owner::idle) return false;
    // Another Vitrino process (the GUI or a command line) could be moving the same files. A lock
    // left by a process that died is recognised as stale and taken over.
    auto file = std::make_unique<QLockFile>(m_path);
    file->setStaleLockTime(0);
    if (!file->tryLock(0)) return false;
    m_file = std::move(file);
    m_owner = owner;
    // Who holds it, for the refusal another process writes (best effort: without the record the
    // refusal is only less specific).
    QSaveFile record(holderFile(m_path));
    if (record.open(QIODevice::WriteOnly)) {
        record.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
                     roleName(owner, m_commandLine) + '\n');
        record.commit();
    }
    emit ownerChanged(m_owner);
    return true;
}

void ProcessingLock::release(Owner owner) {
    if (owner == Owner::idle || m_owner != owner) return;
    QFile::remove(holderFile(m_path));
    m_file.reset(); // unlocks
    m_owner = Owner::idle;
    emit ownerChanged(m_owner);
}

ProcessingLock::Holder ProcessingLock::holder() const {
    if (m_owner == Owner::finder) return Holder::finder;
    if (m_owner == Owner::main) return m_commandLine ? Holder::commandLine : Holder::window;
    QLockFile probe(m_path);
    qint64 pid = 0;
    QString host, app;
    if (!probe.getLockInfo(&pid, &host, &app)) return Holder::nobody;
    // The record counts only when it was written by the process that holds the lock now.
    QFile record(holderFile(m_path));
    if (!record.open(QIODevice::ReadOnly)) return Holder::unknown;
    const QList<QByteArray> fields = record.readAll().split('\n');
    if (fields.size() < 2 || fields[0].toLongLong() != pid) return Holder::unknown;
    if (fields[1] == "cli") return Holder::commandLine;
    if (fields[1] == "finder") return Holder::finder;
    if (fields[1] == "main") return Holder::window;
    return Holder::unknown;
}

QString ProcessingLock::busyMessage() const {
    switch (holder()) {
    case Holder::finder:
        return kBusyForMain;
    case Holder::commandLine:
        return kBusyForCommandLine;
    case Holder::window:
        return kBusyForWindow;
    default:
        return kBusy;
    }
}
