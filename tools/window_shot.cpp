// vitrino-window-shot FOLDER OUT.png [--idle | --preview | --job-window]: opens the main window on a
// private settings and log folder, organizes FOLDER with the offline engine, and saves a picture of
// the window when the run has ended (with --idle: right away; with --preview: the preview of FOLDER
// once its thumbnails are drawn, moving nothing). With --job-window, the file manager's OCR of
// FOLDER is started in the job window, and the picture is of that window while its batch runs.
// scripts/screenshot runs it under Xvfb for the README.

#include "ai/AIConfig.h"
#include "app/ContentView.h"
#include "app/FinderJobWindow.h"
#include "app/MainWindow.h"
#include "app/PlanPreview.h"
#include "app/ServiceRuns.h"
#include "services/FinderJobController.h"
#include "services/FinderJobRunner.h"
#include "services/ProcessingLock.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    Q_INIT_RESOURCE(app);
    const bool idle = argc == 4 && QByteArray(argv[3]) == "--idle";
    const bool jobWindow = argc == 4 && QByteArray(argv[3]) == "--job-window";
    const bool preview = argc == 4 && QByteArray(argv[3]) == "--preview";
    if (argc != 3 && !idle && !jobWindow && !preview) {
        std::fprintf(stderr,
                     "usage: vitrino-window-shot FOLDER OUT.png [--idle | --preview | --job-window]\n");
        return 2;
    }
    // The user's own settings and logs stay out of the picture.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", QDir(home.path()).filePath(QStringLiteral("data")).toUtf8());
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vitrino"));
    QCoreApplication::setApplicationName(QStringLiteral("Vitrino"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/vitrino.svg")));
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);

    ProcessingLock lock(QDir(home.path()).filePath(QStringLiteral("processing.lock")));
    if (jobWindow) {
        FinderJobController jobs(makeApplicationRunner(), lock);
        FinderJobWindowHost host(jobs);
        jobs.handleIncoming(FinderWorkItem::Kind::ocrImage,
                            {std::filesystem::path(QFile::encodeName(folder).toStdString())});
        int status = 0;
        // Once the second image is under way: the spinner, the log and "停止" enabled.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &app, [&] {
            if (!host.window() || !jobs.statusText().startsWith(QStringLiteral("正在处理 2/"))) return;
            poll.stop();
            QTimer::singleShot(300, &app, [&] {
                if (!host.window()->grab().save(out)) status = 1;
                jobs.stop();
            });
        });
        QObject::connect(&jobs, &FinderJobController::stateChanged, &app, [&] {
            if (jobs.isFinished() && !poll.isActive()) app.quit();
        });
        poll.start(50);
        app.exec();
        return status;
    }
    app::ServiceRuns runs;
    MainWindow window(ai::AIConfig::shared(), lock, runs);
    window.show();
    ContentView* view = window.content();
    int status = 0;
    const auto takePicture = [&] {
        // Let the last lines and the idle state paint before the picture is taken.
        QTimer::singleShot(600, &app, [&] {
            if (qEnvironmentVariableIsSet("VITRINO_SHOT_DEBUG")) {
                for (QWidget* w : window.findChildren<QWidget*>())
                    if (w->parentWidget() == view || w == view)
                        std::fprintf(stderr, "%s %s geo %d,%d %dx%d min %dx%d\n",
                                     w->metaObject()->className(), qPrintable(w->objectName()), w->x(),
                                     w->y(), w->width(), w->height(), w->minimumSizeHint().width(),
                                     w->minimumSizeHint().height());
                std::fprintf(stderr, "window %dx%d view min %dx%d\n", window.width(), window.height(),
                             view->minimumSizeHint().width(), view->minimumSizeHint().height());
            }
            if (!window.grab().save(out)) {
                std::fprintf(stderr, "cannot write %s\n", argv[2]);
                status = 1;
            }
            app.quit();
        });
    };
    if (!preview) QObject::connect(view, &ContentView::finished, &app, takePicture);
    // The preview: pictured once every thumbnail that can be drawn is drawn.
    QTimer poll;
    int lastShown = 0, steady = 0;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        PlanPreview* sheet = view->currentPreview();
        if (!sheet) return;
        const int shown = sheet->thumbnailsShown();
        steady = shown > 0 && shown == lastShown ? steady + 1 : 0;
        lastShown = shown;
        if (steady < 5) return;
        poll.stop();
        QTimer::singleShot(800, &app, [&, sheet] {
            if (!sheet->grab().save(out)) {
                std::fprintf(stderr, "cannot write %s\n", argv[2]);
                status = 1;
            }
            sheet->reject();
            app.quit();
        });
    });
    QTimer::singleShot(300, view, [&] {
        view->folderPicked(folder);
        if (preview) {
            view->preview();
            poll.start(200);
        } else if (idle)
            takePicture();
        else
            view->start();
    });
    const int rc = app.exec();
    return status ? status : rc;
}
