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

TEST(CommandLine, HelpVersionUnknownCommandsAndFoldersThatAreNot) {
    TempDir dir;
    writeBytes(dir / "file.txt", "x");
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
        {{"organize", "/x", "--requests"}, 2, false, "用法：vitrino-cli organize DIR"},
        {{"name", "/x", "--requests", "33"}, 2, false, "用法：vitrino-cli name DIR..."},
        {{"classify", "/x", "--requests", "four"}, 2, false, "用法：vitrino-cli classify DIR"},
        {{"scan"}, 2, false, "用法：vitrino-cli scan DIR"},
        {{"scan", QString::fromStdString((dir / "missing").string())}, 1, false, "文件夹不存在"},
        {{"scan", QString::fromStdString((dir / "file.txt").string())}, 1, false, "选择的不是文件夹"},
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

TEST(CommandLine, ScanPrintsSummaryTaskLineAndOneLinePerUnit) {
    TempDir dir;
    writeJpeg(dir / "IMG_0001.JPG", 32, 32, Dates{"2024:05:01 10:00:00", std::nullopt});
    writeDng(dir / "IMG_0001.DNG", 64, 48, Dates{"2024:05:01 10:00:00", std::nullopt});
    writeJpeg(dir / "IMG_0002.JPG", 32, 32, Dates{"2024:05:01 10:05:00", std::nullopt});
    writeBytes(dir / "line\nbreak.mov", "v");
    setModified(dir / "line\nbreak.mov", QDateTime(QDate(2024, 5, 1), QTime(11, 0), Qt::LocalTime));

    const auto run = runCli({"scan", QString::fromStdString(dir.path().string())});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdoutLines(),
              QStringList({
                  "扫描完成：共 4 个（RAW 1 / JPG 2 / HEIC 0 / 视频 1）",
                  "识别任务 3 个（同名 RAW 跟移 1 个；有 JPG 则只认 JPG，Vision/AI 流程与原先一致）",
                  "2024-05-01T10:00:00\tIMG_0001.JPG；同名跟移：IMG_0001.DNG",
                  "2024-05-01T10:05:00\tIMG_0002.JPG",
                  "2024-05-01T11:00:00\tline\\nbreak.mov",
              }));
}

TEST(CommandLine, ThumbWritesAJpegWithinTheRequestedSize) {
    TempDir dir;
    writeJpeg(dir / "in.jpg", 900, 600);
    const auto thumb = [&](const char* in, const char* out) {
        return runCli({"thumb", QString::fromStdString((dir / in).string()), "--max", "300", "-o",
                       QString::fromStdString((dir / out).string())});
    };
    EXPECT_EQ(thumb("in.jpg", "out.jpg").exitCode, 0);
    const auto made = platform::fullImage(*platform::openImageSource(dir / "out.jpg"));
    ASSERT_TRUE(made.has_value());
    EXPECT_EQ(made->size(), cv::Size(300, 200));
    EXPECT_EQ(thumb("missing.jpg", "x.jpg").exitCode, 1);
    EXPECT_FALSE(fs::exists(dir / "x.jpg"));
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
