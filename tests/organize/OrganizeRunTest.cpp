#include "ai/RemoteVisionBackend.h"
#include "core/ImageTriClassifier.h"
#include "organize/AutoOrganizer.h"
#include "support/Process.h"
#include "support/Shoot.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

using namespace fixtures;

namespace {

/// Every original file exists exactly once in the tree, under its own name or renamed "-k".
void expectEveryOriginalOnce(const Shoot& shoot) {
    std::map<QByteArray, int> seen;
    for (const auto& [path, hash] : treeHashes(shoot.dir()))
        ++seen[hash];
    for (const auto& [name, hash] : shoot.originals())
        EXPECT_EQ(seen[hash], 1) << name;
}

} // namespace

TEST(OrganizeRun, SortsAShootIntoExhibitFolders) {
    // One request at a time, and four in flight against replies that come back in any order: the
    // same log, plan and folders.
    for (const int requests : {1, 4}) {
        SCOPED_TRACE(testing::Message() << requests << " in flight");
        FakeAIServer server;
        ai::RemoteVisionBackend remote{{server.url(), "k", "m"}};
        TempDir dir;
        Shoot shoot(dir / "shoot", server);
        fs::create_directory(dir / "shoot");
        smallExhibition(shoot);
        writeBytes(dir / "shoot" / "notes.txt", "kept where it is");
        if (requests > 1) shoot.randomDelays(150, 25);

        QStringList lines;
        const auto result =
            AutoOrganizer::run(dir / "shoot", remote, core::logOnly([&](const QString& l) { lines << l; }),
                               {false, false, {}, nullptr, requests});
        EXPECT_TRUE(result.errors.isEmpty()) << result.errors.join("\n").toStdString();
        EXPECT_EQ(result.movedCount, 9);
        const QStringList expected = {
            "开始扫描：shoot",
            "模式：按拍摄时间整理 + 全量 AI 三分类",
            "扫描完成：共 9 个（RAW 2 / JPG 6 / HEIC 0 / 视频 1）",
            "识别任务 7 个（同名 RAW 跟移 2 个；有 JPG 则只认 JPG，Vision/AI 流程与原先一致）",
            "[1/7] 准备 AI 识别：IMG_0001.JPG",
            "[1/7] IMG_0001.JPG → 文物 (confidence 0.90)；同名跟移：IMG_0001.DNG",
            "[2/7] 准备 AI 识别：IMG_0002.JPG",
            "[2/7] IMG_0002.JPG → 文物 (confidence 0.90)",
            "[3/7] 准备 AI 识别：IMG_0003.JPG",
            "[3/7] IMG_0003.JPG → 标签 (confidence 0.90)",
            "[4/7] 准备 AI 识别：IMG_0004.JPG",
            "[4/7] IMG_0004.JPG → 展板 (confidence 0.90)",
            "[5/7] IMG_0005.MOV → 视频（不调 AI，按文物）",
            "[6/7] 准备 AI 识别：IMG_0006.JPG",
            "[6/7] IMG_0006.JPG → 标签 (confidence 0.90)；同名跟移：IMG_0006.DNG",
            "[7/7] 准备 AI 识别：IMG_0007.JPG",
            "[7/7] IMG_0007.JPG → 文物 (confidence 0.90)",
            "展板 1 个文件 → 0 展板",
            "抽取标签字段：IMG_0003.JPG (1/2)",
            "  名称=青铜鼎 来源=安阳殷墟出土 年代=商代晚期",
            "新组：1 青铜鼎 安阳殷墟出土 商代晚期（4 个文件）",
            "抽取标签字段：IMG_0006.JPG (2/2)",
            "  名称=玉琮 来源=寺墩遗址 年代=良渚文化",
            "新组：2 玉琮 寺墩遗址 良渚文化（3 个文件）",
            "剩余 1 个 → 3 其他",
            "—— 规划结果 ——",
            "文件夹 0 展板：1 个文件",
            "  • IMG_0004.JPG",
            "文件夹 1 青铜鼎 安阳殷墟出土 商代晚期：4 个文件",
            "  • IMG_0003.JPG",
            "  • IMG_0001.JPG",
            "  • IMG_0001.DNG",
            "  • IMG_0002.JPG",
            "文件夹 2 玉琮 寺墩遗址 良渚文化：3 个文件",
            "  • IMG_0006.JPG",
            "  • IMG_0006.DNG",
            "  • IMG_0005.MOV",
            "文件夹 3 其他：1 个文件",
            "  • IMG_0007.JPG",
            "创建：0 展板",
            "创建：1 青铜鼎 安阳殷墟出土 商代晚期",
            "创建：2 玉琮 寺墩遗址 良渚文化",
            "创建：3 其他",
            "全部完成。移动 9 个文件，错误 0 条。",
        };
        EXPECT_EQ(lines, expected);

        // The files are where the plan put them (the layout itself is MovesTest's), label files beside.
        EXPECT_EQ(treeHashes(dir / "shoot").count("1 青铜鼎 安阳殷墟出土 商代晚期/IMG_0003.json"), 1u);
        EXPECT_EQ(readFile(dir / "shoot/2 玉琮 寺墩遗址 良渚文化/IMG_0006.txt"),
                  "文物名称：玉琮\n文物来源：寺墩遗址\n年代：良渚文化\n其他：高 10 厘米");
        expectEveryOriginalOnce(shoot);

        // Each label card is read only after its own classification came back; several requests
        // were out at once only when asked for.
        const auto sent = server.requests();
        EXPECT_EQ(sent.size(), 8u);
        for (size_t i = 0; i < sent.size(); ++i) {
            if (sent[i].prompt == ImageTriClassifier::kPrompt) continue;
            const auto classified = std::find_if(sent.begin(), sent.begin() + long(i), [&](const auto& r) {
                return r.imageWidth == sent[i].imageWidth && r.prompt == ImageTriClassifier::kPrompt;
            });
            EXPECT_NE(classified, sent.begin() + long(i))
                << "label read " << i << " before its classification";
        }
        if (requests == 1)
            EXPECT_EQ(server.mostAtOnce(), 1);
        else
            EXPECT_GT(server.mostAtOnce(), 1);
    }
}

