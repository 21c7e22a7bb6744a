#include "ai/AIClient.h"
#include "support/FakeAIServer.h"
#include "support/Fixtures.h"

#include <QJsonArray>

#include <gtest/gtest.h>

using namespace fixtures;
using namespace std::chrono_literals;

namespace {

struct AIClientTest : testing::Test {
    FakeAIServer server;
    TempDir dir;
    fs::path photo = dir / "photo.jpg";
    void SetUp() override { writeJpeg(photo, 3000, 2000); }
    ai::AISettings settings() const {
        return {server.url(), QStringLiteral("  sk-test  "), QStringLiteral(" vision-1 ")};
    }
};

} // namespace

TEST_F(AIClientTest, SendsExactlyTheProtocolRequestOrNothing) {
    server.enqueue(FakeAIServer::chat(QStringLiteral("  {\"category\":\"label\"}  ")));
    const auto reply = AIClient::chatWithImage(photo, QStringLiteral("提示词"), settings(), 128);
    EXPECT_EQ(reply.value(), QStringLiteral("  {\"category\":\"label\"}  "));

    ASSERT_EQ(server.requests().size(), 1u);
    const auto r = server.requests().at(0);
    EXPECT_EQ(r.path, "/api/v3/chat/completions");
    EXPECT_EQ(r.headers.at("authorization"), "Bearer sk-test");
    EXPECT_EQ(r.headers.at("content-type"), "application/json");

    const QJsonObject image{{"type", "image_url"}, {"image_url", QJsonObject{{"url", r.imageURL}}}};
    const QJsonObject text{{"type", "text"}, {"text", QStringLiteral("提示词")}};
    EXPECT_EQ(r.body,
              QJsonObject({{"model", "vision-1"},
                           {"max_tokens", 128},
                           {"thinking", QJsonObject{{"type", "disabled"}}},
                           {"messages", QJsonArray{QJsonObject{{"role", "user"},
                                                               {"content", QJsonArray{image, text}}}}}}));
    EXPECT_TRUE(r.imageURL.startsWith(QStringLiteral("data:image/jpeg;base64,")));
    EXPECT_EQ(r.imageWidth, 2560);
    EXPECT_EQ(r.imageHeight, 1706);

    // Wrong settings or an image that cannot be read: nothing more is sent.
    const QString url = server.url();
    const struct {
        const char* name;
        ai::AISettings settings;
        fs::path image;
        QString description;
    } cases[] = {
        {"key of spaces", {url, "   ", "m"}, photo, "请先填写 API Base URL、Key 与 Model"},
        {"not a URL", {"http://exa mple.com/x", "k", "m"}, photo, "API Base URL 无效"},
        {"file URL", {"file:///etc/passwd", "k", "m"}, photo, "API Base URL 无效"},
        {"unreadable image", {url, "k", "m"}, dir / "missing.jpg", "图片准备失败：无法读取或解码图片"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AIClient::chatWithImage(c.image, "p", c.settings, 16).error().description(), c.description);
    }
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(AIClientTest, MapsEveryServerAnswerToItsResult) {
    struct Case {
        const char* name;
        FakeAIServer::Reply reply;
        QString result; ///< the content, or the failure's description
        bool busy = false;
        std::optional<int> retryAfterMs = {};
    };
    const auto waitingFor = [](int status, const char* body, const char* seconds) {
        return FakeAIServer::Reply{status, body, "text/plain", 0, false, {{"Retry-After", seconds}}};
    };
    const std::vector<Case> cases = {
        {"401 passes the body through",
         {401, R"({"error":{"message":"bad key"}})"},
         R"(API 错误 401: {"error":{"message":"bad key"}})"},
        {"non-UTF-8 error body", {400, "\xff\xfe\xfd", "text/plain"}, "API 错误 400: 400"},
        {"empty choices", {200, R"({"choices":[]})"}, "无法解析 API 返回"},
        {"content with spaces kept", FakeAIServer::chat(" 你好 \n"), " 你好 \n"},
        {"429 is busy, with its wait", waitingFor(429, "slow down", "7"), "API 错误 429: slow down", true,
         7000},
        {"503 without a wait", {503, "overloaded", "text/plain"}, "API 错误 503: overloaded", true},
        {"a wait on another error is kept, not busy", waitingFor(500, "x", "3"), "API 错误 500: x", false,
         3000},
    };
    const auto prepared = RAWJPEGExporter::prepareForUpload(photo);
    ASSERT_TRUE(prepared.ok());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.enqueue(c.reply);
        const auto reply = AIClient::chatWithImage(photo, "p", settings(), 16, *prepared);
        EXPECT_EQ(reply.ok() ? *reply : reply.error().description(), c.result);
        EXPECT_EQ(!reply.ok() && reply.error().isBusy(), c.busy);
        EXPECT_EQ(reply.ok() ? std::nullopt : reply.error().retryAfterMs, c.retryAfterMs);
    }

    // Retry-After as seconds or as an HTTP date, never negative and never longer than two minutes.
    const QDateTime now(QDate(2015, 10, 21), QTime(7, 28), Qt::UTC);
    const std::vector<std::pair<QByteArray, std::optional<int>>> waits = {
        {"0", 0},
        {" 12 ", 12000},
        {"86400", 120000},
        {"soon", std::nullopt},
        {"Wed, 21 Oct 2015 07:28:05 GMT", 5000},
        {"Wed, 21 Oct 2015 07:27:00 GMT", 0}};
    for (const auto& [value, expected] : waits)
        EXPECT_EQ(AIClient::retryAfterMs(value, now), expected) << value.toStdString();

    // No answer: a connection dropped half way keeps the network's description; a slow one times out.
    server.enqueue(
        {200, FakeAIServer::chat("a long enough reply to be cut in half").body, "application/json", 0, true});
    const auto dropped = AIClient::chatWithImage(photo, "p", settings(), 16, *prepared);
    EXPECT_EQ(dropped.error().kind, AIClient::ClientError::Kind::transport);
    EXPECT_FALSE(dropped.error().description().isEmpty());
    server.enqueue({200, FakeAIServer::chat("late").body, "application/json", 3000});
    const auto slow = AIClient::chatWithImage(photo, "p", settings(), 16, *prepared, 300ms);
    EXPECT_EQ(slow.error().description(), QStringLiteral("请求超时：0.3 秒内没有响应"));
}
