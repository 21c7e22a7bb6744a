// Every route into the runs (the command line and the file-manager jobs) in one table: each row
// builds a shoot, runs one command or one hand-over, and checks the exact lines, the exit code,
// what reached the service, the files left and, where the run changed files, that `undo` gives
// the shoot back from the shared history. Every row also checks that no API key is printed.

#include "core/ImageTriClassifier.h"
#include "core/Prompts.h"
#include "engine/LocalAIService.h"
#include "labels/RatingWriter.h"
#include "platform/ExtendedAttributes.h"
#include "refine/MoveJournal.h"
#include "samples/SampleShoot.h"
#include "samples/Scenes.h"
#include "services/FinderJobController.h"
#include "services/FinderJobRunner.h"
#include "services/ProcessingLock.h"
#include "services/ServiceEntry.h"
#include "support/FileSystems.h"
#include "support/Process.h"
#include "support/RefineFixtures.h"
#include "support/Shoot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <signal.h>

using namespace fixtures;

namespace {

QString q(const fs::path& path) {
    return QString::fromStdString(path.string());
}

/// One row's world: a shoot folder with its fake service, a home for settings, journals, logs and
/// the processing lock, and what the row's set-up leaves for its checks.
struct World {
    FakeAIServer server;
    TempDir home, dir;
    Shoot shoot{dir.path(), server};
    ProcessingLock holder{q(home / "vitrino-processing.lock")};
    QProcessEnvironment env = isolatedEnvironment(q(home.path()), QStringLiteral("sk-secret"));
    ai::AISettings finderSettings{server.url(), QStringLiteral("sk-secret"), QStringLiteral("vision-1")};
    std::unique_ptr<Unwritable> sealed;
    QProcess service;

