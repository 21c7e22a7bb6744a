#include "engine/LocalAIService.h"
#include "ai/AIClient.h"
#include "ai/RemoteVisionBackend.h"
#include "engine/Heuristics.h"
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

engine::TextLine line(const QString& text, float height, float top, float left = 10) {
    return engine::TextLine{text, 0.95f, height, float(text.size()) * height, top, left};
}

engine::PageText page(const std::vector<std::vector<engine::TextLine>>& rows) {
    engine::PageText p;
    p.imageWidth = 1600;
    p.imageHeight = 1200;
    for (const auto& r : rows)
        p.rows.push_back(engine::TextRow{r});
    return p;
}

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
    const QString jpeg =
        QStringLiteral("data:image/jpeg;base64,") +
        QString::fromLatin1(
            QByteArray::fromStdString(
                std::string(reinterpret_cast<const char*>(platform::encodeJpeg(picture(64, 48), 90)->data()),
                            platform::encodeJpeg(picture(64, 48), 90)->size()))
                .toBase64());
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

TEST(OfflineEngine, ReadsLabelFieldsByTheLabelPromptsRules) {
    struct Case {
        const char* name;
        engine::PageText page;
        RelicLabelExtracted expected;
    };
    const std::vector<Case> cases = {
        {"period and source on one row",
         page({{line("名称：玉琮", 60, 100)},
               {line("良渚文化 江苏常州寺墩遗址出土", 30, 200)},
               {line("高 8.5 厘米", 30, 260)}}),
         {"玉琮", "江苏常州寺墩遗址出土", "良渚文化", "高 8.5 厘米"}},
        {"find-spot before museum, English dropped",
         page({{line("青花缠枝莲纹瓶", 60, 100)},
               {line("明永乐", 30, 200)},
               {line("南京博物院藏", 30, 250)},
               {line("1960年南京中华门外出土", 30, 300)},
               {line("Blue-and-white vase, Yongle reign", 30, 350)}}),
         {"青花缠枝莲纹瓶", "1960年南京中华门外出土", "明永乐", "南京博物院藏"}},
        {"period at the start of a segment",
         page({{line("鼎", 60, 100)}, {line("商代晚期青铜", 30, 200)}}),
         {"鼎", "", "商代晚期", "青铜"}},
        {"the taller second row is the name",
         page({{line("第一单元", 25, 100)},
               {line("铜奔马", 70, 150)},
               {line("东汉", 30, 260)},
               {line("甘肃武威雷台墓出土", 30, 300)}}),
         {"铜奔马", "甘肃武威雷台墓出土", "东汉", "第一单元"}},
        {"nothing read", page({}), {"", "", "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(engine::readLabelFields(c.page), c.expected);
    }
    for (const char* yes :
         {"商代晚期", "明永乐", "良渚文化", "西周早期", "清乾隆年间", "新石器时代", "战国", "唐"})
        EXPECT_TRUE(engine::isPeriod(QString::fromUtf8(yes))) << yes;
    for (const char* no : {"商丘", "金属", "高 8 厘米", "博物馆", ""})
        EXPECT_FALSE(engine::isPeriod(QString::fromUtf8(no))) << no;
}

TEST(OfflineEngine, ClassifiesPagesByLayoutAndWords) {
    std::vector<std::vector<engine::TextLine>> prose;
    prose.push_back({line("单元介绍", 60, 50)});
    for (int i = 0; i < 12; ++i)
        prose.push_back({line("本单元展出的文物反映了古代社会的礼制与生活面貌", 24, 150 + 40 * float(i))});
    struct Case {
        const char* name;
        engine::PageText page;
        MediaCategory expected;
    };
    const std::vector<Case> cases = {
        {"no text", page({}), MediaCategory::artifact},
        {"label card",
         page({{line("玉琮", 60, 100)}, {line("良渚文化", 30, 200)}, {line("寺墩遗址出土", 30, 250)}}),
         MediaCategory::label},
        {"panel prose", page(prose), MediaCategory::panel},
        {"an inscription on the object", page({{line("永寿", 40, 300)}}), MediaCategory::artifact},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(engine::classifyPage(c.page).category, c.expected);
    }
}
