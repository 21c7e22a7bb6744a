#include "organize/AutoOrganizer.h"
#include "support/Shoot.h"

#include <gtest/gtest.h>

#include <map>

using namespace fixtures;
using AutoOrganizer::PlannedGroup;

namespace {

struct PlanTest : testing::Test {
    FakeAIServer server;
    TempDir dir;
    Shoot shoot{dir.path(), server};
    QStringList lines;

    /// Units of the folder with the categories given by primary name (artifact otherwise).
    std::vector<MediaPipeline::ClassifiedItem>
    classified(const std::map<std::string, MediaCategory>& categories) {
        const auto scan = ImageScanner::scanFolder(dir.path());
        std::vector<MediaPipeline::ClassifiedItem> items;
        for (const auto& unit : MediaPipeline::buildWorkUnits(scan->images)) {
            const auto it = categories.find(unit.primary.path.filename().string());
            items.push_back({unit, it == categories.end() ? MediaCategory::artifact : it->second});
        }
        return items;
    }
    /// Reads the labels (in process) and plans, as the run does.
    AutoOrganizer::PlanResult plan(const std::map<std::string, MediaCategory>& categories) {
        return plan(classified(categories));
    }
    AutoOrganizer::PlanResult plan(const std::vector<MediaPipeline::ClassifiedItem>& items) {
        const core::Log log = [this](const QString& l) { lines << l; };
        AutoOrganizer::GroupPlanner planner(items, log);
        AutoOrganizer::readLabels(planner.labels(), shoot.backend(), core::logOnly(log),
                                  [&](const AutoOrganizer::LabelRead& read) { planner.addLabel(read); });
        return planner.finish();
    }
};

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

const auto L = MediaCategory::label;
const auto P = MediaCategory::panel;
const auto U = MediaCategory::unknown;

} // namespace

TEST_F(PlanTest, ArtifactsBelongToTheNextLabelAndTheRestIsLeftOver) {
    shoot.artifact("A1.JPG", "2024:05:01 10:00:00");
    shoot.artifact("A2.JPG", "2024:05:01 10:01:00");
    shoot.panel("P1.JPG", "2024:05:01 10:01:30");
    shoot.label("L1.JPG", "2024:05:01 10:02:00", "青铜鼎", "安阳殷墟出土", "商代晚期");
    shoot.artifact("A3.JPG", "2024:05:01 10:02:00"); // same second as L1: belongs to it
    shoot.artifact("A4.JPG", "2024:05:01 10:03:00");
    shoot.label("L2.JPG", "2024:05:01 10:04:00", "玉琮", "", "良渚文化");
    shoot.artifact("A5.JPG", "2024:05:01 10:05:00");
    const auto result = plan({{"P1.JPG", P}, {"L1.JPG", L}, {"L2.JPG", L}, {"A4.JPG", U}});
    EXPECT_TRUE(result.errors.isEmpty());
    EXPECT_EQ(describe(result.groups), QStringList({
                                           "0 展板: P1.JPG",
                                           "1 青铜鼎 安阳殷墟出土 商代晚期: L1.JPG, A1.JPG, A2.JPG, A3.JPG",
                                           "2 玉琮 来源不明 良渚文化: L2.JPG, A4.JPG",
                                           "3 其他: A5.JPG",
                                       }));
    ASSERT_TRUE(result.groups[2].labelExtracted.has_value());
    EXPECT_EQ(result.groups[2].labelExtracted->source, QStringLiteral("来源不明"));
    EXPECT_TRUE(result.groups[0].isPanelFolder);
    EXPECT_EQ(lines, QStringList({
                         "展板 1 个文件 → 0 展板",
                         "抽取标签字段：L1.JPG (1/2)",
                         "  名称=青铜鼎 来源=安阳殷墟出土 年代=商代晚期",
                         "新组：1 青铜鼎 安阳殷墟出土 商代晚期（4 个文件）",
                         "抽取标签字段：L2.JPG (2/2)",
                         "  名称=玉琮 来源=来源不明 年代=良渚文化",
                         "新组：2 玉琮 来源不明 良渚文化（2 个文件）",
                         "剩余 1 个 → 3 其他",
                     }));
}

