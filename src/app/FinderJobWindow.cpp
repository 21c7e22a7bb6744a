#include "app/FinderJobWindow.h"

#include "app/LogPanel.h"
#include "app/Widgets.h"
#include "services/FinderJobController.h"
#include "services/LogStore.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

FinderJobWindow::FinderJobWindow(FinderJobController& controller, QWidget* parent)
    // A floating panel: it stays above other windows; it has no minimise button.
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowStaysOnTopHint),
      m_controller(controller) {
    setAttribute(Qt::WA_DeleteOnClose);
    resize(kWidth, kHeight);
    setMinimumSize(kMinimumWidth, kMinimumHeight);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    m_spinner = new Spinner(this);
    m_status = new QLabel(this);
    m_status->setFont(uiFont(13, QFont::DemiBold));
    statusRow->addWidget(m_spinner, 0, Qt::AlignVCenter);
    statusRow->addWidget(m_status, 1, Qt::AlignVCenter);
    column->addLayout(statusRow);

    m_path = new ElidedLabel(Qt::ElideMiddle, this, 2);
    m_path->setFont(uiFont(11));
    // Secondary text: the label draws in the window-text colour, so that colour is the muted one.
    QPalette pathPalette = m_path->palette();
    pathPalette.setColor(QPalette::WindowText, pathPalette.color(QPalette::PlaceholderText));
    m_path->setPalette(pathPalette);
    column->addWidget(m_path);

    m_model = new LogModel(this);
    m_panel = new LogPanel(
        m_model, [this](const QString& line) { appendLine(LogStore::stamped(line)); }, this);
    column->addWidget(m_panel, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_stop = new QPushButton(kStop, this);
    m_stop->setAutoDefault(false);
    buttons->addWidget(m_stop);
    m_confirm = new QPushButton(kConfirm, this);
    m_confirm->setDefault(true);
    m_confirm->setAutoDefault(true);
    buttons->addWidget(m_confirm);
    column->addLayout(buttons);

    connect(m_confirm, &QPushButton::clicked, this, [this] { m_controller.closeWindow(true); });
    connect(m_stop, &QPushButton::clicked, this, [this] { m_controller.stop(); });
    connect(&m_controller, &FinderJobController::stateChanged, this, &FinderJobWindow::refresh);
    connect(&m_controller, &FinderJobController::lineAppended, this, &FinderJobWindow::appendLine);

    const QStringList existing = m_controller.logMessages();
    if (!existing.isEmpty()) m_model->append(existing);
    refresh();
}

void FinderJobWindow::refresh() {
    if (m_controller.logMessages().isEmpty() && m_model->count() > 0) m_model->clear();
    setWindowTitle(m_controller.windowTitle());
    m_status->setText(m_controller.statusText());
    m_spinner->setVisible(m_controller.isRunning());
    m_path->setFullText(m_controller.folderPath().isEmpty() ? kNoPath : m_controller.folderPath());
    m_path->setToolTip(m_controller.folderPath());
    m_confirm->setEnabled(m_controller.isFinished());
    m_stop->setEnabled(m_controller.isRunning() && !m_controller.stopRequested());
    m_panel->setLive(m_controller.isRunning());
}

void FinderJobWindow::appendLine(const QString& stampedLine) {
    m_model->append({stampedLine});
}

void FinderJobWindow::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && m_confirm->isEnabled()) {
        m_confirm->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FinderJobWindow::closeEvent(QCloseEvent* event) {
    if (m_closingFromController) {
        event->accept();
        return;
    }
    // While a batch runs the window stays; closing it otherwise ends the session and frees the lock.
    if (!m_controller.windowShouldClose()) {
        event->ignore();
        return;
    }
    event->accept();
    m_closingFromController = true;
    m_controller.windowWillClose();
}

FinderJobWindowHost::FinderJobWindowHost(FinderJobController& controller, QObject* parent)
    : QObject(parent), m_controller(controller) {
    connect(&controller, &FinderJobController::windowShown, this, [this](const QString& title) {
        if (!m_window) {
            m_window = new FinderJobWindow(m_controller);
            connect(m_window, &QObject::destroyed, this, &FinderJobWindowHost::windowClosed);
            if (const QScreen* screen = QGuiApplication::primaryScreen())
                m_window->move(screen->availableGeometry().center() - m_window->rect().center());
        }
        m_window->setWindowTitle(title);
        m_window->show();
    });
    connect(&controller, &FinderJobController::windowRaised, this, [this] {
        if (!m_window) return;
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
    });
    connect(&controller, &FinderJobController::windowClosed, this, [this] {
        if (!m_window) return;
        m_window->m_closingFromController = true;
        m_window->close();
    });
}

FinderJobWindowHost::~FinderJobWindowHost() {
    delete m_window;
}
