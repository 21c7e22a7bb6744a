#include "app/ProcessLogStyle.h"

#include <gtest/gtest.h>

using StyledRun = ProcessLogStyle::Run;
using ProcessLogStyle::Tint;

namespace {

StyledRun plain(const QString& text) {
    return {text};
}
StyledRun red(const QString& text, bool bold = false) {
    return {text, Tint::red, bold};
}

} // namespace

namespace ProcessLogStyle {
void PrintTo(const Run& run, std::ostream* os) {
    *os << '[' << run.text.toStdString() << '|' << int(run.tint) << (run.bold ? "|b]" : "]");
}
} // namespace ProcessLogStyle

TEST(ProcessLogStyle, ColoursTheMoveBackWordAndTheCategoryAfterTheFirstArrow) {
    struct Case {
        QString line;
        std::vector<StyledRun> runs;
    };
    const std::vector<Case> cases{
        {"12:00:01 [3/20] Vision 粗筛：a.jpg → 文物（Vision：…）",
         {plain("12:00:01 [3/20] Vision 粗筛：a.jpg → "), {"文物", Tint::green}, plain("（Vision：…）")}},
        {"x → 标签 extra", {plain("x → "), red("标签"), plain(" extra")}},
        {"x → 展板", {plain("x → "), {"展板", Tint::blue}, plain("")}},
        {"…）→ 回退 AI：…", {plain("…）→ 回退 AI：…")}},
        {"a → b → 文物", {plain("a → b → 文物")}},
        {"搬回 a 搬回", {plain(""), red("搬回", true), plain(" a "), red("搬回", true), plain("")}},
        {"[1/2] 搬回 x → 文物", {plain("[1/2] "), red("搬回", true), plain(" x → 文物")}},
    };
    for (const Case& c : cases) {
        const std::vector<StyledRun> runs = ProcessLogStyle::coloredLine(c.line);
        EXPECT_EQ(runs, c.runs) << c.line.toStdString();
        QString joined;
        for (const StyledRun& run : runs)
            joined += run.text;
        EXPECT_EQ(joined, c.line) << "styling must give the line back unchanged";
    }
}

TEST(ProcessLogStyle, BandsFollowFilesAndGroupStarts) {
    struct Case {
        const char* name;
        QStringList lines;
        std::vector<int> stripes;
    };
    const QString nines = QStringLiteral("99999999999999999999");
    const std::vector<Case> cases{
        {"one band per file",
         {"10:00:00 [1/3] a", "10:00:00 [1/3] a → 标签", "10:00:00 [2/3] b", "10:00:00 [2/3] b → 文物"},
         {0, 0, 1, 1}},
        {"a group start opens a band; the same index after it opens the next",
         {"10:00:00 [4/9] a", "10:00:00 新组：X", "10:00:00 plain", "10:00:00 more", "10:00:00 [4/9] c"},
         {0, 1, 1, 1, 2}},
        {"an index beyond 64 bits counts as none",
         {"10:00:00 [1/5] a", "10:00:00 [" + nines + "/5] b", "10:00:00 [1/5] c"},
         {0, 0, 0}},
        {"every group-start prefix, each on its own band",
         {"10:00:00 抽取标签字段：a", "10:00:00 文件夹 1", "10:00:00 新组：b", "10:00:00 剩余 3",
          "10:00:00 创建：x", "10:00:00 对比：y", "10:00:00 —— 开始 FeaturePrint 后处理 ——",
          "10:00:00 —— 整理结束 ——"},
         {0, 1, 2, 3, 4, 5, 6, 6}},
        {"without a stamp the whole line is examined", {"[1/2] a", "新组：b", "x新组：c"}, {0, 1, 1}},
        {"an indexed line after unindexed ones opens a band",
         {"10:00:00 开始", "10:00:00 [1/2] a", "10:00:00 说明", "10:00:00 [1/2] a"},
         {0, 1, 1, 1}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProcessLogStyle::logStripeIndices(c.lines), c.stripes) << c.name;
}
