// Field assignment on lines as the recogniser returns them: one case per rule the printed layouts
// (samples/PrintedLabelsTest) do not already cover, the mixed and ambiguous cases; and the
// lexicon's look-alike correction.

#include "engine/Heuristics.h"
#include "engine/MuseumTerms.h"

#include <gtest/gtest.h>

namespace {

/// Lines top to bottom, split at '|'. A line is 30 px high and a character as wide, "#" before it
/// sets it in the name's larger type (60 px), "@h,w" after it gives its box instead.
engine::PageText page(const QString& lines) {
    engine::PageText p;
    p.imageWidth = 2400;
    p.imageHeight = 1600;
    for (QString text : lines.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        float height = text.startsWith(QLatin1Char('#')) ? 60 : 30, width = 0;
        if (height == 60) text.remove(0, 1);
        if (const qsizetype at = text.indexOf(QLatin1Char('@')); at >= 0) {
            const QStringList box = text.mid(at + 1).split(QLatin1Char(','));
            height = box.value(0).toFloat(), width = box.value(1).toFloat();
            text.truncate(at);
        }
        const float w = width > 0 ? width : float(text.size()) * height,
                    top = 100 + 60.0f * float(p.rows.size());
        p.rows.push_back({{engine::TextLine{text, 0.95f, height, w, top, 100}}});
    }
    return p;
}

} // namespace

TEST(LabelFields, AssignsFieldsOnEveryLayout) {
    const struct {
        const char* name;
        const char* page;
        const char* want; ///< name|source|period|other
    } cases[] = {
        {"a paragraph under the fields goes to the rest whole, its words taken for nothing",
         "#兽面纹斝|上海博物馆藏|青铜|此类酒器盛行于商代，同类器物在河南安阳|"
         "等地的墓葬中多有出土，是研究礼制的|重要资料。",
         "兽面纹斝|上海博物馆藏||"
         "青铜\n此类酒器盛行于商代，同类器物在河南安阳等地的墓葬中多有出土，是研究礼制的重要资料。"},
        {"a paragraph whose first line reads as no sentence (its 、 not read) and ends in a cut 出: "
         "not a find-spot",
         "#越王勾践剑|五代|首都博物馆藏|木|同类器物在河南陕西等地的商代墓葬中多有出@30,630|"
         "土。玉质温润，琢磨精细，反映了良渚先民高超|的治玉技艺。",
         "越王勾践剑|首都博物馆藏|五代|木\n"
         "同类器物在河南陕西等地的商代墓葬中多有出土。玉质温润，琢磨精细，反映了良渚先民高超的治玉技艺。"},
        {"a full stop read as a middle dot in a paragraph; the middle dot of a period line stays",
         "#青花缠枝莲纹梅瓶|明 · 瓷|釉色莹润，发色浓艳，为官窑精品·玉质温|润，琢磨精细 ·",
         "青花缠枝莲纹梅瓶||明|瓷\n釉色莹润，发色浓艳，为官窑精品。玉质温润，琢磨精细。"},
        {"a holder line and a hall line: the hall is never the source",
         "#龙纹觥|商代晚期|上海博物馆藏|上海博物馆青铜馆陈列",
         "龙纹觥|上海博物馆藏|商代晚期|上海博物馆青铜馆陈列"},
        {"an explicit source prefix wins over a guessed find-spot or holder",
         "名称：青花瓶|年代：明宣德|来源：湖北省文物商店|湖北省博物馆二楼展厅展出|景德镇御窑厂遗址同类器",
         "青花瓶|湖北省文物商店|明宣德|湖北省博物馆二楼展厅展出\n景德镇御窑厂遗址同类器"},
        {"a source wrapped in a word, its box taller than the type but not its glyphs; the find-spot "
         "kept and the holder joined in the rest",
         "#兽面纹鼎|商代晚期|上海市松江区广富林遗址出土，上海博物|馆藏@40,66|青铜",
         "兽面纹鼎|上海市松江区广富林遗址出土|商代晚期|上海博物馆藏\n青铜"},
        {"a find-spot whose verb wrapped alone: the box fits the short glyph, not the type",
         "#曾侯乙尊盘|战国早期|1978年湖北随州擂鼓墩出|土@20,30",
         "曾侯乙尊盘|1978年湖北随州擂鼓墩出土|战国早期|"},
        {"a find-spot wrapped before its last three characters, their box taller than the type",
         "#铜奔马|东汉|1969年甘肃武威雷台汉|墓出土@37,90|高34.5厘米",
         "铜奔马|1969年甘肃武威雷台汉墓出土|东汉|高34.5厘米"},
        {"the widest line above a size line is not a wrap", "#兽面纹鼎|商代晚期  河南安阳殷墟出土|高20厘米",
         "兽面纹鼎|河南安阳殷墟出土|商代晚期|高20厘米"},
        {"a find-spot by its form, without 出土, before a holder",
         "#绿松石龙形器|二里头文化|2002年河南偃师二里头|中国国家博物馆藏",
         "绿松石龙形器|2002年河南偃师二里头|二里头文化|中国国家博物馆藏"},
        {"the name's line not read: a holder, a period, a size or a period with its material is not the name",
         "湖南省博物馆藏|明嘉靖|长6.0—10.7厘米", "|湖南省博物馆藏|明嘉靖|长6.0—10.7厘米"},
        {"the same, the period set with its material",
         "新石器时代 · 瓷|1970年陕西西安何家村窖藏出土|高20厘米",
         "|1970年陕西西安何家村窖藏出土|新石器时代|瓷\n高20厘米"},
        {"a period set larger than a name read short is still the period",
         "目|#商代晚期|1972年陕西扶风庄白窖藏出土|瓷", "目|1972年陕西扶风庄白窖藏出土|商代晚期|瓷"},
        {"mismatched brackets around a period after the name, set apart from it",
         "#彩绘木俑 〔唐]|象牙|湖南省博物馆藏", "彩绘木俑|湖南省博物馆藏|唐|象牙"},
        {"a bracketed period alone; brackets around a number stay",
         "#青花梅瓶|【明永乐）|首都博物馆藏|口径(12.2)厘米", "青花梅瓶|首都博物馆藏|明永乐|口径(12.2)厘米"},
        {"spaces after full-width punctuation go, range dashes are dashes",
         "#玉琮|良渚文化|浙江余杭反山墓地出土|质地： 玉|尺寸：高 3.6-9.2厘米，射径 5一6 厘米|编号:A-753",
         "玉琮|浙江余杭反山墓地出土|良渚文化|质地：玉\n尺寸：高 3.6—9.2厘米，射径 5—6 厘米\n编号:A-753"},
        {"look-alikes mended in every field, within lexicon terms of two or more characters",
         "#兽面纹算|西周早期|陕西宝鸡竹园沟出土|雾蓝釉 五彩 于 五彩鱼藻纹盖罐 算盘",
         "兽面纹簋|陕西宝鸡竹园沟出土|西周早期|霁蓝釉 五彩 于 五彩鱼藻纹盖罐 算盘"},
        {"金 is the material when another line is the period", "#嵌宝石金杯|金|明万历|北京定陵出土",
         "嵌宝石金杯|北京定陵出土|明万历|金"},
        {"金 alone is the period", "#鎏金铜坐龙|金|黑龙江阿城出土", "鎏金铜坐龙|黑龙江阿城出土|金|"},
        {"nothing read", "", "|||"},
    };
    for (const auto& c : cases) {
        const RelicLabelExtracted got = engine::readLabelFields(page(QString::fromUtf8(c.page)));
        EXPECT_EQ(
            QStringList({got.name, got.source, got.period, got.other}).join(QLatin1Char('|')).toStdString(),
            c.want)
            << c.name;
    }
}

