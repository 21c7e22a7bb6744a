#include "core/ImageTriClassifier.h"
#include "services/ProcessingLock.h"
#include "support/FakeAIServer.h"
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

namespace {

struct CommandLine : testing::Test {
    FakeAIServer server;
    TempDir home, dir;
    QString path(const std::string& name) const { return QString::fromStdString((dir / name).string()); }
    QProcessEnvironment env(const QString& key = QStringLiteral("sk-secret")) const {
        return isolatedEnvironment(QString::fromStdString(home.path().string()), key);
    }
};

QString withoutStamps(QString text) {
    static const QRegularExpression stamp(QStringLiteral("(?m)^\\d\\d:\\d\\d:\\d\\d "));
    return text.remove(stamp);
}

} // namespace

TEST_F(CommandLine, EveryCallEndsWithItsExitCodeAndItsText) {
    server.setHandler([](const FakeAIServer::Request&) { return FakeAIServer::Reply{401, "invalid key"}; });
    writeBytes(dir / "file.txt", "x");
    writeBytes(dir / "clip.mp4", "video");
    writeJpeg(dir / "a.jpg", 320, 240);
    const QString url = server.url(), image = path("a.jpg");
    const char* noSettings = "请先填写 API Base URL、Key 与 Model";
    struct Case {
        QStringList args;
        int exitCode;
        const char* out;     // contained in standard output without stamps; "" for none, null: any
        const char* err;     // the same for standard error
        QString key = {};    // the environment's API key, none when empty
        bool locked = false; // a file-manager job holds the processing lock
        size_t requests = 0; // reaching the service
    };
    const std::vector<Case> cases = {
        {{"--help"}, 0, "organize DIR [--no-prefilter] [--dry-run]", ""},
        {{"organize", "--help"}, 0, "用法：vitrino-cli organize DIR", ""},
        {{"--version"}, 0, "vitrino-cli 0.", ""},
        {{}, 2, "", "用法：vitrino-cli <命令>"},
        {{"sort"}, 2, "", "用法：vitrino-cli <命令>"},
        {{"organize"}, 2, "", "用法：vitrino-cli organize DIR [--no-prefilter] [--dry-run]"},
        {{"organize", "/x", "--engine", "cloud"}, 2, "", "--engine 只能是 remote 或 local"},
        {{"organize", "/x", "--requests", "0"}, 2, "", "用法：vitrino-cli organize DIR"},
        {{"organize", "/x", "--requests"}, 2, "", "用法：vitrino-cli organize DIR"},
        {{"name", "/x", "--requests", "33"}, 2, "", "用法：vitrino-cli name DIR..."},
        {{"classify", "/x", "--requests", "four"}, 2, "", "用法：vitrino-cli classify DIR"},
        {{"scan"}, 2, "", "用法：vitrino-cli scan DIR"},
        {{"name"}, 2, "", nullptr},
        {{"ocr"}, 2, "", nullptr},
        {{"scan", path("missing")}, 1, "", "文件夹不存在"},
        {{"scan", path("file.txt")}, 1, "", "选择的不是文件夹"},
        // Which engine runs, and what the service says.
        {{"chat", image, "--prompt", "tri", "--base-url", url}, 2, "", noSettings},
        {{"chat", image, "--prompt", "tri", "--api-key", "sk-x"}, 2, "", nullptr, "k"},
        {{"chat", image, "--prompt", "tri", "--base-url", url},
         1,
         "",
         "API 错误 401: invalid key",
         "k",
         false,
         1},
        {{"chat", image, "--prompt", "nosuchprompt", "--base-url", url},
         2,
         "",
         "无法读取提示词：nosuchprompt",
         "k"},
        {{"chat", image, "--prompt", "tri", "--engine", "remote"}, 2, "", noSettings},
        {{"chat", image, "--prompt", "tri"},
         0,
         "{\"category\":\"artifact\",\"confidence\":0.9}",
         "未配置 AI 接口，使用本机离线引擎（不上传照片）"},
        {{"chat", image, "--prompt", "ocr", "--engine", "local"},
         0,
         nullptr,
         "使用本机离线引擎（不上传照片）",
         "sk-x"},
        {{"name", path("a.jpg"), "--base-url", url}, 2, "", noSettings},
        // Runs that find nothing to work on end with the reason and exit 1.
        {{"organize", "/no/such/folder", "--engine", "local"},
         1,
         "[失败] 文件夹不存在\n错误汇总 1 条（详见上方日志）\n—— 整理结束 ——",
         ""},
        {{"refine", "/no/such/folder"},
         1,
         "[失败] 文件夹不存在\n后处理错误 1 条（详见上方日志）\n—— FeaturePrint 后处理结束 ——",
         ""},
        {{"ocr", path("clip.mp4"), path("missing.jpg"), "--engine", "local"},
         1,
         "[失败] 没有可 OCR 的图片（已忽略子目录和视频）。",
         ""},
        // While another job holds the lock, nothing starts.
        {{"ocr", path("clip.mp4"), "--engine", "local"},
         2,
         "",
         "另有任务正在处理（文件管理器右键）",
         {},
         true},
        {{"refine", dir.path().c_str()}, 2, "", nullptr, {}, true},
        {{"refine", "--undo", dir.path().c_str()}, 2, "", nullptr, {}, true},
        {{"organize", "--undo", dir.path().c_str()}, 2, "", nullptr, {}, true},
    };
    ProcessingLock lock(QString::fromStdString((home / "vitrino-processing.lock").string()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        if (c.locked) {
            ASSERT_TRUE(lock.tryAcquire(ProcessingLock::Owner::finder));
        }
        const size_t requests = server.requests().size();
        const auto run = runCli(c.args, env(c.key));
        lock.release(ProcessingLock::Owner::finder);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.stderrText.toStdString();
        const QString out = withoutStamps(run.stdoutText);
        for (const auto& [text, want] : {std::pair{out, c.out}, std::pair{run.stderrText, c.err}}) {
            if (want) {
                EXPECT_TRUE(text.contains(QString::fromUtf8(want))) << text.toStdString();
                EXPECT_TRUE(*want || text.trimmed().isEmpty()) << text.toStdString();
            }
            EXPECT_FALSE(text.contains("sk-")) << text.toStdString();
        }
        EXPECT_EQ(server.requests().size() - requests, c.requests);
    }
}

TEST_F(CommandLine, ToolCommandsPrintTheirResults) {
    writeJpeg(dir / "IMG_0001.JPG", 32, 32, Dates{"2024:05:01 10:00:00", std::nullopt});
    writeDng(dir / "IMG_0001.DNG", 64, 48, Dates{"2024:05:01 10:00:00", std::nullopt});
    writeJpeg(dir / "IMG_0002.JPG", 900, 600, Dates{"2024:05:01 10:05:00", std::nullopt});
    writeBytes(dir / "line\nbreak.mov", "v");
    setModified(dir / "line\nbreak.mov", QDateTime(QDate(2024, 5, 1), QTime(11, 0), Qt::LocalTime));
    const auto scan = runCli({"scan", QString::fromStdString(dir.path().string())});
    EXPECT_EQ(scan.exitCode, 0);
    EXPECT_EQ(scan.stdoutLines(),
              QStringList({
                  "扫描完成：共 4 个（RAW 1 / JPG 2 / HEIC 0 / 视频 1）",
                  "识别任务 3 个（同名 RAW 跟移 1 个；有 JPG 则只认 JPG，Vision/AI 流程与原先一致）",
                  "2024-05-01T10:00:00\tIMG_0001.JPG；同名跟移：IMG_0001.DNG",
                  "2024-05-01T10:05:00\tIMG_0002.JPG",
                  "2024-05-01T11:00:00\tline\\nbreak.mov",
              }));

    for (int i = 0; i < 2; ++i)
        server.enqueue(FakeAIServer::chat(R"({"category":"panel","confidence":0.8})"));
    const auto classify = runCli({"classify", QString::fromStdString(dir.path().string()), "--no-prefilter",
                                  "--base-url", server.url(), "--model", "m", "--requests", "1"},
                                 env());
    EXPECT_EQ(classify.exitCode, 0) << classify.stderrText.toStdString();
    EXPECT_EQ(classify.stdoutLines().mid(2),
              QStringList({
                  "[1/3] 准备 AI 识别：IMG_0001.JPG",
                  "[1/3] IMG_0001.JPG → 展板 (confidence 0.80)；同名跟移：IMG_0001.DNG",
                  "[2/3] 准备 AI 识别：IMG_0002.JPG",
                  "[2/3] IMG_0002.JPG → 展板 (confidence 0.80)",
                  "[3/3] line\\nbreak.mov → 视频（不调 AI，按文物）",
                  "分类完成：展板 2，标签 0，文物 1，未分类 0；Vision 直接归文物 0 张；错误 0 条",
              }));

    // chat sends the prompt as named or read from a file, with the key of the environment.
    writeBytes(dir / "prompt.txt", "读出图中文字");
    for (const auto& [prompt, reply] :
         {std::pair{QStringLiteral("tri"), QStringLiteral("{\"category\":\"panel\"}")},
          std::pair{path("prompt.txt"), QStringLiteral("文字")}}) {
        server.enqueue(FakeAIServer::chat(reply));
        const auto chat = runCli({"chat", path("IMG_0002.JPG"), "--prompt", prompt, "--max-tokens", "7",
                                  "--base-url", server.url(), "--model", "m1"},
                                 env());
        EXPECT_EQ(chat.exitCode, 0) << chat.stderrText.toStdString();
        EXPECT_EQ(chat.stdoutText, reply + "\n");
    }
    ASSERT_EQ(server.requests().size(), 4u);
    EXPECT_EQ(server.requests()[2].prompt, ImageTriClassifier::kPrompt);
    EXPECT_EQ(server.requests()[2].body.value("model").toString(), QStringLiteral("m1"));
    EXPECT_EQ(server.requests()[2].headers.at("authorization"), "Bearer sk-secret");
    EXPECT_EQ(server.requests()[3].prompt, QStringLiteral("读出图中文字"));
    EXPECT_EQ(server.requests()[3].body.value("max_tokens").toInt(), 7);

    const auto prepared = runCli({"prepare", path("IMG_0002.JPG"), "-o", path("prepared.jpg")});
    static const QRegularExpression line(QStringLiteral(
        "^尺寸 900×600，大小 (\\d+) 字节，质量 0\\.90，m=[0-9.]+，h=[0-9.]+，ev=([0-9.]+|-)\n$"));
    const auto match = line.match(prepared.stdoutText);
    ASSERT_TRUE(match.hasMatch()) << prepared.stdoutText.toStdString();
    EXPECT_EQ(match.captured(1).toLongLong(), qint64(fs::file_size(dir / "prepared.jpg")));
    const auto broken = runCli({"prepare", path("clip.mov"), "-o", path("never.jpg")});
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_EQ(broken.stderrText.trimmed(), QStringLiteral("图片准备失败：无法读取或解码图片"));

    EXPECT_EQ(runCli({"thumb", path("IMG_0002.JPG"), "--max", "300", "-o", path("t.jpg")}).exitCode, 0);
    EXPECT_EQ(platform::fullImage(*platform::openImageSource(dir / "t.jpg"))->size(), cv::Size(300, 200));
    EXPECT_EQ(runCli({"thumb", path("missing.jpg"), "--max", "300", "-o", path("x.jpg")}).exitCode, 1);
    EXPECT_FALSE(fs::exists(dir / "never.jpg") || fs::exists(dir / "x.jpg"));
}

TEST_F(CommandLine, WithoutADesktopSessionOnlyItsOwnLinesArePrinted) {
    QProcessEnvironment bare = env();
    bare.remove("XDG_RUNTIME_DIR");
    bare.insert("TMPDIR", QString::fromStdString(dir.path().string()));
    const auto run = runCli({"organize", "/no/such/folder", "--engine", "local"}, bare);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.stderrText, QString());
    // Without the system's folder for this user, a private one in the temporary folder held the lock.
    if (!QFileInfo::exists(QStringLiteral("/run/user/%1").arg(::geteuid()))) {
        const QDir temp(QString::fromStdString(dir.path().string()));
        const QStringList made = temp.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        ASSERT_EQ(made.size(), 1);
        EXPECT_TRUE(made[0].startsWith("runtime-"));
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(temp.filePath(made[0])).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
    }
}

TEST_F(CommandLine, TheManualPagesListTheCommandsOfHelp) {
    const QStringList help = runCli({"--help"}).stdoutLines();
    const auto read = [](const QString& name) {
        QFile file(QStringLiteral(VITRINO_MAN_DIR "/") + name);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        return QString::fromUtf8(file.readAll());
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
