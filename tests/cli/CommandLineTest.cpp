// What the command line shows beside its runs: the manual pages agree with --help, and the
// offline engine's own service runs alone and stops when asked.

#include "support/Fixtures.h"
#include "support/Process.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <signal.h>

using namespace fixtures;

TEST(CommandLine, TheOfflineEnginesServiceRunsOnItsOwnAndStopsOnRequest) {
    QProcess service;
    service.start(QFileInfo(cliPath()).dir().filePath(QStringLiteral("vitrino-local-ai")), {});
    ASSERT_TRUE(service.waitForReadyRead(30000));
    const QString url = QString::fromUtf8(service.readLine()).trimmed();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^http://127\\.0\\.0\\.1:\\d+/api/v3/chat/completions$"))
                    .match(url)
                    .hasMatch())
        << url.toStdString();
    TempDir home, dir;
    writeJpeg(dir / "a.jpg", 320, 240);
    const auto run = runCli({"chat", QString::fromStdString((dir / "a.jpg").string()), "--prompt", "tri",
                             "--base-url", url, "--engine", "remote"},
                            isolatedEnvironment(QString::fromStdString(home.path().string()), "any"));
    EXPECT_EQ(run.exitCode, 0) << run.stderrText.toStdString();
    EXPECT_EQ(run.stdoutText, "{\"category\":\"artifact\",\"confidence\":0.9}\n");
    ::kill(pid_t(service.processId()), SIGTERM);
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitCode(), 0);
}

TEST(CommandLine, TheManualPagesListTheCommandsOfHelp) {
    const QStringList help = runCli({"--help"}).stdoutText.split('\n');
    const auto read = [](const std::string& name) {
        return QString::fromStdString(readFile(VITRINO_MAN_DIR "/" + name));
    };
    const QString cli = read("vitrino-cli.1"), app = read("vitrino.1");
    // Each command of --help (its synopsis, then its description indented) is an entry of both pages.
    int commands = 0;
    for (qsizetype i = 1; i + 1 < help.size(); ++i) {
        if (!help[i].startsWith("  ") || help[i].startsWith("   ") || !help[i + 1].startsWith("      "))
            continue;
        ++commands;
        const auto roff = [](QString text) { return text.replace("\\", "\\e").replace("-", "\\-"); };
        const QString synopsis = help[i].mid(2), description = roff(help[i + 1].mid(6));
        EXPECT_TRUE(cli.contains(".TP\n.B \"" + roff(synopsis).replace("\"", "\\(dq") + "\"\n" + description))
            << synopsis.toStdString();
        EXPECT_TRUE(app.contains(".B \"" + roff(synopsis.section(' ', 0, 0)) + "\"\n" + description))
            << synopsis.toStdString();
    }
    EXPECT_GE(commands, 10);
    EXPECT_EQ(cli.section(".SH COMMANDS", 1).section("\n.SH", 0, 0).count(".TP\n.B \""), commands);
    for (const char* page : {"vitrino-local-ai.1", "vitrino-open-selection.1"})
        EXPECT_TRUE(read(page).startsWith(".TH ")) << page;
}
