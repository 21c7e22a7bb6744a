#pragma once

#include "ai/AIConfig.h"
#include "core/Progress.h"
#include "intake/WorkUnits.h"
#include "refine/MoveJournal.h"
#include "services/Engine.h"
#include "services/RunJob.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cli {

/// Writes one line (UTF-8) to stdout or stderr.
void out(const QString& line);
void err(const QString& line);

/// The command-line words after the command name, with simple option handling.
class Args {
  public:
    Args(int argc, char** argv, int first);
    /// Removes and returns the value of "--name VALUE"; nothing when absent.
    std::optional<QString> take(const QString& name);
    /// Removes "--name" and says whether it was there.
    bool flag(const QString& name);
    /// What is left once options have been taken; unknown options are reported as errors.
    const QStringList& rest() const { return m_rest; }
    /// The words as file paths, byte for byte (names need not be UTF-8).
    std::filesystem::path path(int index) const;
    std::optional<QString> unknownOption() const;

  private:
    QStringList m_rest;
    std::vector<std::string> m_raw;
};

/// One command of vitrino-cli; its synopsis is the only place its usage is written.
struct Command {
    const char* name;
    int (*run)(Args&);
    const char* synopsis;    ///< after "vitrino-cli "
    const char* description; ///< what it does, in a few words
    bool needsFonts = false; ///< rendering text needs a GUI application (on the offscreen platform)
};
const std::vector<Command>& commands();
const Command* findCommand(const QString& name);
/// "用法：vitrino-cli {synopsis}".
QString usageLine(const char* name);
/// The whole usage text.
QString usage();
/// Prints the command's usage line to stderr; returns 2.
int usageError(const char* name);

/// The stored AI settings, with this run's --base-url, --model and VITRINO_API_KEY on top. The
/// key is never taken from the command line, where it would land in shell history.
ai::AISettings settingsForRun(Args& args);

/// Takes --requests N (1–32); without it, the stored "ai.maxRequestsInFlight". Nothing for any
/// other value: the caller prints its usage.
std::optional<int> requestsForRun(Args& args);

/// Takes --engine, --base-url and --model and picks the backend. Nothing (after printing why)
/// when it cannot be had: exit code 2.
std::optional<services::Engine> engineForRun(Args& args);

/// Scans a folder and prints the scan summary and the task line; nothing (after printing the
/// error) when the folder cannot be scanned.
std::optional<std::vector<MediaPipeline::WorkUnit>> scanAndReport(const std::filesystem::path& folder);

/// SIGINT and SIGTERM cancel through the token while the object lives; a second signal ends the
/// process at once.
class CancelOnSignals {
  public:
    explicit CancelOnSignals(const core::CancelToken& token);
    ~CancelOnSignals();
    CancelOnSignals(const CancelOnSignals&) = delete;
    CancelOnSignals& operator=(const CancelOnSignals&) = delete;

  private:
    core::CancelToken m_token;
};

/// One updating progress line on stderr when stderr is a terminal (stage, i/n, file, time left);
/// never in the log file or on stdout. Log lines printed through it clear and redraw it.
class TerminalProgress {
  public:
    TerminalProgress();
    bool active() const { return m_active; }
    void update(const core::Progress& progress);
    /// Prints a log line to stdout, keeping the progress line below it.
    void print(const QString& line);
    void clear();

  private:
    void draw();
    bool m_active = false;
    std::mutex m_mutex;
    QString m_line;
    QString m_stage;
    qint64 m_stageStartMs = 0;
};

/// Runs a job's work inside its frame on stdout, with the terminal progress line and SIGINT/SIGTERM
/// cancelling it: 2 when another job holds the lock, else the exit status of the work's result
/// (0, 1 with errors, 130 when cancelled).
template <typename Work> int runJob(services::JobFrame frame, Work work) {
    TerminalProgress progress;
    // A start refused by the lock this process holds names the command line.
    ProcessingLock::shared().setCommandLine(true);
    services::RunJob job(std::move(frame), ProcessingLock::Owner::main,
                         [&progress](const QString& line) { progress.print(line); });
    if (!job.begin()) {
        err(job.refusal());
        return 2;
    }
    job.setProgressObserver([&progress](const core::Progress& p) { progress.update(p); });
    const CancelOnSignals cancelOnSignals(job.cancelToken());
    const auto result = work(job);
    progress.clear();
    job.end();
    if constexpr (requires { result.refused; })
        if (result.refused) return 2;
    return services::exitStatus(result.errors, result.cancelled);
}

int scanCommand(Args& args);
int thumbCommand(Args& args);
int prepareCommand(Args& args);
int chatCommand(Args& args);
int probeCommand(Args& args);
int classifyCommand(Args& args);
int organizeCommand(Args& args);
int refineCommand(Args& args);
/// "organize --undo DIR" and "refine --undo DIR": undo the folder's last run of that kind.
int undoCommand(Args& args, MoveJournal::Kind kind);
int nameCommand(Args& args);
/// "undo PATH": the newest operation in PATH's tree; "history PATH": the shoot's operations.
int historyUndoCommand(Args& args);
int historyCommand(Args& args);
int ocrCommand(Args& args);
int makeSampleCommand(Args& args);

} // namespace cli
