// The window's runs: organize (then the pass), the File-menu jobs and their undo, each one run
// job on a worker thread.

#include "app/ContentView.h"

#include "ai/AIConfig.h"
#include "app/CompactSwitch.h"
#include "app/Widgets.h"
#include "services/RefineJob.h"

#include <QProgressBar>
#include <QThread>

bool ContentView::beginJob(services::JobFrame frame, bool clearsLog) {
    if (m_lock.owner() != ProcessingLock::Owner::idle) {
        appendLog(frame.busyMessage == ProcessingLock::kBusyForMain ? m_lock.busyMessage()
                                                                    : frame.busyMessage);
        return false;
    }
    // Cleared before the job writes its opening lines, which are on their way to the list.
    if (clearsLog) clearLog();
    auto job = std::make_unique<services::RunJob>(
        std::move(frame), ProcessingLock::Owner::main,
        [pump = m_pump](const QString& stamped) { pump->post(stamped); }, m_lock);
    job->setProgressObserver([this](const core::Progress& progress) {
        QMetaObject::invokeMethod(
            this, [this, progress] { showProgress(progress); }, Qt::QueuedConnection);
    });
    if (!job->begin()) {
        appendLog(job->refusal()); // another Vitrino process holds the lock
        return false;
    }
    m_job = std::move(job);
    setProcessing(true);
    return true;
}

template <typename R>
void ContentView::runInBackground(std::function<R(const services::RunJob&)> work,
                                  std::function<void(R)> done) {
    auto result = std::make_shared<R>();
    m_worker = QThread::create([work = std::move(work), &job = *m_job, result] { *result = work(job); });
    connect(m_worker, &QThread::finished, this, [this, result, done = std::move(done)] {
        m_worker->deleteLater();
        m_worker = nullptr;
        done(std::move(*result));
        m_job->end(); // closing line, old logs pruned, lock released
        m_currentLogFile = m_job->logFilePath();
        m_job.reset();
        setProcessing(false);
        emit finished();
    });
    m_worker->start();
}

// The preview's flows (ContentViewPreview.cpp) run their work the same way.
template void ContentView::runInBackground<services::PreparedPlan>(
    std::function<services::PreparedPlan(const services::RunJob&)>,
    std::function<void(services::PreparedPlan)>);
template void ContentView::runInBackground<AutoOrganizer::RunResult>(
    std::function<AutoOrganizer::RunResult(const services::RunJob&)>,
    std::function<void(AutoOrganizer::RunResult)>);

void ContentView::showProgress(const core::Progress& progress) {
    if (!m_isProcessing) return;
    const int count = std::max(progress.count, 1);
    m_progress->setRange(0, count);
    m_progress->setValue(std::clamp(progress.index, 0, count));
    m_progressText->setText(
        progress.count > 0
            ? QStringLiteral("%1 %2/%3").arg(progress.stage).arg(progress.index).arg(progress.count)
            : progress.stage);
}

void ContentView::stop() {
    if (!m_isProcessing || !m_job) return;
    m_job->cancelToken().cancel();
    m_stopRequested = true;
    refreshControls();
}

void ContentView::start() {
    if (m_isProcessing) {
        stop();
        return;
    }
    if (!m_folder) return;
    if (!beginJob(services::organizeFrame(), true)) return;

    // The options as they are now: switching them later does not change this run.
    const std::filesystem::path folder = *m_folder;
    const bool prefilter = m_prefilter->isChecked();
    const bool postprocess = m_postprocess->isChecked();
    const bool offline = m_offline->isChecked();
    const ai::AISettings settings = m_config.snapshot();
    app::WindowRuns& runs = m_runs;
    runInBackground<std::optional<app::RefineOutcome>>(
        [=, &runs](const services::RunJob& job) -> std::optional<app::RefineOutcome> {
            const auto organized = runs.organize(job, folder, prefilter, offline, settings);
            if (!postprocess || organized.cancelled || job.cancelToken().isCancelled()) return std::nullopt;
            job.log(services::refineFrame().opening);
            app::RefineOutcome refined = runs.refine(folder, job.context());
            job.summarize(refined.errors, services::kRefineErrors);
            return refined;
        },
        [](std::optional<app::RefineOutcome>) {});
}

void ContentView::requestPostprocess() {
    QMetaObject::invokeMethod(this, &ContentView::runFeaturePrintFromMenu, Qt::QueuedConnection);
}

void ContentView::requestUndoPostprocess() {
    QMetaObject::invokeMethod(this, &ContentView::undoFeaturePrintFromMenu, Qt::QueuedConnection);
}

void ContentView::runFeaturePrintFromMenu() {
    runFolderJob(m_folder.has_value(), kMenuNoFolder, services::refineMenuFrame(), services::kRefineErrors,
                 [&runs = m_runs](const std::filesystem::path& folder, const services::RunJob& job) {
                     return runs.refine(folder, job.context()).errors;
                 });
}

void ContentView::runFolderJob(
    bool allowed, const core::LogLine& refusal, const services::JobFrame& frame, const QString& errorsFormat,
    std::function<QStringList(const std::filesystem::path&, const services::RunJob&)> work) {
    if (!allowed) {
        appendLog(refusal);
        return;
    }
    if (!beginJob(frame)) return;
    runInBackground<QStringList>(
        [folder = *m_folder, errorsFormat, work = std::move(work)](const services::RunJob& job) {
            QStringList errors = work(folder, job);
            job.summarize(errors, errorsFormat);
            return errors;
        },
        [](QStringList) {});
}

void ContentView::undoFeaturePrintFromMenu() {
    runFolderJob(canUndoPostprocess(), kNothingToUndo, services::refineUndoFrame(), services::kUndoErrors,
                 [&runs = m_runs](const std::filesystem::path& folder, const services::RunJob& job) {
                     return runs.undoRefine(folder, job.context()).errors;
                 });
}

bool ContentView::canUndoPostprocess() const {
    return m_folder && m_runs.canUndoRefine(*m_folder);
}

bool ContentView::canUndoOrganize() const {
    return m_folder && m_runs.canUndoOrganize(*m_folder);
}

void ContentView::undoOrganizeFromMenu() {
    runFolderJob(canUndoOrganize(), kNoOrganizeJournal, services::organizeUndoFrame(), services::kUndoErrors,
                 [&runs = m_runs](const std::filesystem::path& folder, const services::RunJob& job) {
                     return runs.undoOrganize(folder, job.context()).errors;
                 });
}

bool ContentView::canUndoLatest() const {
    return m_folder && m_runs.canUndoLatest(*m_folder);
}

void ContentView::undoLatestFromMenu() {
    if (!m_folder) {
        appendLog(kMenuNoFolder);
        return;
    }
    if (!beginJob(services::historyUndoFrame())) return;
    const std::filesystem::path folder = *m_folder;
    app::WindowRuns& runs = m_runs;
    runInBackground<app::UndoOutcome>(
        [folder, &runs](const services::RunJob& job) { return runs.undoLatest(job, folder); },
        [](app::UndoOutcome) {});
}
