#include "support/Process.h"

#include <QProcess>

namespace fixtures {

QStringList CliRun::stdoutLines() const {
    QStringList lines = stdoutText.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

QProcessEnvironment isolatedEnvironment(const QString& home, const QString& apiKey) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_DATA_HOME", home + "/data");
    env.insert("XDG_RUNTIME_DIR", home);
    env.remove("VITRINO_API_KEY");
    if (!apiKey.isEmpty()) env.insert("VITRINO_API_KEY", apiKey);
    for (const char* proxy :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        env.remove(proxy);
    return env;
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
