#include "services/FinderJobController.h"

#include "core/Text.h"
#include "services/FinderJobRunner.h"
#include "services/ImageOCRProcessor.h"
#include "services/LogStore.h"
#include "services/OCRJob.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>

namespace fs = std::filesystem;
using Kind = FinderWorkItem::Kind;

namespace {

QString titleFor(Kind kind) {
    return kind == Kind::ocrImage ? FinderJobController::kTitleOCR : FinderJobController::kTitleNaming;
}

/// The key under which an item counts as seen: "{kind}:{standardized path}".
QString keyFor(Kind kind, const fs::path& url) {
    std::error_code ec;
    fs::path path = fs::absolute(url, ec);
    path = (ec ? url : path).lexically_normal();
    if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
    return FinderWorkItem::rawValue(kind) + QLatin1Char(':') + QString::fromStdString(path.string());
}

/// Runs `work` on the interface thread after everything posted before it. Posted through the
/// application object, which outlives any controller; `work` checks its controller itself.
void postToInterface(std::function<void()> work) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

} // namespace

FinderJobController::FinderJobController(std::unique_ptr<FinderJobRunner> runner, ProcessingLock& lock,
                                         QObject* parent)
    : QObject(parent), m_runner(std::move(runner)), m_lock(lock) {
    m_resolver.setMaxThreadCount(1);
}

FinderJobController::~FinderJobController() {
    for (QFuture<void>& f : m_pending)
        f.waitForFinished();
}

FinderJobController& FinderJobController::shared() {
    static FinderJobController* instance = new FinderJobController(makeApplicationRunner());
    return *instance;
}

void FinderJobController::handleIncoming(Kind kind, const std::vector<fs::path>& urls) {
    if (urls.empty()) return;
    showWindow(titleFor(kind));

    if (kind == Kind::nameFolder) {
        // Whatever is not a folder becomes an item of its own that fails with the reason, so
        // the window always ends with something to confirm.
        accept(kind, urls);
        return;
    }

    // Resolving reads every photo's capture time: off the interface thread.
    const core::Log log = postingLog();
    QPointer<FinderJobController> self(this);
    // The result is posted like the log lines, so it arrives after all of them.
    track(QtConcurrent::run(&m_resolver, [self, urls, log] {
        std::vector<fs::path> images = ImageOCRProcessor::resolveImages(urls, log);
        postToInterface([self, urls, images = std::move(images)] {
            if (!self) return;
            if (!images.empty()) {
                self->accept(Kind::ocrImage, images);
            } else if (self->m_isRunning) {
                self->appendLog(kNoImages);
            } else {
                self->showIdleResult(urls.front(), kNoImages);
            }
        });
    }));
}

void FinderJobController::accept(Kind kind, const std::vector<fs::path>& candidates) {
    const std::vector<FinderWorkItem> added = enqueue(kind, candidates);
    if (added.empty()) {
        emit windowRaised();
        return;
    }
    if (m_isRunning) {
        m_batchTotal += int(added.size());
        appendLog(kQueuedLine.arg(added.size())
                      .arg(kind == Kind::ocrImage ? QStringLiteral("OCR") : QStringLiteral("命名"))
                      .arg(m_queue.size()));
        // The item in progress keeps its index; only the total grows (counting it as one more
        // would show the next item as running).
        setStatus(m_stopRequested ? kStatusStopping : kStatusRunning.arg(m_completedCount).arg(m_batchTotal));
        emit windowRaised();
        return;
    }
    if (!beginSession()) {
        const bool commandLine = m_lock.holder() == ProcessingLock::Holder::commandLine;
        m_queue.clear();
        m_seenPaths.clear();
        showIdleResult(added.front().url, commandLine ? kCommandLineBusy : kMainBusy);
        return;
    }
    drainQueue();
}

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

std::vector<FinderWorkItem> FinderJobController::enqueue(Kind kind, const std::vector<fs::path>& urls) {
    std::vector<FinderWorkItem> added;
    for (const fs::path& url : urls) {
        if (!m_seenPaths.insert(keyFor(kind, url)).second) continue;
        m_queue.push_back(FinderWorkItem{kind, url});
        added.push_back(m_queue.back());
    }
    return added;
}

void FinderJobController::drainQueue() {
    const bool fresh = !m_isRunning && m_completedCount == 0;
    const bool newBatch = !m_isRunning;
    m_isRunning = true;
    m_isFinished = false;
    m_stopRequested = false;
    emit stateChanged();
    if (fresh)
        m_batchTotal = int(m_queue.size());
    else
        m_batchTotal = std::max(m_batchTotal, m_completedCount + int(m_queue.size()));
    if (newBatch) {
        // Every batch has its own cancellation and says which engine it uses.
        m_job->renewCancelToken();
        m_batchRenamed = 0;
        m_batchWritten = 0;
        m_runner->beginBatch(*m_job);
    }
    runNext();
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

void FinderJobController::appendLog(const QString& line) {
    // Lines logged before a session file exists (a refused hand-over) stay in the window only.
    if (m_job)
        m_job->log(line);
    else
        show(LogStore::stamped(line));
}

void FinderJobController::show(const QString& stamped) {
    m_logMessages << stamped;
    emit lineAppended(stamped);
}

core::Log FinderJobController::postingLog() {
    QPointer<FinderJobController> self(this);
    return [self](const QString& line) {
        postToInterface([self, line] {
            if (self) self->appendLog(line);
        });
    };
}
