#include "engine/Heuristics.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace engine {

const Thresholds& thresholds() {
    static const Thresholds t;
    return t;
}

namespace {

const QString kDynasties = QStringLiteral(
    "新石器时代|旧石器时代|夏|商|西周|东周|周|春秋|战国|秦|西汉|东汉|新莽|汉|三国|曹魏|蜀汉|东吴|西晋|东晋|"
    "晋|十六国|"
    "南北朝|北魏|东魏|西魏|北齐|北周|南朝|北朝|宋齐梁陈|隋|唐|五代|北宋|南宋|宋|辽|西夏|金|元|明|清|民国");
const QString kReigns = QStringLiteral("洪武|永乐|洪熙|宣德|正统|景泰|天顺|成化|弘治|正德|嘉靖|隆庆|万历|"
                                       "泰昌|天启|崇祯|顺治|康熙|雍正|乾隆|嘉庆|道光|"
                                       "咸丰|同治|光绪|宣统|开元|天宝|贞观|武德|永徽");
const QString kPhases = QStringLiteral("早期|中期|晚期|初期|末期|前期|后期|中晚期|早中期");

const QRegularExpression& periodPattern() {
    // dynasty [代|朝] [reign [年间]] [phase], or a culture name ending in 文化, or a plain reign.
    static const QRegularExpression re(QStringLiteral("^(?:(?:%1)(?:代|朝)?(?:(?:%2)(?:年间|年)?)?(?:%3)?|["
                                                      "\\x{4E00}-\\x{9FFF}]{1,5}文化|(?:%2)(?:年间)?)")
                                           .arg(kDynasties, kReigns, kPhases));
    return re;
}

const QRegularExpression& findspotWords() {
    static const QRegularExpression re(QStringLiteral("出土|遗址|墓|窖藏|发掘"));
    return re;
}

const QRegularExpression& holderWords() {
    static const QRegularExpression re(
        QStringLiteral("馆藏|博物馆|博物院|纪念馆|征集|捐赠|旧藏|移交|采集|收藏|藏$"));
    return re;
}

const QRegularExpression& sizeOrMaterialWords() {
    static const QRegularExpression re(
        QStringLiteral("厘米|毫米|cm|CM|口径|底径|通高|高\\s*\\d|长\\s*\\d|宽\\s*\\d|重\\s*\\d|克|质地|材质|"
                       "纸本|绢本|青铜|玉|陶|瓷|漆|金|银"));
    return re;
}

const QRegularExpression& namePrefixes() {
    static const QRegularExpression re(QStringLiteral("^(?:文物名称|名称|品名|展品名称|器名)\\s*[：:]\\s*"));
    return re;
}

/// Rows in English (translations on bilingual cards) are left out of every field.
bool isEnglish(const QString& text) {
    int latin = 0, counted = 0;
    for (const QChar c : text) {
        if (c.isSpace() || c.isPunct() || c.isDigit()) continue;
        ++counted;
        latin += c.unicode() < 0x80;
    }
    return counted > 0 && latin >= counted * 0.6;
}

int labelWords(const PageText& page) {
    int words = 0;
    for (const auto& row : page.rows) {
        const QString text = row.text();
        for (const QString& segment :
             text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
            if (isPeriod(segment) || leadingPeriod(segment)) {
                ++words;
                break;
            }
        if (namesFindspot(text) || namesHolder(text)) ++words;
        if (sizeOrMaterialWords().match(text).hasMatch()) ++words;
    }
    return words;
}

} // namespace

bool isPeriod(const QString& text) {
    const auto m = periodPattern().match(text);
    return m.hasMatch() && m.capturedLength() == text.size() && !text.isEmpty();
}

std::optional<QString> leadingPeriod(const QString& text) {
    const auto m = periodPattern().match(text);
    if (!m.hasMatch() || m.capturedLength() < 2) return std::nullopt;
    return m.captured(0);
}

bool namesFindspot(const QString& text) {
    return findspotWords().match(text).hasMatch();
}
bool namesHolder(const QString& text) {
    return holderWords().match(text).hasMatch();
}

Decision classifyPage(const PageText& page) {
    const Thresholds& t = thresholds();
    const int rows = int(page.rows.size());
    if (rows == 0) return {MediaCategory::artifact, 0.9};
    double chars = 0;
    for (const auto& row : page.rows)
        chars += row.estimatedCharacters();
    const double charsPerRow = chars / rows;
    const int words = labelWords(page);

    const bool prose = rows >= t.panelMinRows && charsPerRow >= t.panelMinCharsPerRow;
    const bool labelLike = rows <= t.labelMaxRows && words >= t.labelMinWords;
    if (labelLike && !prose) return {MediaCategory::label, std::min(0.95, 0.6 + 0.1 * words)};
    if (prose || page.textAreaShare >= t.panelMinAreaShare || rows >= t.panelMinRows)
        return {MediaCategory::panel, prose ? 0.9 : 0.7};
    // A little text that does not read like a label: an inscription on the object itself.
    if (words == 0 && rows <= 2) return {MediaCategory::artifact, 0.6};
    return {MediaCategory::label, 0.55};
}

bool worthReadingToClassify(const std::vector<platform::TextBox>& boxes) {
    int longLines = 0;
    for (const auto& box : boxes)
        if (box.height > 0 && box.width / box.height >= thresholds().panelMinCharsPerRow) ++longLines;
    return longLines < thresholds().panelMinRows;
}

RelicLabelExtracted readLabelFields(const PageText& page) {
    struct Row {
        QStringList segments;
        float height;
    };
    std::vector<Row> rows;
    for (const auto& row : page.rows) {
        const QString text = row.text();
        if (isEnglish(text)) continue;
        rows.push_back(
            Row{text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts), row.height()});
    }
    RelicLabelExtracted fields;
    if (rows.empty()) return fields;

