#include "support/Fixtures.h"
#include "support/Process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const auto run = runCli(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        const QString& text = c.toStdout ? run.stdoutText : run.stderrText;
        EXPECT_TRUE(text.contains(c.contains)) << text.toStdString();
        EXPECT_TRUE((c.toStdout ? run.stderrText : run.stdoutText).trimmed().isEmpty());
    }
}

TEST(CommandLine, WithoutADesktopSessionOnlyItsOwnLinesArePrinted) {
    TempDir home, tmp;
    const QString h = QString::fromStdString(home.path().string());
    QProcessEnvironment env = isolatedEnvironment(h);
    env.remove("XDG_RUNTIME_DIR");
    env.insert("TMPDIR", QString::fromStdString(tmp.path().string()));
    const auto run = runCli({"organize", "/no/such/folder", "--engine", "local"}, env);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.stderrText, QString());
    EXPECT_EQ(unstamped(run.stdoutLines()).last(), "—— 整理结束 ——");
    // Without the system's folder for this user, a private one in the temporary folder held the lock.
    if (!QFileInfo::exists(QStringLiteral("/run/user/%1").arg(::geteuid()))) {
        const QDir temp(QString::fromStdString(tmp.path().string()));
        const QStringList made = temp.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        ASSERT_EQ(made.size(), 1);
        EXPECT_TRUE(made[0].startsWith("runtime-"));
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(temp.filePath(made[0])).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
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
