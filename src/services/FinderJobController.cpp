#include "services/FinderJobController.h"

#include "core/Text.h"
#include "services/FinderJobRunner.h"
#include "services/ImageOCRProcessor.h"
#include "services/LogStore.h"

#include <QCoreApplication>
#include <QPointer>
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

bool isDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
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
        std::vector<fs::path> folders;
        std::copy_if(urls.begin(), urls.end(), std::back_inserter(folders), isDirectory);
        if (!folders.empty()) accept(kind, folders);
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
        setStatus(kStatusRunning.arg(m_completedCount).arg(m_batchTotal));
        emit windowRaised();
        return;
    }
    const auto owner = m_lock.owner();
    if (owner == ProcessingLock::Owner::main ||
        (owner != ProcessingLock::Owner::finder && !m_lock.tryAcquire(ProcessingLock::Owner::finder))) {
        m_queue.clear();
        m_seenPaths.clear();
        showIdleResult(added.front().url, kMainBusy);
        return;
    }
    drainQueue();
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
    m_isRunning = true;
    m_isFinished = false;
    emit stateChanged();
    if (fresh) {
        if (!m_session) {
            m_session.emplace([this](const QString& stamped) { show(stamped); });
            appendLog(kOpeningLine.arg(m_queue.size()));
            appendLog(services::kLogFileLine.arg(QFileInfo(m_session->filePath()).fileName()));
        }
        m_batchTotal = int(m_queue.size());
    } else {
        m_batchTotal = std::max(m_batchTotal, m_completedCount + int(m_queue.size()));
    }
    runNext();
}

void FinderJobController::runNext() {
    if (m_queue.empty()) {
        finishBatch();
        return;
    }
    m_batchTotal = std::max(m_batchTotal, m_completedCount + int(m_queue.size()));
    const FinderWorkItem item = m_queue.front();
    m_queue.pop_front();
    const int i = ++m_completedCount;
    const int n = m_batchTotal;
    showWindow(titleFor(item.kind));
    m_folderPath = core::displayPath(item.url);
    setStatus(kStatusRunning.arg(i).arg(n));

    m_runner->beginItem([this](const QString& line) { appendLog(line); });
    const core::Log log = postingLog();
    FinderJobRunner* runner = m_runner.get();
    QPointer<FinderJobController> self(this);
    if (item.kind == Kind::nameFolder) {
        fs::path name = item.url.has_filename() ? item.url.filename() : item.url.parent_path().filename();
        appendLog(kFolderHeadLine.arg(i).arg(n).arg(core::displayName(name)));
        appendLog(kFolderPathLine.arg(core::displayPath(item.url)));
        track(QtConcurrent::run([self, runner, url = item.url, log, i, n] {
            FinderJobRunner::FolderOutcome outcome = runner->nameFolder(url, log);
            postToInterface([self, outcome = std::move(outcome), i, n] {
                if (!self) return;
                self->m_folderPath = core::displayPath(outcome.folder);
                emit self->stateChanged();
                if (!outcome.errors.isEmpty())
                    self->appendLog(kFolderErrorsLine.arg(i).arg(n).arg(outcome.errors.size()));
                self->appendLog(kItemEndLine.arg(i).arg(n));
                self->runNext();
            });
        }));
    } else {
        appendLog(kOCRHeadLine.arg(i).arg(n).arg(core::displayName(item.url)));
        track(QtConcurrent::run([self, runner, url = item.url, log, i, n] {
            const bool written = runner->readImage(url, log);
            postToInterface([self, written, i, n] {
                if (!self) return;
                if (!written) self->appendLog(kOCRFailedLine.arg(i).arg(n));
                self->appendLog(kItemEndLine.arg(i).arg(n));
                self->runNext();
            });
        }));
    }
}

void FinderJobController::finishBatch() {
    if (m_session) LogStore::pruneOldLogs();
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
    m_session.reset();
    emit stateChanged();
}

void FinderJobController::closeWindow(bool releaseFinderLock) {
    if (releaseFinderLock) m_lock.release(ProcessingLock::Owner::finder);
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
    if (m_session)
        m_session->write(line);
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
