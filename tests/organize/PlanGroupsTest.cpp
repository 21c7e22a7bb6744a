#include "organize/AutoOrganizer.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

using namespace fixtures;
using AutoOrganizer::PlannedGroup;

namespace {

/// "folder: file, file" per group, for readable expectations.
QStringList describe(const std::vector<PlannedGroup>& groups) {
    QStringList out;
    for (const auto& g : groups) {
        QStringList files;
        for (const auto& f : g.files)
            files << f.fileName;
        out << g.folderName + (g.mergedIntoExisting ? "（合并）" : "") + ": " + files.join(", ");
    }
    return out;
}

const auto L = MediaCategory::label, P = MediaCategory::panel, A = MediaCategory::artifact,
           U = MediaCategory::unknown;

/// A unit shot at 10:`minute` (none: undated), with its companions.
MediaPipeline::ClassifiedItem item(const char* name, std::optional<int> minute, MediaCategory category,
                                   std::vector<const char*> companions = {}) {
    const auto info = [&](const char* file) {
        return ImageScanner::ImageInfo{
            fs::path("/shoot") / file, QString::fromUtf8(file),
            minute ? std::optional(QDateTime(QDate(2024, 5, 1), QTime(10, *minute), Qt::LocalTime))
                   : std::nullopt,
            ImageScanner::typeForExtension(ImageScanner::lowerExtension(file))};
    };
    MediaPipeline::WorkUnit unit{info(name), {}};
    for (const char* companion : companions)
        unit.companions.push_back(info(companion));
    return {unit, category};
}

AutoOrganizer::LabelRead read(const char* name, const char* source, const char* period) {
    return {RelicLabelExtracted{name, source, period, {}}.withPersistenceDefaultsForAIOutput(), {}};
}

} // namespace

TEST(PlanGroups, IsAPureFunctionOfTheStreamAndTheLabelReads) {
    const AutoOrganizer::LabelRead failed{std::nullopt, QStringLiteral("字段抽取失败 L2.JPG：无效响应")};
    const struct {
        const char* name;
        std::vector<MediaPipeline::ClassifiedItem> stream;
        std::vector<AutoOrganizer::LabelRead> reads;
        QStringList expected;
        QStringList errors = {};
    } cases[] = {
        {"artifacts up to the label's own second go to it, the rest is left over",
         {item("A1.JPG", 0, A), item("A2.JPG", 1, U), item("L1.JPG", 2, L), item("A3.JPG", 2, A),
          item("A4.JPG", 3, A), item("L2.JPG", 4, L), item("A5.JPG", 5, A)},
         {read("鼎", "随州出土", "战国"), read("璧", "寺墩遗址", "良渚文化")},
         {"1 鼎 随州出土 战国: L1.JPG, A1.JPG, A2.JPG, A3.JPG", "2 璧 寺墩遗址 良渚文化: L2.JPG, A4.JPG",
          "3 其他: A5.JPG"}},
        {"a failed read opens an unnamed folder and keeps the numbering",
         {item("L1.JPG", 1, L), item("A1.JPG", 2, A), item("L2.JPG", 3, L), item("L3.JPG", 5, L)},
         {read("鼎", "随州出土", "战国"), failed, read("璧", "寺墩遗址", "良渚文化")},
         {"1 鼎 随州出土 战国: L1.JPG", "2 未识别标签: L2.JPG, A1.JPG", "3 璧 寺墩遗址 良渚文化: L3.JPG"},
         {"字段抽取失败 L2.JPG：无效响应"}},
        {"a label without source never merges",
         {item("L1.JPG", 1, L), item("L2.JPG", 2, L)},
         {read("鼎", "", "战国"), read("鼎", "", "战国")},
         {"1 鼎 来源不明 战国: L1.JPG", "2 鼎 来源不明 战国: L2.JPG"}},
        {"the same label twice merges; the next one takes the free number",
         {item("A0.JPG", 0, A), item("L1.JPG", 1, L), item("L2.JPG", 2, L), item("A1.JPG", 3, A),
          item("L3.JPG", 4, L)},
         {read("鼎", "随州出土", "战国"), read("鼎", "随州出土", "战国"), read("璧", "寺墩遗址", "良渚文化")},
         {"1 鼎 随州出土 战国（合并）: L1.JPG, A0.JPG, L2.JPG", "2 璧 寺墩遗址 良渚文化: L3.JPG, A1.JPG"}},
        {"files of the label's own stem follow it whatever their time",
         {item("A1.JPG", 0, A), item("IMG_0100.JPG", 1, L, {"IMG_0100.DNG"}), item("A2.JPG", 5, A),
          item("IMG_0100.MOV", 9, A)},
         {read("鼎", "随州出土", "战国")},
         {"1 鼎 随州出土 战国: IMG_0100.JPG, IMG_0100.DNG, A1.JPG, IMG_0100.MOV", "2 其他: A2.JPG"}},
        {"an undated label sorts first and takes every artifact still free, never another label",
         {item("A1.JPG", 0, A), item("L1.JPG", 1, L), item("A2.JPG", std::nullopt, A), item("A3.JPG", 6, A),
          item("L3.JPG", std::nullopt, L)},
         {read("璧", "寺墩遗址", "良渚文化"), read("鼎", "随州出土", "战国")},
         {"1 璧 寺墩遗址 良渚文化: L3.JPG, A1.JPG, A2.JPG, A3.JPG", "2 鼎 随州出土 战国: L1.JPG"}},
        {"panels and no label",
         {item("P1.JPG", 0, P, {"P1.CR3"}), item("A1.JPG", 1, U), item("P2.JPG", 2, P)},
         {},
         {"0 展板: P1.JPG, P1.CR3, P2.JPG", "1 其他: A1.JPG"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList lines;
        const auto result =
            AutoOrganizer::planGroups(c.stream, c.reads, [&](const QString& l) { lines << l; });
        EXPECT_EQ(describe(result.groups), c.expected);
        EXPECT_EQ(result.errors, c.errors);
        EXPECT_EQ(lines.isEmpty(), c.stream.empty());
    }
}
