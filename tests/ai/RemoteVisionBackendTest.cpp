#include "ai/RemoteVisionBackend.h"
#include "support/FakeAIServer.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

using namespace fixtures;

TEST(RemoteVisionBackend, SendsEachPromptWithItsBudgetAndParsesTheReplyOrSendsNothing) {
    FakeAIServer server;
    TempDir dir;
    writeJpeg(dir / "photo.jpg", 400, 300);
    ai::RemoteVisionBackend backend({server.url(), "k", "m"});
    server.enqueue(FakeAIServer::chat(R"({"category":"panel","confidence":0.8})"));
    server.enqueue(FakeAIServer::chat(
        "```json\n{\"文物名称\":\"玉琮\",\"文物来源\":\"\",\"年代\":\"良渚文化\",\"其他\":\"\",}\n```"));
    server.enqueue(FakeAIServer::chat("抱歉，我看不清。"));
    server.enqueue(FakeAIServer::Reply{500, "overloaded", "text/plain"});
    server.enqueue(FakeAIServer::chat("第一行\n第二行"));

    const auto prepared = backend.prepare(dir / "photo.jpg");
    const auto category = backend.classify(dir / "photo.jpg", prepared.value());
    EXPECT_EQ(category->category, MediaCategory::panel);
    EXPECT_EQ(category->confidence, 0.8);
    EXPECT_EQ(backend.readLabel(dir / "photo.jpg").value(),
              (RelicLabelExtracted{"玉琮", "", "良渚文化", ""}));
    EXPECT_EQ(backend.readLabel(dir / "photo.jpg").error().description(),
              QStringLiteral("无法解析 API 返回"));
    EXPECT_EQ(backend.readLabel(dir / "photo.jpg").error().description(),
              QStringLiteral("API 错误 500: overloaded"));
    EXPECT_EQ(backend.readText(dir / "photo.jpg").value(), QStringLiteral("第一行\n第二行"));

    // A photo that cannot be prepared never reaches the service.
    writeBytes(dir / "broken.jpg", "not a picture");
    EXPECT_EQ(backend.prepare(dir / "broken.jpg").error().description(),
              QStringLiteral("无法读取或解码图片"));
    EXPECT_EQ(backend.readLabel(dir / "broken.jpg").error().description(),
              QStringLiteral("图片准备失败：无法读取或解码图片"));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 5u);
    const std::pair<QString, int> expected[] = {
        {core::prompts::kClassify, 128}, {core::prompts::kLabel, 4096}, {core::prompts::kLabel, 4096},
        {core::prompts::kLabel, 4096},   {core::prompts::kOCR, 4096},
    };
    for (size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(requests[i].prompt, expected[i].first);
        EXPECT_EQ(requests[i].body.value("max_tokens").toInt(), expected[i].second);
        EXPECT_EQ(requests[i].imageWidth, 400);
    }
    // The prepared photo is sent as prepared: one preparation serves the request.
    EXPECT_EQ(requests[0].imageBytes,
              std::string(prepared->upload->data.constData(), size_t(prepared->upload->data.size())));
}
