#include "app/ContentView.h"

#include "ai/AIConfig.h"
#include "ai/RequestSlots.h"
#include "app/CompactSwitch.h"
#include "app/Widgets.h"
#include "refine/FeaturePrintTools.h"
#include "services/LogStore.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>

ContentView::ContentView(ai::AIConfig& config, ProcessingLock& lock, app::WindowRuns& runs, QWidget* parent)
    : QWidget(parent), m_config(config), m_lock(lock), m_runs(runs) {
    m_logModel = new LogModel(this);
    m_pump = new LogPump(m_logModel, this);
    buildLayout();
    connect(&m_lock, &ProcessingLock::ownerChanged, this, &ContentView::refreshControls);
    connect(&m_config, &ai::AIConfig::changed, this, &ContentView::refreshControls);
    // A menu command leaves its request in the shared refinement state; the window carries it out
    // (or refuses it) and clears it.
    connect(&FeaturePrintTools::shared(), &FeaturePrintTools::pendingActionChanged, this,
            [this](FeaturePrintTools::PendingAction action) {
                if (action == FeaturePrintTools::PendingAction::none) return;
                FeaturePrintTools::shared().setPendingAction(FeaturePrintTools::PendingAction::none);
                if (action == FeaturePrintTools::PendingAction::runPostprocess) requestPostprocess();
                if (action == FeaturePrintTools::PendingAction::undoLast) requestUndoPostprocess();
            });
    refreshControls();
}

ContentView::~ContentView() {
    // Normally the window waits for its run; should it go away anyway, the run stops first.
    if (m_worker) {
        if (m_job) m_job->cancelToken().cancel();
        m_worker->wait();
    }
}

bool ContentView::isBusy() const {
    return m_isProcessing || m_lock.owner() == ProcessingLock::Owner::finder;
}

void ContentView::refreshControls() {
    const bool finder = m_lock.owner() == ProcessingLock::Owner::finder;
    const bool busy = isBusy();
    const bool optionsEnabled = !busy;
    for (auto [option, toggle] :
         {std::pair{m_prefilterOption, m_prefilter}, std::pair{m_postprocessOption, m_postprocess}}) {
        toggle->setEnabled(optionsEnabled);
        static_cast<QGraphicsOpacityEffect*>(option->graphicsEffect())
            ->setOpacity(optionsEnabled ? 1.0 : 0.45);
    }
    m_offline->setEnabled(!busy);
    m_requests->setEnabled(!busy);
    m_pick->setEnabled(!busy);
    const bool settingsComplete = m_offline->isChecked() || m_config.isConfigured();
    if (m_isProcessing) {
        // A run from this window can be stopped; once asked, the button waits for the run.
        m_start->setText(m_stopRequested ? kProcessing : kStop);
        m_start->setEnabled(!m_stopRequested);
    } else {
        m_start->setText(finder ? kFinderBusy : kStart);
        m_start->setEnabled(!busy && m_folder.has_value() && settingsComplete);
    }
    m_previewButton->setEnabled(!busy && m_folder.has_value() && settingsComplete);
    m_spinner->setVisible(busy);
    m_progress->setVisible(m_isProcessing);
    m_progressText->setVisible(m_isProcessing);
    m_panel->setLive(m_isProcessing);
    emit stateChanged();
}

void ContentView::setProcessing(bool processing) {
    m_isProcessing = processing;
    if (processing) {
        m_stopRequested = false;
        m_progress->setRange(0, 0);
        m_progressText->clear();
    }
    refreshControls();
}

void ContentView::appendLog(const core::LogLine& line) {
    if (m_job) {
        m_job->log(line);
        return;
    }
    const QString stamped = LogStore::stamped(line.shown());
    if (!m_currentLogFile.isEmpty()) LogStore::append(stamped, m_currentLogFile);
    m_pump->post(stamped);
}

void ContentView::clearLog() {
    m_pump->discard();
    m_logModel->clear();
}

void ContentView::pickFolder() {
    const QString start = m_folder ? QString::fromStdString(m_folder->string()) : QString();
    const QString path = QFileDialog::getExistingDirectory(this, QStringLiteral("选择文件夹"), start);
    folderPicked(path);
}

void ContentView::folderPicked(const QString& path, const QString& error) {
    if (!error.isEmpty()) {
        appendLog(kPickFailed.arg(error));
        return;
    }
    if (path.isEmpty()) return;
    m_folder = std::filesystem::path(QFile::encodeName(path).toStdString());
    FeaturePrintTools::shared().setFolderPath(m_folder);
    m_folderLabel->setFullText(QFileInfo(path).absoluteFilePath());
    // Linux has no security-scoped access: reading the folder stands in for it.
    if (!QFileInfo(path).isReadable()) appendLog(kNoAccess);
    refreshControls();
}
