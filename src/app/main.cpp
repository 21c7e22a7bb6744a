// vitrino: the desktop application.

#include "ai/AIConfig.h"
#include "app/MainWindow.h"
#include "app/ServiceRuns.h"
#include "services/ProcessingLock.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv) {
    Q_INIT_RESOURCE(app);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vitrino"));
    QCoreApplication::setApplicationName(QStringLiteral("Vitrino"));
    QGuiApplication::setDesktopFileName(QStringLiteral("vitrino"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/vitrino.svg")));
    app::ServiceRuns runs;
    MainWindow window(ai::AIConfig::shared(), ProcessingLock::shared(), runs);
    window.show();
    return app.exec();
}
