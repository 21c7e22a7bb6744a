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

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <vector>

/// The work of one item. Called on a worker thread, one item at a time; `log` may be called from
/// any thread.
class FinderJobRunner {
  public:
    struct FolderOutcome {
        std::filesystem::path folder; ///< the folder after the run (renamed or not)
        QStringList errors;
    };
    virtual ~FinderJobRunner() = default;
    /// On the interface thread before each item: the moment to read settings and pick the engine.
    /// `log` appends to the job window at once.
    virtual void beginItem(const core::Log& log) { Q_UNUSED(log); }
    virtual FolderOutcome nameFolder(const std::filesystem::path& folder, const core::Log& log) = 0;
    /// True when the image's text file was written; failures are logged by the run.
    virtual bool readImage(const std::filesystem::path& image, const core::Log& log) = 0;
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

    /// The window's confirm button: closes the window, releasing the lock when asked.
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
    QString logFile() const { return m_session ? m_session->filePath() : QString(); }

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
    void drainQueue();
    void runNext();
    void finishBatch();
    void showIdleResult(const std::filesystem::path& path, const QString& message);
    void resetSessionState();
    void appendLog(const QString& line);
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
    std::optional<services::LogSession> m_session; ///< one log file per window session
    std::deque<FinderWorkItem> m_queue;
    std::set<QString> m_seenPaths;
    int m_completedCount = 0;
    int m_batchTotal = 0;
    /// Resolves OCR selections one after another, so hand-overs join the queue in arrival order.
    QThreadPool m_resolver;
    /// The worker-thread work in flight (an item, OCR resolutions); waited for on destruction.
    std::vector<QFuture<void>> m_pending;
};
