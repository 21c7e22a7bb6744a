#pragma once

// Who may move files right now: the main window (or the command line's organize), or the
// file-manager jobs. An owner flag, not a thread lock: contenders never wait, they refuse with
// their own message. Used on the GUI thread.

#include <QLockFile>
#include <QObject>

#include <memory>

class ProcessingLock : public QObject {
    Q_OBJECT
    Q_PROPERTY(Owner owner READ owner NOTIFY ownerChanged)

  public:
    enum class Owner { idle, main, finder };
    Q_ENUM(Owner)

    /// The message of a main-window start that finds the lock taken.
    static inline const QString kBusyForMain =
        QStringLiteral("另有任务正在处理（文件管理器右键），请稍后再试。");

    /// lockFilePath: the cross-process lock; empty means the default in the user's runtime folder.
    explicit ProcessingLock(const QString& lockFilePath = {}, QObject* parent = nullptr);
    ~ProcessingLock() override;

    static ProcessingLock& shared();

    Owner owner() const { return m_owner; }

    /// Succeeds only for a real owner while nobody holds the right, in this process and in any
    /// other Vitrino process (through a lock file). Not re-entrant.
    bool tryAcquire(Owner owner);
    /// Releases when `owner` holds the right; otherwise does nothing.
    void release(Owner owner);

    /// The default lock file: "vitrino-processing.lock" in the user's runtime folder.
    static QString defaultLockFilePath();

  signals:
    void ownerChanged(ProcessingLock::Owner owner);

  private:
    Owner m_owner = Owner::idle;
    QString m_path;
    std::unique_ptr<QLockFile> m_file;
};
