#include "core/ImageTriClassifier.h"
#include "support/FakeAIServer.h"
#include "support/Fixtures.h"
#include "support/Process.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace fixtures;

namespace {

struct AICommands : testing::Test {
    FakeAIServer server;
    TempDir dir;
    fs::path photo = dir / "photo.jpg";
    void SetUp() override { writeJpeg(photo, 1200, 800); }

    /// A child environment with its own (empty) preferences and, optionally, a key.
    QProcessEnvironment env(const QString& key = QStringLiteral("sk-from-env")) const {
        return isolatedEnvironment(QString::fromStdString(dir.path().string()), key);
    }
    QString path(const fs::path& p) const { return QString::fromStdString(p.string()); }
};

} // namespace

TEST_F(AICommands, ChatSendsThePromptAndPrintsTheReply) {
    server.enqueue(FakeAIServer::chat(QStringLiteral("{\"category\":\"panel\"}")));
    const auto run =
        runCli({"chat", path(photo), "--prompt", "tri", "--base-url", server.url(), "--model", "m1"}, env());
    EXPECT_EQ(run.exitCode, 0) << run.stderrText.toStdString();
    EXPECT_EQ(run.stdoutText, QStringLiteral("{\"category\":\"panel\"}\n"));
    ASSERT_EQ(server.requests().size(), 1u);
    const auto r = server.requests()[0];
    EXPECT_EQ(r.prompt, ImageTriClassifier::kPrompt);
    EXPECT_EQ(r.body.value("max_tokens").toInt(), 128);
    EXPECT_EQ(r.body.value("model").toString(), QStringLiteral("m1"));
    EXPECT_EQ(r.headers.at("authorization"), "Bearer sk-from-env");

    writeBytes(dir / "prompt.txt", "读出图中文字");
    server.enqueue(FakeAIServer::chat(QStringLiteral("文字")));
    const auto file = runCli({"chat", path(photo), "--prompt", path(dir / "prompt.txt"), "--max-tokens", "7",
                              "--base-url", server.url(), "--model", "m1"},
                             env());
    EXPECT_EQ(file.exitCode, 0);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].prompt, QStringLiteral("读出图中文字"));
    EXPECT_EQ(server.requests()[1].body.value("max_tokens").toInt(), 7);
}

TEST_F(AICommands, ChatRefusesOrFailsCleanly) {
    server.setHandler([](const FakeAIServer::Request&) { return FakeAIServer::Reply{401, "invalid key"}; });
    struct Case {
        const char* name;
        QStringList args;
        QString key;
        int exitCode;
        QString stderrText;
        size_t requests;
    };
    const QString url = server.url();
    const std::vector<Case> cases = {
        {"no key",
         {"chat", path(photo), "--prompt", "tri", "--base-url", url},
         "",
         2,
         "请先填写 API Base URL、Key 与 Model",
         0},
        {"key as an argument is refused",
         {"chat", path(photo), "--prompt", "tri", "--api-key", "sk-x"},
         "k",
         2,
         "",
         0},
        {"server says 401",
         {"chat", path(photo), "--prompt", "tri", "--base-url", url},
         "k",
         1,
         "API 错误 401: invalid key",
         1},
        {"unknown prompt",
         {"chat", path(photo), "--prompt", "nosuchprompt", "--base-url", url},
         "k",
         2,
         "无法读取提示词：nosuchprompt",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto run = runCli(c.args, env(c.key));
        EXPECT_EQ(run.exitCode, c.exitCode);
        if (!c.stderrText.isEmpty()) {
            EXPECT_EQ(run.stderrText.trimmed(), c.stderrText);
        }
        EXPECT_TRUE(run.stdoutText.isEmpty());
        EXPECT_FALSE(run.stderrText.contains(QStringLiteral("sk-x")));
        EXPECT_EQ(server.requests().size(), c.requests);
    }
}

TEST_F(AICommands, PrepareWritesTheUploadAndReportsIt) {
    const auto out = dir / "prepared.jpg";
    const auto run = runCli({"prepare", path(photo), "-o", path(out)}, env());
    EXPECT_EQ(run.exitCode, 0) << run.stderrText.toStdString();
    static const QRegularExpression line(QStringLiteral(
        "^尺寸 1200×800，大小 (\\d+) 字节，质量 0\\.90，m=[0-9.]+，h=[0-9.]+，ev=([0-9.]+|-)\n$"));
    const auto match = line.match(run.stdoutText);
    ASSERT_TRUE(match.hasMatch()) << run.stdoutText.toStdString();
    EXPECT_EQ(match.captured(1).toLongLong(), qint64(fs::file_size(out)));

    writeBytes(dir / "broken.jpg", "not an image");
    const auto bad = runCli({"prepare", path(dir / "broken.jpg"), "-o", path(dir / "never.jpg")}, env());
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.stderrText.trimmed(), QStringLiteral("图片准备失败：无法读取或解码图片"));
    EXPECT_FALSE(fs::exists(dir / "never.jpg"));
}

TEST_F(AICommands, ClassifyPrintsThePipelineAndASummary) {
    const fs::path shoot = dir / "shoot";
    fs::create_directory(shoot);
    writeJpeg(shoot / "wall.jpg", 640, 480, Dates{"2024:05:01 10:00:00", std::nullopt});
    writeBytes(shoot / "clip.mov", "video");
    setModified(shoot / "clip.mov", QDateTime(QDate(2024, 5, 1), QTime(11, 0), Qt::LocalTime));
    server.enqueue(FakeAIServer::chat(R"({"category":"panel","confidence":0.8})"));
    const auto run = runCli(
        {"classify", path(shoot), "--no-prefilter", "--base-url", server.url(), "--model", "m"}, env());
    EXPECT_EQ(run.exitCode, 0) << run.stderrText.toStdString();
    EXPECT_EQ(run.stdoutLines(),
              QStringList({
                  "扫描完成：共 2 个（RAW 0 / JPG 1 / HEIC 0 / 视频 1）",
                  "识别任务 2 个（同名 RAW 跟移 0 个；有 JPG 则只认 JPG，Vision/AI 流程与原先一致）",
                  "[1/2] 准备 AI 识别：wall.jpg",
                  "[1/2] wall.jpg → 展板 (confidence 0.80)",
                  "[2/2] clip.mov → 视频（不调 AI，按文物）",
                  "分类完成：展板 1，标签 0，文物 1，未分类 0；Vision 直接归文物 0 张；错误 0 条",
              }));
}
