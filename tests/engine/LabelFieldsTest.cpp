// Field assignment on lines as the recogniser returns them, one case per card layout museums
// print, plus the mixed and ambiguous cases; and the lexicon's look-alike correction.

#include "engine/Heuristics.h"
#include "engine/MuseumTerms.h"
#include "samples/Scenes.h"
#include "support/TermScan.h"

#include <gtest/gtest.h>

namespace {

struct Line {
    const char* text;
    float height = 30;
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
            r.lines.push_back(
                engine::TextLine{text, 0.95f, line.height, float(text.size()) * line.height, top, left});
            left += float(text.size()) * line.height + 80;
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
        {"prefixes with a full-width colon, a spaced holder, English at the end",
         page({{{"粉彩花卉纹碗", kName}},
               {{"年代：清雍正"}},
               {{"来源：南京博物院　藏"}},
               {{"瓷"}},
               {{"口径12.2厘米/足径5.1厘米"}},
               {{"Famille-rose Bowl"}}}),
         "粉彩花卉纹碗", "南京博物院藏", "清雍正", "瓷\n口径12.2厘米/足径5.1厘米"},
        {"ASCII colons; other prefixed lines stay verbatim",
         page({{{"文物名称:玉琮"}},
               {{"时代:良渚文化"}},
               {{"出土地点:浙江余杭反山墓地"}},
               {{"质地:玉"}},
               {{"尺寸:高8.5厘米"}},
               {{"编号:A753"}}}),
         "玉琮", "浙江余杭反山墓地", "良渚文化", "质地:玉\n尺寸:高8.5厘米\n编号:A753"},
        {"spaced prefixes the recogniser ran together",
         page({{{"品名铜奔马", kName}},
               {{"朝代东汉"}},
               {{"出土地甘肃武威雷台墓"}},
               {{"材质青铜"}},
               {{"级别一级"}}}),
         "铜奔马", "甘肃武威雷台墓", "东汉", "材质 青铜\n级别 一级"}, // the spaces as printed
        {"a holder prefix before a find-spot prefix: the find-spot wins",
         page({{{"名称：曾侯乙编钟"}},
               {{"收藏单位：湖北省博物馆"}},
               {{"出土：1978年湖北随州曾侯乙墓"}},
               {{"朝代：战国早期"}}}),
         "曾侯乙编钟", "1978年湖北随州曾侯乙墓", "战国早期", "收藏单位：湖北省博物馆"},
        {"no prefixes: period alone, find-spot, holder, material and size",
         page({{{"鎏金舞马衔杯纹银壶", kName}},
               {{"唐"}},
               {{"1970年陕西西安何家村窖藏出土"}},
               {{"陕西历史博物馆藏"}},
               {{"银"}},
               {{"高 18.5 厘米"}}}),
         "鎏金舞马衔杯纹银壶", "1970年陕西西安何家村窖藏出土", "唐", "陕西历史博物馆藏\n银\n高 18.5 厘米"},
        {"the name in larger type under a section title",
         page({{{"第二单元 礼乐"}}, {{"兽面纹鼎", kName}}, {{"商代晚期"}}, {{"河南安阳殷墟出土"}}}),
         "兽面纹鼎", "河南安阳殷墟出土", "商代晚期", "第二单元 礼乐"},
        {"period and material on one line, with a middle dot",
         page({{{"彩绘木俑", kName}}, {{"西汉 · 木"}}, {{"湖南长沙马王堆汉墓出土"}}, {{"高 38 厘米"}}}),
         "彩绘木俑", "湖南长沙马王堆汉墓出土", "西汉", "木\n高 38 厘米"},
        {"period and material separated by spaces",
         page({{{"谷纹璧", kName}}, {{"战国早期  玉"}}, {{"湖南省博物馆藏"}}}), "谷纹璧", "湖南省博物馆藏",
         "战国早期", "玉"},
        {"the period in brackets after the name",
         page({{{"彩绘木俑（西汉）", kName}}, {{"木"}}, {{"湖南省博物馆藏"}}}), "彩绘木俑", "湖南省博物馆藏",
         "西汉", "木"},
        {"the period in ASCII brackets", page({{{"青花缠枝莲纹梅瓶 (明永乐)", kName}}, {{"首都博物馆藏"}}}),
         "青花缠枝莲纹梅瓶", "首都博物馆藏", "明永乐", ""},
        {"a find-spot and its holder on one line",
         page({{{"曾侯乙尊盘", kName}}, {{"战国早期"}}, {{"1978年湖北随州曾侯乙墓出土，湖北省博物馆藏"}}}),
         "曾侯乙尊盘", "1978年湖北随州曾侯乙墓出土", "战国早期", "湖北省博物馆藏"},
        {"a prefixed source that mixes a find-spot and a holder",
         page({{{"名称：玉琮"}}, {{"年代：良渚文化"}}, {{"来源：1986年浙江余杭反山出土，浙江省博物馆藏"}}}),
         "玉琮", "1986年浙江余杭反山出土", "良渚文化", "浙江省博物馆藏"},
        {"a holder before an acquisition",
         page({{{"五彩鱼藻纹盖罐", kName}}, {{"明嘉靖"}}, {{"1982年征集"}}, {{"南京博物院藏"}}}),
         "五彩鱼藻纹盖罐", "南京博物院藏", "明嘉靖", "1982年征集"},
        {"a donation alone is the source",
         page({{{"游春图", kName}}, {{"隋"}}, {{"张伯驹先生捐赠"}}, {{"绢本设色"}}}), "游春图",
         "张伯驹先生捐赠", "隋", "绢本设色"},
        {"period and source on one line, run together",
         page({{{"三彩骆驼载乐俑", kName}}, {{"唐陕西西安出土"}}}), "三彩骆驼载乐俑", "陕西西安出土", "唐",
         ""},
        {"bilingual, interleaved, an English line beside a Chinese one",
         page({{{"谷纹玉璧", kName}},
               {{"Jade Disc with Grain Pattern", 34}},
               {{"战国"}, {"Warring States period"}},
               {{"河南洛阳出土"}},
               {{"Excavated in Luoyang, Henan"}},
               {{"直径 16.4 厘米"}}}),
         "谷纹玉璧", "河南洛阳出土", "战国", "直径 16.4 厘米"},
        {"an English name on the name's line is left out",
         page({{{"青花缠枝莲纹瓶 Blue-and-white Vase", kName}}, {{"明永乐"}}, {{"上海博物馆藏"}}}),
         "青花缠枝莲纹瓶", "上海博物馆藏", "明永乐", ""},
        {"a paragraph under the fields goes to the rest whole, its words taken for nothing",
         page({{{"兽面纹斝", kName}},
               {{"上海博物馆藏"}},
               {{"青铜"}},
               {{"此类酒器盛行于商代，同类器物在河南安阳"}},
               {{"等地的墓葬中多有出土，是研究礼制的"}},
               {{"重要资料。"}}}),
         "兽面纹斝", "上海博物馆藏", "",
         "青铜\n此类酒器盛行于商代，同类器物在河南安阳等地的墓葬中多有出土，是研究礼制的重要资料。"},
        {"typesetting spaces the recogniser drops: after a field word, around spaced measurements",
         page({{{"名称 兽面纹鼎", kName}},
               {{"年代 商代晚期"}},
               {{"质地青铜"}},
               {{"尺寸高40厘米口径 21厘米"}},
               {{"高12厘米/足径5.1厘米"}},
               {{"长3.6厘米"}}}),
         "兽面纹鼎", "", "商代晚期",
         "质地 青铜\n尺寸 高 40 厘米  口径 21 厘米\n高12厘米/足径5.1厘米\n长3.6厘米"},
        {"a full stop read as a middle dot in a paragraph; the middle dot of a period line stays",
         page({{{"青花缠枝莲纹梅瓶", kName}},
               {{"明 · 瓷"}},
               {{"釉色莹润，发色浓艳，为官窑精品·玉质温"}},
               {{"润，琢磨精细 ·"}}}),
         "青花缠枝莲纹梅瓶", "", "明", "瓷\n釉色莹润，发色浓艳，为官窑精品。玉质温润，琢磨精细。"},
        {"two paragraphs: a sentence ending short of the edge ends one",
         page({{{"兽面纹斝", kName}},
               {{"商代晚期"}},
               {{"此器造型端庄，纹饰繁缛，是这一时期青铜"}},
               {{"礼器的代表作。"}},
               {{"同类器物在河南、陕西等地的商代墓葬中多"}},
               {{"有出土。"}}}),
         "兽面纹斝", "", "商代晚期",
         "此器造型端庄，纹饰繁缛，是这一时期青铜礼器的代表作。\n同类器物在河南、陕西等地的商代墓葬中多有出土"
         "。"},
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
        {"a holder wrapped in a word",
         page({{{"谷纹璧", kName}}, {{"战国"}}, {{"中国国家博物"}}, {{"馆藏"}}}), "谷纹璧",
         "中国国家博物馆藏", "战国", ""},
        {"a find-spot whose verb wrapped",
         page({{{"曾侯乙尊盘", kName}}, {{"战国早期"}}, {{"1978年湖北随州擂鼓墩出"}}, {{"土"}}}),
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
        {"a tomb's find-spot with a stray sign before its year",
         page({{{"跪射俑", kName}}, {{"秦"}}, {{"¥1974年陕西临潼秦始皇陵"}}, {{"陕西历史博物馆藏"}}}),
         "跪射俑", "1974年陕西临潼秦始皇陵", "秦", "陕西历史博物馆藏"},
        {"a one-character dynasty run together with the material",
         page({{{"蟠螭纹鬲", kName}}, {{"元木"}}, {{"山东临淄齐故城出土"}}, {{"口径9.3厘米／足径6.1厘米"}}}),
         "蟠螭纹鬲", "山东临淄齐故城出土", "元", "木\n口径9.3厘米/足径6.1厘米"},
        {"a culture read with one character wrong is the one culture it can be",
         page({{{"龙纹玉佩", kName}}, {{"良者文化"}}, {{"湖北省博物馆藏"}}}), "龙纹玉佩", "湖北省博物馆藏",
         "良渚文化", ""},
        {"a culture the lexicon does not know stays as read",
         page({{{"彩陶罐", kName}}, {{"半山文化"}}, {{"甘肃省博物馆藏"}}}), "彩陶罐", "甘肃省博物馆藏",
         "半山文化", ""},
        {"a year with an acquisition is no find-spot",
         page({{{"五彩盘", kName}}, {{"明嘉靖"}}, {{"1982年征集"}}}), "五彩盘", "1982年征集", "明嘉靖", ""},
        {"mismatched brackets around a period after the name",
         page({{{"彩绘木俑〔唐]", kName}}, {{"湖南省博物馆藏"}}}), "彩绘木俑", "湖南省博物馆藏", "唐", ""},
        {"a bracketed period alone; brackets around a number stay",
         page({{{"青花梅瓶", kName}}, {{"【明永乐）"}}, {{"首都博物馆藏"}}, {{"口径(12.2)厘米"}}}),
         "青花梅瓶", "首都博物馆藏", "明永乐", "口径(12.2)厘米"},
        {"a bracketed period after its prefix",
         page({{{"名称：铜镜"}}, {{"年代：（唐]"}}, {{"来源：上海博物馆藏"}}}), "铜镜", "上海博物馆藏", "唐",
         ""},
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
        {"two columns: field names left, values right",
         page({{{"名称"}, {"粉彩花卉纹碗", 45}},
               {{"年代"}, {"清雍正"}},
               {{"收藏单位"}, {"南京博物院"}},
               {{"质地"}, {"瓷"}},
               {{"尺寸"}, {"口径12.2厘米"}}}),
         "粉彩花卉纹碗", "南京博物院", "清雍正", "质地 瓷\n尺寸 口径12.2厘米"},
        {"金 is the material when another line is the period",
         page({{{"嵌宝石金杯", kName}}, {{"金"}}, {{"明万历"}}, {{"北京定陵出土"}}}), "嵌宝石金杯",
         "北京定陵出土", "明万历", "金"},
        {"金 alone is the period", page({{{"鎏金铜坐龙", kName}}, {{"金"}}, {{"黑龙江阿城出土"}}}),
         "鎏金铜坐龙", "黑龙江阿城出土", "金", ""},
        {"units and accession numbers are not English",
         page({{{"铜镜", kName}}, {{"唐"}}, {{"直径 12 cm"}}, {{"A753"}}}), "铜镜", "", "唐",
         "直径 12 cm\nA753"},
        {"出土 read with a look-alike", page({{{"铜奔马", kName}}, {{"东汉"}}, {{"甘肃武威雷台墓出士"}}}),
         "铜奔马", "甘肃武威雷台墓出土", "东汉", ""},
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
        {"铜奔马", "铜奔马"},
        {"算盘", "算盘"}, // not one lexicon term would be made by the change
        {"", ""},
    };
    for (const auto& [read, want] : cases)
        EXPECT_EQ(engine::correctTerms(QString::fromUtf8(read)), QString::fromUtf8(want)) << read;
    // A line of thousands of characters (the engine_page fuzz target's slow input, once a scan
    // of the whole lexicon at every position) is mended at both ends and kept between them.
    const QString middle = QStringLiteral("青铜鼎").repeated(1800);
    EXPECT_EQ(engine::correctTerms(QStringLiteral("雾蓝釉") + middle + QStringLiteral("兽面纹算")),
              QStringLiteral("霁蓝釉") + middle + QStringLiteral("兽面纹簋"));
    EXPECT_TRUE(engine::coveredByTerms(QStringLiteral("青花缠枝莲纹梅瓶")));
    EXPECT_FALSE(engine::coveredByTerms(QStringLiteral("素纱襌衣")));
    EXPECT_GE(engine::museumTerms().size(), 400);
}

// The correction tries at each position only the terms its character may begin; a scan of the
// whole lexicon must give the same text for every printed card line and for every term read with
// one look-alike character, alone, at the end of a name and inside one.
TEST(LabelFields, LookAlikeCorrectionAgreesWithAScanOfTheWholeLexicon) {
    QStringList texts;
    for (const auto layout : scenes::kLabelLayouts)
        for (unsigned seed = 101; seed < 121; ++seed)
            for (const auto& line : scenes::randomPrintedLabel(layout, seed).lines)
                texts << line.text;
    QString termCharacters;
    for (const QString& term : engine::museumTerms())
        for (const QChar c : term)
            if (!termCharacters.contains(c)) termCharacters += c;
    std::vector<std::pair<QChar, QChar>> lookAlikes; // read, meant
    for (char16_t read = 0x4E00; read <= 0x9FA5; ++read)
        for (const QChar meant : termCharacters)
            if (engine::mayBeReadFor(QChar(read), meant)) lookAlikes.emplace_back(QChar(read), meant);
    // Every term with one character misread, and with two where it has two that may be.
    int misread = 0;
    const auto add = [&](const QString& variant) {
        texts << variant << QStringLiteral("青铜") + variant << variant + QStringLiteral("纹盖罐");
        ++misread;
    };
    for (const QString& term : engine::museumTerms())
        for (qsizetype k = 0; k < term.size(); ++k)
            for (const auto& [read, meant] : lookAlikes) {
                if (term[k] != meant) continue;
                QString variant = term;
                variant[k] = read;
                add(variant);
                for (qsizetype j = k + 1; j < term.size(); ++j)
                    for (const auto& [read2, meant2] : lookAlikes)
                        if (term[j] == meant2) {
                            QString twice = variant;
                            twice[j] = read2;
                            add(twice);
                        }
            }
    ASSERT_GT(misread, 20);
    for (const QString& text : texts)
        EXPECT_EQ(engine::correctTerms(text), fixtures::correctTermsByFullScan(text)) << text.toStdString();
}
