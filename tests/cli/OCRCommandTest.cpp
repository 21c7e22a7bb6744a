#include "support/FakeAIServer.h"
#include "support/Fixtures.h"
#include "support/Process.h"

#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace fixtures;

namespace {

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

QString q(const fs::path& p) {
    return QString::fromStdString(p.string());
}

} // namespace

TEST(OCRCommand, ReadsEachImageOnceAndReportsFailures) {
    TempDir home, dir;
    fs::create_directories(dir / "wall" / "sub");
    writeJpeg(dir / "wall" / "a.jpg", 64, 48, Dates{"2024:03:01 10:00:01", std::nullopt});
    writeJpeg(dir / "wall" / "b.jpg", 64, 48, Dates{"2024:03:01 10:00:02", std::nullopt});
    writeJpeg(dir / "wall" / "sub" / "deep.jpg", 64, 48);
    FakeAIServer server;
    server.enqueue(FakeAIServer::chat("```\n第一块展板\n```"));
    server.enqueue(FakeAIServer::Reply{500, R"({"error":{"message":"overloaded"}})"});

    const auto env = isolatedEnvironment(q(home.path()));
    // The folder and one of its photos: each photo is read once.
    const auto run = runCli({"ocr", q(dir / "wall"), q(dir / "wall" / "a.jpg"), "--base-url", server.url(),
                             "--model", "vision-1"},
                            env);
    EXPECT_EQ(run.exitCode, 1) << run.stdoutText.toStdString() << run.stderrText.toStdString();
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(readAll(dir / "wall" / "a.txt"), "第一块展板");
    EXPECT_FALSE(fs::exists(dir / "wall" / "b.txt"));
    EXPECT_FALSE(fs::exists(dir / "wall" / "sub" / "deep.txt"));

    const QStringList lines = unstamped(run.stdoutLines());
    ASSERT_GE(lines.size(), 8);
    EXPECT_EQ(lines[0], "—— 开始 OCR ——");
    EXPECT_TRUE(lines[1].startsWith("日志文件：Vitrino_"));
    EXPECT_EQ(lines.mid(2, 5),
              (QStringList{"使用 AI 接口：" + QUrl(server.url()).authority() + "（模型 vision-1）",
                           "wall：当前层 2 张图片（已忽略子目录和视频）", "OCR：a.jpg",
                           "已写入 a.txt（5 字）", "OCR：b.jpg"}));
    EXPECT_TRUE(lines[7].startsWith("[失败] b.jpg：API 错误 500")) << lines[7].toStdString();
    EXPECT_EQ(lines.mid(8), (QStringList{"错误汇总 1 条（详见上方日志）", "—— OCR 结束 ——"}));
    EXPECT_FALSE(run.stdoutText.contains("sk-test"));
}

TEST(OCRCommand, AnInterruptStopsBetweenImagesAndFreesTheLock) {
    TempDir home, dir;
    for (int i = 1; i <= 5; ++i)
        writeJpeg(dir / ("IMG_" + std::to_string(i) + ".JPG"), 64, 48);
    FakeAIServer server;
    server.setHandler([](const FakeAIServer::Request&) {
        auto reply = FakeAIServer::chat("展板文字");
        reply.delayMs = 300;
        return reply;
    });
    const auto env = isolatedEnvironment(q(home.path()));
    const QStringList args{"ocr", q(dir.path()), "--base-url", server.url(), "--model", "vision-1"};
    QProcess process;
    process.setProcessEnvironment(env);
    process.setArguments(args);
    // Interrupted while the second image is being read: that one is finished, the rest are not.
    signalAfterMoves(
        process, dir.path(), 1000, [&] { return server.requests().size() >= 2; }, SIGINT);
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130);
    const QStringList lines = unstamped(QString::fromUtf8(process.readAllStandardOutput()));
    EXPECT_EQ(std::count_if(fs::directory_iterator(dir.path()), {},
                            [](const fs::directory_entry& e) { return e.path().extension() == ".txt"; }),
              2);
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_TRUE(lines.contains(QStringLiteral("[取消] 已停止：已写入 2 个文本文件，其余图片未读")))
        << lines.join('\n').toStdString();
    EXPECT_EQ(lines.value(lines.size() - 1), "—— OCR 结束 ——");

    // The lock is free again: a second run reads every image.
    const auto again = runCli(args, env);
    EXPECT_EQ(again.exitCode, 0) << again.stdoutText.toStdString();
    EXPECT_EQ(server.requests().size(), 7u);
}
