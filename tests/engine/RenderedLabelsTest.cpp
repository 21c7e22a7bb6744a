// Label photographs of each layout family and type family, rendered and read end to end:
// label → fields; and the same photograph read again and again gives the same fields.

#include "engine/Heuristics.h"
#include "engine/TextReading.h"
#include "samples/Scenes.h"

#include <gtest/gtest.h>

#include <future>
#include <optional>

namespace {

QString same(const QString& text) {
    return RelicLabelExtracted::normalizeFieldForPathAndPersistence(text);
}

} // namespace

TEST(RenderedLabels, ReadsTheFieldsOfEveryLayoutAndTypeFamily) {
    // One card per layout family, turned, small in the frame, or both; and one per type family
    // the renderer sets cards in (a Ming, a Hei, a Kai and the held-out Song, Kai, Hei and FangSong).
    struct Card {
        scenes::LabelLayout layout;
        unsigned seed;
        scenes::CardPose pose;
        QString family; ///< empty: drawn from the seed
    };
    const std::vector<Card> cards = {
        {scenes::LabelLayout::prefixed, 1, {0.7, 8}, {}},
        {scenes::LabelLayout::plain, 2, {0.36, 0}, {}},
        {scenes::LabelLayout::periodMaterial, 3, {0.6, -9}, {}},
        {scenes::LabelLayout::bilingual, 2, {0.75, 2}, {}},
        {scenes::LabelLayout::description, 3, {0.45, -6}, {}},
        {scenes::LabelLayout::twoColumn, 2, {0.65, 10}, {}},
        {scenes::LabelLayout::plain, 5, {0.6, 3}, QStringLiteral("AR PL UMing CN")},
        {scenes::LabelLayout::classic, 16, {0.55, -2}, QStringLiteral("WenQuanYi Zen Hei")},
        {scenes::LabelLayout::prefixed, 7, {0.6, 1}, QStringLiteral("AR PL UKai CN")},
        {scenes::LabelLayout::plain, 8, {0.6, -3}, QStringLiteral("AR PL SungtiL GB")},
        {scenes::LabelLayout::description, 13, {0.6, 2}, QStringLiteral("AR PL KaitiM GB")},
        {scenes::LabelLayout::periodMaterial, 10, {0.6, 0}, QStringLiteral("LXGW WenKai")},
        {scenes::LabelLayout::prefixed, 11, {0.6, -1}, QStringLiteral("WenQuanYi Micro Hei")},
        {scenes::LabelLayout::plain, 12, {0.6, 2}, QStringLiteral("cwTeXFangSong")},
    };
    for (const auto& [layout, seed, pose, family] : cards) {
        const auto label = scenes::randomPrintedLabel(layout, seed);
        SCOPED_TRACE(std::string(scenes::layoutName(layout)) + " seed " + std::to_string(seed) + " " +
                     family.toStdString());
        const QStringList families = family.isEmpty() ? QStringList() : QStringList{family};
        const auto page =
            engine::readPage(scenes::renderPrintedLabel(label, seed * 13u + 5u, 2400, 1600, pose, families));
        ASSERT_TRUE(page.ok()) << page.error().description().toStdString();
        EXPECT_EQ(engine::classifyPage(*page).category, MediaCategory::label);
        const RelicLabelExtracted got = engine::readLabelFields(*page);
        EXPECT_EQ(got.name, label.fields.name);
        EXPECT_EQ(same(got.source), same(label.fields.source));
        EXPECT_EQ(got.period, label.fields.period);
    }
}

// The same photograph gives the same lines, confidences and fields every time, from the first
// read in a process on, also while another thread reads another photograph (as the next
// photograph's probe runs beside a request in an organize run).
TEST(RenderedLabels, ReadsOneCardTheSameTwentyTimes) {
    const auto label = scenes::randomPrintedLabel(scenes::LabelLayout::plain, 4);
    const auto card = scenes::renderPrintedLabel(label, 57, 1600, 1067, scenes::CardPose{0.6, 4});
    const auto other = scenes::renderPanel(58, 1200, 800);
    struct Reading {
        QStringList lines;
        std::vector<float> confidences;
        RelicLabelExtracted fields;
        bool operator==(const Reading&) const = default;
    };
    auto read = [&] {
        Reading reading;
        const auto page = engine::readPage(card);
        if (!page) return reading;
        for (const auto& row : page->rows)
            for (const auto& line : row.lines) {
                reading.lines << line.text;
                reading.confidences.push_back(line.confidence);
            }
        reading.fields = engine::readLabelFields(*page);
        return reading;
    };
    const Reading first = read();
    ASSERT_FALSE(first.fields.name.isEmpty());
    for (int i = 1; i < 20; ++i) {
        // Every other time, a panel is read on another thread at the same time; every fourth,
        // the same card (two networks of one shape at once).
        std::future<std::optional<Reading>> beside;
        if (i % 2)
            beside = std::async(std::launch::async, [&] {
                (void)engine::readPage(other, 2);
                return std::optional<Reading>();
            });
        else if (i % 4 == 0)
            beside = std::async(std::launch::async, [&] { return std::optional<Reading>(read()); });
        const Reading again = read();
        EXPECT_TRUE(again == first) << "read " << i << ": "
                                    << again.lines.join(QLatin1Char('|')).toStdString() << " against "
                                    << first.lines.join(QLatin1Char('|')).toStdString();
        if (beside.valid()) {
            if (const auto alongside = beside.get()) {
                EXPECT_TRUE(*alongside == first) << "read " << i << " beside";
            }
        }
    }
}
