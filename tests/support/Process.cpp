#include "support/Process.h"

#include <QProcess>

namespace fixtures {

QStringList CliRun::stdoutLines() const {
    QStringList lines = stdoutText.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

QString cliPath() {
    const QString path = qEnvironmentVariable("VITRINO_CLI");
    return path.isEmpty() ? QStringLiteral(VITRINO_CLI_PATH) : path;
}

CliRun runCli(const QStringList& args, const QProcessEnvironment& env, int timeoutMs) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(cliPath(), args);
    CliRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.stdoutText = QString::fromUtf8(process.readAllStandardOutput());
    run.stderrText = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace fixtures
