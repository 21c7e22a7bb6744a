#pragma once

// What a run reports besides its log lines, and how it is asked to stop.

#include "core/Log.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

namespace core {

/// Where a run is: its stage, the 1-based position in it, the count, and the file at hand.
struct Progress {
    QString stage;
    int index = 0;
    int count = 0;
    QString file;
};

using ProgressObserver = std::function<void(const Progress&)>;

/// A request to stop, shared by every copy. Runs check it between files; a move that has started
/// always completes, so every file stays in exactly one place.
class CancelToken {
  public:
    CancelToken() : m_flag(std::make_shared<std::atomic<bool>>(false)) {}
    void cancel() const { m_flag->store(true); }
    bool isCancelled() const { return m_flag->load(); }
    /// The flag itself, for a signal handler (storing into a lock-free atomic is signal-safe).
    std::atomic<bool>* flag() const { return m_flag.get(); }

  private:
    std::shared_ptr<std::atomic<bool>> m_flag;
};

/// What every run is given besides its inputs.
struct RunContext {
    Log log;
    ProgressObserver progress; ///< may be empty
    CancelToken cancel;

    void report(const QString& stage, int index, int count, const QString& file = {}) const {
        if (progress) progress(Progress{stage, index, count, file});
    }
    bool cancelled() const { return cancel.isCancelled(); }
};

/// A context that only logs (tests and one-off callers).
inline RunContext logOnly(Log log) {
    return RunContext{std::move(log), {}, {}};
}

/// The line a cancelled run ends with; {n}: files moved before it stopped.
inline const QString kCancelledLine = QStringLiteral("[取消] 已停止：已移动 %1 个文件，其余文件保持原位");

/// Stage names shown beside the progress.
namespace stage {
inline const QString scan = QStringLiteral("扫描");
inline const QString classify = QStringLiteral("分类");
inline const QString readLabels = QStringLiteral("读标签");
inline const QString move = QStringLiteral("移动");
} // namespace stage

} // namespace core
