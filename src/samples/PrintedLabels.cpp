// Label cards as museums print them: the layouts, the fields a careful reader reports, and the
// card drawn on a wall in one of the type families, papers and borders museums use.

#include "samples/SceneCanvas.h"
#include "samples/Scenes.h"

#include <QFontMetrics>

namespace scenes {

using namespace canvas;

namespace {

const QStringList kBronzeMotifs = {"兽面纹", "饕餮纹", "云雷纹", "蟠螭纹", "夔龙纹", "窃曲纹", "重环纹",
                                   "凤鸟纹", "弦纹",   "涡纹",   "乳钉纹", "蟠虺纹", "",       ""};
const QStringList kBronzeTypes = {"鼎", "簋", "尊", "爵", "觚", "卣", "罍", "斝", "盉", "觥", "甗",   "壶",
                                  "盘", "鉴", "盨", "簠", "豆", "钟", "镈", "觯", "匜", "鬲", "方彝", "编钟"};
const QStringList kJadeMotifs = {"谷纹", "蒲纹", "龙纹", "兽面纹", "素面", "螭龙纹", "云纹", "", ""};
const QStringList kJadeTypes = {"璧", "琮", "璜", "珩", "玦", "钺", "圭", "璋", "琥", "佩", "蝉", "环", "瑗"};
const QStringList kGlazes = {"青花", "粉彩",   "五彩",   "斗彩",   "青釉", "白釉",   "黑釉",
                             "黄釉", "霁蓝釉", "釉里红", "珐琅彩", "三彩", "青白釉", "豆青釉"};
const QStringList kCeramicMotifs = {"缠枝莲纹", "花卉纹", "云龙纹", "婴戏图",      "山水人物图",
                                    "折枝花纹", "莲瓣纹", "鱼藻纹", "凤穿牡丹纹",  "海水江崖纹",
                                    "八宝纹",   "",       "刻花",   "印花缠枝菊纹"};
const QStringList kCeramicShapes = {"瓶",   "梅瓶", "玉壶春瓶", "碗", "盘", "罐", "盖罐", "高足杯",
                                    "执壶", "尊",   "洗",       "炉", "枕", "盒", "扁壶", "葫芦瓶"};
const QStringList kOtherNames = {"彩绘木俑", "彩绘陶俑",     "三彩骆驼载乐俑", "铜奔马",
                                 "漆耳杯",   "错金银铜虎符", "金缕玉衣",       "长信宫灯",
                                 "彩绘漆奁", "青铜神树",     "金面罩",         "瑞兽葡萄纹铜镜",
                                 "鎏金铜蚕", "素纱襌衣",     "击鼓说唱俑",     "人面鱼纹彩陶盆",
                                 "鹰形陶鼎", "四羊方尊",     "莲鹤方壶",       "越王勾践剑"};
const QStringList kPrintedPeriods = {"商代晚期",   "西周早期", "西周晚期", "春秋",     "战国早期", "战国",
                                     "秦",         "西汉",     "东汉",     "北魏",     "唐",       "五代",
                                     "北宋",       "南宋",     "元",       "明永乐",   "明宣德",   "明成化",
                                     "清康熙",     "清雍正",   "清乾隆",   "良渚文化", "仰韶文化", "红山文化",
                                     "新石器时代", "辽",       "隋",       "明嘉靖"};
const QStringList kFindspots = {
    "湖北随州曾侯乙墓",     "河南安阳殷墟妇好墓", "陕西宝鸡竹园沟",     "陕西扶风庄白窖藏",
    "湖南长沙马王堆汉墓",   "河北满城汉墓",       "四川广汉三星堆遗址", "浙江余杭反山墓地",
    "江苏徐州狮子山楚王墓", "甘肃武威雷台墓",     "河南三门峡虢国墓地", "陕西西安何家村窖藏",
    "江西景德镇御窑厂遗址", "辽宁牛河梁遗址",     "山东临淄齐故城",     "河南新郑郑公大墓"};
const QStringList kHolders = {"南京博物院",   "湖南省博物馆",   "故宫博物院", "上海博物馆",
                              "湖北省博物馆", "陕西历史博物馆", "河南博物院", "首都博物馆",
                              "浙江省博物馆", "中国国家博物馆"};
const QStringList kDonors = {"张伯驹先生", "王世襄先生", "孙瀛洲先生", "李荫轩先生",
                             "刘九庵先生", "邓拓先生",   "叶恭绰先生", "潘达于女士"};
const QStringList kPrintedMaterials = {"青铜", "玉", "瓷", "陶", "木", "漆木", "金", "银", "铜鎏金", "象牙"};
const QStringList kProseSentences = {"此器造型端庄，纹饰繁缛，是这一时期青铜礼器的代表作。",
                                     "墓主人身份显赫，随葬品丰富，出土时置于椁室东侧。",
                                     "同类器物在河南、陕西等地的商代墓葬中多有出土。",
                                     "釉色莹润，发色浓艳，为官窑精品。",
                                     "器身铭文记载了册命赏赐之事，是研究西周历史的重要资料。",
                                     "玉质温润，琢磨精细，反映了良渚先民高超的治玉技艺。",
                                     "俑的衣纹线条流畅，彩绘保存完好，再现了汉代宫廷生活。",
                                     "此类器物多用于祭祀与宴飨，其组合体现了严格的礼制等级。"};
const QStringList kEnglishNames = {"Ritual Food Vessel",    "Famille-rose Bowl",   "Jade Disc",
                                   "Painted Wooden Figure", "Blue-and-white Vase", "Wine Vessel",
                                   "Bronze Mirror",         "Celadon Jar"};
const QStringList kEnglishLines = {"Excavated from a tomb in Suizhou, Hubei, 1978",
                                   "Collection of the Nanjing Museum",
                                   "Late Shang dynasty, c. 13th–11th century BCE",
                                   "Qing dynasty, Yongzheng reign (1723–1735)",
                                   "Height 42 cm",
                                   "Donated in 1982",
                                   "Porcelain with overglaze enamels"};

/// Where the card's exhibit is shown, printed under the fields on some cards.
const QStringList kHalls = {"青铜馆陈列",         "陶瓷馆陈列", "第三展厅展出",
                            "古代玉器专题展陈列", "二楼展厅",   "历代书画馆展出"};

enum class SourceKind { findspot, acquisition, holder, mixed };

struct Source {
    SourceKind kind;
    QString printed; ///< as printed without a prefix
    QString value;   ///< what the reader reports as the source
    QString rest;    ///< a holder printed with the find-spot, which goes to the other text
    QString place;   ///< the bare place or institution, for prefixed cards
};

QString year(std::mt19937& rng) {
    return QString::number(1950 + rng() % 70) + QStringLiteral("年");
}

Source randomSource(std::mt19937& rng) {
    const int r = int(rng() % 10);
    if (r < 4) {
        const QString place = pick(kFindspots, rng);
        const QString printed =
            rng() % 2 ? year(rng) + place + QStringLiteral("出土") : place + QStringLiteral("出土");
        return {SourceKind::findspot, printed, printed, {}, place};
    }
    if (r < 5) {
        const QString printed =
            rng() % 2 ? year(rng) + QStringLiteral("征集") : pick(kDonors, rng) + QStringLiteral("捐赠");
        return {SourceKind::acquisition, printed, printed, {}, printed};
    }
    if (r < 8) {
        const QString holder = pick(kHolders, rng);
        return {SourceKind::holder, holder + QStringLiteral("藏"), holder + QStringLiteral("藏"), {}, holder};
    }
    const QString place = pick(kFindspots, rng);
    const QString find = year(rng) + place + QStringLiteral("出土");
    const QString holder = pick(kHolders, rng) + QStringLiteral("藏");
    return {SourceKind::mixed, find + QStringLiteral("，") + holder, find, holder, place};
}

QString randomName(std::mt19937& rng) {
    switch (rng() % 5) {
    case 0:
    case 1: {
        const QString bronze = rng() % 3 == 0 ? QStringLiteral("青铜") : QString();
        return bronze + pick(kBronzeMotifs, rng) + pick(kBronzeTypes, rng);
    }
    case 2:
        return pick(kJadeMotifs, rng) + QStringLiteral("玉") + pick(kJadeTypes, rng);
    case 3:
        return pick(kGlazes, rng) + pick(kCeramicMotifs, rng) + pick(kCeramicShapes, rng);
    default:
        return pick(kOtherNames, rng);
    }
}

QString sizeLine(std::mt19937& rng) {
    switch (rng() % 3) {
    case 0:
        return QStringLiteral("高%1厘米").arg(10 + rng() % 60);
    case 1:
        return QStringLiteral("口径%1.%2厘米/足径%3.%4厘米")
            .arg(8 + rng() % 20)
            .arg(rng() % 10)
            .arg(3 + rng() % 8)
            .arg(rng() % 10);
    default:
        return QStringLiteral("高 %1 厘米  口径 %2 厘米").arg(10 + rng() % 60).arg(5 + rng() % 30);
    }
}

/// Prose cut into printed lines of at most `perLine` characters.
QStringList wrap(const QString& text, int perLine) {
    QStringList lines;
    for (qsizetype i = 0; i < text.size(); i += perLine)
        lines << text.mid(i, perLine);
    return lines;
}

} // namespace

const QStringList& tuningFamilies() {
    static const QStringList families = {"Noto Sans CJK SC", "Noto Serif CJK SC", "AR PL UMing CN",
                                         "WenQuanYi Zen Hei", "AR PL UKai CN"};
    return families;
}

const QStringList& heldOutFamilies() {
    static const QStringList families = {"AR PL SungtiL GB", "AR PL KaitiM GB", "LXGW WenKai",
                                         "WenQuanYi Micro Hei", "cwTeXFangSong"};
    return families;
}

const char* layoutName(LabelLayout layout) {
    switch (layout) {
    case LabelLayout::classic:
        return "classic";
    case LabelLayout::prefixed:
        return "prefixed";
    case LabelLayout::plain:
        return "plain";
    case LabelLayout::periodMaterial:
        return "period+material";
    case LabelLayout::bilingual:
        return "bilingual";
    case LabelLayout::description:
        return "description";
    case LabelLayout::twoColumn:
        return "two-column";
    }
    return "?";
}

PrintedLabel randomPrintedLabel(LabelLayout layout, unsigned seed) {
    std::mt19937 rng(seed * 104729u + unsigned(layout) * 7u + 3u);
    PrintedLabel label;
    label.layout = layout;
    LabelCard& f = label.fields;
    f.name = randomName(rng);
    f.period = pick(kPrintedPeriods, rng);
    const Source source = randomSource(rng);
    f.source = source.value;
    const QString material = pick(kPrintedMaterials, rng);
    const QString printedSize = sizeLine(rng);
    using Style = PrintedLine::Style;
    auto add = [&](const QString& text, Style style = Style::body, bool other = false) {
        label.lines.push_back(PrintedLine{text, style, {}});
        if (other) f.other << text;
    };
    // The holder printed with a find-spot is kept in the other text.
    // What later cards print besides, drawn apart so that the lines above stay as they were: a
    // size given as a range, the hall the exhibit is shown in, a source wrapped onto a second line.
    std::mt19937 more(seed * 2246822519u + unsigned(layout) * 31u + 7u);
    const QString range = QStringLiteral("长%1.%2—%3.%4厘米")
                              .arg(2 + more() % 5)
                              .arg(more() % 10)
                              .arg(8 + more() % 20)
                              .arg(more() % 10);
    const QString hall = more() % 4 == 0 ? pick(kHalls, more) : QString();
    const bool wrapSource = more() % 3 == 0 && source.printed.size() >= 8;
    const int wrapAt = int(source.printed.size()) - 1 - int(more() % 3);
    const bool sizeRange = more() % 4 == 0;
    const QString size = sizeRange ? range : printedSize;
    auto addHall = [&] {
        if (!hall.isEmpty()) add(hall, Style::body, true);
    };
    auto addSource = [&](const QString& text) {
        if (wrapSource && text == source.printed) {
            label.lines.push_back(PrintedLine{text.left(wrapAt), Style::body, {}, true});
            add(text.mid(wrapAt));
        } else {
            add(text);
        }
        if (!source.rest.isEmpty()) f.other << source.rest;
    };

    switch (layout) {
    case LabelLayout::classic:
        add(f.name, Style::name);
        add(f.period + QStringLiteral("  ") + source.printed);
        if (!source.rest.isEmpty()) f.other << source.rest;
        add(size, Style::body, true);
        addHall();
        break;
    case LabelLayout::prefixed: {
        const QStringList seps = {QStringLiteral("："), QStringLiteral(":"), QStringLiteral(" "),
                                  QStringLiteral("： ")};
        const QString sep = pick(seps, rng);
        const QStringList namePrefixes = {"名称", "文物名称", "品名"};
        const QStringList periodPrefixes = {"年代", "时代", "朝代"};
        add(pick(namePrefixes, rng) + sep + f.name, rng() % 2 ? Style::name : Style::body);
        QStringList rows;
        rows << pick(periodPrefixes, rng) + sep + f.period;
        QString sourceRow;
        switch (source.kind) {
        case SourceKind::findspot: {
            const QStringList p = {"出土地点", "出土地", "出土", "来源"};
            const QString prefix = pick(p, rng);
            // "出土地点：湖北随州曾侯乙墓" names the place alone; "来源：…出土" keeps the verb.
            if (prefix == QStringLiteral("来源")) {
                sourceRow = prefix + sep + source.printed;
            } else {
                sourceRow = prefix + sep + source.place;
                f.source = source.place;
            }
            break;
        }
        case SourceKind::acquisition:
            sourceRow = QStringLiteral("来源") + sep + source.printed;
            break;
        case SourceKind::holder: {
            const QStringList p = {"收藏单位", "馆藏", "来源"};
            const QString prefix = pick(p, rng);
            if (prefix == QStringLiteral("来源")) {
                sourceRow = prefix + sep + source.place + QStringLiteral("　藏");
            } else {
                sourceRow = prefix + sep + source.place;
                f.source = source.place;
            }
            break;
        }
        case SourceKind::mixed:
            sourceRow = QStringLiteral("来源") + sep + source.printed;
            break;
        }
        rows << sourceRow;
        const QStringList materialPrefixes = {"质地", "材质"};
        const QStringList sizePrefixes = {"尺寸", "规格"};
        QStringList others = {pick(materialPrefixes, rng) + sep + material,
                              pick(sizePrefixes, rng) + sep + size};
        if (rng() % 2) others << QStringLiteral("级别") + sep + QStringLiteral("一级");
        if (rng() % 2) others << QStringLiteral("编号") + sep + QStringLiteral("A%1").arg(100 + rng() % 900);
        if (rng() % 2) std::swap(rows[0], rows[1]);
        for (const QString& row : rows)
            add(row);
        if (!source.rest.isEmpty()) f.other << source.rest;
        // The space after a full-width colon is the colon's own: a reader reports none.
        for (const QString& row : others) {
            add(row);
            f.other << QString(row).replace(QStringLiteral("： "), QStringLiteral("："));
        }
        break;
    }
    case LabelLayout::plain:
        add(f.name, Style::name);
        add(f.period);
        addSource(source.printed);
        if (source.kind == SourceKind::findspot && rng() % 2)
            add(pick(kHolders, rng) + QStringLiteral("藏"), Style::body, true);
        add(material, Style::body, true);
        add(size, Style::body, true);
        addHall();
        break;
    case LabelLayout::periodMaterial:
        if (rng() % 3 == 0) {
            add(f.name + QStringLiteral("（") + f.period + QStringLiteral("）"), Style::name);
            add(material, Style::body, true);
        } else {
            add(f.name, Style::name);
            const QStringList seps = {QStringLiteral(" · "), QStringLiteral("  "), QStringLiteral("·")};
            add(f.period + pick(seps, rng) + material);
            f.other << material;
        }
        addSource(source.printed);
        add(size, Style::body, true);
        break;
    case LabelLayout::bilingual: {
        const bool interleaved = rng() % 2;
        add(f.name, Style::name);
        if (interleaved) add(pick(kEnglishNames, rng), Style::englishName);
        add(f.period);
        if (interleaved) add(pick(kEnglishLines, rng), Style::english);
        addSource(source.printed);
        if (interleaved) add(pick(kEnglishLines, rng), Style::english);
        add(size, Style::body, true);
        if (!interleaved) {
            add(pick(kEnglishNames, rng), Style::englishName);
            add(pick(kEnglishLines, rng), Style::english);
            add(pick(kEnglishLines, rng), Style::english);
        }
        break;
    }
    case LabelLayout::description: {
        add(f.name, Style::name);
        add(f.period);
        addSource(source.printed);
        add(material, Style::body, true);
        QString prose;
        const int sentences = 2 + int(rng() % 2);
        for (int i = 0; i < sentences; ++i)
            prose += pick(kProseSentences, rng);
        addHall();
        // One paragraph, wrapped into printed lines.
        for (const QString& line : wrap(prose, 18 + int(rng() % 6)))
            add(line, Style::prose);
        f.other << prose;
        break;
    }
    case LabelLayout::twoColumn: {
        auto row = [&](const QString& field, const QString& value, Style style = Style::body) {
            label.lines.push_back(PrintedLine{value, style, field});
        };
        row(QStringLiteral("名称"), f.name, Style::name);
        row(QStringLiteral("年代"), f.period);
        const QStringList sourceFields = {"来源", "出土地点", "收藏单位"};
        QString field = QStringLiteral("来源");
        if (source.kind == SourceKind::findspot || source.kind == SourceKind::holder) {
            field = source.kind == SourceKind::findspot ? sourceFields[rng() % 2]
                                                        : sourceFields[rng() % 2 ? 2 : 0];
            if (field != QStringLiteral("来源")) f.source = source.place;
        }
        row(field, field == QStringLiteral("来源") ? source.printed : source.place);
        if (!source.rest.isEmpty()) f.other << source.rest;
        row(QStringLiteral("质地"), material);
        f.other << QStringLiteral("质地 ") + material;
        row(QStringLiteral("尺寸"), size);
        f.other << QStringLiteral("尺寸 ") + size;
        break;
    }
    }
    return label;
}

platform::Bitmap renderPrintedLabel(const PrintedLabel& label, unsigned seed, int width, int height,
                                    std::optional<CardPose> pose, const QStringList& families) {
    std::mt19937 rng(seed);
    Canvas canvas(width, height, rng);
    QPainter& p = canvas.painter;
    using Style = PrintedLine::Style;

    // Sometimes the card is small in the frame, sometimes turned by up to ±10°.
    const bool small = rng() % 4 == 0;
    double share = small ? 0.32 + (rng() % 14) / 100.0 : 0.55 + (rng() % 30) / 100.0;
    double angle =
        rng() % 3 == 0 ? (double(rng() % 2001) / 100.0 - 10.0) : (double(rng() % 401) / 100.0 - 2.0);
    if (pose) {
        share = pose->share;
        angle = pose->degrees;
    }
    int cw = int(width * share);
    const int body = std::max(11, cw / 30), big = std::max(16, cw / 17), prose = std::max(10, cw / 34);
    (void)rng(); // the draw that once chose between the two Noto faces
    // The card's look, drawn apart from the pose: type family, paper and ink, border, line spacing.
    std::mt19937 look(seed * 2654435761u + 12345u);
    const QStringList& faces = families.isEmpty() ? tuningFamilies() : families;
    const QString family = faces[int(look() % unsigned(faces.size()))];
    struct Paper {
        QColor paper, ink;
    };
    static const Paper papers[] = {
        {QColor(236, 232, 222), QColor(30, 28, 26)}, {QColor(248, 248, 245), QColor(20, 20, 20)},
        {QColor(205, 203, 196), QColor(25, 25, 25)}, {QColor(40, 38, 36), QColor(230, 225, 210)},
        {QColor(16, 16, 18), QColor(214, 190, 130)}, {QColor(112, 32, 28), QColor(240, 228, 200)},
        {QColor(28, 42, 72), QColor(235, 235, 230)}, {QColor(214, 192, 152), QColor(50, 30, 20)},
    };
    const Paper colours = papers[look() % std::size(papers)];
    const int border = int(look() % 4); // none, a thin rule, a double rule, a thick frame
    const double spacing = 1.45 + (look() % 80) / 100.0;

    auto sizeOf = [&](Style s) {
        return s == Style::name          ? big
               : s == Style::prose       ? prose
               : s == Style::englishName ? body * 6 / 5
                                         : body;
    };
    auto faceOf = [&](const PrintedLine& line, int size) {
        QFont f = font(line.style == Style::english || line.style == Style::englishName
                           ? QStringLiteral("DejaVu Serif")
                           : family,
                       size, line.style == Style::name);
        f.setItalic(line.style == Style::englishName);
        return f;
    };
    // A wrapped line runs to the card's right edge: the card is as wide as that line, or as the
    // name still set larger than the body needs, and the wrapped line is then spaced out to fill it.
    const int margin = cw / 12;
    for (const auto& line : label.lines)
        if (line.wraps) {
            int wide = QFontMetrics(faceOf(line, sizeOf(line.style))).horizontalAdvance(line.text);
            for (const auto& other : label.lines)
                if (other.style == Style::name)
                    wide = std::max(
                        wide, QFontMetrics(font(family, body * 4 / 3, true)).horizontalAdvance(other.text));
            cw = std::min(int(width * 0.92), wide + margin + cw / 20);
        }
    int contentHeight = 0;
    for (const auto& line : label.lines)
        contentHeight += int(sizeOf(line.style) * spacing);
    const int ch = std::min(int(height * 0.9), contentHeight + 2 * std::max(body * 2, cw / 14));

    p.translate(width / 2 + int(rng() % 80) - 40, height / 2 + int(rng() % 60) - 30);
    p.rotate(angle);
    const int cx = -cw / 2, cy = -ch / 2;
    p.fillRect(cx + 8, cy + 10, cw, ch, QColor(0, 0, 0, 90));
    (void)rng(); // the draw that once chose a dark card
    p.fillRect(cx, cy, cw, ch, colours.paper);
    if (border > 0) {
        const int inset = std::max(4, cw / 60);
        p.setPen(QPen(colours.ink, border == 3 ? std::max(3, cw / 120) : 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRect(cx + inset, cy + inset, cw - 2 * inset, ch - 2 * inset));
        if (border == 2) p.drawRect(QRect(cx + 2 * inset, cy + 2 * inset, cw - 4 * inset, ch - 4 * inset));
    }
    p.setPen(colours.ink);
    const int x = cx + margin, valueX = cx + margin + body * 6;
    int y = cy + std::max(body * 2, cw / 14) - body / 2;
    int carried = 0; // the size a wrapped line goes on in
    for (const auto& line : label.lines) {
        const int size = carried > 0 ? carried : sizeOf(line.style);
        QFont f = faceOf(line, size);
        if (!line.field.isEmpty()) {
            p.setFont(font(family, body, true));
            p.drawText(x, y + size, line.field);
        }
        // Long lines are set smaller so that they stay on the card.
        const int left = line.field.isEmpty() ? x : valueX, room = cx + cw - cw / 20 - left;
        const int wide = QFontMetrics(f).horizontalAdvance(line.text);
        if (wide > room) f.setPixelSize(std::max(8, size * room / wide));
        if (line.wraps && wide < room && line.text.size() > 1)
            f.setLetterSpacing(QFont::AbsoluteSpacing, double(room - wide) / double(line.text.size()));
        carried = line.wraps ? f.pixelSize() : 0;
        p.setFont(f);
        p.drawText(left, y + size, line.text);
        y += int(size * spacing);
    }
    p.end();
    return photograph(canvas.image, rng);
}

} // namespace scenes
