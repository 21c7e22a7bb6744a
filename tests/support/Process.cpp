#include "support/Process.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include "platform/FileSystem.h"

#include <QProcess>

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace fixtures {

QStringList unstamped(const QStringList& stamped) {
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
    QStringList lines;
    for (const QString& line : stamped) {
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
        lines << line.mid(9);
    }
    return lines;
}

QStringList unstamped(const QString& text) {
    return unstamped(text.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
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

CliRun run(const QString& program, const QStringList& args, const QProcessEnvironment& env, int timeoutMs,
           const QString& cwd) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(cwd);
    process.start(program, args);
    const bool finished = process.waitForFinished(timeoutMs);
    if (!finished) process.kill();
    process.waitForFinished();
    return {finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

CliRun runCli(const QStringList& args, const QProcessEnvironment& env, int timeoutMs) {
    return run(cliPath(), args, env, timeoutMs);
}

void signalAfterMoves(QProcess& process, const std::filesystem::path& folder, int moves,
                      const std::function<bool()>& stop, int signal) {
    const int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0 || ::inotify_add_watch(fd, folder.c_str(), IN_MOVED_FROM) < 0)
        throw std::runtime_error("cannot watch the folder");
    process.start(cliPath(), process.arguments());
    if (!process.waitForStarted()) {
        ::close(fd);
        throw std::runtime_error("cannot start vitrino-cli");
    }
    int seen = 0;
    alignas(inotify_event) char buffer[8192];
    while (process.state() != QProcess::NotRunning && seen < moves && !(stop && stop())) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            for (ssize_t off = 0; off < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + off);
                if (e->len && std::string(e->name).rfind(platform::kTemporaryPrefix, 0) != 0) ++seen;
                off += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
    }
    ::kill(pid_t(process.processId()), signal);
    process.waitForFinished(60000);
    ::close(fd);
}

} // namespace fixtures
