#include "engine/Heuristics.h"

#include "engine/MuseumTerms.h"

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
    static const QRegularExpression re(
        QStringLiteral("出土|遗址|墓|窖藏|发掘|陵|冢|窑址|城址|故城|古城|地宫|塔基|沉船"));
    return re;
}

/// A find-spot printed without a site word: a year, then a place ("1974年河南偃师二里头").
const QRegularExpression& datedPlace() {
    static const QRegularExpression re(QStringLiteral("^(?:公元前?)?\\d{2,4}年[\\x{4E00}-\\x{9FFF}]{2,}$"));
    return re;
}

/// Where the object is shown ("青铜馆陈列", "第三展厅展出"): never its source.
const QRegularExpression& displayWords() {
    static const QRegularExpression re(QStringLiteral("陈列|展出|展厅|展区|展柜|展线|展览"));
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
                       "纸本|绢本|青铜|玉|陶|瓷|漆|金|银|木|象牙|骨|铁|琉璃|玻璃"));
    return re;
}

/// Rows in English (translations on bilingual cards) are left out of every field.
/// An accession number ("A753") or a unit ("cm") is not English.
bool isEnglish(const QString& text) {
    int latin = 0, counted = 0;
    for (const QChar c : text) {
        if (c.isSpace() || c.isPunct() || c.isDigit()) continue;
        ++counted;
        latin += c.unicode() < 0x80;
    }
    return latin >= 4 && latin >= counted * 0.6 && counted - latin < 2;
}

/// Latin-letter words (an English name set beside the Chinese one).
bool isLatinWord(const QString& token) {
    return !token.isEmpty() && std::all_of(token.begin(), token.end(), [](QChar c) {
        return c.unicode() < 0x80 && (c.isLetter() || c.isPunct());
    }) && std::any_of(token.begin(), token.end(), [](QChar c) { return c.isLetter(); });
}

/// A line without the English words set in it: runs of two or more Latin words, or one long word.
/// Units ("cm") and accession numbers ("A753") stay.
QString withoutEnglishWords(const QString& text) {
    static const QRegularExpression spaces(QStringLiteral("\\s+"),
                                           QRegularExpression::UseUnicodePropertiesOption);
    const QStringList words = text.split(spaces, Qt::SkipEmptyParts);
    QStringList kept;
    for (qsizetype i = 0; i < words.size();) {
        qsizetype end = i;
        while (end < words.size() && isLatinWord(words[end]))
            ++end;
        if (end == i) {
            kept << words[i++];
            continue;
        }
        if (end - i < 2 && words[i].size() < 4)
            for (qsizetype k = i; k < end; ++k)
                kept << words[k];
        i = end;
    }
    return kept.size() == words.size() ? text : kept.join(QLatin1Char(' '));
}

enum class Field { name, period, source, other };

/// What a printed source says, in the order the label prompt prefers it.
enum class SourceKind { findspot, holder, acquisition, none };

SourceKind sourceKind(const QString& text) {
    if (namesFindspot(text)) return SourceKind::findspot;
    if (namesAcquisition(text)) return SourceKind::acquisition;
    if (namesHolder(text)) return SourceKind::holder;
    return SourceKind::none;
}

struct Prefix {
    Field field;
    SourceKind kind; ///< for source prefixes; none: judge by the value
    QString value;   ///< the text after the prefix
    bool colon = false;
};

