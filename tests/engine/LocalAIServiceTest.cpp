#include "engine/LocalAIService.h"
#include "ai/AIClient.h"
#include "ai/RemoteVisionBackend.h"
#include "samples/Scenes.h"
#include "services/ImageOCRProcessor.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

using namespace fixtures;

TEST(OfflineEngine, ServesOverHttpAndSurvivesHugeBodies) {
    engine::LocalAIServer server;
    ASSERT_TRUE(server.start().ok());
    TempDir dir;
    const auto card = scenes::LabelCard{"青铜鼎", "河南安阳殷墟出土", "商代晚期", {"高 42 厘米"}};
    scenes::writePhoto(dir / "label.jpg", scenes::renderLabel(card, 3, 1600, 1067));
    const ai::AISettings settings{server.url(), engine::kApiKey, engine::kModelID};

    // Only Vitrino's own prompts are answered.
    EXPECT_EQ(engine::promptKind(ImageTriClassifier::kPrompt + " "), std::nullopt);
    const auto category =
        AIClient::chatWithImage(dir / "label.jpg", ImageTriClassifier::kPrompt, settings, 128);
    EXPECT_EQ(ImageTriClassifier::parse(category.value()).category, MediaCategory::label);

    ai::RemoteVisionBackend overHttp(settings);
    const auto fields = overHttp.readLabel(dir / "label.jpg");
    EXPECT_EQ(QStringList({fields->name, fields->source, fields->period}),
              QStringList({"青铜鼎", "河南安阳殷墟出土", "商代晚期"}));
    EXPECT_TRUE(fields->other.contains(QStringLiteral("厘米")));
    EXPECT_FALSE(fields->other.contains(QStringLiteral("青铜鼎")));

    const auto text = AIClient::chatWithImage(dir / "label.jpg", ImageOCRProcessor::kPrompt, settings, 4096);
    EXPECT_TRUE(text->startsWith(QStringLiteral("青铜鼎\n"))) << text->toStdString();

    // 65 MB of prompt is refused before it is parsed; the server goes on answering.
    RAWJPEGExporter::PreparedImage huge{QByteArray(65 * 1024 * 1024 / 4 * 3, 'x'), "image/jpeg"};
    const auto refused =
        AIClient::chatWithImage(dir / "label.jpg", ImageTriClassifier::kPrompt, settings, 128, huge);
    EXPECT_TRUE(refused.error().description().startsWith(QStringLiteral("API 错误 413")))
        << refused.error().description().toStdString();
    EXPECT_TRUE(AIClient::chatWithImage(dir / "label.jpg", ImageTriClassifier::kPrompt, settings, 128).ok());

    // In process, the engine answers the same as over HTTP.
    engine::LocalVisionBackend local;
    const auto prepared = local.prepare(dir / "label.jpg");
    EXPECT_FALSE(prepared->upload.has_value()); // no JPEG is made for it
    EXPECT_EQ(local.classify(dir / "label.jpg", *prepared)->category, MediaCategory::label);
    EXPECT_EQ(local.readLabel(dir / "label.jpg", *prepared).value(), *fields);
    EXPECT_EQ(local.readText(dir / "label.jpg", *prepared).value(), *text);
}
