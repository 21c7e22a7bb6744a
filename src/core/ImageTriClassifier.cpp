#include "core/ImageTriClassifier.h"

#include <QJsonDocument>
#include <QJsonObject>

QString rawValue(MediaCategory category) {
    switch (category) {
    case MediaCategory::panel:
        return QStringLiteral("panel");
    case MediaCategory::artifact:
        return QStringLiteral("artifact");
    case MediaCategory::label:
        return QStringLiteral("label");
    case MediaCategory::unknown:
        return QStringLiteral("unknown");
    }
    return QStringLiteral("unknown");
}

std::optional<MediaCategory> mediaCategoryFromRaw(const QString& raw) {
    for (auto c :
         {MediaCategory::panel, MediaCategory::artifact, MediaCategory::label, MediaCategory::unknown})
        if (rawValue(c) == raw) return c;
    return std::nullopt;
}

namespace ImageTriClassifier {

ClassificationResult parse(const QString& reply) {
    ClassificationResult result;
    result.rawResponse = reply;

    QString text = reply.trimmed();
    text.remove(QStringLiteral("```json"));
    text.remove(QStringLiteral("```"));
    const qsizetype open = text.indexOf(QLatin1Char('{'));
    if (open >= 0) {
        const qsizetype close = text.lastIndexOf(QLatin1Char('}'));
        if (close >= open) text = text.mid(open, close - open + 1);
    }
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    if (!doc.isObject()) return result;
    const QJsonObject object = doc.object();

    const QString category = object.value(QStringLiteral("category")).toString().toLower();
    if (category == QLatin1String("panel") || category == QStringLiteral("展板")) {
        result.category = MediaCategory::panel;
    } else if (category == QLatin1String("label") || category == QStringLiteral("标签") ||
               category == QStringLiteral("展签")) {
        result.category = MediaCategory::label;
    } else if (category == QLatin1String("artifact") || category == QStringLiteral("文物") ||
               category == QStringLiteral("文物照片")) {
        result.category = MediaCategory::artifact;
    }
    const QJsonValue confidence = object.value(QStringLiteral("confidence"));
    if (confidence.isDouble()) result.confidence = confidence.toDouble();
    return result;
}

} // namespace ImageTriClassifier
