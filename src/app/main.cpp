// vitrino: the desktop application.
//
// One process per user: a later `vitrino` (a file-manager action hands it a vitrino:// link)
// passes its arguments to the running one and exits. A process started for a link shows only
// the job window and quits when it closes, unless the main window was opened meanwhile.

#include "ai/AIConfig.h"
#include "app/FinderJobWindow.h"
#include "app/MainWindow.h"
#include "app/QtTranslations.h"
#include "app/ServiceRuns.h"
#include "platform/Process.h"
#include "platform/RuntimeDirectory.h"
#include "platform/SingleInstance.h"
#include "services/FinderJobController.h"
#include "services/ProcessingLock.h"
#include "services/ServiceEntry.h"

#include <QApplication>
#include <QIcon>

#include <algorithm>

int main(int argc, char** argv) {
    platform::reuseFreedBuffers();
    Q_INIT_RESOURCE(app);
    platform::ensureRuntimeDirectory();
    QApplication app(argc, argv);
    const auto qtTexts = app::qtTranslations(QLocale::system());
    if (qtTexts) QCoreApplication::installTranslator(qtTexts.get());
    QCoreApplication::setOrganizationName(QStringLiteral("Vitrino"));
    QCoreApplication::setApplicationName(QStringLiteral("Vitrino"));
    QGuiApplication::setDesktopFileName(QStringLiteral("vitrino"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/vitrino.svg")));

    const QStringList arguments = app.arguments().mid(1);
    platform::SingleInstance instance;
    if (instance.claim(arguments) == platform::SingleInstance::Role::handedOver) return 0;
    // Role::failed (the socket cannot be had): this process still works on its own.

    FinderJobController& jobs = FinderJobController::shared();
    FinderJobWindowHost jobWindow(jobs);
    app::ServiceRuns runs;
    MainWindow window(ai::AIConfig::shared(), ProcessingLock::shared(), runs);
    const auto showMain = [&window] {
        window.show();
        window.raise();
        window.activateWindow();
    };
    const auto handle = [&](const QStringList& received) {
        // A plain start (no link) opens the main window; links go to the job queue.
        if (ServiceEntry::dispatch(received, jobs) == 0 &&
            std::none_of(received.begin(), received.end(), ServiceEntry::isOpenURL))
            showMain();
    };
    QObject::connect(&instance, &platform::SingleInstance::argumentsReceived, &app, handle);

    const bool startedForLinks = std::any_of(arguments.begin(), arguments.end(), ServiceEntry::isOpenURL);
    if (startedForLinks && ServiceEntry::dispatch(arguments, jobs) == 0) return 0; // nothing usable
    if (!startedForLinks) window.show();
    return app.exec();
}
