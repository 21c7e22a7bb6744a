#include "engine/LocalAIService.h"
#include "ai/AIClient.h"
#include "ai/RemoteVisionBackend.h"
#include "samples/Scenes.h"
#include "services/ImageOCRProcessor.h"
#include "support/Fixtures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <random>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace fixtures;

namespace {

QByteArray request(const QString& prompt, const QString& url) {
    const QJsonObject body{
        {"model", "m"},
        {"messages",
         QJsonArray{QJsonObject{{"role", "user"},
                                {"content", QJsonArray{QJsonObject{{"type", "image_url"},
                                                                   {"image_url", QJsonObject{{"url", url}}}},
                                                       QJsonObject{{"type", "text"}, {"text", prompt}}}}}}},
        {"max_tokens", 128}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

} // namespace

TEST(OfflineEngine, RecognisesOnlyVitrinosPrompts) {
    EXPECT_EQ(engine::promptKind(ImageTriClassifier::kPrompt), engine::PromptKind::classify);
    EXPECT_EQ(engine::promptKind(RelicLabelExtracted::kPrompt), engine::PromptKind::label);
    EXPECT_EQ(engine::promptKind(ImageOCRProcessor::kPrompt), engine::PromptKind::ocr);
    EXPECT_EQ(engine::promptKind(ImageTriClassifier::kPrompt + " "), std::nullopt);
    EXPECT_EQ(ImageOCRProcessor::kPrompt.toUtf8().size(), 245);
}

TEST(OfflineEngine, RefusesBadRequestsWithAJsonError) {
    const auto bytes = platform::encodeJpeg(picture(64, 48), 90);
    const QString jpeg =
        QStringLiteral("data:image/jpeg;base64,") +
        QByteArray(reinterpret_cast<const char*>(bytes->data()), qsizetype(bytes->size())).toBase64();
    std::mt19937 rng(7);
    QByteArray garbage(4096, 0);
    for (auto& c : garbage)
        c = char(rng());
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"random bytes", garbage},
        {"empty", QByteArray()},
        {"not an object", "[1,2,3]"},
        {"no messages", "{}"},
        {"unknown prompt", request("Describe this picture.", jpeg)},
        {"no image", request(ImageTriClassifier::kPrompt, "")},
        {"not a data URL", request(ImageTriClassifier::kPrompt, "https://example.com/a.jpg")},
        {"bad base64", request(ImageTriClassifier::kPrompt, "data:image/jpeg;base64,@@@###")},
        {"not an image",
         request(ImageTriClassifier::kPrompt, "data:image/jpeg;base64," + QByteArray("hello").toBase64())},
    };
    for (const auto& [name, body] : cases) {
        SCOPED_TRACE(name);
        const auto reply = engine::answer(body);
        EXPECT_EQ(reply.status, 400);
        const QJsonObject error = QJsonDocument::fromJson(reply.body).object().value("error").toObject();
        EXPECT_FALSE(error.value("message").toString().isEmpty());
    }
    // The same image with the classification prompt is answered.
    const auto ok = engine::answer(request(ImageTriClassifier::kPrompt, jpeg));
    EXPECT_EQ(ok.status, 200);
}

TEST(OfflineEngine, ServesOverHttpAndSurvivesHugeBodies) {
    engine::LocalAIServer server;
    ASSERT_TRUE(server.start().ok());
    TempDir dir;
    const auto card = scenes::LabelCard{"青铜鼎", "河南安阳殷墟出土", "商代晚期", {"高 42 厘米"}};
    scenes::writePhoto(dir / "label.jpg", scenes::renderLabel(card, 3, 1600, 1067));
    const ai::AISettings settings{server.url(), engine::kApiKey, engine::kModelID};

    const auto category =
        AIClient::chatWithImage(dir / "label.jpg", ImageTriClassifier::kPrompt, settings, 128);
    ASSERT_TRUE(category.ok()) << category.error().description().toStdString();
    EXPECT_EQ(ImageTriClassifier::parse(*category).category, MediaCategory::label);

    ai::RemoteVisionBackend overHttp(settings);
    const auto fields = overHttp.readLabel(dir / "label.jpg");
    ASSERT_TRUE(fields.ok());
    EXPECT_EQ(fields->name, QStringLiteral("青铜鼎"));
    EXPECT_EQ(fields->source, QStringLiteral("河南安阳殷墟出土"));
    EXPECT_EQ(fields->period, QStringLiteral("商代晚期"));
    EXPECT_TRUE(fields->other.contains(QStringLiteral("厘米")));
    EXPECT_FALSE(fields->other.contains(QStringLiteral("青铜鼎")));

    const auto text = AIClient::chatWithImage(dir / "label.jpg", ImageOCRProcessor::kPrompt, settings, 4096);
    ASSERT_TRUE(text.ok());
    EXPECT_TRUE(text->startsWith(QStringLiteral("青铜鼎\n"))) << text->toStdString();

    // 65 MB of prompt is refused before it is parsed; the server goes on answering.
    RAWJPEGExporter::PreparedImage huge{QByteArray(65 * 1024 * 1024 / 4 * 3, 'x'), "image/jpeg"};
    const auto refused =
        AIClient::chatWithImage(dir / "label.jpg", ImageTriClassifier::kPrompt, settings, 128, huge);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().description().startsWith(QStringLiteral("API 错误 413")))
        << refused.error().description().toStdString();
    EXPECT_TRUE(AIClient::chatWithImage(dir / "label.jpg", ImageTriClassifier::kPrompt, settings, 128).ok());

    // In process, the engine answers the same as over HTTP.
    engine::LocalVisionBackend local;
    const auto prepared = local.prepare(dir / "label.jpg");
    ASSERT_TRUE(prepared.ok());
    EXPECT_FALSE(prepared->upload.has_value()); // no JPEG is made for it
    const auto localCategory = local.classify(dir / "label.jpg", *prepared);
    ASSERT_TRUE(localCategory.ok());
    EXPECT_EQ(localCategory->category, MediaCategory::label);
    const auto localFields = local.readLabel(dir / "label.jpg", *prepared);
    ASSERT_TRUE(localFields.ok());
    EXPECT_EQ(*localFields, *fields);
    EXPECT_EQ(local.readText(dir / "label.jpg", *prepared).value(), *text);

    // A port that another program listens on is an error with a reason, not a wait.
    const int other = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(other, 1), 0);
    ASSERT_EQ(::getsockname(other, reinterpret_cast<sockaddr*>(&address), &length), 0);
    engine::LocalAIServer second;
    const auto taken = second.start(ntohs(address.sin_port));
    ::close(other);
    ASSERT_FALSE(taken.ok());
    EXPECT_TRUE(taken.error().description().startsWith(QStringLiteral("无法监听 127.0.0.1:")))
        << taken.error().description().toStdString();
}
