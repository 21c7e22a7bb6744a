// vitrino-cli: the headless front end over the same runs the main window uses.

#include "cli/Cli.h"
#include "platform/Process.h"
#include "platform/RuntimeDirectory.h"

#include <QGuiApplication>

#include <memory>

int main(int argc, char** argv) {
    platform::ensureRuntimeDirectory();
    platform::reuseFreedBuffers();
    const QString name = argc >= 2 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
        cli::out(cli::usage());
        return 0;
    }
    if (name == QLatin1String("--version")) {
        cli::out(QStringLiteral("vitrino-cli %1").arg(QStringLiteral(VITRINO_VERSION)));
        return 0;
    }
    const cli::Command* command = cli::findCommand(name);
    if (!command) {
        cli::err(cli::usage());
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        const QString word = QString::fromLocal8Bit(argv[i]);
        if (word == QLatin1String("--help") || word == QLatin1String("-h")) {
            cli::out(cli::usageLine(command->name) + QStringLiteral("\n  ") +
                     QString::fromUtf8(command->description));
            return 0;
        }
    }
    if (command->needsFonts && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app = command->needsFonts
                                                ? std::make_unique<QGuiApplication>(argc, argv)
                                                : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vitrino"));
    QCoreApplication::setApplicationName(QStringLiteral("Vitrino"));
    cli::Args args(argc, argv, 2);
    return command->run(args);
}