/// A field prefix at the start of a line: "名称：", "年代:", "来源 " or, when the recogniser
/// dropped the space, "年代清雍正".
std::optional<Prefix> fieldPrefix(const QString& text) {
    static const QRegularExpression re(QStringLiteral(
        "^(文物名称|展品名称|名称|品名|年代|时代|朝代|出土地点|出土地|出土|来源|征集|捐赠|收藏单位|馆藏|藏|"
        "质地|材质|尺寸|规格|级别|编号)\\s*([：:])?\\s*(.*)$"));
    const auto m = re.match(text);
    if (!m.hasMatch() || m.captured(3).isEmpty()) return std::nullopt;
    const QString word = m.captured(1);
    const bool colon = !m.captured(2).isEmpty();
    const bool spaced = colon || m.capturedEnd(1) < m.capturedStart(3);
    const QString value = m.captured(3);
    // A one-character prefix needs its colon; "出土于…" and "征集于…" are sentences, not prefixes.
    if (word.size() == 1 && !colon) return std::nullopt;
    if (!spaced && value.startsWith(QStringLiteral("于"))) return std::nullopt;
    static const QStringList names = {"文物名称", "展品名称", "名称", "品名"};
    static const QStringList periods = {"年代", "时代", "朝代"};
    static const QStringList findspots = {"出土地点", "出土地", "出土"};
    static const QStringList acquisitions = {"征集", "捐赠"};
    static const QStringList holders = {"收藏单位", "馆藏", "藏"};
    if (names.contains(word)) return Prefix{Field::name, SourceKind::none, value, colon};
    if (periods.contains(word)) return Prefix{Field::period, SourceKind::none, value, colon};
    if (findspots.contains(word)) return Prefix{Field::source, SourceKind::findspot, value, colon};
    if (acquisitions.contains(word)) return Prefix{Field::source, SourceKind::acquisition, value, colon};
    if (holders.contains(word)) return Prefix{Field::source, SourceKind::holder, value, colon};
    if (word == QStringLiteral("来源")) return Prefix{Field::source, SourceKind::none, value, colon};
    return Prefix{Field::other, SourceKind::none, value, colon};
}

QString withoutSpaces(QString text) {
    static const QRegularExpression spaces(QStringLiteral("\\s+"),
                                           QRegularExpression::UseUnicodePropertiesOption);
    return text.remove(spaces);
}

/// Tokens of an unprefixed line: parts separated by spaces or a middle dot ("西汉 · 木").
QStringList tokens(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[\\s·•・]+"),
                                               QRegularExpression::UseUnicodePropertiesOption);
    return text.split(separators, Qt::SkipEmptyParts);
}

/// The pieces of a source that prints a find-spot and a holder together.
QStringList sourcePieces(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[，,；;、/／]"));
    QStringList pieces;
    for (const QString& piece : text.split(separators, Qt::SkipEmptyParts))
        if (!piece.trimmed().isEmpty()) pieces << piece.trimmed();
    return pieces;
}

/// A line of running prose: a sentence, or a clause list that is not a list of sources.
bool startsProse(const QString& text) {
    if (text.contains(QStringLiteral("。"))) return true;
    if (!text.contains(QRegularExpression(QStringLiteral("[，；,;、]")))) return false;
    for (const QString& piece : sourcePieces(text))
        if (sourceKind(piece) == SourceKind::none && !isPeriod(piece)) return true;
    return false;
}

/// Brackets of any shape around a period, as the recogniser may read them ("〔唐]", "[明永乐)"),
/// become full-width ones, and one left open at the end of a line is closed; brackets around
/// anything else stay as read.
QString withPeriodBrackets(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("[（(〔\\[【［〈《｛{]\\s*([^（(〔\\[【［〈《｛{）)〕\\]】］〉》｝}\\s]{1,10})\\s*(?:["
                       "）)〕\\]】］〉》｝}]|$)"));
    QString out;
    qsizetype at = 0;
    for (auto it = re.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        out += text.mid(at, m.capturedStart() - at);
        out += isPeriod(m.captured(1)) ? QStringLiteral("（%1）").arg(m.captured(1)) : m.captured(0);
        at = m.capturedEnd();
    }
    return out + text.mid(at);
}

/// "（西汉）" printed alone: the period without its brackets.
std::optional<QString> bracketedPeriod(const QString& token) {
    if (token.size() < 3 || !token.startsWith(QStringLiteral("（")) || !token.endsWith(QStringLiteral("）")))
        return std::nullopt;
    const QString inner = token.mid(1, token.size() - 2).trimmed();
    return isPeriod(inner) ? std::optional<QString>(inner) : std::nullopt;
}

/// A currency sign the recogniser reads before a year or a number ("¥1974年") is not printed.
QString withoutStraySymbols(QString text) {
    static const QRegularExpression re(QStringLiteral("[¥￥＄$](?=\\d)"));
    return text.remove(re);
}

