#include "labels/Naming.h"

#include "core/Text.h"

#include <QRegularExpression>
#include <QStringList>

namespace Naming {
namespace {

const QString kPathUnsafe = QStringLiteral("/\\:*?\"<>|");

/// Room kept free in a shortened artifact name for the "-N" that `uniquify` may append.
constexpr qsizetype kUniquifyRoom = 6;

// Unicode properties on, so that \d and \s mean what they mean in the names people type
// (full-width digits, ideographic spaces), not ASCII only.
const QRegularExpression& leadingSerialPattern() {
    static const QRegularExpression pattern(QStringLiteral("^(\\d+(?:-\\d+)*)(?:\\s+|(?=[^\\d-])|$)"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

const QRegularExpression& lastDigitRunPattern() {
    static const QRegularExpression pattern(QStringLiteral("(\\d+)(?!.*\\d)"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

QString replacePathUnsafe(QString text) {
    for (QChar& c : text)
        if (kPathUnsafe.contains(c)) c = QLatin1Char('_');
    return text;
}

bool isDotName(const QString& name) {
    return name == QLatin1String(".") || name == QLatin1String("..");
}

} // namespace

QString title(const RelicLabelExtracted& label) {
    const RelicLabelExtracted withDefaults = label.withPersistenceDefaultsForAIOutput();
    QStringList parts;
    for (const QString& field : {withDefaults.name, withDefaults.source, withDefaults.period}) {
        const QString normalized = RelicLabelExtracted::normalizeFieldForPathAndPersistence(field);
        if (!normalized.isEmpty()) parts << normalized;
    }
    return parts.join(QLatin1Char(' '));
}

std::optional<QString> leadingSerial(const QString& folderName) {
    const QRegularExpressionMatch match = leadingSerialPattern().match(folderName.trimmed());
    if (!match.hasMatch() || match.captured(1).isEmpty()) return std::nullopt;
    return match.captured(1);
}

QString folderName(const std::optional<QString>& serial, const QString& title) {
    const QString text = replacePathUnsafe(title).trimmed();
    QString name;
    if (serial && !serial->isEmpty())
        name = fitComponent(*serial + QLatin1Char(' '), text, {});
    else
        name = fitComponent({}, text, {});
    return isDotName(name) ? QStringLiteral("_") : name;
}

std::optional<QString> lastDigitRun(const QString& fileStem) {
    const QRegularExpressionMatch match = lastDigitRunPattern().match(fileStem);
    if (!match.hasMatch()) return std::nullopt;
    return match.captured(1);
}

QString artifactFileName(const QString& title, const std::filesystem::path& original) {
    const QString stem = core::displayPath(original.filename().stem());
    QString extension = core::displayPath(original.filename().extension());
    if (extension.startsWith(QLatin1Char('.'))) extension.remove(0, 1);
    const QString tail = QLatin1Char(' ') + lastDigitRun(stem).value_or(stem);
    const QString suffix = extension.isEmpty() ? QString() : QLatin1Char('.') + extension;

    const QString safeTitle = replacePathUnsafe(title);
    const QString safeTail = replacePathUnsafe(tail);
    const QString name = safeTitle + safeTail + suffix;
    if (name.toUtf8().size() <= kMaxNameBytes - kUniquifyRoom) return name;
    return fitComponent({}, safeTitle, safeTail + suffix, kMaxNameBytes - kUniquifyRoom);
}

QString uniquify(const QString& name, QSet<QString>& used) {
    if (!used.contains(name)) {
        used.insert(name);
        return name;
    }
    // The extension as a path has one: from the last dot, unless the name starts with it.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && !isDotName(name);
    const QString base = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    for (int k = 2;; ++k) {
        const QString candidate = base + QLatin1Char('-') + QString::number(k) + extension;
        if (!used.contains(candidate)) {
            used.insert(candidate);
            return candidate;
        }
    }
}

QString fitComponent(const QString& front, const QString& middle, const QString& back, qsizetype maxBytes) {
    const qsizetype fixedBytes = front.toUtf8().size() + back.toUtf8().size();
    if (fixedBytes + middle.toUtf8().size() <= maxBytes) return front + middle + back;
    // Whole code points, so that characters outside the Basic Multilingual Plane stay whole.
    QString kept;
    qsizetype bytes = fixedBytes;
    for (const char32_t c : middle.toUcs4()) {
        const QString piece = QString::fromUcs4(&c, 1);
        const qsizetype size = piece.toUtf8().size();
        if (bytes + size > maxBytes) break;
        kept += piece;
        bytes += size;
    }
    // A cut right after a space would leave it standing before the kept tail.
    while (!kept.isEmpty() && kept.back().isSpace())
        kept.chop(1);
    return front + kept + back;
}

QString fitFolderName(const QString& name) {
    QString fitted = name;
    fitted.remove(QChar(0));
    fitted.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (fitted.isEmpty() || isDotName(fitted)) return QStringLiteral("_");
    if (fitted.toUtf8().size() <= kMaxNameBytes) return fitted;
    // The serial is the first word; only the title after it is shortened.
    const qsizetype space = fitted.indexOf(QLatin1Char(' '));
    const QString serial = space > 0 ? fitted.left(space + 1) : QString();
    return fitComponent(serial, fitted.mid(serial.size()), {}).trimmed();
}

} // namespace Naming
