// The main window's preview: a dry run on a worker thread (progress and "停止" as for a run), the
// plan shown as a contact sheet, and "开始整理" there carrying the plan out as shown.

#include "ai/AIConfig.h"
#include "app/CompactSwitch.h"
#include "app/ContentView.h"
#include "app/PlanPreview.h"
#include "app/ThumbnailCache.h"

#include <QTimer>

void ContentView::preview() {
    if (m_isProcessing || !m_folder) return;
    if (!beginJob(services::organizeFrame(), true)) return;
    const std::filesystem::path folder = *m_folder;
    const bool prefilter = m_prefilter->isChecked();
    const bool offline = m_offline->isChecked();
    const ai::AISettings settings = m_config.snapshot();
    app::WindowRuns& runs = m_runs;
    runInBackground<services::PreparedPlan>(
        [=, &runs](const services::RunJob& job) {
            return runs.preparePlan(job, folder, prefilter, offline, settings);
        },
        [this](services::PreparedPlan prepared) {
            if (!prepared.plan) return;
            // Shown once the job has ended and released the lock.
            QTimer::singleShot(0, this, [this, plan = std::move(*prepared.plan)] { showPreview(plan); });
        });
}

void ContentView::showPreview(const plan::Plan& plan) {
    if (!m_thumbnails) m_thumbnails = new ThumbnailCache(160, this);
    if (m_previewDialog) m_previewDialog->close();
    auto* dialog = new PlanPreview(plan, *m_thumbnails, window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &PlanPreview::startRequested, this, [this](const plan::Plan& shown) {
        QTimer::singleShot(0, this, [this, shown] { startPlan(shown); });
    });
    m_previewDialog = dialog;
    dialog->open();
}

void ContentView::startPlan(const plan::Plan& plan) {
    if (m_isProcessing) return;
    // The preview's log stays above the run's.
    if (!beginJob(services::organizeFrame())) return;
    app::WindowRuns& runs = m_runs;
    runInBackground<AutoOrganizer::RunResult>(
        [plan, &runs](const services::RunJob& job) { return runs.carryOutPlan(job, plan.folder, plan); },
        [](AutoOrganizer::RunResult) {});
}

PlanPreview* ContentView::currentPreview() const {
    return m_previewDialog;
}