    QString url() const { return server.url(); }
    void store(bool offline) {
        QSettings settings(q(home / "config" / "Vitrino" / "Vitrino.conf"), QSettings::IniFormat);
        settings.setValue("ai.baseURL", server.url());
        settings.setValue("ai.apiKey", "sk-stored");
        settings.setValue("ai.modelID", "vision-1");
        settings.setValue("ai.useOfflineEngine", offline);
        finderSettings.useOfflineEngine = offline;
    }
    /// An exhibit folder with one object photo and its label card.
    void exhibit(const std::string& folder, const std::string& number, const QString& name) {
        fs::create_directories(dir / folder);
        shoot.artifact(folder + "/IMG_" + number + ".JPG", "2024:05:01 10:00:00");
        shoot.label(folder + "/IMG_9" + number + ".JPG", "2024:05:01 10:01:00", name, QStringLiteral("良渚"),
                    QStringLiteral("良渚文化"));
    }
    /// The service answers every request with `text`.
    void answer(const char* text) {
        server.setHandler([text](const FakeAIServer::Request&) { return FakeAIServer::chat(text); });
    }
    void photo(int width = 320, int height = 240) { writeJpeg(dir / "a.jpg", width, height); }
    void hold(ProcessingLock::Owner owner, bool commandLine = false) {
        holder.setCommandLine(commandLine);
        ASSERT_TRUE(holder.tryAcquire(owner));
    }
    void wall() {
        fs::create_directories(dir / "wall" / "sub");
        writeJpeg(dir / "wall" / "a.jpg", 64, 48, Dates{"2024:03:01 10:00:01", std::nullopt});
        writeJpeg(dir / "wall" / "b.jpg", 64, 48, Dates{"2024:03:01 10:00:02", std::nullopt});
        writeJpeg(dir / "wall" / "sub" / "deep.jpg", 64, 48);
    }
    /// Two exhibits refined with a journal: b0 and b1 go to the first exhibit.
    void refined() {
        using refinetest::writeFolder;
        writeFolder(dir / "1 甲", {{"a1.JPG", 1, {1, 0}}, {"a2.JPG", 2, {1, 0.1f}}, {"L1.JPG", 3, {0, 1}}},
                    "L1");
        writeFolder(dir / "2 乙",
                    {{"b2.JPG", 6, {0, 1}},
                     {"L2.JPG", 7, {0, 1}},
                     {"b0.JPG", 4, {1, 0.02f}},
                     {"b1.JPG", 5, {1, 0.05f}}},
                    "L2");
        auto journal = MoveJournal::Writer::create(MoveJournal::Kind::refine, dir.path());
        FeaturePrintRefiner::Options options{.featurePrint = refinetest::fakePrint,
                                             .journal = journal->get()};
        EXPECT_EQ(
            FeaturePrintRefiner::refine(dir.path(), core::logOnly([](const QString&) {}), options).movedCount,
            2);
    }
    CliRun cli(const QStringList& args) { return runCli(args, env, 600000); }
};

enum class Via { cli, finderName, finderOCR };

struct Route {
    const char* name;
    Via via;
    QStringList args; ///< "$D" is the shoot, "$U" the service's URL; for a hand-over, the paths
    std::function<void(World&)> setup;
    int exitCode;                     ///< of the command; a hand-over has none (0)
    std::optional<QStringList> lines; ///< every line printed, stamps dropped ("$H": the service's host)
    const char* err = "";             ///< contained in standard error ("" for none, null: any), "$D" expanded
    size_t requests = 0;              ///< that reached the service
    std::function<void(World&, const QStringList&)> check = {};
    const char* undo = nullptr; ///< `vitrino-cli undo` here gives back every picture as shot
    int interrupt = 0;          ///< SIGINT once this many requests have come
    int kill = 0;               ///< SIGKILL after this many moves
    int sameWith = 0;           ///< the lines and the tree are those of a run with --requests sameWith
};

const QString kLogLine = QStringLiteral("日志文件：…");
const QString kOffline = QStringLiteral("使用本机离线引擎（不上传照片）");
/// A row, its fields in order (a parenthesized aggregate).
using R = Route;

const char* kNoSettings = "请先填写 API Base URL、Key 与 Model";

QStringList printed(const QString& text, const QString& host) {
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
    static const QRegularExpression logFile(
        QStringLiteral("^日志文件：Vitrino_\\d{8}_\\d{6}(-\\d+)?\\.log$"));
    QStringList out;
    for (QString line : text.split('\n', Qt::SkipEmptyParts)) {
        line.remove(stamp);
        out << (logFile.match(line).hasMatch() ? kLogLine : line.replace(host, QStringLiteral("$H")));
    }
    return out;
}

QStringList expand(QStringList args, const World& w) {
    for (QString& a : args)
        a.replace("$D", q(w.dir.path())).replace("$U", w.url());
    return args;
}

CliRun take(const Route& r, World& w) {
    const QStringList args = expand(r.args, w);
    if (r.via != Via::cli) {
        // The file manager's links, among other arguments; "|" hands the rest over once the first
        // batch has ended. The job's status and the folder it shows stand in for standard error.
        const auto kind =
            r.via == Via::finderName ? FinderWorkItem::Kind::nameFolder : FinderWorkItem::Kind::ocrImage;
        FinderJobController controller(makeApplicationRunner([&] {
                                           EXPECT_EQ(QThread::currentThread(), qApp->thread());
                                           return w.finderSettings;
                                       }),
                                       w.holder);
        for (const QString& batch : args.join('\n').split("\n|\n")) {
            std::vector<fs::path> paths;
            for (const QString& a : batch.split('\n'))
                paths.push_back(a.toStdString());
            const qsizetype before = controller.logMessages().size();
            const QStringList links{"--some-option", ServiceEntry::openURL({kind, paths}),
                                    "vitrino://ocr?path="};
            EXPECT_EQ(ServiceEntry::dispatch(links, controller), 1);
            EXPECT_EQ(controller.logMessages().size(), before) << "a link waits for the event loop";
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return controller.logMessages().size() > before && controller.isFinished(); }, 600000));
            controller.handleIncoming(kind, {}); // adds no line
        }
        const QStringList lines = controller.logMessages();
        // The session's log file holds every line from the opening one on.
        const QString file = readText(controller.logFile());
        EXPECT_TRUE(controller.logFile().isEmpty() ||
                    (file.contains("—— 开始处理") && (lines.join('\n') + '\n').endsWith(file)));
        // A batch that began has its file.
        EXPECT_TRUE(lines.filter("—— 开始处理").isEmpty() || file.contains("—— 开始处理"));
        CliRun out{0, lines.join('\n'), controller.statusText() + '\n' + controller.folderPath()};
        controller.closeWindow(true);
        return out;
    }
    if (!r.interrupt && !r.kill) return w.cli(args);
    QProcess process;
    process.setProcessEnvironment(w.env);
    process.setArguments(args);
    if (r.kill) process.setStandardOutputFile(QProcess::nullDevice());
    const size_t at = size_t(r.interrupt);
    signalAfterMoves(
        process, w.dir.path(), r.kill ? r.kill : 1000, [&] { return at && w.server.requests().size() >= at; },
        r.kill ? SIGKILL : SIGINT);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

size_t textFiles(const fs::path& dir) {
    return size_t(std::count_if(fs::directory_iterator(dir), {},
                                [](const fs::directory_entry& e) { return e.path().extension() == ".txt"; }));
}

} // namespace

