#pragma once

// The small window of the file-manager jobs: status, the path at hand, the stamped log and the
// confirm button. A view of FinderJobController; it cannot be closed while a batch runs.

#include <QObject>
#include <QPointer>
#include <QWidget>

class ElidedLabel;
class FinderJobController;
class LogModel;
class LogPanel;
class QLabel;
class QPushButton;
class Spinner;

class FinderJobWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kWidth = 560, kHeight = 420;
    static constexpr int kMinimumWidth = 420, kMinimumHeight = 280;
    static inline const QString kNoPath = QStringLiteral("未指定路径");
    static inline const QString kConfirm = QStringLiteral("确定");
    static inline const QString kStop = QStringLiteral("停止");

    explicit FinderJobWindow(FinderJobController& controller, QWidget* parent = nullptr);

    QLabel* statusLabel() const { return m_status; }
    ElidedLabel* pathLabel() const { return m_path; }
    Spinner* spinner() const { return m_spinner; }
    QPushButton* confirmButton() const { return m_confirm; }
    /// Stops the batch once the file at hand is done; enabled while a batch runs.
    QPushButton* stopButton() const { return m_stop; }
    LogPanel* logPanel() const { return m_panel; }
    LogModel* logModel() const { return m_model; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    /// Return and Enter press "确定" (a default button only acts so inside dialogs).
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void refresh();
    void appendLine(const QString& stampedLine);

    FinderJobController& m_controller;
    QLabel* m_status;
    ElidedLabel* m_path;
    Spinner* m_spinner;
    QPushButton* m_stop;
    QPushButton* m_confirm;
    LogModel* m_model;
    LogPanel* m_panel;
    bool m_closingFromController = false;
    friend class FinderJobWindowHost;
};

/// Creates, retitles, raises and closes the job window as the controller asks.
class FinderJobWindowHost : public QObject {
    Q_OBJECT

  public:
    explicit FinderJobWindowHost(FinderJobController& controller, QObject* parent = nullptr);
    ~FinderJobWindowHost() override;
    FinderJobWindow* window() const { return m_window; }

  signals:
    /// The job window was closed (by its buttons or by the controller).
    void windowClosed();

  private:
    FinderJobController& m_controller;
    QPointer<FinderJobWindow> m_window;
};
