#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace fixtures {

struct CliRun {
    int exitCode = -1;
    QString stdoutText;
    QString stderrText;
    QStringList stdoutLines() const;
};

/// Runs the vitrino-cli built with the tests (or the one VITRINO_CLI names) and waits for it.
CliRun runCli(const QStringList& args,
              const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
              int timeoutMs = 120000);

/// The system environment with the user's folders (settings, data, runtime) moved below `home`,
/// no proxies, and VITRINO_API_KEY set to `apiKey` (removed when empty).
QProcessEnvironment isolatedEnvironment(const QString& home,
                                        const QString& apiKey = QStringLiteral("sk-test"));

/// The path of the vitrino-cli under test.
QString cliPath();

} // namespace fixtures