TEST(Routes, EachRouteSaysWhatItDidExitsWithItsCodeAndCanBeUndone) {
    // Journals written in this process (the file-manager routes) are read by the command line.
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    const auto nameArgs = [](QStringList folders, const char* n) {
        return QStringList{"name"} + folders +
               QStringList{"--base-url", "$U", "--model", "m", "--no-prefilter", "--requests", n};
    };
    const Route routes[] = {
        // Usage: exit 2 and the usage on standard error.
        R("organize help", Via::cli, {"organize", "--help"}, {}, 0, std::nullopt, ""),
        // Each command of --help (its synopsis, then its description indented) is an entry of both
        // manual pages.
        R("help", Via::cli, {"--help"}, {}, 0, std::nullopt, "", 0,
          [](World&, const QStringList& help) {
              const auto read = [](const QString& name) { return readText(VITRINO_MAN_DIR "/" + name); };
              const QString cli = read("vitrino-cli.1"), app = read("vitrino.1");
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
          }),
        R("no command", Via::cli, {}, {}, 2, QStringList{}, "用法：vitrino-cli <命令>"),
        R("no folder", Via::cli, {"organize"}, {}, 2, QStringList{},
          "用法：vitrino-cli organize DIR [--no-prefilter] [--dry-run]"),
        R("unknown engine", Via::cli, {"organize", "/x", "--engine", "cloud"}, {}, 2, QStringList{},
          "--engine 只能是 remote 或 local"),
        R("no requests", Via::cli, {"organize", "/x", "--requests", "0"}, {}, 2, QStringList{},
          "用法：vitrino-cli organize DIR"),
        R("requests without a value", Via::cli, {"organize", "/x", "--requests"}, {}, 2,
          QStringList{}, "用法：vitrino-cli organize DIR"),
        R("too many requests", Via::cli, {"name", "/x", "--requests", "33"}, {}, 2, QStringList{},
          "用法：vitrino-cli name DIR..."),
        R("scan without folder", Via::cli, {"scan"}, {}, 2, QStringList{}, "用法：vitrino-cli scan DIR"),
        R("name without folder", Via::cli, {"name"}, {}, 2, QStringList{}, nullptr),
        R("ocr without image", Via::cli, {"ocr"}, {}, 2, QStringList{}, nullptr),
        R("scan of nothing", Via::cli, {"scan", "$D/missing"}, {}, 1, QStringList{}, "文件夹不存在"),
        R("scan of a file", Via::cli, {"scan", "$D/file.txt"},
          [](World& w) { writeBytes(w.dir / "file.txt", "x"); }, 1, QStringList{}, "选择的不是文件夹"),
        // Which engine runs, and what the service says.
        R("a URL without key", Via::cli, {"chat", "$D/a.jpg", "--prompt", "tri", "--base-url", "$U"},
          [](World& w) { w.env.remove("VITRINO_API_KEY"); }, 2, QStringList{}, kNoSettings),
        R("a key without URL", Via::cli, {"chat", "$D/a.jpg", "--prompt", "tri", "--api-key", "sk-x"},
          {}, 2, QStringList{}, nullptr),
        R("the service refuses", Via::cli, {"chat", "$D/a.jpg", "--prompt", "tri", "--base-url", "$U"},
          [](World& w) {
              w.photo();
              w.server.setHandler([](const FakeAIServer::Request&) {
                  return FakeAIServer::Reply{401, "invalid key"};
              });
          }, 1, QStringList{}, "API 错误 401: invalid key", 1),
        R("no such prompt", Via::cli,
          {"chat", "$D/a.jpg", "--prompt", "nosuchprompt", "--base-url", "$U"}, {}, 2, QStringList{},
          "无法读取提示词：nosuchprompt"),
        R("remote insisted on", Via::cli, {"chat", "$D/a.jpg", "--prompt", "tri", "--engine", "remote"},
          [](World& w) { w.env.remove("VITRINO_API_KEY"); }, 2, QStringList{}, kNoSettings),
        R("nothing configured", Via::cli, {"chat", "$D/a.jpg", "--prompt", "tri"},
          [](World& w) {
              w.photo();
              w.env.remove("VITRINO_API_KEY");
          }, 0, QStringList{"{\"category\":\"artifact\",\"confidence\":0.9}"},
          "未配置 AI 接口，使用本机离线引擎（不上传照片）"),
        R("switched off, nothing configured", Via::cli, {"chat", "$D/a.jpg", "--prompt", "tri"},
          [](World& w) {
              w.photo();
              w.env.remove("VITRINO_API_KEY");
              QSettings(q(w.home / "config" / "Vitrino" / "Vitrino.conf"), QSettings::IniFormat)
                  .setValue("ai.useOfflineEngine", false);
          }, 2, QStringList{}, kNoSettings),
        R("local chosen", Via::cli, {"chat", "$D/a.jpg", "--prompt", "ocr", "--engine", "local"},
          [](World& w) { w.photo(); }, 0, std::nullopt, "使用本机离线引擎（不上传照片）"),
        // The offline engine's own service runs alone, answers as the engine does and stops when asked.
        R("the offline engine's service", Via::cli, {"chat", "$D/a.jpg", "--prompt", "tri", "--engine", "remote"},
          [](World& w) {
              w.photo();
              w.service.start(QFileInfo(cliPath()).dir().filePath("vitrino-local-ai"), {});
              ASSERT_TRUE(w.service.waitForReadyRead(30000));
              const QString url = QString::fromUtf8(w.service.readLine()).trimmed();
              EXPECT_TRUE(QRegularExpression("^http://127\\.0\\.0\\.1:\\d+/api/v3/chat/completions$").match(url).hasMatch())
                  << url.toStdString();
              QSettings(q(w.home / "config" / "Vitrino" / "Vitrino.conf"), QSettings::IniFormat).setValue("ai.baseURL", url);
          }, 0, QStringList{"{\"category\":\"artifact\",\"confidence\":0.9}"}, "", 0,
          [](World& w, const QStringList&) {
              ::kill(pid_t(w.service.processId()), SIGTERM);
              ASSERT_TRUE(w.service.waitForFinished(10000));
              EXPECT_EQ(w.service.exitCode(), 0);
          }),
        R("a chat with the prompt's file", Via::cli,
          {"chat", "$D/a.jpg", "--prompt", "$D/prompt.txt", "--max-tokens", "7", "--base-url", "$U",
           "--model", "m1"},
          [](World& w) {
              w.photo();
              writeBytes(w.dir / "prompt.txt", "读出图中文字");
              w.answer("文字");
          }, 0, QStringList{"文字"}, "", 1,
          [](World& w, const QStringList&) {
              const auto request = w.server.requests().at(0);
              EXPECT_EQ(request.prompt, QStringLiteral("读出图中文字"));
              EXPECT_EQ(request.body.value("max_tokens").toInt(), 7);
              EXPECT_EQ(request.body.value("model").toString(), QStringLiteral("m1"));
              EXPECT_EQ(request.headers.at("authorization"), "Bearer sk-secret");
          }),
        // Runs that find nothing to work on end with the reason and exit 1.
        R("organize of nothing, without a desktop session", Via::cli,
          {"organize", "/no/such/folder", "--engine", "local"},
          [](World& w) {
              w.env.remove("XDG_RUNTIME_DIR");
              w.env.insert("TMPDIR", q(w.dir.path()));
          }, 1,
          QStringList{"—— 开始整理 ——", kLogLine, kOffline, "开始扫描：folder",
                      "模式：按拍摄时间整理 + Vision 预处理（完整解码+提亮；1280 无字再 2560；仍无字→文物）",
                      "[失败] 文件夹不存在",
                      "错误汇总 1 条（详见上方日志）", "—— 整理结束 ——"}),
        R("refine of nothing", Via::cli, {"refine", "/no/such/folder"}, {}, 1,
          QStringList{"—— 开始 FeaturePrint 后处理 ——", kLogLine, "[失败] 文件夹不存在",
                      "后处理错误 1 条（详见上方日志）", "—— FeaturePrint 后处理结束 ——"}),
        R("ocr of a video", Via::cli, {"ocr", "$D/clip.mp4", "$D/missing.jpg", "--engine", "local"},
          [](World& w) { writeBytes(w.dir / "clip.mp4", "video"); }, 1,
          QStringList{"—— 开始 OCR ——", kLogLine, kOffline, "[失败] 没有可 OCR 的图片（已忽略子目录和视频）。",
                      "错误汇总 1 条（详见上方日志）", "—— OCR 结束 ——"}),
        // While another job holds the lock, nothing starts.
        R("ocr while the file manager works", Via::cli, {"ocr", "$D/clip.mp4", "--engine", "local"},
          [](World& w) { w.hold(ProcessingLock::Owner::finder); }, 2, QStringList{},
          "另有任务正在处理（文件管理器右键）"),
        R("name while another vitrino-cli works", Via::cli, nameArgs({"$D/12"}, "1"),
          [](World& w) {
              w.exhibit("12", "001", QStringLiteral("玉琮"));
              w.hold(ProcessingLock::Owner::main, true);
          }, 2, QStringList{}, "另有任务正在处理（命令行 vitrino-cli），请稍后再试。"),
        R("naming while the command line works", Via::finderName, {"$D/12"},
          [](World& w) { w.hold(ProcessingLock::Owner::main, true); }, 0, QStringList{"命令行 vitrino-cli 正在处理，请等它完成后，再右键处理。"}, "无法开始"),
        R("naming while the main window works", Via::finderName, {"$D/12"},
          [](World& w) { w.hold(ProcessingLock::Owner::main); }, 0,
          QStringList{"主程序正在整理，请等主窗口完成后，再右键处理。"}, "无法开始"),
        // The tool commands.
        R("classify", Via::cli,
          {"classify", "$D", "--no-prefilter", "--base-url", "$U", "--model", "m", "--requests",
           "1"},
          [](World& w) {
              w.shoot.panel("IMG_0001.JPG", "2024:05:01 10:00:00");
              w.shoot.raw("IMG_0001.DNG", "2024:05:01 10:00:00");
              w.shoot.panel("IMG_0002.JPG", "2024:05:01 10:05:00");
              w.shoot.video("line\nbreak.mov",
                            QDateTime(QDate(2024, 5, 1), QTime(11, 0), Qt::LocalTime));
          }, 0, std::nullopt, "", 2,
          [](World& w, const QStringList& lines) {
              EXPECT_EQ(lines.mid(2),
                        (QStringList{
                            "[1/3] 准备 AI 识别：IMG_0001.JPG",
                            "[1/3] IMG_0001.JPG → 展板 (confidence 0.90)；同名跟移：IMG_0001.DNG",
                            "[2/3] 准备 AI 识别：IMG_0002.JPG",
                            "[2/3] IMG_0002.JPG → 展板 (confidence 0.90)",
                            "[3/3] line\\nbreak.mov → 视频（不调 AI，按文物）",
                            "分类完成：展板 2，标签 0，文物 1，未分类 0；Vision 直接归文物 0 "
                            "张；错误 0 条"}));
              EXPECT_EQ(w.server.requests().at(0).prompt, ImageTriClassifier::kPrompt);
              // The tool command lists the same shoot's work units with their capture times.
              EXPECT_EQ(printed(w.cli({"scan", q(w.dir.path())}).stdoutText, "$H"),
                        (QStringList{"扫描完成：共 4 个（RAW 1 / JPG 2 / HEIC 0 / 视频 1）",
                                     "识别任务 3 个（同名 RAW 跟移 1 个；有 JPG 则只认 JPG，Vision/AI 流程与原先一致）",
                                     "2024-05-01T10:00:00\tIMG_0001.JPG；同名跟移：IMG_0001.DNG",
                                     "2024-05-01T10:05:00\tIMG_0002.JPG", "2024-05-01T11:00:00\tline\\nbreak.mov"}));
          }),
        R("prepare", Via::cli, {"prepare", "$D/a.jpg", "-o", "$D/prepared.jpg"},
          [](World& w) { w.photo(900, 600); }, 0, std::nullopt, "", 0,
          [](World& w, const QStringList& lines) {
              static const QRegularExpression line(
                  QStringLiteral("^尺寸 900×600，大小 (\\d+) 字节，质量 "
                                 "0\\.90，m=[0-9.]+，h=[0-9.]+，ev=([0-9.]+|-)$"));
              ASSERT_EQ(lines.size(), 1);
              const auto match = line.match(lines[0]);
              ASSERT_TRUE(match.hasMatch()) << lines[0].toStdString();
              EXPECT_EQ(match.captured(1).toLongLong(),
                        qint64(fs::file_size(w.dir / "prepared.jpg")));
              const auto thumb = w.cli({"thumb", q(w.dir / "a.jpg"), "--max", "300", "-o", q(w.dir / "t.jpg")});
              EXPECT_EQ(thumb.stdoutText, "300×200\n");
              EXPECT_EQ(platform::fullImage(*platform::openImageSource(w.dir / "t.jpg"))->size(),
                        cv::Size(300, 200));
          }),
        R("prepare of a broken file", Via::cli, {"prepare", "$D/clip.mov", "-o", "$D/never.jpg"},
          {}, 1, QStringList{}, "图片准备失败：无法读取或解码图片", 0,
          [](World& w, const QStringList&) { EXPECT_FALSE(fs::exists(w.dir / "never.jpg")); }),
        R("thumb of nothing", Via::cli, {"thumb", "$D/missing.jpg", "--max", "300", "-o", "$D/x.jpg"},
          {}, 1, QStringList{}, nullptr),
        // OCR: each photo once, failures told and counted.
        R("ocr", Via::cli, {"ocr", "$D/wall", "$D/wall/a.jpg", "--base-url", "$U", "--model", "vision-1"},
          [](World& w) {
              w.wall();
              w.server.enqueue(FakeAIServer::chat("```\n第一块展板\n```"));
              w.server.enqueue(FakeAIServer::Reply{500, R"({"error":{"message":"overloaded"}})"});
          }, 1, QStringList{"—— 开始 OCR ——", kLogLine, "使用 AI 接口：$H（模型 vision-1）",
                      "wall：当前层 2 张图片（已忽略子目录和视频）", "OCR：a.jpg",
                      "已写入 a.txt（5 字）", "OCR：b.jpg",
                      "[失败] b.jpg：API 错误 500: {\"error\":{\"message\":\"overloaded\"}}",
                      "错误汇总 1 条（详见上方日志）", "—— OCR 结束 ——"},
          "", 2,
          [](World& w, const QStringList&) {
              EXPECT_EQ(w.server.requests().at(0).prompt, core::prompts::kOCR);
              EXPECT_EQ(w.server.requests().at(0).body.value("max_tokens").toInt(), 4096);
              EXPECT_EQ(readFile(w.dir / "wall" / "a.txt"), "第一块展板");
              EXPECT_FALSE(fs::exists(w.dir / "wall" / "b.txt") ||
                           fs::exists(w.dir / "wall" / "sub" / "deep.txt"));
          }, "$D/wall"),
        R("ocr interrupted", Via::cli, {"ocr", "$D", "--base-url", "$U", "--model", "vision-1"},
          [](World& w) {
              for (int i = 1; i <= 5; ++i)
                  writeJpeg(w.dir / ("IMG_" + std::to_string(i) + ".JPG"), 64, 48);
              w.server.setHandler([](const FakeAIServer::Request&) {
                  auto reply = FakeAIServer::chat("展板文字");
                  reply.delayMs = 300;
                  return reply;
              });
          }, 130, std::nullopt, "", 2,
          [](World& w, const QStringList& lines) {
              EXPECT_EQ(textFiles(w.dir.path()),
                        2u); // the image at hand is finished, the rest are not
              EXPECT_EQ(lines.mid(lines.size() - 2),
                        (QStringList{"[取消] 已停止：已写入 2 个文本文件，其余图片未读",
                                     "—— OCR 结束 ——"}));
              // The lock is free again: a second run reads every image.
              EXPECT_EQ(w.cli({"ocr", q(w.dir.path()), "--base-url", w.url()}).exitCode, 0);
              EXPECT_EQ(textFiles(w.dir.path()), 5u);
          }, "$D", 2),
        // A folder handed over is read image by image, each failure told.
        R("ocr from the file manager", Via::finderOCR, {"$D/wall"},
          [](World& w) {
              w.wall();
              writeBytes(w.dir / "wall" / "v.mp4", "video");
              w.server.enqueue(FakeAIServer::chat("展板文字"));
              w.server.enqueue(FakeAIServer::Reply{500, "overloaded"});
          }, 0, QStringList{"wall：当前层 2 张图片（已忽略子目录和视频）", "—— 开始处理（文件管理器右键，共 2 项）——", kLogLine,
                      "使用 AI 接口：$H（模型 vision-1）", "—— [1/2] OCR a.jpg ——", "OCR：a.jpg", "已写入 a.txt（4 字）",
                      "—— [1/2] 结束 ——", "—— [2/2] OCR b.jpg ——", "OCR：b.jpg",
                      "[失败] b.jpg：API 错误 500: overloaded", "[2/2] OCR 失败", "—— [2/2] 结束 ——"},
          "全部完成（2 项）", 2, {}, "$D/wall"),
        R("ocr of a video from the file manager", Via::finderOCR, {"$D/v.mp4"},
          [](World& w) { writeBytes(w.dir / "v.mp4", "video"); }, 0, QStringList{"没有可 OCR 的图片（已忽略子目录和视频）。"},
          "无法开始"),
        // Naming: several folders in one framed job, N requests in flight as one at a time.
        R("name", Via::cli, nameArgs({"$D/12", "$D/empty", "$D/13"}, "4"),
          [](World& w) {
              w.exhibit("12", "001", QStringLiteral("玉琮"));
              w.exhibit("13", "002", QStringLiteral("玉璧"));
              fs::create_directories(w.dir / "empty");
              w.shoot.randomDelays(80, 3);
          }, 1, std::nullopt, "", 6,
          [](World& w, const QStringList& lines) {
              const QString d = q(w.dir.path());
              EXPECT_EQ(
                  lines.filter(QRegularExpression(
                      "^(—— |开始处理当前文件夹|完成。|API|\\[失败\\]|错误汇总)")),
                  (QStringList{"—— 开始整理 ——", "开始处理当前文件夹：" + d + "/12", "API：m",
                               "完成。错误 0 条。", "开始处理当前文件夹：" + d + "/empty", "API：m",
                               "开始处理当前文件夹：" + d + "/13", "API：m", "完成。错误 0 条。",
                               "[失败] 目录中没有可处理的媒体文件",
                               "错误汇总 1 条（详见上方日志）", "—— 整理结束 ——"}));
              EXPECT_TRUE(
                  fs::exists(w.dir / "12 玉琮 良渚 良渚文化" / "玉琮 良渚 良渚文化 001.JPG"));
              EXPECT_EQ(platform::attribute(w.dir / "13 玉璧 良渚 良渚文化" / "IMG_9002.JPG",
                                            RatingWriter::kBalooRatingAttribute),
                        QByteArray("2"));
          }, "$D", 0, 0, 1),
        // Organize, undone from the shared history even after a kill.
        R("organize killed", Via::cli, {"organize", "$D", "--base-url", "$U", "--no-prefilter"},
          [](World& w) {
              exhibits(w.shoot, 3);
              w.shoot.raw("E0_L.DNG", "2024:05:01 10:10:30");
              fs::create_directory(w.dir / "已有文件夹");
          }, -1, std::nullopt, nullptr, 16, {}, "$D", 0, 5),
        // The history lists the naming above the organize run; organize --undo waits for the naming to
        // be undone, and undo asked from inside the shoot takes it.
        R("history", Via::cli, {"history", "$D"},
          [](World& w) { // three exhibits organized, then the first one named
              exhibits(w.shoot, 3);
              ASSERT_EQ(w.cli({"organize", q(w.dir.path()), "--base-url", w.url(), "--no-prefilter"}).exitCode, 0);
              ASSERT_EQ(w.cli({"name", q(w.dir / "1 器物0 遗址 汉"), "--base-url", w.url(), "--no-prefilter"}).exitCode,
                        0);
              EXPECT_FALSE(fs::exists(w.dir / "1 器物0 遗址 汉" / "E0_0.JPG")) << "named";
          }, 0, std::nullopt, "", 0,
          [](World& w, QStringList lines) {
              static const QRegularExpression when(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "));
              for (QString& line : lines)
                  line.remove(when);
              EXPECT_EQ(lines, (QStringList{"文件夹：" + q(w.dir.path()), "命名 1 器物0 遗址 汉  5 个文件  可撤销",
                                            "整理  19 个文件  可撤销"}));
              const auto refused = w.cli({"organize", "--undo", q(w.dir.path())});
              EXPECT_EQ(refused.exitCode, 1);
              EXPECT_TRUE(refused.stdoutText.contains("之后还做过")) << refused.stdoutText.toStdString();
              EXPECT_EQ(w.cli({"undo", q(w.dir / "1 器物0 遗址 汉")}).exitCode, 0);
              EXPECT_TRUE(fs::exists(w.dir / "1 器物0 遗址 汉" / "E0_0.JPG"));
              EXPECT_TRUE(fs::exists(w.dir / "0 展板" / "P.JPG")) << "the organize run stands";
          }),
        // A RAW is read through the JPEG beside it (once, however often selected), alone as itself.
        R("ocr replacing its text", Via::cli, {"ocr", "$D/a.CR3", "$D/./a.jpg", "$D/c.CR3", "--base-url", "$U"},
          [](World& w) {
              w.photo(64, 48);
              writeDng(w.dir / "a.CR3", 64, 48);
              writeDng(w.dir / "c.CR3", 64, 48);
              writeBytes(w.dir / "a.txt", "my own notes");
              w.answer("展板文字");
          }, 0,
          QStringList{"—— 开始 OCR ——", kLogLine, "使用 AI 接口：$H（模型 doubao-seed-2-0-lite-260215）",
                      "同名有 JPG，改 OCR：a.jpg", "OCR：a.jpg",
                      "[警告] 已替换原有文本文件 a.txt（原内容已记入历史，可撤销）", "已写入 a.txt（4 字）",
                      "OCR：c.CR3", "已写入 c.txt（4 字）", "—— OCR 结束 ——"},
          "", 2, [](World& w, const QStringList&) { EXPECT_EQ(readFile(w.dir / "a.txt"), "展板文字"); }, "$D"),
        // Refinement undone from its journal.
        R("refine undo", Via::cli, {"refine", "--undo", "$D"}, [](World& w) { w.refined(); }, 0,
          QStringList{"—— 撤销上一次后处理 ——", "待恢复 2 个文件", "  [撤销] b1.JPG → 2 乙/",
                      "  [撤销] b0.JPG → 2 乙/", "撤销结束。恢复 2 个文件，剩余 0 条，错误 0 条。",
                      "—— 撤销结束 ——"},
          "", 0,
          [](World& w, const QStringList&) {
              EXPECT_TRUE(fs::exists(w.dir / "2 乙" / "b0.JPG") &&
                          fs::exists(w.dir / "2 乙" / "b1.JPG"));
              const auto again = w.cli({"refine", "--undo", q(w.dir.path())});
              EXPECT_EQ(again.exitCode, 1);
              EXPECT_TRUE(unstamped(again.stdoutText).contains("[失败] 没有可撤销的后处理记录"));
          }),
        // A shoot whose history cannot be written is not touched.
        R("organize without history", Via::cli, {"organize", "$D", "--base-url", "$U"},
          [](World& w) {
              w.shoot.artifact("A.JPG", "2024:05:01 10:00:00");
              w.shoot.label("L.JPG", "2024:05:01 10:01:00", QStringLiteral("鼎"), QString(),
                            QString());
              fs::create_directories(w.home / "data" / "Vitrino" / "Journals");
              w.sealed = std::make_unique<Unwritable>(w.home / "data" / "Vitrino" / "Journals");
          }, 2, std::nullopt, "", 0,
          [](World& w, const QStringList& lines) {
              EXPECT_TRUE(lines.join('\n').contains("[失败] 撤销记录写入失败"))
                  << lines.join('\n').toStdString();
              EXPECT_TRUE(fs::exists(w.dir / "A.JPG") && fs::exists(w.dir / "L.JPG"));
              for (const QStringList& args :
                   {QStringList{"name", q(w.dir.path())}, QStringList{"ocr", q(w.dir / "L.JPG")}}) {
                  const auto run = w.cli(args + QStringList{"--base-url", w.url()});
                  EXPECT_EQ(run.exitCode, 2);
                  EXPECT_TRUE(run.stdoutText.contains("[失败] 撤销记录写入失败"));
              }
              EXPECT_TRUE(w.server.requests().empty());
              EXPECT_FALSE(fs::exists(w.dir / "L.txt"));
          }),
        // With the offline switch stored, nothing is sent to the configured service ("不上传照片"), on
        // the command line and from the file manager (whose jobs share one engine choice).
        R("ocr offline, then remote insisted on", Via::cli, {"ocr", "$D/a.jpg", "--base-url", "$U"},
          [](World& w) {
              w.store(true);
              w.photo();
              w.answer("展板文字");
          }, 0, std::nullopt, "", 0,
          [](World& w, const QStringList& lines) {
              EXPECT_TRUE(
                  lines.contains("已开启本机离线引擎（不上传照片），不使用 --base-url；要使用 AI "
                                 "接口，请加 --engine remote"));
              const auto remote = w.cli({"ocr", q(w.dir / "a.jpg"), "--engine", "remote"});
              EXPECT_TRUE(remote.stdoutText.contains("使用 AI 接口：" + QUrl(w.url()).authority() + "（模型 vision-1）"));
              EXPECT_EQ(w.server.requests().at(0).headers.at("authorization"), "Bearer sk-secret");
          }, "$D"),
        R("organize offline", Via::cli, {"organize", "$D/shoot"},
          [](World& w) {
              w.store(true);
              samples::makeSampleShoot(w.dir / "shoot", 1, 7);
          }, 0, std::nullopt, "", 0,
          [](World&, const QStringList& lines) { EXPECT_TRUE(lines.contains(kOffline)); }, "$D/shoot"),
        // Folders handed over in two batches: only folders are named, each item framed with its
        // failures counted; the second batch counts on and shows the folder under its new name.
        R("naming from the file manager", Via::finderName,
          {"$D/空 b&c", "$D/IMG_1.JPG", "$D/missing", "|", "$D/7"},
          [](World& w) {
              w.store(true);
              fs::create_directories(w.dir / "7");
              fs::create_directories(w.dir / "空 b&c");
              writeBytes(w.dir / "IMG_1.JPG", "x");
              scenes::writePhoto(w.dir / "7" / "IMG_0001.JPG",
                                 scenes::renderLabel({"青铜饕餮纹鼎", "河南安阳殷墟出土", "商代晚期", {}}, 5));
              writeJpeg(w.dir / "7" / "IMG_0002.JPG", 320, 240);
          }, 0, std::nullopt, "全部完成（4 项）\n$D/7 ", 0,
          [](World& w, const QStringList& lines) {
              const QString d = q(w.dir.path());
              const auto item = [&](const QString& at, const QString& name, const QString& error) {
                  QStringList out{"—— [" + at + "] " + name + " ——", "文件夹：" + d + "/" + name};
                  if (!error.isEmpty())
                      out << "[失败] " + error << "[" + at + "] 错误 1 条（详见上方日志）";
                  return out << "—— [" + at + "] 结束 ——";
              };
              EXPECT_EQ(lines.filter(QRegularExpression("^(—— |文件夹：/|使用|\\[失败|\\[\\d/\\d\\] 错误)")),
                        (QStringList{"—— 开始处理（文件管理器右键，共 3 项）——", kOffline} +
                            item("1/3", "空 b&c", "目录中没有可处理的媒体文件") +
                            item("2/3", "IMG_1.JPG", "不是文件夹：" + d + "/IMG_1.JPG") +
                            item("3/3", "missing", "文件夹不存在：" + d + "/missing") + QStringList{kOffline} +
                            item("4/4", "7", {})));
              EXPECT_TRUE(lines.contains("API：" + engine::kModelID)) << lines.join('\n').toStdString();
          }, "$D"),
          };
    for (const Route& r : routes) {
        SCOPED_TRACE(r.name);
        std::map<std::string, QByteArray> shot;
        const auto outcome = [&](int requests, World& w) {
            qputenv("XDG_DATA_HOME", QFile::encodeName(q(w.home / "data")));
            if (r.setup) r.setup(w);
            shot = treeHashes(w.dir.path(), true);
            Route changed = r;
            if (requests) changed.args.last() = QString::number(requests);
            const size_t before = w.server.requests().size();
            const CliRun o = take(changed, w);
            w.holder.release(ProcessingLock::Owner::finder);
            w.holder.release(ProcessingLock::Owner::main);
            EXPECT_EQ(w.server.requests().size() - before, r.requests);
            return o;
        };
        World w;
        const CliRun o = outcome(0, w);
        const auto asShot = shot;
        const QStringList lines = printed(o.stdoutText, QUrl(w.url()).authority());
        EXPECT_EQ(o.exitCode, r.exitCode) << o.stdoutText.toStdString() << o.stderrText.toStdString();
        if (r.lines) {
            EXPECT_EQ(lines, *r.lines);
        }
        if (r.err) {
            EXPECT_TRUE(o.stderrText.contains(expand({QString::fromUtf8(r.err)}, w)[0]))
                << o.stderrText.toStdString();
            EXPECT_TRUE(*r.err || o.stderrText.isEmpty()) << o.stderrText.toStdString();
        }
        EXPECT_FALSE(o.stdoutText.contains("sk-") || o.stderrText.contains("sk-"));
        if (r.check) r.check(w, lines);
        if (r.sameWith) {
            World one;
            const QStringList single =
                printed(outcome(r.sameWith, one).stdoutText, QUrl(one.url()).authority());
            EXPECT_EQ(single.join('\n').replace(q(one.dir.path()), "$D"),
                      lines.join('\n').replace(q(w.dir.path()), "$D"));
            EXPECT_EQ(treeHashes(one.dir.path(), true), treeHashes(w.dir.path(), true));
        }
        if (r.undo) {
            EXPECT_NE(treeHashes(w.dir.path(), true), asShot) << "the run changed nothing";
            for (int undos = 0; undos < 4; ++undos) {
                const auto undo = w.cli(expand({"undo", r.undo}, w));
                if (undo.stdoutText.contains(MoveJournal::kNothingToUndo)) break;
                EXPECT_EQ(undo.exitCode, 0) << undo.stdoutText.toStdString();
            }
            EXPECT_EQ(treeHashes(w.dir.path(), true), asShot);
        }
    }
    qputenv("XDG_DATA_HOME", savedData);
}