    // The name: the most prominent of the first two rows.
    size_t nameRow = 0;
    if (rows.size() > 1 && rows[1].height > rows[0].height * 1.15f) nameRow = 1;
    fields.name = rows[nameRow].segments.join(QString()).remove(namePrefixes());
    rows[nameRow].segments.clear();

    // The period: a whole segment from the lexicon, else one that a segment begins with.
    auto takePeriod = [&](bool wholeOnly) {
        for (auto& row : rows)
            for (qsizetype i = 0; i < row.segments.size(); ++i) {
                const QString segment = row.segments[i];
                if (isPeriod(segment)) {
                    fields.period = segment;
                    row.segments.removeAt(i);
                    return true;
                }
                if (wholeOnly) continue;
                if (const auto lead = leadingPeriod(segment)) {
                    fields.period = *lead;
                    row.segments[i] = segment.mid(lead->size());
                    return true;
                }
                // "唐湖北随州…出土": a one-character dynasty run together with the source that
                // follows it on the card's line.
                const auto m = periodPattern().match(segment);
                if (m.hasMatch() && m.capturedLength() == 1 && segment.size() > 1 &&
                    (namesFindspot(segment.mid(1)) || namesHolder(segment.mid(1)))) {
                    fields.period = m.captured(0);
                    row.segments[i] = segment.mid(1);
                    return true;
                }
            }
        return false;
    };
    if (!takePeriod(true)) takePeriod(false);

    // The source: one segment, a find-spot before a holder.
    auto takeSource = [&](bool (*names)(const QString&)) {
        for (auto& row : rows)
            for (qsizetype i = 0; i < row.segments.size(); ++i)
                if (names(row.segments[i])) {
                    fields.source = row.segments[i];
                    row.segments.removeAt(i);
                    return true;
                }
        return false;
    };
    if (!takeSource(namesFindspot)) takeSource(namesHolder);

    QStringList other;
    for (const auto& row : rows)
        if (!row.segments.isEmpty()) other << row.segments.join(QLatin1Char(' '));
    fields.other = other.join(QLatin1Char('\n'));
    return fields;
}

QString ocrText(const PageText& page) {
    return page.rowTexts().join(QLatin1Char('\n'));
}

} // namespace engine
