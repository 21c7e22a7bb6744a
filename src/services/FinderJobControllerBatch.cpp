// A batch: its run job (lock and log session), its items one at a time on a worker thread, its end.

#include "services/FinderJobController.h"
#include "services/FinderJobControllerParts.h"

#include "core/Text.h"
#include "services/FinderJobRunner.h"
#include "services/LogStore.h"
#include "services/OCRJob.h"

#include <QPointer>
#include <QThread>
#include <QtConcurrent>

namespace fs = std::filesystem;
using Kind = FinderWorkItem::Kind;
using namespace finderjobs;

bool FinderJobController::beginSession() {
    if (m_job) return true;
    // Lines reach the window on the interface thread in the order they reach the file: at once
    // when nothing is on its way there, else behind what is.
    QPointer<FinderJobController> self(this);
    auto sink = [self, inFlight = m_inFlight](const QString& stamped) {
        if (QThread::currentThread() == QCoreApplication::instance()->thread() && *inFlight == 0) {
            if (self) self->show(stamped);
            return;
        }
        ++*inFlight;
        postToInterface([self, inFlight, stamped] {
            --*inFlight;
            if (self) self->show(stamped);
        });
    };
    auto job = std::make_unique<services::RunJob>(
        services::JobFrame{kOpeningLine.arg(m_queue.size()), QString(), kMainBusy, true},
        ProcessingLock::Owner::finder, std::move(sink), m_lock);
    if (!job->begin()) return false;
    // Each item's errors are counted on its own "[i/n] 错误 …" line.
    job->setSummaryFormat(QString());
    m_job = std::move(job);
    return true;
}

void FinderJobController::runNext() {
    if (m_job->cancelToken().isCancelled()) {
        stopBatch();
        return;
    }
    if (m_queue.empty()) {
        finishBatch();
        return;
    }
    m_batchTotal = std::max(m_batchTotal, m_completedCount + int(m_queue.size()));
    const FinderWorkItem item = m_queue.front();
    m_queue.pop_front();
    const int i = ++m_completedCount;
    const int n = m_batchTotal;
    m_lastKind = item.kind;
    m_lastItemStopped = false;
    showWindow(titleFor(item.kind));
    m_folderPath = core::displayPath(item.url);
    setStatus(m_stopRequested ? kStatusStopping : kStatusRunning.arg(i).arg(n));

    FinderJobRunner* runner = m_runner.get();
    const services::RunJob* job = m_job.get();
    QPointer<FinderJobController> self(this);
    if (item.kind == Kind::nameFolder) {
        fs::path name = item.url.has_filename() ? item.url.filename() : item.url.parent_path().filename();
        appendLog(kFolderHeadLine.arg(i).arg(n).arg(core::displayName(name)));
        appendLog(kFolderPathLine.arg(core::displayPath(item.url)));
        std::error_code ec;
        if (!fs::is_directory(item.url, ec)) {
            // A file (or nothing) handed over for naming: said, counted, and the batch goes on.
            const bool exists = fs::exists(fs::symlink_status(item.url, ec));
            itemDone(i, n, {(exists ? kNotAFolder : kNoSuchFolder).arg(core::displayPath(item.url))},
                     kFolderErrorsLine.arg(i).arg(n).arg(1));
            return;
        }
        track(QtConcurrent::run([self, runner, job, url = item.url, i, n] {
            FinderJobRunner::FolderOutcome outcome = runner->nameFolder(*job, url);
            postToInterface([self, outcome = std::move(outcome), i, n] {
                if (!self) return;
                self->m_folderPath = core::displayPath(outcome.folder);
                self->m_batchRenamed += outcome.renamed;
                self->m_lastItemStopped = outcome.cancelled;
                emit self->stateChanged();
                self->itemDone(i, n, outcome.errors,
                               outcome.errors.isEmpty()
                                   ? QString()
                                   : kFolderErrorsLine.arg(i).arg(n).arg(outcome.errors.size()));
            });
        }));
    } else {
        appendLog(kOCRHeadLine.arg(i).arg(n).arg(core::displayName(item.url)));
        track(QtConcurrent::run([self, runner, job, url = item.url, i, n] {
            FinderJobRunner::ImageOutcome outcome = runner->readImage(*job, url);
            postToInterface([self, outcome = std::move(outcome), i, n] {
                if (!self) return;
                if (outcome.written) ++self->m_batchWritten;
                self->m_lastItemStopped = outcome.cancelled;
                // Its reason was logged by the run; the item says only that it failed.
                self->itemDone(i, n, outcome.errors,
                               outcome.written || outcome.cancelled ? QString()
                                                                    : kOCRFailedLine.arg(i).arg(n));
            });
        }));
    }
}

void FinderJobController::itemDone(int i, int n, const QStringList& errors, const QString& note) {
    // Errors the run returned without logging them are written as "[失败] " lines.
    m_job->summarize(errors);
    if (!note.isEmpty()) appendLog(note);
    appendLog(kItemEndLine.arg(i).arg(n));
    runNext();
}

void FinderJobController::stop() {
    if (!m_isRunning || m_stopRequested) return;
    m_stopRequested = true;
    m_job->cancelToken().cancel();
    setStatus(kStatusStopping);
}

void FinderJobController::stopBatch() {
    // The command line's cancel line, unless the item at hand has written it already.
    if (!m_lastItemStopped)
        appendLog(m_lastKind == Kind::ocrImage ? services::kOCRCancelledLine.arg(m_batchWritten)
                                               : core::kCancelledLine.arg(m_batchRenamed));
    // Items not started are dropped; they may be handed over again.
    for (const FinderWorkItem& item : m_queue)
        m_seenPaths.erase(keyFor(item.kind, item.url));
    m_queue.clear();
    m_job->endBatch();
    m_isRunning = false;
    m_isFinished = true;
    m_stopRequested = false;
    setStatus(kStatusStopped.arg(m_completedCount).arg(m_batchTotal));
    emit windowRaised();
}

void FinderJobController::finishBatch() {
    m_job->endBatch();
    m_isRunning = false;
    m_isFinished = true;
    setStatus(kStatusDone.arg(m_completedCount));
    emit windowRaised();
}
