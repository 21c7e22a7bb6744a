#include "services/FinderJobController.h"
#include "services/FinderJobControllerParts.h"

#include "services/FinderJobRunner.h"
#include "services/ImageOCRProcessor.h"

#include <QCoreApplication>
#include <QPointer>
#include <QtConcurrent>

#include <algorithm>

namespace fs = std::filesystem;
using Kind = FinderWorkItem::Kind;

namespace finderjobs {

QString titleFor(Kind kind) {
    return kind == Kind::ocrImage ? FinderJobController::kTitleOCR : FinderJobController::kTitleNaming;
}

QString keyFor(Kind kind, const fs::path& url) {
    std::error_code ec;
    fs::path path = fs::absolute(url, ec);
    path = (ec ? url : path).lexically_normal();
    if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
    return FinderWorkItem::rawValue(kind) + QLatin1Char(':') + QString::fromStdString(path.string());
}

void postToInterface(std::function<void()> work) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

} // namespace finderjobs

using namespace finderjobs;

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