TEST(OrganizeRun, ABusyServiceGetsFewerRequestsAndTheSameOneAgain) {
    const QString halved =
        QStringLiteral("[警告] 模型服务繁忙（API 错误 %1: busy），同时请求数降为 %2，0 秒后重试：B2.JPG");
    struct Case {
        int requests, busyTimes, status;
        QStringList warnings;
        QStringList errors;
    };
    const std::vector<Case> cases = {
        {4, 2, 429, {halved.arg(429).arg(2), halved.arg(429).arg(1)}, {}},
        {4,
         3,
         503,
         {halved.arg(503).arg(2), halved.arg(503).arg(1)},
         {"分类失败 B2.JPG：API 错误 503: busy → 未分类"}},
        // One at a time, a busy reply is a failure like any other, as it always was.
        {1, 1, 429, {}, {"分类失败 B2.JPG：API 错误 429: busy → 未分类"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.requests << " in flight, busy " << c.busyTimes);
        FakeAIServer server;
        ai::RemoteVisionBackend remote{{server.url(), "k", "m"}};
        TempDir dir;
        Shoot shoot(dir.path(), server);
        shoot.artifact("A1.JPG", "2024:05:01 10:00:00");
        shoot.busy("B2.JPG", "2024:05:01 10:01:00", c.busyTimes, c.status);
        shoot.label("L3.JPG", "2024:05:01 10:02:00", "青铜鼎", "安阳殷墟出土", "商代晚期");
        shoot.artifact("A4.JPG", "2024:05:01 10:03:00");
        QStringList lines;
        const auto result =
            AutoOrganizer::run(dir.path(), remote, core::logOnly([&](const QString& l) { lines << l; }),
                               {false, false, {}, nullptr, c.requests});
        EXPECT_EQ(result.errors, c.errors);
        // The warnings come in the unit's own turn, between its request and its outcome.
        const qsizetype asked = lines.indexOf(QStringLiteral("[2/4] 准备 AI 识别：B2.JPG"));
        ASSERT_GE(asked, 0);
        EXPECT_EQ(lines.mid(asked + 1, c.warnings.size()), c.warnings);
        EXPECT_EQ(lines.filter(QStringLiteral("[警告] ")).size(), c.warnings.size());
        EXPECT_TRUE(lines.last().startsWith(QStringLiteral("全部完成。移动 4 个文件")));
        expectEveryOriginalOnce(shoot);
    }
}

namespace {

/// Six exhibits of four shots and a label each.
void sixExhibits(Shoot& shoot) {
    for (int exhibit = 0; exhibit < 6; ++exhibit) {
        const QString minute = QStringLiteral("%1").arg(exhibit * 5, 2, 10, QChar('0'));
        for (int shot = 0; shot < 4; ++shot)
            shoot.artifact("E" + std::to_string(exhibit) + "_" + std::to_string(shot) + ".JPG",
                           QStringLiteral("2024:05:01 10:%1:0%2").arg(minute).arg(shot));
        shoot.label("E" + std::to_string(exhibit) + "_L.JPG",
                    QStringLiteral("2024:05:01 10:%1:59").arg(minute), QStringLiteral("器物%1").arg(exhibit),
                    QStringLiteral("遗址%1").arg(exhibit), QStringLiteral("汉"));
    }
}

} // namespace

TEST(OrganizeRun, CancelledStopsAfterTheCurrentFileAndASecondRunFinishes) {
    struct Case {
        int moves;
        size_t requests;
        int inFlight = 1;
    };
    // Interrupted while classifying, while reading labels, and after 1, 9 and 15 moves; with four
    // requests in flight (answered in any order) while classifying and while reading labels.
    for (const Case c : std::vector<Case>{
             {1000, 3}, {1000, 33}, {1, 1000}, {9, 1000}, {15, 1000}, {1000, 10, 4}, {1000, 34, 4}}) {
        SCOPED_TRACE(testing::Message()
                     << "moves " << c.moves << ", requests " << c.requests << ", in flight " << c.inFlight);
        FakeAIServer server;
        TempDir home, dir;
        Shoot shoot(dir.path(), server);
        sixExhibits(shoot);
        if (c.inFlight > 1) shoot.randomDelays(200, unsigned(c.requests));
        const QProcessEnvironment env = isolatedEnvironment(QString::fromStdString(home.path().string()));
        const QStringList args{"organize",
                               QString::fromStdString(dir.path().string()),
                               "--base-url",
                               server.url(),
                               "--no-prefilter",
                               "--requests",
                               QString::number(c.inFlight)};
        QProcess process;
        process.setProcessEnvironment(env);
        process.setArguments(args);
        // SIGINT once `moves` files have left, the server has seen `requests` requests, or it ended.
        signalAfterMoves(
            process, dir.path(), c.moves, [&] { return server.requests().size() >= c.requests; }, SIGINT);
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        const QStringList lines = unstamped(QString::fromUtf8(process.readAllStandardOutput()));
        ASSERT_GE(lines.size(), 3);
        EXPECT_EQ(lines.last(), QStringLiteral("—— 整理结束 ——"));
        // The last moves are quick: a signal may arrive only after the run is done, and then it
        // has nothing left to stop.
        const bool finished = lines.join('\n').contains(QStringLiteral("全部完成"));
        EXPECT_EQ(process.exitCode(), finished ? 0 : 130);
        // Stopped while classifying with requests in flight: those are answered, nothing more.
        if (c.inFlight > 1 && c.requests < 30) {
            EXPECT_FALSE(finished);
            EXPECT_LE(server.requests().size(), c.requests + size_t(c.inFlight) + 3);
        }
        // The line says how many files moved, and exactly that many did.
        int moved = 0;
        for (const auto& [path, hash] : treeHashes(dir.path()))
            moved +=
                !fs::path(path).parent_path().empty() && !path.ends_with(".json") && !path.ends_with(".txt");
        if (!finished) {
            EXPECT_TRUE(lines.contains(
                QStringLiteral("[取消] 已停止：已移动 %1 个文件，其余文件保持原位").arg(moved)))
                << lines.join('\n').toStdString();
        }
        expectEveryOriginalOnce(shoot);
        for (const auto& [path, hash] : treeHashes(dir.path()))
            EXPECT_NE(fs::path(path).filename().string().rfind(platform::kTemporaryPrefix, 0), 0u) << path;

        // The lock is free again, and a second run finishes the job (or finds nothing left).
        const auto second = runCli(args, env);
        EXPECT_EQ(second.exitCode, finished ? 1 : 0) << second.stdoutText.toStdString();
        expectEveryOriginalOnce(shoot);
        for (const auto& [path, hash] : treeHashes(dir.path()))
            EXPECT_NE(fs::path(path).parent_path(), fs::path()) << path << " left at the top level";
    }
}
