#include "support/Fixtures.h"
#include "support/Process.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace fixtures;

TEST(CommandLine, HelpVersionAndUnknownCommands) {
    struct Case {
        QStringList args;
        int exitCode;
        bool toStdout;
        QString contains;
    };
    const std::vector<Case> cases = {
        {{"--help"}, 0, true, "organize DIR [--no-prefilter] [--dry-run]"},
        {{"organize", "--help"}, 0, true, "用法：vitrino-cli organize DIR"},
        {{"--version"}, 0, true, "vitrino-cli 0."},
        {{}, 2, false, "用法：vitrino-cli <命令>"},
        {{"sort"}, 2, false, "用法：vitrino-cli <命令>"},
        {{"organize"}, 2, false, "用法：vitrino-cli organize DIR [--no-prefilter] [--dry-run]"},
        {{"organize", "/x", "--engine", "cloud"}, 2, false, "--engine 只能是 remote 或 local"},
        {{"organize", "/x", "--requests", "0"}, 2, false, "用法：vitrino-cli organize DIR"},
        {{"name", "/x", "--requests", "33"}, 2, false, "用法：vitrino-cli name DIR..."},
        {{"classify", "/x", "--requests", "four"}, 2, false, "用法：vitrino-cli classify DIR"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const auto run = runCli(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        const QString& text = c.toStdout ? run.stdoutText : run.stderrText;
        EXPECT_TRUE(text.contains(c.contains)) << text.toStdString();
        EXPECT_TRUE((c.toStdout ? run.stderrText : run.stdoutText).trimmed().isEmpty() ||
                    run.stderrText.startsWith("QStandardPaths"));
    }
}

TEST(CommandLine, AFolderThatIsNotThereIsNamedInTheLog) {
    TempDir home;
    const auto run = runCli({"organize", "/no/such/folder", "--engine", "local"},
                            isolatedEnvironment(QString::fromStdString(home.path().string())));
    EXPECT_EQ(run.exitCode, 1);
    const QStringList lines = unstamped(run.stdoutLines());
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines.mid(lines.size() - 3),
              QStringList({"[失败] 文件夹不存在", "错误汇总 1 条（详见上方日志）", "—— 整理结束 ——"}));
}