TEST_F(PlanTest, SameLabelTwiceMergesAndKeepsTheNumbering) {
    shoot.artifact("A1.JPG", "2024:05:01 10:00:00");
    shoot.label("L1.JPG", "2024:05:01 10:01:00", "青铜鼎", "安阳殷墟出土", "商代晚期");
    shoot.artifact("A2.JPG", "2024:05:01 10:02:00");
    shoot.label("L2.JPG", "2024:05:01 10:03:00", "青铜鼎", "安阳殷墟出土", "商代晚期");
    shoot.artifact("A3.JPG", "2024:05:01 10:04:00");
    shoot.label("L3.JPG", "2024:05:01 10:05:00", "玉璧", "寺墩遗址", "良渚文化");
    const auto result = plan({{"L1.JPG", L}, {"L2.JPG", L}, {"L3.JPG", L}});
    EXPECT_EQ(describe(result.groups),
              QStringList({
                  "1 青铜鼎 安阳殷墟出土 商代晚期（合并）: L1.JPG, A1.JPG, L2.JPG, A2.JPG",
                  "2 玉璧 寺墩遗址 良渚文化: L3.JPG, A3.JPG",
              }));
    EXPECT_TRUE(lines.contains("与已有标签相同 → 并入 1 青铜鼎 安阳殷墟出土 商代晚期"));
}

TEST_F(PlanTest, SameStemFilesFollowTheLabelWhateverTheirTime) {
    shoot.artifact("A1.JPG", "2024:05:01 10:00:00");
    shoot.label("IMG_0100.JPG", "2024:05:01 10:01:00", "鼎", "随州出土", "战国");
    shoot.raw("IMG_0100.DNG", "2024:05:01 10:01:00");
    shoot.video("IMG_0100.MOV", QDateTime(QDate(2024, 5, 1), QTime(10, 9), Qt::LocalTime));
    shoot.artifact("A2.JPG", "2024:05:01 10:05:00");
    const auto result = plan({{"IMG_0100.JPG", L}});
    EXPECT_EQ(describe(result.groups),
              QStringList({
                  "1 鼎 随州出土 战国: IMG_0100.JPG, IMG_0100.DNG, A1.JPG, IMG_0100.MOV",
                  "2 其他: A2.JPG",
              }));
}

TEST_F(PlanTest, FailedOrUndatedLabelsStillOpenFolders) {
    shoot.artifact("A1.JPG", "2024:05:01 10:00:00");
    shoot.label("L1.JPG", "2024:05:01 10:01:00", "鼎", "随州出土", "战国");
    shoot.artifact("A2.JPG", "2024:05:01 10:02:00");
    shoot.photo("L2.JPG", "2024:05:01 10:03:00", "label", "看不清");
    shoot.artifact("A3.JPG", "2024:05:01 10:04:00");
    shoot.label("L3.JPG", "2024:05:01 10:05:00", "璧", "寺墩遗址", "良渚文化");
    shoot.artifact("A4.JPG", "2024:05:01 10:06:00");
    auto items = plan({{"L1.JPG", L}, {"L2.JPG", L}, {"L3.JPG", L}});
    EXPECT_EQ(describe(items.groups), QStringList({
                                          "1 鼎 随州出土 战国: L1.JPG, A1.JPG",
                                          "2 未识别标签: L2.JPG, A2.JPG",
                                          "3 璧 寺墩遗址 良渚文化: L3.JPG, A3.JPG",
                                          "4 其他: A4.JPG",
                                      }));
    EXPECT_EQ(items.errors, QStringList({"字段抽取失败 L2.JPG：无法解析 API 返回"}));
    EXPECT_TRUE(lines.contains("[失败] 字段抽取失败 L2.JPG：无法解析 API 返回"));

    // A label without a date sorts first and collects every artifact still free.
    auto stream = classified({{"L1.JPG", L}, {"L3.JPG", L}});
    for (auto& item : stream)
        if (item.unit.primary.fileName == "L3.JPG") item.unit.primary.creationDate.reset();
    const auto undated = plan(stream);
    EXPECT_EQ(describe(undated.groups),
              QStringList({
                  "1 璧 寺墩遗址 良渚文化: L3.JPG, A1.JPG, A2.JPG, L2.JPG, A3.JPG, A4.JPG",
                  "2 鼎 随州出土 战国: L1.JPG",
              }));
}

