#pragma once

// What every front end (command line, main window, file-manager jobs) wraps around a run: the
// processing lock, a log session with its opening and closing lines, the summary of errors, and
// the cancellation token. The window starts it on the GUI thread, runs the work on a worker
// thread and ends it back on the GUI thread; the command line does all three in turn.

#include "core/Progress.h"
#include "services/ProcessingLock.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace services {

/// Where stamped lines go besides the log file: stdout, a log panel, a job window.
using LineSink = std::function<void(const QString& stampedLine)>;

/// Holds the processing lock for as long as it lives (released on every path).
class LockGuard {
  public:
    LockGuard(ProcessingLock& lock, ProcessingLock::Owner owner);
    ~LockGuard();
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;
    bool held() const { return m_held; }
    void release();

  private:
    ProcessingLock& m_lock;
    ProcessingLock::Owner m_owner;
    bool m_held = false;
};

/// One log file: every line is stamped "HH:mm:ss ", appended to the file and handed to the
/// sink, whole and in call order, from any thread.
class LogSession {
  public:
    explicit LogSession(LineSink sink = {});
    /// A session that writes into an existing log file (the file-manager window keeps one per
    /// window session).
    LogSession(QString filePath, LineSink sink);

    void write(const core::LogLine& line) const;
    core::Log logger() const;
    QString filePath() const;
    /// Whether a failure, warning or skip line with this text has been written.
    bool reported(const QString& text) const;

  private:
    struct State;
    std::shared_ptr<State> m_state;
};

/// The lines a kind of job is framed with.
struct JobFrame {
    QString opening;         ///< "—— 开始整理 ——"
    QString closing;         ///< "—— 整理结束 ——" (none when empty)
    QString busyMessage;     ///< shown by the caller when the lock is taken (see RunJob::refusal)
    bool logFileLine = true; ///< "日志文件：{name}" after the opening line
};

inline const QString kErrorSummary = QStringLiteral("错误汇总 %1 条（详见上方日志）");
inline const QString kLogFileLine = QStringLiteral("日志文件：%1");

/// Organizing, and naming folders in place: the same frame.
JobFrame organizeFrame();

class RunJob {
  public:
    RunJob(JobFrame frame, ProcessingLock::Owner owner, LineSink sink,
           ProcessingLock& lock = ProcessingLock::shared());
    ~RunJob();
    RunJob(const RunJob&) = delete;
    RunJob& operator=(const RunJob&) = delete;

    /// Takes the lock, begins the log session and writes the opening lines. False, with nothing
    /// written, when another job holds the lock (tell the user refusal()).
    bool begin();
    /// What to tell the user when begin() was refused: the frame's busy message; a frame that
    /// names the file-manager jobs (ProcessingLock::kBusyForMain) names whoever holds the lock.
    QString refusal() const;
    bool begun() const { return m_session != nullptr; }

    /// The log, progress and cancellation a run is given (usable from any thread).
    core::RunContext context() const;
    core::Log logger() const;
    void log(const core::LogLine& line) const;
    core::CancelToken cancelToken() const { return m_cancel; }
    void setProgressObserver(core::ProgressObserver observer) { m_progress = std::move(observer); }
    QString logFilePath() const;
    const JobFrame& frame() const { return m_frame; }

    /// Writes every returned error that was not logged where it arose as a failure line, then
    /// the summary ("错误汇总 {n} 条（详见上方日志）" or another format; none when the format
    /// is empty) when there are errors.
    void summarize(const QStringList& errors, const QString& summaryFormat) const;
    /// The same with the job's summary format (kErrorSummary unless set).
    void summarize(const QStringList& errors) const { summarize(errors, m_summaryFormat); }
    void setSummaryFormat(QString format) { m_summaryFormat = std::move(format); }

    // A job that runs batch after batch under one lock and one log file (the file-manager
    // window) marks the end of a batch, and gives the next batch a cancellation of its own.
    /// Old logs pruned; the lock and the session stay.
    void endBatch() const;
    /// A fresh cancellation token for the runs started from now on.
    void renewCancelToken() { m_cancel = core::CancelToken(); }

    /// The closing line, pruning of old logs, and the lock released. Called by the destructor
    /// when not called before.
    void end();

  private:
    JobFrame m_frame;
    ProcessingLock::Owner m_owner;
    LineSink m_sink;
    ProcessingLock& m_lock;
    std::unique_ptr<LockGuard> m_guard;
    std::unique_ptr<LogSession> m_session;
    core::CancelToken m_cancel;
    core::ProgressObserver m_progress;
    QString m_summaryFormat = kErrorSummary;
    bool m_ended = false;
};

/// The exit status of a command-line job: 130 when cancelled, 1 with errors, else 0.
int exitStatus(const QStringList& errors, bool cancelled);

} // namespace services
