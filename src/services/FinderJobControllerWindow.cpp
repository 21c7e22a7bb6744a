// What the job window shows: its title, status and log, and its closing.

#include "services/FinderJobController.h"
#include "services/FinderJobControllerParts.h"

#include "core/Text.h"
#include "services/LogStore.h"

#include <QPointer>

namespace fs = std::filesystem;
using Kind = FinderWorkItem::Kind;
using namespace finderjobs;

void FinderJobController::showIdleResult(const fs::path& path, const QString& message) {
    m_folderPath = core::displayPath(path);
    m_isRunning = false;
    m_isFinished = true;
    setStatus(kStatusRefused);
    appendLog(message);
    emit windowRaised();
}

void FinderJobController::resetSessionState() {
    m_isRunning = false;
    m_isFinished = false;
    m_queue.clear();
    m_seenPaths.clear();
    m_completedCount = 0;
    m_batchTotal = 0;
    m_logMessages.clear();
    m_folderPath.clear();
    m_statusText = kStatusReady;
    m_stopRequested = false;
    emit stateChanged();
}

void FinderJobController::closeWindow(bool releaseFinderLock) {
    Q_UNUSED(releaseFinderLock); // the lock belongs to the session's job, which ends here
    if (m_job) m_job->end();     // old logs pruned, the lock released
    m_job.reset();
    resetSessionState();
    if (!m_hasWindow) return;
    m_hasWindow = false;
    emit windowClosed();
}

void FinderJobController::windowWillClose() {
    closeWindow(true);
}

void FinderJobController::showWindow(const QString& title) {
    const bool changed = !m_hasWindow || m_windowTitle != title;
    m_hasWindow = true;
    m_windowTitle = title;
    if (changed) emit windowShown(title);
    emit windowRaised();
}

void FinderJobController::track(const QFuture<void>& work) {
    std::erase_if(m_pending, [](const QFuture<void>& f) { return f.isFinished(); });
    m_pending.push_back(work);
}

void FinderJobController::setStatus(const QString& status) {
    m_statusText = status;
    emit stateChanged();
}

void FinderJobController::appendLog(const core::LogLine& line) {
    // Lines logged before a session file exists (a refused hand-over) stay in the window only.
    if (m_job)
        m_job->log(line);
    else
        show(LogStore::stamped(line.shown()));
}

void FinderJobController::show(const QString& stamped) {
    m_logMessages << stamped;
    emit lineAppended(stamped);
}

core::Log FinderJobController::postingLog() {
    QPointer<FinderJobController> self(this);
    return [self](const core::LogLine& line) {
        postToInterface([self, line] {
            if (self) self->appendLog(line);
        });
    };
}
