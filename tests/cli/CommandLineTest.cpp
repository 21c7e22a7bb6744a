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

namespace {

/// The commands of a manual page's COMMANDS section, or of --help: each synopsis with its
/// description.
using CommandList = std::vector<std::pair<QString, QString>>;

CommandList manPageCommands(const QString& page) {
    CommandList list;
    const QStringList lines = page.split('\n');
    const qsizetype start = lines.indexOf(".SH COMMANDS");
    for (qsizetype i = start + 1; start >= 0 && i < lines.size() && !lines[i].startsWith(".SH"); ++i) {
        if (lines[i] != ".TP" || i + 2 >= lines.size()) continue;
        QString tag = lines[i + 1];
        EXPECT_TRUE(tag.startsWith(".B \"") && tag.endsWith('"')) << tag.toStdString();
        tag = tag.mid(4, tag.size() - 5);
        QString text = lines[i + 2];
        for (QString* s : {&tag, &text}) {
            s->replace("\\-", "-").replace("\\(dq", "\"").replace("\\&", "");
            s->replace("\\e", "\\");
        }
        list.emplace_back(tag, text);
    }
    return list;
}

CommandList helpCommands(const QStringList& help) {
    CommandList list;
    for (qsizetype i = 1; i + 1 < help.size(); ++i)
        if (help[i].startsWith("  ") && !help[i].startsWith("   ") && help[i + 1].startsWith("      "))
            list.emplace_back(help[i].mid(2), help[i + 1].mid(6));
    return list;
}

/// Text as the manual pages write it.
QString roffEscaped(QString text) {
    return text.replace("\\", "\\e").replace("-", "\\-");
}

} // namespace

TEST(CommandLine, TheManualPagesListTheCommandsOfHelp) {
    const auto help = runCli({"--help"});
    ASSERT_EQ(help.exitCode, 0);
    const CommandList commands = helpCommands(help.stdoutLines());
    ASSERT_GE(commands.size(), 10u);
    const auto read = [](const QString& name) {
        QFile file(QStringLiteral(VITRINO_MAN_DIR "/") + name);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        return QString::fromUtf8(file.readAll());
    };
    EXPECT_EQ(manPageCommands(read("vitrino-cli.1")), commands);

    // The window's page names the same commands, each with its description.
    const QString app = read("vitrino.1");
    for (const auto& [synopsis, description] : commands) {
        const QString name = synopsis.section(' ', 0, 0);
        EXPECT_TRUE(app.contains(".B \"" + roffEscaped(name) + "\"\n" + roffEscaped(description)))
            << name.toStdString();
    }
    for (const char* page : {"vitrino-local-ai.1", "vitrino-open-selection.1"})
        EXPECT_TRUE(read(page).startsWith(".TH ")) << page;
}

TEST(CommandLine, AFolderThatIsNotThereIsNamedInTheLog) {
    TempDir home;
    const struct {
        QStringList args;
        QStringList ending;
    } cases[] = {
        {{"organize", "/no/such/folder", "--engine", "local"},
         {"[失败] 文件夹不存在", "错误汇总 1 条（详见上方日志）", "—— 整理结束 ——"}},
        {{"refine", "/no/such/folder"},
         {"[失败] 文件夹不存在", "后处理错误 1 条（详见上方日志）", "—— FeaturePrint 后处理结束 ——"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const auto run = runCli(c.args, isolatedEnvironment(QString::fromStdString(home.path().string())));
        EXPECT_EQ(run.exitCode, 1);
        const QStringList lines = unstamped(run.stdoutLines());
        ASSERT_GE(lines.size(), 4);
        EXPECT_EQ(lines.mid(lines.size() - 3), c.ending);
    }
}
