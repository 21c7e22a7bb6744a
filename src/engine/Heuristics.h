#pragma once

// The offline engine's reading of a page: panel, label or object, the four label fields, and
// plain OCR text. All thresholds and word lists are here, named, with what they were measured on.

#include "core/ImageTriClassifier.h"
#include "core/RelicLabelExtracted.h"
#include "engine/TextReading.h"

#include <optional>

namespace engine {

/// Measured on rendered exhibitions (bench/bench_engine): label cards read as 3–6 rows with at
/// least two label words; wall panels as a title and 9 or more rows of prose.
struct Thresholds {
    int panelMinRows = 8;            ///< this many rows or more look like a panel …
    int labelMaxRows = 7;            ///< … unless the rows are few and label-like
    int labelMinWords = 2;           ///< label words (period, find-spot, holder, size, material)
    double panelMinCharsPerRow = 12; ///< panels run long lines of prose
    double panelMinAreaShare = 0.12; ///< and cover much of the frame with text
    /// Cards with a paragraph of description: at least this many short rows with a label word
    /// (rows of at most fieldMaxChars characters), in at most describedLabelMaxRows rows. Panels
    /// have at most two short rows (a title, a map caption).
    int labelMinFieldRows = 3;
    double fieldMaxChars = 16;
    int describedLabelMaxRows = 14;
};
const Thresholds& thresholds();

struct Decision {
    MediaCategory category = MediaCategory::artifact;
    double confidence = 0.5;
};

/// The lines a classification reads: the decision needs the rows' shapes and a few label words,
/// not every line of a panel.
constexpr int kClassifyReadLimit = 8;

Decision classifyPage(const PageText& page);

/// False when the regions alone already show a panel's prose (many long lines): then nothing
/// needs to be read to classify the photograph.
bool worthReadingToClassify(const std::vector<platform::TextBox>& boxes);

/// Name, source, period and the rest, by the rules of the label prompt: one source (a find-spot
/// before a holding museum before a donation or purchase), field prefixes ("名称：", "年代 ") never
/// part of a field, no English lines, the rest verbatim and in reading order without repeating
/// the fields. Cards with or without prefixes, in two columns, with the period and material on one
/// line or the period in brackets after the name, and with a paragraph of prose are read alike.
RelicLabelExtracted readLabelFields(const PageText& page);

/// The rows in reading order, joined by line feeds.
QString ocrText(const PageText& page);

/// The whole text when it names a dynasty, period or archaeological culture ("明永乐",
/// "商代晚期", "良渚文化"); nothing otherwise.
bool isPeriod(const QString& text);
/// The period a text begins with, if any (at least two characters).
std::optional<QString> leadingPeriod(const QString& text);

/// Words that mark a find-spot (preferred), a holder, or an acquisition (a donation, a purchase).
bool namesFindspot(const QString& text);
bool namesHolder(const QString& text);
bool namesAcquisition(const QString& text);

} // namespace engine
