#include "services/RunJob.h"

#include "services/LogStore.h"

#include <QFileInfo>
#include <QSet>

#include <mutex>

namespace services {

LockGuard::LockGuard(ProcessingLock& lock, ProcessingLock::Owner owner)
    : m_lock(lock), m_owner(owner), m_held(lock.tryAcquire(owner)) {}

LockGuard::~LockGuard() {
    release();
}

void LockGuard::release() {
    if (!m_held) return;
    m_lock.release(m_owner);
    m_held = false;
}

struct LogSession::State {
    QString file;
    LineSink sink;
    mutable std::mutex mutex;
    QSet<QString> reported;
};

LogSession::LogSession(LineSink sink) : LogSession(LogStore::beginSession(), std::move(sink)) {}

LogSession::LogSession(QString filePath, LineSink sink) : m_state(std::make_shared<State>()) {
    m_state->file = std::move(filePath);
    m_state->sink = std::move(sink);
}

void LogSession::write(const core::LogLine& line) const {
    State& state = *m_state;
    const std::lock_guard<std::mutex> hold(state.mutex);
    if (line.severity != core::Severity::info) state.reported.insert(line.text);
    const QString stamped = LogStore::stamped(line.shown());
    LogStore::append(stamped, state.file);
    if (state.sink) state.sink(stamped);
}

core::Log LogSession::logger() const {
    return [session = *this](const core::LogLine& line) { session.write(line); };
}

QString LogSession::filePath() const {
    return m_state->file;
}

bool LogSession::reported(const QString& text) const {
    const std::lock_guard<std::mutex> hold(m_state->mutex);
    return m_state->reported.contains(text);
}

JobFrame organizeFrame() {
    return JobFrame{QStringLiteral("—— 开始整理 ——"), QStringLiteral("—— 整理结束 ——"),
                    ProcessingLock::kBusyForMain, true};
}

RunJob::RunJob(JobFrame frame, ProcessingLock::Owner owner, LineSink sink, ProcessingLock& lock)
    : m_frame(std::move(frame)), m_owner(owner), m_sink(std::move(sink)), m_lock(lock) {}

RunJob::~RunJob() {
    end();
}

bool RunJob::begin() {
    if (m_session) return true;
    auto guard = std::make_unique<LockGuard>(m_lock, m_owner);
    if (!guard->held()) return false;
    m_guard = std::move(guard);
    m_session = std::make_unique<LogSession>(m_sink);
    m_ended = false;
    m_session->write(m_frame.opening);
    if (m_frame.logFileLine) m_session->write(kLogFileLine.arg(QFileInfo(m_session->filePath()).fileName()));
    return true;
}

core::Log RunJob::logger() const {
    if (!m_session) return [](const QString&) {};
    return m_session->logger();
}

void RunJob::log(const core::LogLine& line) const {
    if (m_session) m_session->write(line);
}

core::RunContext RunJob::context() const {
    return core::RunContext{logger(), m_progress, m_cancel};
}

QString RunJob::logFilePath() const {
    return m_session ? m_session->filePath() : QString();
}

void RunJob::summarize(const QStringList& errors, const QString& summaryFormat) const {
    if (!m_session) return;
    for (const QString& error : errors)
        if (!m_session->reported(error)) m_session->write(core::failure(error));
    if (!errors.isEmpty() && !summaryFormat.isEmpty()) m_session->write(summaryFormat.arg(errors.size()));
}

QString RunJob::refusal() const {
    return m_frame.busyMessage == ProcessingLock::kBusyForMain ? m_lock.busyMessage() : m_frame.busyMessage;
}

void RunJob::endBatch() const {
    if (m_session) LogStore::pruneOldLogs();
}

void RunJob::end() {
    if (!m_session || m_ended) return;
    m_ended = true;
    if (!m_frame.closing.isEmpty()) m_session->write(m_frame.closing);
    LogStore::pruneOldLogs();
    m_guard.reset();
}

int exitStatus(const QStringList& errors, bool cancelled) {
    if (cancelled) return 130;
    return errors.isEmpty() ? 0 : 1;
}

} // namespace services
