#include "ai/RemoteVisionBackend.h"
#include "organize/AutoOrganizer.h"
#include "support/Process.h"
#include "support/Shoot.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <signal.h>

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

TEST(OrganizeRun, ABusyServiceGetsFewerRequestsAndTheSameOneAgain) {
    const QString halved =
        QStringLiteral("[警告] 模型服务繁忙（API 错误 %1: busy），同时请求数降为 %2，0 秒后重试：B2.JPG");
    // Four in flight: halved twice, then the same request again; one at a time, a busy reply is a
    // failure like any other, as it always was.
    const std::tuple<int, int, int, bool> cases[] = {
        {4, 2, 429, false}, {4, 3, 503, true}, {1, 1, 429, true}};
    for (const auto& [requests, busyTimes, status, fails] : cases) {
        SCOPED_TRACE(testing::Message() << requests << " in flight, busy " << busyTimes);
        const QStringList warnings =
            requests > 1 ? QStringList{halved.arg(status).arg(2), halved.arg(status).arg(1)} : QStringList();
        const QString failure = QStringLiteral("分类失败 B2.JPG：API 错误 %1: busy → 未分类").arg(status);
        FakeAIServer server;
        ai::RemoteVisionBackend remote{{server.url(), "k", "m"}};
        TempDir dir;
        Shoot shoot(dir.path(), server);
        shoot.artifact("A1.JPG", "2024:05:01 10:00:00");
        shoot.busy("B2.JPG", "2024:05:01 10:01:00", busyTimes, status);
        shoot.label("L3.JPG", "2024:05:01 10:02:00", "青铜鼎", "安阳殷墟出土", "商代晚期");
        shoot.artifact("A4.JPG", "2024:05:01 10:03:00");
        QStringList lines;
        const auto result =
            AutoOrganizer::run(dir.path(), remote, core::logOnly([&](const QString& l) { lines << l; }),
                               {false, false, {}, nullptr, requests});
        EXPECT_EQ(result.errors, fails ? QStringList{failure} : QStringList());
        // The warnings come in the unit's own turn, between its request and its outcome.
        const qsizetype asked = lines.indexOf(QStringLiteral("[2/4] 准备 AI 识别：B2.JPG"));
        ASSERT_GE(asked, 0);
        EXPECT_EQ(lines.mid(asked + 1, warnings.size()), warnings);
        EXPECT_EQ(lines.filter(QStringLiteral("[警告] ")).size(), warnings.size());
        EXPECT_TRUE(lines.last().startsWith(QStringLiteral("全部完成。移动 4 个文件")));
        expectEveryOriginalOnce(shoot);
    }
}

TEST(OrganizeRun, CancelledStopsAfterTheCurrentFileAndASecondRunFinishes) {
    // Interrupted while classifying, while reading labels, and after 1, 9 and 15 moves; with four
    // requests in flight (answered in any order) while classifying and while reading labels.
    const std::tuple<int, size_t, int> cases[] = {{1000, 3, 1},  {1000, 33, 1}, {1, 1000, 1}, {9, 1000, 1},
                                                  {15, 1000, 1}, {1000, 10, 4}, {1000, 34, 4}};
    for (const auto& [moves, requests, inFlight] : cases) {
        SCOPED_TRACE(testing::Message()
                     << "moves " << moves << ", requests " << requests << ", in flight " << inFlight);
        FakeAIServer server;
        TempDir home, dir;
        Shoot shoot(dir.path(), server);
        for (int e = 0; e < 6; ++e) { // six exhibits of four shots and a label each
            const std::string stem = "E" + std::to_string(e);
            for (int shot = 0; shot < 4; ++shot)
                shoot.artifact(stem + "_" + std::to_string(shot) + ".JPG",
                               QString::asprintf("2024:05:01 10:%02d:%02d", e * 5, shot));
            shoot.label(stem + "_L.JPG", QString::asprintf("2024:05:01 10:%02d:59", e * 5),
                        QStringLiteral("器物%1").arg(e), QStringLiteral("遗址%1").arg(e), "汉");
        }
        if (inFlight > 1) shoot.randomDelays(200, unsigned(requests));
        const QProcessEnvironment env = isolatedEnvironment(QString::fromStdString(home.path().string()));
        const auto args =
            QStringList({"organize", QString::fromStdString(dir.path().string()), "--base-url", server.url(),
                         "--no-prefilter", "--requests", QString::number(inFlight)});
        QProcess process;
        process.setProcessEnvironment(env);
        process.setArguments(args);
        // SIGINT once `moves` files have left, the server has seen `requests` requests, or it ended.
        signalAfterMoves(
            process, dir.path(), moves, [&] { return server.requests().size() >= requests; }, SIGINT);
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        const QStringList lines = unstamped(QString::fromUtf8(process.readAllStandardOutput()));
        ASSERT_GE(lines.size(), 3);
        EXPECT_EQ(lines.last(), QStringLiteral("—— 整理结束 ——"));
        // The last moves are quick: a signal may arrive only after the run is done, and then it
        // has nothing left to stop.
        const bool finished = lines.join('\n').contains(QStringLiteral("全部完成"));
        EXPECT_EQ(process.exitCode(), finished ? 0 : 130);
        // Stopped while classifying with requests in flight: those are answered, nothing more.
        if (inFlight > 1 && requests < 30) {
            EXPECT_FALSE(finished);
            EXPECT_LE(server.requests().size(), requests + size_t(inFlight) + 3);
        }
        // The line says how many files moved, and exactly that many did; no temporary is left.
        int moved = 0;
        for (const auto& [path, hash] : treeHashes(dir.path())) {
            const fs::path file(path);
            moved += !file.parent_path().empty() && file.extension() != ".json" && file.extension() != ".txt";
            EXPECT_FALSE(file.filename().string().starts_with(platform::kTemporaryPrefix)) << path;
        }
        if (!finished) {
            EXPECT_TRUE(lines.contains(
                QStringLiteral("[取消] 已停止：已移动 %1 个文件，其余文件保持原位").arg(moved)))
                << lines.join('\n').toStdString();
        }
        expectEveryOriginalOnce(shoot);

        // The lock is free again, and a second run finishes the job (or finds nothing left).
        const auto second = runCli(args, env);
        EXPECT_EQ(second.exitCode, finished ? 1 : 0) << second.stdoutText.toStdString();
        expectEveryOriginalOnce(shoot);
        for (const auto& [path, hash] : treeHashes(dir.path()))
            EXPECT_NE(fs::path(path).parent_path(), fs::path()) << path << " left at the top level";
    }
}