TEST_F(PlanTest, PanelsOnlyNothingElseAndEmptyInput) {
    shoot.panel("P1.JPG", "2024:05:01 10:00:00");
    shoot.panel("P2.JPG", "2024:05:01 10:01:00");
    EXPECT_EQ(describe(plan({{"P1.JPG", P}, {"P2.JPG", P}}).groups), QStringList({"0 展板: P1.JPG, P2.JPG"}));
    EXPECT_EQ(describe(plan(std::map<std::string, MediaCategory>{}).groups),
              QStringList({"1 其他: P1.JPG, P2.JPG"}));
    EXPECT_EQ(lines.last(), QStringLiteral("剩余 2 个 → 1 其他"));
    lines.clear();
    const auto empty = AutoOrganizer::planGroups({}, {}, [this](const QString& l) { lines << l; });
    EXPECT_TRUE(empty.groups.empty());
    EXPECT_TRUE(lines.isEmpty());
    EXPECT_TRUE(shoot.backend().calls().isEmpty());
}

TEST(PlanFromReads, IsAPureFunctionOfTheStreamAndTheLabelReads) {
    // Units in capture order; a label's read comes from the table, nothing is asked of any model.
    auto item = [](const char* name, int minute, MediaCategory category) {
        ImageScanner::ImageInfo info;
        info.path = fs::path("/shoot") / name;
        info.fileName = QString::fromUtf8(name);
        info.creationDate = QDateTime(QDate(2024, 5, 1), QTime(10, minute), Qt::LocalTime);
        info.fileType = ImageScanner::ImageInfo::ImageType::jpg;
        return MediaPipeline::ClassifiedItem{MediaPipeline::WorkUnit{info, {}}, category};
    };
    auto read = [](const char* name, const char* source, const char* period) {
        return AutoOrganizer::LabelRead{
            RelicLabelExtracted{
                QString::fromUtf8(name), QString::fromUtf8(source), QString::fromUtf8(period), {}}
                .withPersistenceDefaultsForAIOutput(),
            {}};
    };
    const AutoOrganizer::LabelRead failed{std::nullopt, QStringLiteral("字段抽取失败 L2.JPG：无效响应")};
    const auto A = MediaCategory::artifact;
    struct Case {
        const char* name;
        std::vector<MediaPipeline::ClassifiedItem> stream;
        std::vector<AutoOrganizer::LabelRead> reads;
        QStringList expected;
        QStringList errors;
    };
    const std::vector<Case> cases = {
        {"artifacts go to the next label, the rest is left over",
         {item("A1.JPG", 0, A), item("A2.JPG", 1, A), item("L1.JPG", 2, L), item("A3.JPG", 3, A),
          item("L2.JPG", 4, L), item("A4.JPG", 5, A)},
         {read("鼎", "随州出土", "战国"), read("璧", "寺墩遗址", "良渚文化")},
         {"1 鼎 随州出土 战国: L1.JPG, A1.JPG, A2.JPG", "2 璧 寺墩遗址 良渚文化: L2.JPG, A3.JPG",
          "3 其他: A4.JPG"},
         {}},
        {"a failed read opens an unnamed folder and keeps the numbering",
         {item("L1.JPG", 1, L), item("A1.JPG", 2, A), item("L2.JPG", 3, L), item("L3.JPG", 5, L)},
         {read("鼎", "随州出土", "战国"), failed, read("璧", "寺墩遗址", "良渚文化")},
         {"1 鼎 随州出土 战国: L1.JPG", "2 未识别标签: L2.JPG, A1.JPG", "3 璧 寺墩遗址 良渚文化: L3.JPG"},
         {"字段抽取失败 L2.JPG：无效响应"}},
        {"a label without source never merges",
         {item("L1.JPG", 1, L), item("L2.JPG", 2, L)},
         {read("鼎", "", "战国"), read("鼎", "", "战国")},
         {"1 鼎 来源不明 战国: L1.JPG", "2 鼎 来源不明 战国: L2.JPG"},
         {}},
        {"the same label twice merges; the next one takes the free number",
         {item("L1.JPG", 1, L), item("L2.JPG", 2, L), item("A1.JPG", 3, A), item("L3.JPG", 4, L)},
         {read("鼎", "随州出土", "战国"), read("鼎", "随州出土", "战国"), read("璧", "寺墩遗址", "良渚文化")},
         {"1 鼎 随州出土 战国（合并）: L1.JPG, L2.JPG", "2 璧 寺墩遗址 良渚文化: L3.JPG, A1.JPG"},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = AutoOrganizer::planGroups(c.stream, c.reads, [](const QString&) {});
        EXPECT_EQ(describe(result.groups), c.expected);
        EXPECT_EQ(result.errors, c.errors);
    }
}
