// The tolerant label reply parser, its field rules and every step that turns the fields into a
// folder name and the files saved beside the photographs.

#include "core/RelicLabelExtracted.h"

#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

namespace {

/// Normalised text is stable and holds nothing that is unsafe in a path.
void checkNormalised(const QString& text) {
    static const QString unsafe = QStringLiteral("/\\:*?\"<>|");
    for (const QChar c : text)
        if (unsafe.contains(c)) std::abort();
    if (RelicLabelExtracted::normalizeFieldForPathAndPersistence(text) != text) std::abort();
}

/// The parser as it was before it went linear (one pass over trailing commas, one prefix
/// parse): every input must give the same candidate.
RelicLabelExtracted::Candidate referenceCandidate(const QString& reply) {
    auto parse = [](const QString& text) -> std::optional<QJsonObject> {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
        return doc.object();
    };
    QString text = reply.trimmed();
    text.remove(QStringLiteral("```json"));
    text.remove(QStringLiteral("```"));
    text.remove(QChar(0xFEFF));
    while (text.contains(QStringLiteral(",}")))
        text.replace(QStringLiteral(",}"), QStringLiteral("}"));
    while (text.contains(QStringLiteral(",]")))
        text.replace(QStringLiteral(",]"), QStringLiteral("]"));
    if (auto object = parse(text)) return {object, text};
    text = RelicLabelExtracted::repairMisclosedStraightQuotesAfterChineseOpenQuote(text);
    if (auto object = parse(text)) return {object, text};
    const qsizetype open = text.indexOf(QLatin1Char('{'));
    const qsizetype close = text.lastIndexOf(QLatin1Char('}'));
    if (open < 0 || close < 0 || close < open) return {std::nullopt, text};
    const QString slice = text.mid(open, close - open + 1);
    if (auto object = parse(slice)) return {object, slice};
    for (qsizetype end = close; end > open; --end) {
        if (text.at(end) != QLatin1Char('}')) continue;
        const QString prefix = text.mid(open, end - open + 1);
        if (auto object = parse(prefix)) return {object, prefix};
    }
    return {std::nullopt, slice};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QString reply =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkNormalised(RelicLabelExtracted::normalizeFieldForPathAndPersistence(reply));
    RelicLabelExtracted::preferFindspotOverMuseum(reply);

    const auto candidate = RelicLabelExtracted::parseJSONObjectWithCandidate(reply);
    // The reference is quadratic; short replies are enough to compare the two.
    if (size <= 2048) {
        const auto reference = referenceCandidate(reply);
        if (reference.object != candidate.object || reference.text != candidate.text) std::abort();
    }
    if (!candidate.object) return 0;
    const RelicLabelExtracted fields = RelicLabelExtracted::parseObject(*candidate.object);
    checkNormalised(fields.name);
    checkNormalised(fields.source);
    checkNormalised(fields.period);

    const RelicLabelExtracted record = fields.withPersistenceDefaultsForAIOutput();
    if (record.source.isEmpty() || record.period.isEmpty()) std::abort();
    if (const auto signature = record.mergeSignature(); signature && signature->count(QLatin1Char('|')) != 2)
        std::abort();
    const QString folder = record.newFolderName(QStringLiteral("12"));
    if (folder.contains(QLatin1Char('/')) || !folder.startsWith(QLatin1String("12"))) std::abort();
    // The saved JSON reads back as the same four fields (text with a lone surrogate, from an
    // escape like "\ud800", cannot be written as UTF-8 and is left out of this check).
    const auto json = record.toJSONString();
    if (!json) std::abort();
    for (const QString* field : {&record.name, &record.source, &record.period, &record.other})
        if (!field->isValidUtf16()) return 0;
    const QJsonObject back = QJsonDocument::fromJson(*json).object();
    if (back.value(QStringLiteral("文物名称")).toString() != record.name ||
        back.value(QStringLiteral("文物来源")).toString() != record.source ||
        back.value(QStringLiteral("年代")).toString() != record.period ||
        back.value(QStringLiteral("其他")).toString() != record.other)
        std::abort();
    record.toReadableTxt();
    return 0;
}
