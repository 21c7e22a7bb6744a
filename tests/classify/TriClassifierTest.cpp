#include "core/ImageTriClassifier.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

TEST(TriClassifier, PromptIsExactlyTheFourteenLines) {
    const QByteArray bytes = ImageTriClassifier::kPrompt.toUtf8();
    EXPECT_EQ(bytes.size(), 921);
    EXPECT_EQ(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(),
              QByteArray("dd49db4cf8fd88c96b2f1df6b367fbfbf40a2e1f08a42e1c4e363b895601fd7b"));
    EXPECT_FALSE(ImageTriClassifier::kPrompt.endsWith(QLatin1Char('\n')));
}

TEST(TriClassifier, ParsesRepliesWithEveryRule) {
    const struct {
        QString reply;
        MediaCategory category;
        std::optional<double> confidence;
    } cases[] = {
        {R"({"category":"label","confidence":0.92})", MediaCategory::label, 0.92},
        {"好的：\n```json\n{\"category\":\"label\",\"confidence\":0.92}\n```\n以上。", MediaCategory::label,
         0.92},
        {R"({"category":"LABEL"})", MediaCategory::label, std::nullopt},
        {R"({"category":"展签","confidence":1})", MediaCategory::label, 1.0},
        {R"({"category":"展板","confidence":0.7})", MediaCategory::panel, 0.7},
        {R"({"category":"wall panel","confidence":0.9})", MediaCategory::unknown, 0.9},
        {R"({"category":" panel "})", MediaCategory::unknown, std::nullopt},
        {R"({"category":"artifact","confidence":"0.9"})", MediaCategory::artifact, std::nullopt},
        {R"(} then {"category":"label")", MediaCategory::unknown, std::nullopt},
        {"  \n {\"category\":\"panel\"} \n ", MediaCategory::panel, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.toStdString());
        const auto result = ImageTriClassifier::parse(c.reply);
        EXPECT_EQ(result.category, c.category);
        EXPECT_EQ(result.confidence, c.confidence);
        EXPECT_EQ(result.rawResponse, c.reply);
    }
}
