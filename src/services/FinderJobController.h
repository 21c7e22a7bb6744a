#pragma once

// The file-manager jobs: folders to name in place and images to read, handed over while Vitrino
// runs, processed one at a time in a job window of their own. Items that arrive meanwhile join
// the running batch. The processing lock is held as `finder` from the first item until the job
// window closes, so the main window stays busy for as long as the window is open.
//
// The window is a view of this object's state: it is shown (or retitled) on windowShown, raised
// on windowRaised, closed on windowClosed, and asks windowShouldClose()/windowWillClose().

#include "core/Log.h"
#include "services/FinderWorkItem.h"
#include "services/ProcessingLock.h"
#include "services/RunJob.h"

#include <QFuture>
#include <QObject>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <vector>

/// The work of the items of a batch, inside the controller's run job (its log session and its
/// cancellation token). Items run on a worker thread, one at a time.
class FinderJobRunner {
  public:
    struct FolderOutcome {
        std::filesystem::path folder; ///< the folder after the run (renamed or not)
        QStringList errors;
        int renamed = 0;        ///< files renamed
        bool cancelled = false; ///< the run stopped inside the folder (and said so)
    };
    struct ImageOutcome {
        bool written = false; ///< the image's text file was written
        QStringList errors;
        bool cancelled = false; ///< stopped before reading (and said so)
    };
    virtual ~FinderJobRunner() = default;
    /// On the interface thread when a batch starts: the moment to read the settings, pick the
    /// engine and log which one the batch uses.
    virtual void beginBatch(const services::RunJob& job) { Q_UNUSED(job); }
    virtual FolderOutcome nameFolder(const services::RunJob& job, const std::filesystem::path& folder) = 0;
    /// Failures are logged by the run.
    virtual ImageOutcome readImage(const services::RunJob& job, const std::filesystem::path& image) = 0;
};

class FinderJobController : public QObject {
    Q_OBJECT

  public:
    // clang-format off
    inline static const QString kTitleNaming = QStringLiteral("Vitrino重新整理");
    inline static const QString kTitleOCR = QStringLiteral("AI OCR");
    inline static const QString kStatusReady = QStringLiteral("准备处理");
    inline static const QString kStatusRunning = QStringLiteral("正在处理 %1/%2");
    inline static const QString kStatusDone = QStringLiteral("全部完成（%1 项）");
    inline static const QString kStatusRefused = QStringLiteral("无法开始");
    inline static const QString kMainBusy = QStringLiteral("主程序正在整理，请等主窗口完成后，再右键处理。");
    inline static const QString kCommandLineBusy =
        QStringLiteral("命令行 vitrino-cli 正在处理，请等它完成后，再右键处理。");
    inline static const QString kStatusStopping = QStringLiteral("正在停止（当前文件完成后）…");
    inline static const QString kStatusStopped = QStringLiteral("已停止（已处理 %1/%2 项）");
    inline static const QString kNotAFolder = QStringLiteral("不是文件夹：%1");
    inline static const QString kNoSuchFolder = QStringLiteral("文件夹不存在：%1");
    inline static const QString kNoImages = QStringLiteral("没有可 OCR 的图片（已忽略子目录和视频）。");
    inline static const QString kQueuedLine = QStringLiteral("已加入队列 %1 项（%2），当前排队共 %3 个。");
    inline static const QString kOpeningLine = QStringLiteral("—— 开始处理（文件管理器右键，共 %1 项）——");
    inline static const QString kFolderHeadLine = QStringLiteral("—— [%1/%2] %3 ——");
    inline static const QString kFolderPathLine = QStringLiteral("文件夹：%1");
    inline static const QString kFolderErrorsLine = QStringLiteral("[%1/%2] 错误 %3 条（详见上方日志）");
    inline static const QString kOCRHeadLine = QStringLiteral("—— [%1/%2] OCR %3 ——");
    inline static const QString kOCRFailedLine = QStringLiteral("[%1/%2] OCR 失败");
    inline static const QString kItemEndLine = QStringLiteral("—— [%1/%2] 结束 ——");
    // clang-format on

    /// `runner` does the work of each item; `lock` is the application's processing lock.
    explicit FinderJobController(std::unique_ptr<FinderJobRunner> runner,
                                 ProcessingLock& lock = ProcessingLock::shared(), QObject* parent = nullptr);
    ~FinderJobController() override;

