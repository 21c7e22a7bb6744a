#include "core/ImageTriClassifier.h"
#include "core/RelicLabelExtracted.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

TEST(TriClassifier, PromptsAreExactlyTheTriedLines) {
    const std::pair<QString, QByteArray> cases[] = {
        {ImageTriClassifier::kPrompt, "dd49db4cf8fd88c96b2f1df6b367fbfbf40a2e1f08a42e1c4e363b895601fd7b"},
        {RelicLabelExtracted::kPrompt, "19a2735586028e06134c380e16c48f198208ff053765d3ceceaef96fd71b527a"},
    };
    for (const auto& [prompt, sha256] : cases)
        EXPECT_EQ(QCryptographicHash::hash(prompt.toUtf8(), QCryptographicHash::Sha256).toHex(), sha256);
}

TEST(TriClassifier, ParsesRepliesWithEveryRule) {
    const struct {
        QString reply;
        MediaCategory category;
        std::optional<double> confidence;
    } cases[] = {
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
