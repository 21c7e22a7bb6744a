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

    /// Who holds the right, as far as a contender can tell.
    enum class Holder { nobody, window, finder, commandLine, unknown };

    /// The message of a start that finds the lock taken by the file-manager jobs.
    static inline const QString kBusyForMain =
        QStringLiteral("另有任务正在处理（文件管理器右键），请稍后再试。");
    /// … by a vitrino-cli run, by the main window, by someone who left no record.
    static inline const QString kBusyForCommandLine =
        QStringLiteral("另有任务正在处理（命令行 vitrino-cli），请稍后再试。");
    static inline const QString kBusyForWindow = QStringLiteral("另有任务正在处理（主窗口），请稍后再试。");
    static inline const QString kBusy = QStringLiteral("另有任务正在处理，请稍后再试。");

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

    /// This process is a vitrino-cli: its holds are recorded as the command line's.
    void setCommandLine(bool commandLine) { m_commandLine = commandLine; }
    /// Who holds the right: this process's owner, else what the holding process recorded beside
    /// the lock file ("{lock}.holder": its process id and "main", "finder" or "cli").
    Holder holder() const;
    /// The refusal of a start that finds the lock taken, naming the holder: kBusyForMain for
    /// the file-manager jobs, kBusyForCommandLine, kBusyForWindow, or kBusy when unknown.
    QString busyMessage() const;

  signals:
    void ownerChanged(ProcessingLock::Owner owner);

  private:
    Owner m_owner = Owner::idle;
    QString m_path;
    std::unique_ptr<QLockFile> m_file;
    bool m_commandLine = false;
};
