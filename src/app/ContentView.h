#pragma once

// The main window's content: the AI endpoint, the two options, the folder and start bar, and
// the log. It owns what happens around a run (the lock, the log session with its opening and
// closing lines, the state of the controls); the runs themselves happen on a worker thread.

#include "app/LogPanel.h"
#include "app/LogPump.h"
#include "app/WindowRuns.h"
#include "organize/Plan.h"
#include "services/ProcessingLock.h"
#include "services/RunJob.h"

#include <QPointer>
#include <QThread>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class CompactSwitch;
class PlanPreview;
class ThumbnailCache;
class ElidedLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QLabel;
class QThread;
class Spinner;
namespace ai {
class AIConfig;
}

class QVBoxLayout;

class ContentView : public QWidget {
    Q_OBJECT

  public:
    ContentView(ai::AIConfig& config, ProcessingLock& lock, app::WindowRuns& runs, QWidget* parent = nullptr);
    ~ContentView() override;

    // --- texts the window writes itself
    static inline const QString kNoFolder = QStringLiteral("未选择");
    static inline const QString kStart = QStringLiteral("开始整理");
    static inline const QString kProcessing = QStringLiteral("处理中…");
    static inline const QString kFinderBusy = QStringLiteral("右键处理中…");
    static inline const QString kStop = QStringLiteral("停止");
    static inline const QString kPickFailed = QStringLiteral("选择文件夹失败：%1");
    static inline const core::LogLine kNoAccess =
        core::warning(QStringLiteral("未能获取安全作用域访问，移动文件可能失败"));

    static inline const core::LogLine kMenuNoFolder =
        core::failure(QStringLiteral("请先选择文件夹，再运行 FeaturePrint 后处理"));
    static inline const core::LogLine kNothingToUndo =
        core::failure(QStringLiteral("没有可撤销的后处理记录"));
    static inline const core::LogLine kNoOrganizeJournal =
        core::failure(QStringLiteral("没有可撤销的整理记录"));

    /// The line to the log: stamped, shown, and appended to the current log file (through the
    /// running job's session, so list and file keep one order).
    void appendLog(const core::LogLine& line);

    /// The start button: an organize run of the picked folder (then the refinement pass when
    /// that option is on). While a run goes the button stops it.
    void start();
    /// The preview button: classification and label reading as a run does them, then the plan as
    /// a contact sheet to correct (ContentViewPreview.cpp).
    static inline const QString kPreview = QStringLiteral("预览");
    void preview();
    /// Carries out a plan the preview shows, as `organize --plan` does.
    void startPlan(const plan::Plan& plan);
    PlanPreview* currentPreview() const;
    QPushButton* previewButton() const { return m_previewButton; }
    /// Asks the running work to stop after its current file.
    void stop();
    /// The File menu's requests: carried out once control returns to the event loop.
    void requestPostprocess();
    void requestUndoPostprocess();
    void runFeaturePrintFromMenu();
    void undoFeaturePrintFromMenu();
    void undoOrganizeFromMenu();
    /// The newest operation in the picked folder's tree, whatever its kind.
    void undoLatestFromMenu();
    bool canUndoLatest() const;
    /// What the shoot's history holds for the two undo menus.
    bool canUndoPostprocess() const;
    bool canUndoOrganize() const;

    /// Completion of the folder picker; an empty path means it was cancelled.
    void folderPicked(const QString& path, const QString& error = {});
    std::optional<std::filesystem::path> folder() const { return m_folder; }

    bool isProcessing() const { return m_isProcessing; }
    bool isBusy() const;
    QString currentLogFile() const { return m_job ? m_job->logFilePath() : m_currentLogFile; }

    // Controls, for the menus and the tests.
    QPushButton* startButton() const { return m_start; }
    QPushButton* folderButton() const { return m_pick; }
    CompactSwitch* prefilterSwitch() const { return m_prefilter; }
    CompactSwitch* postprocessSwitch() const { return m_postprocess; }
    CompactSwitch* offlineSwitch() const { return m_offline; }
    ElidedLabel* folderLabel() const { return m_folderLabel; }
    QLineEdit* baseURLField() const { return m_baseURL; }
    QLineEdit* apiKeyField() const { return m_apiKey; }
    QLineEdit* modelField() const { return m_modelID; }
    QSpinBox* requestsField() const { return m_requests; }
    QProgressBar* progressBar() const { return m_progress; }
    Spinner* spinner() const { return m_spinner; }
    LogPanel* logPanel() const { return m_panel; }
    LogModel* logModel() const { return m_logModel; }
    LogPump* logPump() const { return m_pump; }
    QLabel* prefilterExplanation() const { return m_prefilterText; }

  signals:
    /// The busy state changed (menus re-evaluate their enablement).
    void stateChanged();
    /// A run started here has written its closing line and released the lock.
    void finished();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void refreshControls();
    /// Clears the log list (only an organize run does).
    void clearLog();
    void setProcessing(bool processing);

    ai::AIConfig& m_config;
    ProcessingLock& m_lock;
    std::optional<std::filesystem::path> m_folder;
    bool m_isProcessing = false;
    bool m_stopRequested = false;
    QString m_currentLogFile;

  private:
    void buildLayout();
    void buildEndpointCard(QVBoxLayout* page);
    void buildOptionsCard(QVBoxLayout* page);
    void buildActionBar(QVBoxLayout* page);
    void buildLogPanel(QVBoxLayout* page);
    void pickFolder();
    /// Takes the lock as main and begins the job's log session with its opening lines; false
    /// (with the refusal written) when the lock is held.
    bool beginJob(services::JobFrame frame, bool clearsLog = false);
    /// Runs `work` on a worker thread, then `done` and the job's end on the GUI thread.
    /// A File-menu job on the picked folder, or the refusal line when it is not `allowed`: framed,
    /// the errors it returns summed up with `errorsFormat` at its end.
    void runFolderJob(bool allowed, const core::LogLine& refusal, const services::JobFrame& frame,
                      const QString& errorsFormat,
                      std::function<QStringList(const std::filesystem::path&, const services::RunJob&)> work);
    template <typename R>
    void runInBackground(std::function<R(const services::RunJob&)> work, std::function<void(R)> done);
    void showProgress(const core::Progress& progress);
    void showPreview(const plan::Plan& plan);

    app::WindowRuns& m_runs;
    std::unique_ptr<services::RunJob> m_job; ///< the running job; its session takes every line
    QThread* m_worker = nullptr;
    QLabel* m_progressText = nullptr;

    LogModel* m_logModel;
    LogPump* m_pump;
    LogPanel* m_panel = nullptr;
    QLineEdit* m_baseURL = nullptr;
    QLineEdit* m_apiKey = nullptr;
    QLineEdit* m_modelID = nullptr;
    CompactSwitch* m_offline = nullptr;
    QSpinBox* m_requests = nullptr;
    CompactSwitch* m_prefilter = nullptr;
    CompactSwitch* m_postprocess = nullptr;
    QLabel* m_prefilterText = nullptr;
    QWidget* m_prefilterOption = nullptr;
    QWidget* m_postprocessOption = nullptr;
    QPushButton* m_pick = nullptr;
    ElidedLabel* m_folderLabel = nullptr;
    QProgressBar* m_progress = nullptr;
    Spinner* m_spinner = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_previewButton = nullptr;
    ThumbnailCache* m_thumbnails = nullptr; ///< kept for the session
    QPointer<PlanPreview> m_previewDialog;
};
