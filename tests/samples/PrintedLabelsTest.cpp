// The printed label cards of every layout: what the renderer prints and the fields it states
// agree, read line by line as printed (no image, so it covers many seeds quickly).

#include "engine/Heuristics.h"
#include "samples/Scenes.h"

#include <gtest/gtest.h>

namespace {

/// The card's lines as the recogniser would return them if it read every character right.
engine::PageText asRead(const scenes::PrintedLabel& label) {
    using Style = scenes::PrintedLine::Style;
    engine::PageText page;
    float top = 100;
    auto heightOf = [](Style s) { return s == Style::name ? 60.0f : s == Style::prose ? 26.0f : 30.0f; };
    // A wrapped line runs to the right edge of the card's widest line.
    float edge = 0;
    for (const auto& printed : label.lines)
        edge = std::max(edge, float(printed.text.size()) * heightOf(printed.style));
    for (const auto& printed : label.lines) {
        const float height = heightOf(printed.style);
        engine::TextRow row;
        float left = 100;
        for (const QString& text : {printed.field, printed.text}) {
            if (text.isEmpty()) continue;
            const float width = std::max(printed.wraps ? edge : 0, float(text.size()) * height);
            row.lines.push_back(engine::TextLine{text, 0.95f, height, width, top, left});
            left += width + 100;
        }
        page.rows.push_back(row);
        top += height * 1.75f;
    }
    return page;
}

QString same(QString text) {
    return text.remove(
        QRegularExpression(QStringLiteral("\\s"), QRegularExpression::UseUnicodePropertiesOption));
}

} // namespace

TEST(PrintedLabels, FieldsReadFromThePrintedLinesAreTheStatedOnes) {
    for (const auto layout : scenes::kLabelLayouts)
        for (unsigned seed = 1; seed <= 40; ++seed) {
            const auto label = scenes::randomPrintedLabel(layout, seed);
            SCOPED_TRACE(std::string(scenes::layoutName(layout)) + " seed " + std::to_string(seed));
            const auto& want = label.fields;
            ASSERT_FALSE(want.name.isEmpty());
            ASSERT_TRUE(engine::isPeriod(want.period)) << want.period.toStdString();
            ASSERT_FALSE(want.source.isEmpty());
            const RelicLabelExtracted got = engine::readLabelFields(asRead(label));
            EXPECT_EQ(got.name, want.name);
            EXPECT_EQ(same(got.source), same(want.source));
            EXPECT_EQ(got.period, want.period);
            EXPECT_EQ(got.other, want.other.join(QLatin1Char('\n')));
        }
}
