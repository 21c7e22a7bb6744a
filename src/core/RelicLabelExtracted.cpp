#include "core/RelicLabelExtracted.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringList>

namespace {

const QString kName = QStringLiteral("文物名称");
const QString kSource = QStringLiteral("文物来源");
const QString kPeriod = QStringLiteral("年代");
const QString kOther = QStringLiteral("其他");

/// The object's string under key, or nothing when absent or not a string.
std::optional<QString> stringAt(const QJsonObject& object, const QString& key) {
    const QJsonValue value = object.value(key);
    if (!value.isString()) return std::nullopt;
    return value.toString();
}

std::optional<QJsonObject> parseObjectText(const QString& text) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    return doc.object();
}

/// Drops every run of commas that stands right before a closing brace or bracket, in one pass
/// (removing ",}" and ",]" until none is left, without going over the text once per comma).
QString withoutTrailingCommas(const QString& text) {
    QString out;
    out.reserve(text.size());
    qsizetype commas = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char(',')) {
            ++commas;
            continue;
        }
        if (c != QLatin1Char('}') && c != QLatin1Char(']')) out.append(QString(commas, QLatin1Char(',')));
        commas = 0;
        out.append(c);
    }
    out.append(QString(commas, QLatin1Char(',')));
    return out;
}

/// The index of the brace that closes the object opening at `open`, reading strings and their
/// escapes as JSON does; -1 when it never closes. A prefix that parses as one object must end
/// exactly there, so this is the only prefix worth parsing.
qsizetype closingBrace(const QString& text, qsizetype open) {
    int depth = 0;
    bool inString = false;
    for (qsizetype i = open; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (inString) {
            if (c == QLatin1Char('\\'))
                ++i;
            else if (c == QLatin1Char('"'))
                inString = false;
        } else if (c == QLatin1Char('"')) {
            inString = true;
        } else if (c == QLatin1Char('{') || c == QLatin1Char('[')) {
            ++depth;
        } else if (c == QLatin1Char('}') || c == QLatin1Char(']')) {
            if (--depth == 0) return c == QLatin1Char('}') ? i : -1;
        }
    }
    return -1;
}

bool containsAny(const QString& text, std::initializer_list<const char16_t*> words) {
    for (const char16_t* w : words)
        if (text.contains(QString::fromUtf16(w))) return true;
    return false;
}

} // namespace

QString RelicLabelExtracted::repairMisclosedStraightQuotesAfterChineseOpenQuote(const QString& text) {
    static const QRegularExpression beforePunctuation(QStringLiteral("“([^“”]*?)\"([，。；、,\\.])"));
    static const QRegularExpression beforeIdeograph(QStringLiteral("“([^“”]*?)\"(?=[\\x{4E00}-\\x{9FFF}])"));
    QString out = text;
    if (beforePunctuation.isValid()) out.replace(beforePunctuation, QStringLiteral("“\\1”\\2"));
    if (beforeIdeograph.isValid()) out.replace(beforeIdeograph, QStringLiteral("“\\1”"));
    return out;
}

RelicLabelExtracted::Candidate RelicLabelExtracted::parseJSONObjectWithCandidate(const QString& reply) {
    QString text = reply.trimmed();
    text.remove(QStringLiteral("```json"));
    text.remove(QStringLiteral("```"));
    text.remove(QChar(0xFEFF));
    text = withoutTrailingCommas(text);
    // A reply that already parses is taken as it is: the quote repair is for replies that a straight
    // quote closing a Chinese one broke, and on a well-formed reply whose text holds a “ before a
    // closing quote it would break the JSON instead.
    if (auto object = parseObjectText(text)) return {object, text};
    text = repairMisclosedStraightQuotesAfterChineseOpenQuote(text);

    if (auto object = parseObjectText(text)) return {object, text};
    const qsizetype open = text.indexOf(QLatin1Char('{'));
    const qsizetype close = text.lastIndexOf(QLatin1Char('}'));
    if (open < 0 || close < 0 || close < open) return {std::nullopt, text};
    const QString slice = text.mid(open, close - open + 1);
    if (auto object = parseObjectText(slice)) return {object, slice};
    // The longest prefix from the first "{" that closes into an object wins; at most one can.
    if (const qsizetype end = closingBrace(text, open); end > open && end <= close) {
        const QString prefix = text.mid(open, end - open + 1);
        if (auto object = parseObjectText(prefix)) return {object, prefix};
    }
    return {std::nullopt, slice};
}

