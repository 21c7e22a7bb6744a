#include "services/ProcessingLock.h"

#include <QDir>
#include <QStandardPaths>

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
    emit ownerChanged(m_owner);
    return true;
}

void ProcessingLock::release(Owner owner) {
    if (owner == Owner::idle || m_owner != owner) return;
    m_file.reset(); // unlocks
    m_owner = Owner::idle;
    emit ownerChanged(m_owner);
}