TEST(LabelFields, DescribedCardsAreLabelsAndPanelsStayPanels) {
    const auto described =
        page("#兽面纹斝|商代晚期|河南安阳殷墟出土|青铜|此类酒器盛行于商代，同类器物在河南安阳等地|"
             "的墓葬中多有出土，器身饰兽面纹，铸造精良，|是研究商代礼制的重要资料。其组合体现了严格|"
             "的礼制等级，为同类器物中的精品之作。");
    EXPECT_EQ(engine::classifyPage(described).category, MediaCategory::label);
    const QString prose = "展品多出土于大型墓葬与遗址，为研究当时的宗教信仰、社会结构提供了珍贵资料|";
    EXPECT_EQ(engine::classifyPage(page("#商代晚期的礼制与生活|" + prose.repeated(11) + "湖北随州曾侯乙墓"))
                  .category,
              MediaCategory::panel);
    // No text, or an inscription on the object itself: an artifact.
    EXPECT_EQ(engine::classifyPage(page("")).category, MediaCategory::artifact);
    EXPECT_EQ(engine::classifyPage(page("永寿@40")).category, MediaCategory::artifact);
}

TEST(LabelFields, NearlyReadCharactersGoInOnlyWhereTheyCompleteATerm) {
    const struct {
        const char* read;
        std::vector<engine::NearlyRead> nearly;
        const char* want;
    } cases[] = {
        {"河南三门峡国墓地", {{5, "虢"}}, "河南三门峡虢国墓地"},
        {"龙纹 三门峡国墓地", {{0, "夔"}, {6, "虢"}, {6, "虢"}}, "夔龙纹 三门峡虢国墓地"},
        {"蒲纹玉", {{3, "钱"}}, "蒲纹玉钺"},          // one the recogniser reads for 钺 nearly read
        {"青铜器", {{1, "虢"}, {3, "钱"}}, "青铜器"}, // completes no term
        {"虢国墓地", {{0, "虢"}}, "虢国墓地"},        // the term is whole already
        {"粉彩山水", {{1, "彩"}}, "粉彩山水"},        // the character read next, not another one
        {"国墓地", {{9, "虢"}, {-1, "虢"}}, "国墓地"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(engine::completeTerms(QString::fromUtf8(c.read), c.nearly), QString::fromUtf8(c.want))
            << c.read;
}

TEST(LabelFields, CorrectsLookAlikesAtBothEndsOfAVeryLongLine) {
    // A line of thousands of characters (once a fuzz target's slow input) is mended at both ends.
    const QString middle = QStringLiteral("青铜鼎").repeated(1800);
    EXPECT_EQ(engine::correctTerms(QStringLiteral("雾蓝釉") + middle + QStringLiteral("兽面纹算")),
              QStringLiteral("霁蓝釉") + middle + QStringLiteral("兽面纹簋"));
}
