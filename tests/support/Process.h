#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>

class QProcess;

namespace fixtures {

struct CliRun {
    int exitCode = -1;
    QString stdoutText;
    QString stderrText;
};

/// Runs `program` in `cwd` and waits for it; the exit code is -1 when it crashed or took longer.
CliRun run(const QString& program, const QStringList& args,
           const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(), int timeoutMs = 120000,
           const QString& cwd = {});

/// Runs the vitrino-cli built with the tests (or the one VITRINO_CLI names) and waits for it.
CliRun runCli(const QStringList& args,
              const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
              int timeoutMs = 120000);

/// The system environment with the user's folders (settings, data, runtime) moved below `home`,
/// no proxies, and VITRINO_API_KEY set to `apiKey` (removed when empty).
QProcessEnvironment isolatedEnvironment(const QString& home,
                                        const QString& apiKey = QStringLiteral("sk-test"));

/// Starts the process (its program is the vitrino-cli under test, its arguments set before),
/// counts files leaving `folder` (inotify IN_MOVED_FROM; temporaries of ours do not count) until
/// `moves` have gone, `stop()` is true or the process has ended, then sends it `signal` and waits.
void signalAfterMoves(QProcess& process, const std::filesystem::path& folder, int moves,
                      const std::function<bool()>& stop, int signal);

/// Log lines without their "HH:mm:ss " stamp; every line must carry one. The text form splits
/// standard output into its non-empty lines first.
QStringList unstamped(const QStringList& stamped);
QStringList unstamped(const QString& text);

/// The path of the vitrino-cli under test.
QString cliPath();

} // namespace fixtures
