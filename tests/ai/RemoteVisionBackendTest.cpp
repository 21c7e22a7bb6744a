#include "ai/RemoteVisionBackend.h"
#include "support/FakeAIServer.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

using namespace fixtures;

TEST(RemoteVisionBackend, SendsEachPromptWithItsBudgetAndParsesTheReply) {
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
    ASSERT_TRUE(prepared.ok());
    const auto category = backend.classify(dir / "photo.jpg", *prepared);
    ASSERT_TRUE(category.ok());
    EXPECT_EQ(category->category, MediaCategory::panel);
    EXPECT_EQ(category->confidence, 0.8);
    const auto label = backend.readLabel(dir / "photo.jpg");
    ASSERT_TRUE(label.ok());
    EXPECT_EQ(*label, (RelicLabelExtracted{"玉琮", "", "良渚文化", ""}));
    const auto garbage = backend.readLabel(dir / "photo.jpg");
    ASSERT_FALSE(garbage.ok());
    EXPECT_EQ(garbage.error().description(), QStringLiteral("无法解析 API 返回"));
    const auto failed = backend.readLabel(dir / "photo.jpg");
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().description(), QStringLiteral("API 错误 500: overloaded"));
    const auto text = backend.readText(dir / "photo.jpg");
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text, QStringLiteral("第一行\n第二行"));

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

TEST(RemoteVisionBackend, AnUnreadablePhotoNeverReachesTheService) {
    FakeAIServer server;
    TempDir dir;
    writeBytes(dir / "broken.jpg", "not a picture");
    ai::RemoteVisionBackend backend({server.url(), "k", "m"});
    const auto prepared = backend.prepare(dir / "broken.jpg");
    ASSERT_FALSE(prepared.ok());
    EXPECT_EQ(prepared.error().description(), QStringLiteral("无法读取或解码图片"));
    const auto label = backend.readLabel(dir / "broken.jpg");
    ASSERT_FALSE(label.ok());
    EXPECT_EQ(label.error().description(), QStringLiteral("图片准备失败：无法读取或解码图片"));
    EXPECT_TRUE(server.requests().empty());
}
