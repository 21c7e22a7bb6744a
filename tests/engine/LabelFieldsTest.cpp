// Field assignment on lines as the recogniser returns them: one case per rule the printed layouts
// (samples/PrintedLabelsTest) do not already cover, the mixed and ambiguous cases; and the
// lexicon's look-alike correction.

#include "engine/Heuristics.h"
#include "engine/MuseumTerms.h"

#include <gtest/gtest.h>

namespace {

struct Line {
    const char* text;
    float height = 30;
    float width = 0; ///< 0: a character is as wide as the line is high
};

/// Rows top to bottom; a row of several lines is a printed line with parts side by side (two
/// columns, an English line set beside a Chinese one).
engine::PageText page(const std::vector<std::vector<Line>>& rows) {
    engine::PageText p;
    p.imageWidth = 2400;
    p.imageHeight = 1600;
    float top = 100;
    for (const auto& row : rows) {
        engine::TextRow r;
        float left = 100;
        for (const auto& line : row) {
            const QString text = QString::fromUtf8(line.text);
            const float width = line.width > 0 ? line.width : float(text.size()) * line.height;
            r.lines.push_back(engine::TextLine{text, 0.95f, line.height, width, top, left});
            left += width + 80;
        }
        p.rows.push_back(r);
        top += 60;
    }
    return p;
}

constexpr float kName = 60; // the name's larger type

struct Case {
    const char* name;
    engine::PageText page;
    const char* wantName;
    const char* wantSource;
    const char* wantPeriod;
    const char* wantOther;
};

} // namespace