/// No space after full-width punctuation or an opening bracket, and none before full-width
/// punctuation: the recogniser puts them where the card has none ("质地： 玉").
QString withTidyPunctuation(QString text) {
    static const QRegularExpression after(
        QStringLiteral("([：，。；、！？）》」』】〕（《「『【〔])[ \\t\\x{3000}]+"));
    static const QRegularExpression before(QStringLiteral("[ \\t\\x{3000}]+([：，。；、！？）》」』】〕])"));
    return text.replace(after, QStringLiteral("\\1")).replace(before, QStringLiteral("\\1"));
}

/// The typesetting a recogniser cannot see, put back where the card must have had it: a field
/// word read run into its value ("质地玉") was set apart from it by a space; measurements set
/// side by side with nothing between them ("高40厘米口径20厘米") were set as "高 40 厘米  口径
/// 20 厘米", the number spaced from its word and unit, two spaces between measurements.
QString withTypesetSpaces(const QString& text) {
    static const QRegularExpression prefix(
        QStringLiteral("^(质地|材质|尺寸|规格|级别|编号)\\s*([：:]?)\\s*(?=\\S)"));
    static const QRegularExpression measurement(
        QStringLiteral("\\s*(通高|口径|底径|足径|腹径|直径|高|长|宽|厚|重)\\s*(\\d+(?:\\.\\d+)?)\\s*(厘米|"
                       "毫米|千克|公斤|克)"));
    QString head;
    qsizetype start = 0;
    if (const auto m = prefix.match(text); m.hasMatch()) {
        head = m.captured(1) + (m.captured(2).isEmpty() ? QStringLiteral(" ") : m.captured(2));
        start = m.capturedEnd();
    }
    QStringList parts;
    qsizetype at = start;
    for (auto it = measurement.globalMatch(text, start); it.hasNext();) {
        const auto m = it.next();
        if (m.capturedStart() != at) break;
        parts << QStringLiteral("%1 %2 %3").arg(m.captured(1), m.captured(2), m.captured(3));
        at = m.capturedEnd();
    }
    const QString value =
        parts.size() >= 2 && at == text.size() ? parts.join(QStringLiteral("  ")) : text.mid(start);
    return head + value;
}

/// In a paragraph, a middle dot after a character and before the next sentence or the line's
/// end is its full stop, read small ("为官窑精品·玉质温润"); lists in prose use "、".
QString withSentenceStops(QString text) {
    static const QRegularExpression dot(
        QStringLiteral("(?<=[\\x{4E00}-\\x{9FFF}）”])\\s*[·•・]\\s*(?=[\\x{4E00}-\\x{9FFF}“（]|$)"));
    return text.replace(dot, QStringLiteral("。"));
}

/// A range in a size or date line is printed with a dash the recogniser reads as a hyphen or as
/// "一" ("3.6-9.2厘米" for "3.6—9.2厘米").
QString withRangeDashes(QString text) {
    static const QRegularExpression unit(QStringLiteral("厘米|毫米|公分|米|cm|mm|克|kg|年|世纪"));
    if (!unit.match(text).hasMatch()) return text;
    // Sizes are separated by a plain slash ("口径9.3厘米/足径6.1厘米"), read as a full-width one.
    text.replace(QStringLiteral("／"), QStringLiteral("/"));
    static const QRegularExpression dash(QStringLiteral("(\\d)\\s*[-－–一]\\s*(?=\\d)"));
    return text.replace(dash, QStringLiteral("\\1—"));
}

/// A source line ends with a word that completes it (a find-spot's verb or site, a holder's
/// "藏", an institution, an acquisition).
bool endsASource(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("(?:出土|藏|遗址|墓|墓地|墓群|窖藏|征集|捐赠|捐献|移交|调拨|拨交|采集|购藏|"
                       "博物馆|博物院|纪念馆|研究所|陵|冢|故城|古城|地宫|塔基)$"));
    return re.match(text).hasMatch();
}