    /// The application's controller with the real runner (created on first use, GUI thread).
    static FinderJobController& shared();

    /// A hand-over from the file manager (GUI thread). Returns at once; the work runs later.
    void handleIncoming(FinderWorkItem::Kind kind, const std::vector<std::filesystem::path>& urls);

    /// The window's stop button: the batch stops once the file at hand is done; the items not
    /// started are dropped (and may be handed over again).
    void stop();
    bool stopRequested() const { return m_stopRequested; }

    /// The window's confirm button: closes the window, releasing the lock when asked (the lock
    /// is the session's: without it the session ends too).
    void closeWindow(bool releaseFinderLock);
    /// The window may close only while no batch runs.
    bool windowShouldClose() const { return !m_isRunning; }
    /// The window was closed by other means: the lock is released and the session forgotten.
    void windowWillClose();

    // Published state (stateChanged / lineAppended announce changes).
    const QString& folderPath() const { return m_folderPath; }
    const QStringList& logMessages() const { return m_logMessages; }
    bool isRunning() const { return m_isRunning; }
    bool isFinished() const { return m_isFinished; }
    const QString& statusText() const { return m_statusText; }
    bool hasWindow() const { return m_hasWindow; }
    const QString& windowTitle() const { return m_windowTitle; }
    QString logFile() const { return m_job ? m_job->logFilePath() : QString(); }

  signals:
    void stateChanged();
    void lineAppended(const QString& stampedLine);
    /// Show the job window with this title: create it when there is none, else retitle it.
    void windowShown(const QString& title);
    /// Bring the job window (and the application) to the front.
    void windowRaised();
    /// The controller forgot the window; close it.
    void windowClosed();

  private:
    void showWindow(const QString& title);
    void accept(FinderWorkItem::Kind kind, const std::vector<std::filesystem::path>& candidates);
    std::vector<FinderWorkItem> enqueue(FinderWorkItem::Kind kind,
                                        const std::vector<std::filesystem::path>& urls);
    /// Begins the window session's run job (lock, log file, opening lines); false when refused.
    bool beginSession();
    void drainQueue();
    void runNext();
    /// After an item: its errors written (those its run did not log), its note ("[i/n] 错误 …",
    /// "[i/n] OCR 失败") when there is one, the end line, then the next item.
    void itemDone(int i, int n, const QStringList& errors, const QString& note);
    void finishBatch();
    void stopBatch();
    void showIdleResult(const std::filesystem::path& path, const QString& message);
    void resetSessionState();
    void appendLog(const core::LogLine& line);
    void show(const QString& stamped);
    /// A log callback for worker threads: every line reaches appendLog on this thread, in order.
    core::Log postingLog();
    void setStatus(const QString& status);
    void track(const QFuture<void>& work);

    std::unique_ptr<FinderJobRunner> m_runner;
    ProcessingLock& m_lock;

    QString m_folderPath;
    QStringList m_logMessages;
    bool m_isRunning = false;
    bool m_isFinished = false;
    QString m_statusText = kStatusReady;
    bool m_hasWindow = false;
    QString m_windowTitle;
    /// The window session's run job: the lock, one log file, the cancellation of the batch.
    std::unique_ptr<services::RunJob> m_job;
    /// Lines handed to the interface thread and not shown yet (the window keeps the file's order).
    std::shared_ptr<std::atomic<int>> m_inFlight = std::make_shared<std::atomic<int>>(0);
    bool m_stopRequested = false;
    bool m_lastItemStopped = false; ///< the item at hand wrote its own cancel line
    FinderWorkItem::Kind m_lastKind = FinderWorkItem::Kind::nameFolder;
    int m_batchRenamed = 0;
    int m_batchWritten = 0;
    std::deque<FinderWorkItem> m_queue;
    std::set<QString> m_seenPaths;
    int m_completedCount = 0;
    int m_batchTotal = 0;
    /// Resolves OCR selections one after another, so hand-overs join the queue in arrival order.
    QThreadPool m_resolver;
    /// The worker-thread work in flight (an item, OCR resolutions); waited for on destruction.
    std::vector<QFuture<void>> m_pending;
};
