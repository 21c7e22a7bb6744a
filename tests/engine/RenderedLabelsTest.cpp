// Label photographs of each layout family, rendered and read end to end: label → fields.

#include "engine/Heuristics.h"
#include "engine/TextReading.h"
#include "samples/Scenes.h"

#include <gtest/gtest.h>

TEST(RenderedLabels, ReadsTheFieldsOfEveryLayoutFamily) {
    // One card per layout family, turned, small in the frame, or both.
    struct Card {
        scenes::LabelLayout layout;
        unsigned seed;
        scenes::CardPose pose;
    };
    const std::vector<Card> cards = {
        {scenes::LabelLayout::prefixed, 1, {0.7, 8}},        {scenes::LabelLayout::plain, 2, {0.36, 0}},
        {scenes::LabelLayout::periodMaterial, 3, {0.6, -9}}, {scenes::LabelLayout::bilingual, 2, {0.75, 2}},
        {scenes::LabelLayout::description, 3, {0.45, -6}},   {scenes::LabelLayout::twoColumn, 2, {0.65, 10}},
    };
    for (const auto& [layout, seed, pose] : cards) {
        const auto label = scenes::randomPrintedLabel(layout, seed);
        SCOPED_TRACE(std::string(scenes::layoutName(layout)) + " seed " + std::to_string(seed));
        const auto page =
            engine::readPage(scenes::renderPrintedLabel(label, seed * 13u + 5u, 2400, 1600, pose));
        ASSERT_TRUE(page.ok()) << page.error().description().toStdString();
        EXPECT_EQ(engine::classifyPage(*page).category, MediaCategory::label);
        const RelicLabelExtracted got = engine::readLabelFields(*page);
        EXPECT_EQ(got.name, label.fields.name);
        EXPECT_EQ(RelicLabelExtracted::normalizeFieldForPathAndPersistence(got.source),
                  RelicLabelExtracted::normalizeFieldForPathAndPersistence(label.fields.source));
        EXPECT_EQ(got.period, label.fields.period);
    }
}