QString RelicLabelExtracted::preferFindspotOverMuseum(const QString& source) {
    const QString trimmed = source.trimmed();
    if (trimmed.isEmpty()) return trimmed;
    auto namesFindspot = [](const QString& t) { return containsAny(t, {u"出土", u"遗址", u"墓"}); };
    auto namesMuseum = [](const QString& t) { return containsAny(t, {u"博物馆", u"博物院", u"纪念馆"}); };
    if (!(namesFindspot(trimmed) && namesMuseum(trimmed))) return trimmed;
    static const QRegularExpression separators(QStringLiteral("[，,；;、/]"));
    QStringList kept;
    for (const QString& piece : trimmed.split(separators)) {
        const QString p = piece.trimmed();
        if (p.isEmpty()) continue;
        if (!namesMuseum(p) || namesFindspot(p)) kept << p;
    }
    return kept.isEmpty() ? trimmed : kept.join(QStringLiteral("，"));
}

QString RelicLabelExtracted::normalizeFieldForPathAndPersistence(const QString& text) {
    static const QString unsafe = QStringLiteral("/\\:*?\"<>|");
    QString out;
    out.reserve(text.size());
    // By code point, so that characters outside the Basic Multilingual Plane stay whole.
    for (const char32_t c : text.toUcs4()) {
        if (c < 0x10000 && unsafe.contains(QChar(char16_t(c)))) continue;
        if (QChar::isSpace(c)) continue;
        out += QString::fromUcs4(&c, 1);
    }
    return out;
}

RelicLabelExtracted RelicLabelExtracted::parseObject(const QJsonObject& object) {
    const QString name =
        stringAt(object, kName).value_or(stringAt(object, QStringLiteral("文物名")).value_or(QString()));
    QString source = stringAt(object, kSource).value_or(QString());
    if (source.isEmpty()) {
        source = stringAt(object, QStringLiteral("出土地点"))
                     .value_or(stringAt(object, QStringLiteral("出土地")).value_or(QString()));
    }
    const QString period = stringAt(object, kPeriod).value_or(QString());
    QString other = stringAt(object, kOther).value_or(QString());
    const QString museum = stringAt(object, QStringLiteral("馆藏地")).value_or(QString());

    source = preferFindspotOverMuseum(source);
    if ((source.isEmpty() || source == kUnknownSource) && !museum.isEmpty()) {
        source = museum;
    } else if (!museum.isEmpty() && museum != source && !other.contains(museum)) {
        other = other.isEmpty() ? QStringLiteral("馆藏地：") + museum
                                : other + QStringLiteral("\n馆藏地：") + museum;
    }
    return RelicLabelExtracted{normalizeFieldForPathAndPersistence(name),
                               normalizeFieldForPathAndPersistence(source),
                               normalizeFieldForPathAndPersistence(period), other};
}

RelicLabelExtracted RelicLabelExtracted::withPersistenceDefaultsForAIOutput() const {
    RelicLabelExtracted copy = *this;
    if (copy.source.isEmpty()) copy.source = kUnknownSource;
    if (copy.period.isEmpty()) copy.period = kUnknownPeriod;
    return copy;
}

std::optional<QString> RelicLabelExtracted::mergeSignature() const {
    const QString n = normalizeFieldForPathAndPersistence(name);
    const QString s = normalizeFieldForPathAndPersistence(source);
    const QString p = normalizeFieldForPathAndPersistence(period);
    if (n.isEmpty() || s.isEmpty() || p.isEmpty() || s == kUnknownSource || p == kUnknownPeriod)
        return std::nullopt;
    return n + QLatin1Char('|') + s + QLatin1Char('|') + p;
}

QString RelicLabelExtracted::newFolderName(const QString& serialNumber) const {
    QStringList parts;
    for (const QString& part :
         {serialNumber, normalizeFieldForPathAndPersistence(name),
          normalizeFieldForPathAndPersistence(source), normalizeFieldForPathAndPersistence(period)})
        if (!part.isEmpty()) parts << part;
    return parts.join(QLatin1Char(' '));
}

std::optional<QByteArray> RelicLabelExtracted::toJSONString() const {
    const QJsonObject object{{kName, name}, {kSource, source}, {kPeriod, period}, {kOther, other}};
    QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
    if (json.isEmpty()) return std::nullopt;
    // Qt leaves "/" alone; the saved files escape it, as other readers of them expect.
    json.replace("/", "\\/");
    return json;
}

QString RelicLabelExtracted::toReadableTxt() const {
    return QStringLiteral("文物名称：") + name + QStringLiteral("\n文物来源：") + source +
           QStringLiteral("\n年代：") + period + QStringLiteral("\n其他：") + other;
}
