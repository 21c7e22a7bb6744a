#include "app/MainWindow.h"

#include "app/ContentView.h"
#include "refine/FeaturePrintTools.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenuBar>

MainWindow::MainWindow(ai::AIConfig& config, ProcessingLock& lock, app::WindowRuns& runs, QWidget* parent)
    : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Vitrino"));
    m_content = new ContentView(config, lock, runs, this);
    setCentralWidget(m_content);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kDefaultWidth, kDefaultHeight);

    QMenu* file = menuBar()->addMenu(QStringLiteral("文件"));
    file->addSeparator();
    m_postprocess = file->addAction(QStringLiteral("FeaturePrint后处理"));
    m_postprocess->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F));
    m_undoPostprocess = file->addAction(QStringLiteral("撤销上一次后处理"));
    m_undoPostprocess->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Z));
    m_undoOrganize = file->addAction(QStringLiteral("撤销上一次整理"));
    m_undoLatest = file->addAction(QStringLiteral("撤销上一次操作"));
    m_undoLatest->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("退出"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    // The commands only post a request; the content view carries it out (or refuses it).
    connect(m_postprocess, &QAction::triggered, this, [] {
        FeaturePrintTools::shared().setPendingAction(FeaturePrintTools::PendingAction::runPostprocess);
    });
    connect(m_undoPostprocess, &QAction::triggered, this,
            [] { FeaturePrintTools::shared().setPendingAction(FeaturePrintTools::PendingAction::undoLast); });
    connect(m_undoOrganize, &QAction::triggered, m_content, &ContentView::undoOrganizeFromMenu);
    connect(m_undoLatest, &QAction::triggered, m_content, &ContentView::undoLatestFromMenu);
    connect(m_content, &ContentView::stateChanged, this, &MainWindow::refreshMenu);
    connect(m_content, &ContentView::finished, this, [this] {
        if (m_closing) close();
    });
    refreshMenu();
}

void MainWindow::refreshMenu() {
    // While a job runs the history is changing: the undos wait for it to end.
    const bool idle = !m_content->isProcessing();
    m_undoPostprocess->setEnabled(idle && m_content->canUndoPostprocess());
    m_undoOrganize->setEnabled(idle && m_content->canUndoOrganize());
    m_undoLatest->setEnabled(idle && m_content->canUndoLatest());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_content->isProcessing()) {
        m_closing = true;
        m_content->stop();
        event->ignore();
        return;
    }
    event->accept();
}
