#pragma once

// The application's one window: the content view and the File menu.

#include <QMainWindow>

class ContentView;
class QAction;
class ProcessingLock;
namespace app {
class WindowRuns;
}
namespace ai {
class AIConfig;
}

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    static constexpr int kDefaultWidth = 760, kDefaultHeight = 780;
    static constexpr int kMinimumWidth = 720, kMinimumHeight = 680;

    MainWindow(ai::AIConfig& config, ProcessingLock& lock, app::WindowRuns& runs, QWidget* parent = nullptr);

    ContentView* content() const { return m_content; }
    QAction* postprocessAction() const { return m_postprocess; }
    QAction* undoPostprocessAction() const { return m_undoPostprocess; }
    QAction* undoOrganizeAction() const { return m_undoOrganize; }
    QAction* undoLatestAction() const { return m_undoLatest; }

  protected:
    /// A run in progress is stopped first (after its current file); the window closes when it
    /// has ended, so nothing is left half-moved.
    void closeEvent(QCloseEvent* event) override;

  private:
    void refreshMenu();
    ContentView* m_content;
    QAction* m_postprocess;
    QAction* m_undoPostprocess;
    QAction* m_undoOrganize;
    QAction* m_undoLatest;
    bool m_closing = false;
};
