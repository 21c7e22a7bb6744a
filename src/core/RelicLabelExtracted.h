#pragma once

// What the vision model reads from a label card: name, source, period and everything else, with
// the prompt that asks for it, a tolerant parser, and the rules that make the fields fit for
// folder names and the files saved beside the photographs.

#include "core/Prompts.h"
#include "core/Result.h"

#include <QJsonObject>
#include <QString>

#include <filesystem>
#include <optional>

struct RelicLabelExtracted {
    QString name;   ///< 文物名称
    QString source; ///< 文物来源: one find-spot, else the holding institution
    QString period; ///< 年代
    QString other;  ///< 其他: the rest of the card, verbatim

    bool operator==(const RelicLabelExtracted&) const = default;

    static inline const QString kUnknownSource = QStringLiteral("来源不明");
    static inline const QString kUnknownPeriod = QStringLiteral("年代不明");

    /// The label-extraction prompt.
    static inline const QString& kPrompt = core::prompts::kLabel;
    /// The reply budget of a label read.
    static constexpr int kMaxTokens = core::prompts::kLabelMaxTokens;

    struct Candidate {
        std::optional<QJsonObject> object;
        QString text; ///< the text the object was parsed from (or last tried)
    };
    /// Fences, byte-order marks and trailing commas removed, quotes repaired, then the whole
    /// text, the outermost braces, or the longest balanced prefix, whichever parses first.
    static Candidate parseJSONObjectWithCandidate(const QString& reply);
    static RelicLabelExtracted parseObject(const QJsonObject& object);

    static QString preferFindspotOverMuseum(const QString& source);
    static QString repairMisclosedStraightQuotesAfterChineseOpenQuote(const QString& text);
    /// Removes the path-unsafe characters /\:*?"<>| and every whitespace character.
    static QString normalizeFieldForPathAndPersistence(const QString& text);

    /// Empty source and period become "来源不明" and "年代不明".
    RelicLabelExtracted withPersistenceDefaultsForAIOutput() const;
    /// name|source|period when all are known; labels without one never merge.
    std::optional<QString> mergeSignature() const;
    /// "{serial} {name} {source} {period}", empty parts dropped.
    QString newFolderName(const QString& serialNumber) const;

    /// Compact JSON with the four keys, UTF-8 as itself, "/" written as "\/".
    std::optional<QByteArray> toJSONString() const;
    QString toReadableTxt() const;
};