/// Whether a word of a source line is cut by the wrap between two lines ("…省博物" / "馆藏").
bool spansASourceWord(const QString& upper, const QString& lower) {
    static const QRegularExpression words(QStringLiteral(
        "出土|遗址|墓地|墓葬|墓群|窖藏|窑址|城址|故城|古城|地宫|塔基|博物馆|博物院|纪念馆|研究所|"
        "馆藏|征集|捐赠|捐献|旧藏|移交|调拨|拨交|购藏"));
    const QString joined = upper + lower;
    const qsizetype cut = upper.size();
    for (auto it = words.globalMatch(joined); it.hasNext();) {
        const auto m = it.next();
        if (m.capturedStart() < cut && m.capturedEnd() > cut) return true;
    }
    return false;
}

/// Two wrapped lines read as one: CJK run together, Latin words and numbers with a space.
QString joinWrapped(const QString& upper, const QString& lower) {
    const auto latin = [](QChar c) { return c.unicode() < 0x80 && c.isLetterOrNumber(); };
    const bool space = !upper.isEmpty() && !lower.isEmpty() && latin(upper.back()) && latin(lower.front());
    return upper + (space ? QStringLiteral(" ") : QString()) + lower;
}

/// An archaeological culture read with one character wrong ("良者文化"): the one culture of the
/// lexicon it can be, when there is exactly one. Cultures are a closed list; names are not.
QString withKnownCulture(const QString& period) {
    static const QString suffix = QStringLiteral("文化");
    if (period.size() < 4 || !period.endsWith(suffix)) return period;
    static const QStringList cultures = [] {
        QStringList list;
        for (const QString& term : museumTerms())
            if (term.endsWith(suffix)) list << term;
        return list;
    }();
    if (cultures.contains(period)) return period;
    QString found;
    for (const QString& culture : cultures) {
        if (culture.size() != period.size()) continue;
        int differences = 0;
        for (qsizetype i = 0; i < culture.size(); ++i)
            differences += culture[i] != period[i];
        if (differences != 1) continue;
        if (!found.isEmpty()) return period;
        found = culture;
    }
    return found.isEmpty() ? period : found;
}

/// A material named alone ("木", "漆木", "铜鎏金").
bool isMaterial(const QString& text) {
    const auto m = sizeOrMaterialWords().match(text);
    return m.hasMatch() && text.size() <= 4 && coveredByTerms(text);
}

/// Materials that are also a dynasty's name ("金"): on their own they are read as the period only
/// when nothing else on the card is one.
bool alsoMaterial(const QString& token) {
    return token == QStringLiteral("金");
}

