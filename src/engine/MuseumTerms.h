#pragma once

// A lexicon of museum object terms (vessel and object types, materials, glazes and kilns,
// decoration motifs, dynasties, reigns and cultures), general domain knowledge, and the
// correction of label names read with a look-alike character.

#include "platform/TextRecognition.h"

#include <QString>
#include <QStringList>

namespace engine {

/// Every term of the lexicon, longest first.
const QStringList& museumTerms();

/// Whether the recogniser is known to read the lexicon character `meant` as `read`.
bool mayBeReadFor(QChar read, QChar meant);

/// Whether the text can be cut wholly into lexicon terms.
bool coveredByTerms(const QString& text);

/// Where a text was read: a label's name (its last character may be the object's type, a
/// one-character term) or any other field (only terms of two or more characters are mended).
enum class TermContext { name, text };

/// The text with each run that matches a lexicon term up to look-alike characters replaced by
/// the term. Only characters the recogniser can read are ever written.
QString correctTerms(const QString& text, TermContext context);
/// The same for a label's name.
QString correctTerms(const QString& text);

/// A character the recogniser nearly read, to go in before `text[at]`.
using NearlyRead = platform::RecognizedText::NearlyRead;
/// The text with each nearly read character put in where it completes a lexicon term of two or
/// more characters ("三门峡国墓地" with 虢 nearly read before 国: "三门峡虢国墓地"). Elsewhere
/// the text stays as read.
QString completeTerms(const QString& text, const std::vector<NearlyRead>& nearlyRead);

} // namespace engine