TEST(LabelFields, AssignsFieldsOnEveryLayout) {
    const std::vector<Case> cases = {
        {"a paragraph under the fields goes to the rest whole, its words taken for nothing",
         page({{{"兽面纹斝", kName}},
               {{"上海博物馆藏"}},
               {{"青铜"}},
               {{"此类酒器盛行于商代，同类器物在河南安阳"}},
               {{"等地的墓葬中多有出土，是研究礼制的"}},
               {{"重要资料。"}}}),
         "兽面纹斝", "上海博物馆藏", "",
         "青铜\n此类酒器盛行于商代，同类器物在河南安阳等地的墓葬中多有出土，是研究礼制的重要资料。"},
        {"a full stop read as a middle dot in a paragraph; the middle dot of a period line stays",
         page({{{"青花缠枝莲纹梅瓶", kName}},
               {{"明 · 瓷"}},
               {{"釉色莹润，发色浓艳，为官窑精品·玉质温"}},
               {{"润，琢磨精细 ·"}}}),
         "青花缠枝莲纹梅瓶", "", "明", "瓷\n釉色莹润，发色浓艳，为官窑精品。玉质温润，琢磨精细。"},
        {"a holder line and a hall line: the hall is never the source",
         page({{{"龙纹觥", kName}}, {{"商代晚期"}}, {{"上海博物馆藏"}}, {{"上海博物馆青铜馆陈列"}}}),
         "龙纹觥", "上海博物馆藏", "商代晚期", "上海博物馆青铜馆陈列"},
        {"an explicit source prefix wins over a guessed find-spot or holder",
         page({{{"名称：青花瓶"}},
               {{"年代：明宣德"}},
               {{"来源：湖北省文物商店"}},
               {{"湖北省博物馆二楼展厅展出"}},
               {{"景德镇御窑厂遗址同类器"}}}),
         "青花瓶", "湖北省文物商店", "明宣德", "湖北省博物馆二楼展厅展出\n景德镇御窑厂遗址同类器"},
        {"a source wrapped in a word, the find-spot kept and the holder joined in the rest",
         page({{{"兽面纹鼎", kName}},
               {{"商代晚期"}},
               {{"上海市松江区广富林遗址出土，上海博物"}},
               {{"馆藏"}},
               {{"青铜"}}}),
         "兽面纹鼎", "上海市松江区广富林遗址出土", "商代晚期", "上海博物馆藏\n青铜"},
        {"a find-spot whose verb wrapped alone: the box fits the short glyph, not the type",
         page({{{"曾侯乙尊盘", kName}}, {{"战国早期"}}, {{"1978年湖北随州擂鼓墩出"}}, {{"土", 20, 30}}}),
         "曾侯乙尊盘", "1978年湖北随州擂鼓墩出土", "战国早期", ""},
        {"the widest line above a size line is not a wrap",
         page({{{"兽面纹鼎", kName}}, {{"商代晚期  河南安阳殷墟出土"}}, {{"高20厘米"}}}), "兽面纹鼎",
         "河南安阳殷墟出土", "商代晚期", "高20厘米"},
        {"a find-spot by its form, without 出土, before a holder",
         page({{{"绿松石龙形器", kName}},
               {{"二里头文化"}},
               {{"2002年河南偃师二里头"}},
               {{"中国国家博物馆藏"}}}),
         "绿松石龙形器", "2002年河南偃师二里头", "二里头文化", "中国国家博物馆藏"},
        {"mismatched brackets around a period after the name",
         page({{{"彩绘木俑〔唐]", kName}}, {{"湖南省博物馆藏"}}}), "彩绘木俑", "湖南省博物馆藏", "唐", ""},
        {"a bracketed period alone; brackets around a number stay",
         page({{{"青花梅瓶", kName}}, {{"【明永乐）"}}, {{"首都博物馆藏"}}, {{"口径(12.2)厘米"}}}),
         "青花梅瓶", "首都博物馆藏", "明永乐", "口径(12.2)厘米"},
        {"spaces after full-width punctuation go, range dashes are dashes",
         page({{{"玉琮", kName}},
               {{"良渚文化"}},
               {{"浙江余杭反山墓地出土"}},
               {{"质地： 玉"}},
               {{"尺寸：高 3.6-9.2厘米，射径 5一6 厘米"}},
               {{"编号:A-753"}}}),
         "玉琮", "浙江余杭反山墓地出土", "良渚文化",
         "质地：玉\n尺寸：高 3.6—9.2厘米，射径 5—6 厘米\n编号:A-753"},
        {"look-alikes mended in every field, within lexicon terms of two or more characters",
         page({{{"兽面纹算", kName}}, {{"西周早期"}}, {{"陕西宝鸡竹园沟出土"}}, {{"雾蓝釉 五彩 于"}}}),
         "兽面纹簋", "陕西宝鸡竹园沟出土", "西周早期", "霁蓝釉 五彩 于"},
        {"金 is the material when another line is the period",
         page({{{"嵌宝石金杯", kName}}, {{"金"}}, {{"明万历"}}, {{"北京定陵出土"}}}), "嵌宝石金杯",
         "北京定陵出土", "明万历", "金"},
        {"金 alone is the period", page({{{"鎏金铜坐龙", kName}}, {{"金"}}, {{"黑龙江阿城出土"}}}),
         "鎏金铜坐龙", "黑龙江阿城出土", "金", ""},
        {"nothing read", page({}), "", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RelicLabelExtracted got = engine::readLabelFields(c.page);
        EXPECT_EQ(got.name, QString::fromUtf8(c.wantName));
        EXPECT_EQ(got.source, QString::fromUtf8(c.wantSource));
        EXPECT_EQ(got.period, QString::fromUtf8(c.wantPeriod));
        EXPECT_EQ(got.other, QString::fromUtf8(c.wantOther));
    }
}

TEST(LabelFields, DescribedCardsAreLabelsAndPanelsStayPanels) {
    const auto described = page({{{"兽面纹斝", kName}},
                                 {{"商代晚期"}},
                                 {{"河南安阳殷墟出土"}},
                                 {{"青铜"}},
                                 {{"此类酒器盛行于商代，同类器物在河南安阳等地"}},
                                 {{"的墓葬中多有出土，器身饰兽面纹，铸造精良，"}},
                                 {{"是研究商代礼制的重要资料。其组合体现了严格"}},
                                 {{"的礼制等级，为同类器物中的精品之作。"}}});
    EXPECT_EQ(engine::classifyPage(described).category, MediaCategory::label);

    std::vector<std::vector<Line>> panel = {{{"商代晚期的礼制与生活", kName}}};
    for (int i = 0; i < 11; ++i)
        panel.push_back({{"展品多出土于大型墓葬与遗址，为研究当时的宗教信仰、社会结构提供了珍贵资料"}});
    panel.push_back({{"湖北随州曾侯乙墓"}});
    EXPECT_EQ(engine::classifyPage(page(panel)).category, MediaCategory::panel);
    // No text, or an inscription on the object itself: an artifact.
    EXPECT_EQ(engine::classifyPage(page({})).category, MediaCategory::artifact);
    EXPECT_EQ(engine::classifyPage(page({{{"永寿", 40}}})).category, MediaCategory::artifact);
}

TEST(LabelFields, CorrectsLookAlikesOnlyWithinLexiconTerms) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"兽面纹算", "兽面纹簋"},             // a vessel type read as its look-alike
        {"雾蓝釉八宝纹盒", "霁蓝釉八宝纹盒"}, // a glaze
        {"青铜蟠爬纹隔", "青铜蟠爬纹鬲"},     // one term mended, an unknown word left
        {"五彩鱼藻纹盖罐", "五彩鱼藻纹盖罐"}, // 五 is read for 盂 but 五彩 is a term itself
        {"算盘", "算盘"},                     // not one lexicon term would be made by the change
    };
    for (const auto& [read, want] : cases)
        EXPECT_EQ(engine::correctTerms(QString::fromUtf8(read)), QString::fromUtf8(want)) << read;
    // A line of thousands of characters (once a fuzz target's slow input) is mended at both ends.
    const QString middle = QStringLiteral("青铜鼎").repeated(1800);
    EXPECT_EQ(engine::correctTerms(QStringLiteral("雾蓝釉") + middle + QStringLiteral("兽面纹算")),
              QStringLiteral("霁蓝釉") + middle + QStringLiteral("兽面纹簋"));
}
