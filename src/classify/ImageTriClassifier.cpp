#include "classify/ImageTriClassifier.h"

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

// clang-format off
const QString kPrompt = QStringLiteral(
    "你是文博展览摄影素材分类器。根据图像判断它属于哪一类，只输出一个 JSON 对象（不要解释、不要 Markdown、不要代码块）。\n"
    "\n"
    "类别定义：\n"
    "- panel：展板类。大块展览说明墙、导览总述、单元介绍牌、地图/年表等，不是单件文物的说明签。\n"
    "- label：标签。单件文物旁的展签/说明标签，通常含文物名称、来源、年代等字段，牌面较小、信息结构化。\n"
    "- artifact：文物照片。拍摄的是文物本体（器物、书画、标本等），不是文字说明牌。\n"
    "\n"
    "输出格式（仅此三选一 category）：\n"
    "{\"category\":\"panel\"|\"artifact\"|\"label\",\"confidence\":0.0到1.0}\n"
    "\n"
    "规则：\n"
    "1) 宁可把「单件展签」判为 label，把「大面积墙面说明」判为 panel。\n"
    "2) 文物本体上偶有铭文仍判 artifact；主体是印刷/铭牌说明文字则判 label 或 panel。\n"
    "3) 只输出一行纯 JSON。");
// clang-format on

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