/// Label words in one row: a period, a find-spot, holder or acquisition, a size or material,
/// a field prefix.
int labelWords(const QString& text) {
    int words = 0;
    for (const QString& segment : tokens(text))
        if (isPeriod(segment) || leadingPeriod(segment)) {
            ++words;
            break;
        }
    if (namesFindspot(text) || namesHolder(text) || namesAcquisition(text)) ++words;
    if (sizeOrMaterialWords().match(text).hasMatch()) ++words;
    if (fieldPrefix(text)) ++words;
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
    if (findspotWords().match(text).hasMatch()) return true;
    return datedPlace().match(text).hasMatch() && !namesAcquisition(text) && !namesHolder(text) &&
           !displayWords().match(text).hasMatch();
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
    int words = 0, shortLabelRows = 0;
    for (const auto& row : page.rows) {
        const int n = labelWords(row.text());
        words += n;
        shortLabelRows += n > 0 && row.estimatedCharacters() <= t.fieldMaxChars;
    }

    const bool prose = rows >= t.panelMinRows && charsPerRow >= t.panelMinCharsPerRow;
    const bool labelLike = rows <= t.labelMaxRows && words >= t.labelMinWords;
    if (labelLike && !prose) return {MediaCategory::label, std::min(0.95, 0.6 + 0.1 * words)};
    // A card with a paragraph of description: short field rows above the prose.
    if (shortLabelRows >= t.labelMinFieldRows && rows <= t.describedLabelMaxRows)
        return {MediaCategory::label, 0.8};
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

bool namesAcquisition(const QString& text) {
    static const QRegularExpression re(QStringLiteral("征集|捐赠|捐献|购藏|采购|收购|移交|调拨|拨交|旧藏"));
    return re.match(text).hasMatch();
}

namespace {

/// A line of the card in reading order, English translations left out.
struct Row {
    QString text;
    float height = 0;
    float left = 0, top = 0;
    float lastRight = 0, lastTop = 0; ///< of the last printed line joined into the row
    float edge = 0;                   ///< the right edge of the text block the row starts in
    bool single = false;              ///< one line, not columns side by side
    std::optional<Prefix> prefix;
    QStringList tokens;   ///< unprefixed rows: what is left after fields were taken
    bool touched = false; ///< a field was taken from it
    bool prose = false;   ///< part of a paragraph: kept whole in the other text
    QStringList extra;    ///< pieces a mixed source left over, for the other text
};

std::vector<Row> rowsOf(const PageText& page) {
    std::vector<Row> rows;
    for (const auto& textRow : page.rows) {
        QStringList parts;
        float left = 0, right = 0;
        for (const auto& line : textRow.lines)
            if (!line.text.isEmpty() && !isEnglish(line.text))
                if (const QString text = withoutEnglishWords(line.text); !text.isEmpty()) {
                    left = parts.isEmpty() ? line.left : std::min(left, line.left);
                    right = std::max(right, line.left + line.width);
                    parts << text;
                }
        if (parts.isEmpty()) continue;
        Row row;
        // 土 is often read as 士 in the commonest label word.
        row.text = withPeriodBrackets(withoutStraySymbols(
            parts.join(QLatin1Char(' ')).replace(QStringLiteral("出士"), QStringLiteral("出土"))));
        row.height = textRow.height();
        row.left = left;
        row.lastRight = right;
        row.top = row.lastTop = textRow.lines.front().top;
        row.single = parts.size() == 1;
        rows.push_back(row);
    }
    // A text block's right edge: the farthest any line starting in the same column reaches.
    for (auto& row : rows)
        for (const auto& other : rows)
            if (std::abs(other.left - row.left) <= 0.75f * row.height)
                row.edge = std::max(row.edge, other.lastRight);
    return rows;
}

/// Whether a row is set in about the type size of a line `h` high. A box round up to three
/// characters fits their glyphs rather than the line's type ("土" is shorter than a line of
/// text, "藏出土" on a turned card or "物馆藏" in a Kai face taller): for those either its height
/// or a character's width may tell the size, more loosely.
bool sameTypeSize(const Row& row, float h) {
    const auto n = row.text.size();
    if (n == 0 || n > 3) return std::abs(row.height / h - 1) <= 0.2f;
    const float glyph = (row.lastRight - row.left) / float(n);
    return std::min(std::abs(row.height / h - 1), std::abs(glyph / h - 1)) <= 0.3f;
}

/// Whether `upper` may run on into `lower` as one printed text: one line each, the same column
/// and type size, `lower` close below, and `upper` reaching its block's right edge.
bool runsOnInto(const Row& upper, const Row& lower) {
    const float h = upper.height;
    if (!upper.single || !lower.single || h <= 0) return false;
    if (!sameTypeSize(lower, h) || std::abs(lower.left - upper.left) > 0.75f * h) return false;
    if (lower.top - (upper.lastTop + h) > 1.6f * h || lower.top <= upper.lastTop) return false;
    return upper.lastRight >= upper.edge - 1.5f * h && lower.lastRight <= upper.lastRight + 0.5f * h;
}

// A source line that wraps is joined before fields are chosen: it runs on into the line below,
// and only the joined line ends as a source does ("…省博物" / "馆藏"). Paragraphs are joined when
// the rest is written.
bool wraps(const Row& upper, const Row& lower) {
    if (!runsOnInto(upper, lower)) return false;
    if (upper.text.contains(QStringLiteral("。")) || fieldPrefix(lower.text) || isPeriod(lower.text))
        return false;
    const auto upperPrefix = fieldPrefix(upper.text);
    if (upperPrefix && upperPrefix->field != Field::source) return false;
    if (displayWords().match(upper.text).hasMatch() || displayWords().match(lower.text).hasMatch())
        return false;
    // A line ending in a field of its own ("战国早期", "玉", a size) is followed, not continued.
    const QStringList upperTokens = tokens(upper.text);
    const SourceKind above = sourceKind(upper.text), below = sourceKind(lower.text);
    if (upperTokens.isEmpty() || isPeriod(upperTokens.back())) return false;
    if (above == SourceKind::none && sizeOrMaterialWords().match(upper.text).hasMatch()) return false;
    const QString joined = joinWrapped(upper.text, lower.text);
    if (!endsASource(joined)) return false;
    if (spansASourceWord(upper.text, lower.text)) return true;
    if (endsASource(upper.text)) return lower.text.size() <= 2;
    // Both halves may read as sources ("…虢国" / "墓地出土"): then they are one only when of one kind.
    return above == SourceKind::none || below == SourceKind::none || above == below;
}

/// Joins each wrapped source line to the line above, then reads the rows' field prefixes.
void joinWrappedSources(std::vector<Row>& rows) {
    for (size_t i = 0; i + 1 < rows.size();) {
        if (!wraps(rows[i], rows[i + 1])) {
            ++i;
            continue;
        }
        rows[i].text = joinWrapped(rows[i].text, rows[i + 1].text);
        rows[i].lastRight = rows[i + 1].lastRight;
        rows[i].lastTop = rows[i + 1].lastTop;
        rows.erase(rows.begin() + long(i) + 1);
    }
    for (auto& row : rows)
        row.prefix = fieldPrefix(row.text);
}

void markParagraphs(std::vector<Row>& rows) {
    // Paragraphs: from a row of prose on, rows belong to it unless a colon marks a field; a
    // wrapped sentence may begin with a field's word ("出土时…"). A paragraph's first line may
    // read as no sentence at all ("…等地的商代墓葬中多有出" / "土。玉质…"): a long line that runs on
    // into the paragraph's first line of prose begins the paragraph, unless it ends as a source.
    const auto proseStarts = [&](size_t i) {
        const Row& row = rows[i];
        return !(row.prefix && row.prefix->colon) && row.text.size() >= 12 && startsProse(row.text);
    };
    bool inProse = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        Row& row = rows[i];
        if (row.prefix && row.prefix->colon) continue;
        inProse = inProse || proseStarts(i) ||
                  (!row.prefix && row.text.size() >= 12 && i + 1 < rows.size() && proseStarts(i + 1) &&
                   runsOnInto(row, rows[i + 1]) && !endsASource(row.text));
        row.prose = inProse;
        if (row.prose) {
            row.prefix.reset();
            row.text = withSentenceStops(row.text);
        }
    }
    for (auto& row : rows)
        if (!row.prefix) row.tokens = tokens(row.text);
}

/// A row that is wholly other fields, never the name: a period, a source line, a size, or a
/// period or source followed by a material ("新石器时代 · 瓷"). When the name's line was not read,
/// the card's first line is one of these. A name set with its period ("彩绘陶俑 （清乾隆）",
/// "玉琮 良渚文化") comes first in its row, so it is not.
bool whollyOtherFields(const QString& text) {
    static const QRegularExpression size(QStringLiteral("\\d\\s*(?:厘米|毫米|cm|CM|千克|公斤|克)"));
    const QStringList parts = tokens(text);
    bool field = false;
    for (const QString& token : parts) {
        if (isPeriod(token) || endsASource(token) || size.match(token).hasMatch() ||
            (parts.size() == 1 && bracketedPeriod(token)))
            field = true;
        else if (!field || !isMaterial(token))
            return false;
    }
    return field;
}

/// Takes the name into `fields`; the period printed in brackets after it, if any.
std::optional<QString> takeName(std::vector<Row>& rows, RelicLabelExtracted& fields) {
    std::optional<QString> bracketPeriod;
    // The name: a prefixed row, else the most prominent of the first unprefixed rows that are not
    // wholly other fields.
    std::optional<size_t> nameRow;
    for (size_t i = 0; i < rows.size() && !nameRow; ++i)
        if (rows[i].prefix && rows[i].prefix->field == Field::name) nameRow = i;
    if (!nameRow) {
        std::vector<size_t> firsts;
        for (size_t i = 0; i < rows.size() && firsts.size() < 3; ++i)
            if (!rows[i].prefix && !rows[i].prose) firsts.push_back(i);
        std::erase_if(firsts, [&](size_t i) { return whollyOtherFields(rows[i].text); });
        if (!firsts.empty()) {
            nameRow = firsts.front();
            for (const size_t i : firsts)
                if (rows[i].height > rows[*nameRow].height) nameRow = i;
            if (rows[*nameRow].height < rows[firsts.front()].height * 1.15f) nameRow = firsts.front();
        }
    }
    if (nameRow) {
        Row& row = rows[*nameRow];
        QString name = row.prefix ? row.prefix->value : row.text;
        QStringList kept;
        for (const QString& token :
             name.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
            if (!isLatinWord(token)) kept << token;
        name = kept.join(QString());
        // "彩绘木俑（西汉）": the period in brackets after the name.
        static const QRegularExpression bracket(QStringLiteral("^(.+?)[（(]([^（()）]+)[)）]$"));
        if (const auto m = bracket.match(name); m.hasMatch() && isPeriod(m.captured(2))) {
            name = m.captured(1);
            bracketPeriod = m.captured(2);
        }
        fields.name = correctTerms(withoutSpaces(name));
        row.tokens.clear();
        row.touched = true;
        row.prefix.reset();
    }
    return bracketPeriod;
}

// The period: a prefixed one, one in brackets after the name, a line or part of a line that is
// one, then one a part begins with, then a one-character dynasty run into the source.
QString takePeriod(std::vector<Row>& rows, const std::optional<QString>& bracketPeriod) {
    for (auto& row : rows)
        if (row.prefix && row.prefix->field == Field::period) {
            const QString value = withoutSpaces(row.prefix->value);
            row.prefix.reset();
            row.touched = true;
            return bracketedPeriod(value).value_or(value);
        }
    if (bracketPeriod) return *bracketPeriod;
    for (const bool allowMaterial : {false, true})
        for (auto& row : rows) {
            if (row.prefix || row.prose) continue;
            for (qsizetype i = 0; i < row.tokens.size(); ++i) {
                if (const auto bracketed = bracketedPeriod(row.tokens[i])) {
                    row.touched = true;
                    row.tokens.removeAt(i);
                    return *bracketed;
                }
                if (isPeriod(row.tokens[i]) && (allowMaterial || !alsoMaterial(row.tokens[i]))) {
                    row.touched = true;
                    return row.tokens.takeAt(i);
                }
            }
        }
    for (auto& row : rows) {
        if (row.prefix || row.prose) continue;
        for (qsizetype i = 0; i < row.tokens.size(); ++i) {
            const QString token = row.tokens[i];
            if (const auto lead = leadingPeriod(token)) {
                row.tokens[i] = token.mid(lead->size());
                row.touched = true;
                return *lead;
            }
            // "唐湖北随州…出土", "元木": a one-character dynasty run together with the source
            // or the material.
            const auto m = periodPattern().match(token);
            if (m.hasMatch() && m.capturedLength() == 1 && token.size() > 1 &&
                (sourceKind(token.mid(1)) != SourceKind::none || isMaterial(token.mid(1)))) {
                row.tokens[i] = token.mid(1);
                row.touched = true;
                return m.captured(0);
            }
        }
    }
    return {};
}

QString takeSource(std::vector<Row>& rows) {
    // The source: one, a find-spot before a holder before an acquisition; a find-spot printed
    // together with its holder keeps only the find-spot. A line printed with a source prefix wins
    // over every guess; a line saying where the object is shown is never the source.
    struct Candidate {
        int rank = 0; ///< prefixed lines first, then by kind; a "来源：" naming no known kind last of them
        SourceKind kind = SourceKind::none;
        size_t row = 0;
        qsizetype token = -1; ///< -1: the prefixed row's value
    };
    constexpr int kGuessed = int(SourceKind::none) + 1;
    std::optional<Candidate> best;
    auto consider = [&](int rank, SourceKind kind, size_t row, qsizetype token) {
        if (!best || rank < best->rank) best = Candidate{rank, kind, row, token};
    };
    for (size_t r = 0; r < rows.size(); ++r) {
        const Row& row = rows[r];
        if (row.prose) continue;
        if (row.prefix && row.prefix->field == Field::source) {
            SourceKind kind = row.prefix->kind;
            if (kind == SourceKind::none)
                for (const QString& piece : sourcePieces(row.prefix->value))
                    kind = std::min(kind, sourceKind(piece));
            consider(int(kind), kind, r, -1);
        } else if (!row.prefix) {
            for (qsizetype i = 0; i < row.tokens.size(); ++i) {
                if (displayWords().match(row.tokens[i]).hasMatch()) continue;
                SourceKind kind = SourceKind::none;
                for (const QString& piece : sourcePieces(row.tokens[i]))
                    kind = std::min(kind, sourceKind(piece));
                if (kind != SourceKind::none) consider(kGuessed + int(kind), kind, r, i);
            }
        }
    }
    if (best) {
        Row& row = rows[best->row];
        const QString text = best->token < 0 ? row.prefix->value : row.tokens[best->token];
        // Of a find-spot printed with its holder, only the find-spot; the holder stays in the rest.
        const QStringList pieces = sourcePieces(text);
        QStringList kept, rest;
        const bool judgePieces = best->token >= 0 || row.prefix->kind == SourceKind::none;
        for (const QString& piece : pieces)
            (!judgePieces || sourceKind(piece) == best->kind || kept.isEmpty() ? kept : rest) << piece;
        if (pieces.size() <= 1) kept = {text};
        const QString source =
            correctTerms(withoutSpaces(kept.join(QStringLiteral("，"))), TermContext::text);
        row.extra = rest;
        row.touched = true;
        if (best->token < 0)
            row.prefix.reset();
        else
            row.tokens.removeAt(best->token);
        return source;
    }
    return {};
}

/// The rest, one line per printed line and one per paragraph.
QString otherText(const std::vector<Row>& rows) {
    // The rest, verbatim and in reading order; what a field was taken from keeps its remainder. A
    // paragraph is one line: its printed lines are joined unless one ends a sentence short of the
    // paragraph's right edge.
    float proseEdge = 0;
    for (const auto& row : rows)
        if (row.prose) proseEdge = std::max(proseEdge, row.lastRight);
    QStringList other;
    const Row* previous = nullptr;
    for (const auto& row : rows) {
        QStringList texts;
        if (!row.touched || row.prefix)
            texts << (row.prose ? row.text : withTypesetSpaces(row.text));
        else if (!row.tokens.isEmpty())
            texts << row.tokens.join(QLatin1Char(' '));
        texts << row.extra;
        for (QString& text : texts)
            text = correctTerms(withRangeDashes(withTidyPunctuation(text)), TermContext::text);
        const bool continues = row.prose && previous && previous->prose && !other.isEmpty() &&
                               !(previous->text.endsWith(QStringLiteral("。")) &&
                                 previous->lastRight < proseEdge - 1.5f * previous->height);
        if (continues && !texts.isEmpty()) other.back() = joinWrapped(other.back(), texts.takeFirst());
        other << texts;
        previous = &row;
    }
    return other.join(QLatin1Char('\n'));
}

} // namespace

RelicLabelExtracted readLabelFields(const PageText& page) {
    std::vector<Row> rows = rowsOf(page);
    joinWrappedSources(rows);
    RelicLabelExtracted fields;
    if (rows.empty()) return fields;
    markParagraphs(rows);
    const std::optional<QString> bracketPeriod = takeName(rows, fields);
    fields.period = takePeriod(rows, bracketPeriod);
    fields.source = takeSource(rows);
    fields.other = otherText(rows);
    fields.period = withKnownCulture(correctTerms(fields.period, TermContext::text));
    return fields;
}

QString ocrText(const PageText& page) {
    return page.rowTexts().join(QLatin1Char('\n'));
}

} // namespace engine
