// The offline engine's reading of a page over any rows of text a photograph may hold: the panel,
// label or object decision, the four label fields and the OCR text, as replies. Vitrino's own
// reply readers must take each reply back to what the engine decided, so that a shoot organized
// through the engine's service names its folders as one organized in process does.
//
// Input: two bytes for the picture's size, then records split at line feeds, one per text line:
// flags (bit 0: the line starts a new row; bit 1: detected but not read), height, width,
// confidence, then the line's UTF-8 text.

#include "core/ImageTriClassifier.h"
#include "core/RelicLabelExtracted.h"
#include "engine/Heuristics.h"
#include "engine/LocalVisionBackend.h"
#include "engine/MuseumTerms.h"
#include "support/TermScan.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

/// A page as the text reader makes one: rows top to bottom, lines left to right, read lines
/// trimmed and never empty.
engine::PageText pageOf(const std::uint8_t* data, size_t size) {
    engine::PageText page;
    page.imageWidth = 64 + data[0] * 16;
    page.imageHeight = 64 + data[1] * 16;
    const QByteArray records(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(size - 2));
    double area = 0;
    float top = 0, left = 0;
    for (const QByteArray& record : records.split('\n')) {
        if (record.size() < 4) continue;
        const auto flags = static_cast<unsigned char>(record[0]);
        engine::TextLine line;
        line.height = 1.0f + static_cast<unsigned char>(record[1]);
        line.width = 2.0f * static_cast<unsigned char>(record[2]);
        if (!(flags & 2)) {
            line.text = QString::fromUtf8(record.mid(4)).trimmed();
            line.confidence = 0.5f + static_cast<unsigned char>(record[3]) / 510.0f;
            if (line.text.isEmpty()) continue;
        }
        if (page.rows.empty() || (flags & 1)) {
            top += page.rows.empty() ? 0 : page.rows.back().height() * 1.5f;
            left = 0;
            page.rows.emplace_back();
        }
        line.top = top;
        line.left = left;
        left += line.width + line.height;
        area += double(line.width) * line.height;
        page.rows.back().lines.push_back(line);
    }
    page.textAreaShare = area / (double(page.imageWidth) * page.imageHeight);
    return page;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const engine::PageText page = pageOf(data, size);
    using engine::LocalVisionBackend;
    using engine::PromptKind;

    // The category the engine decides is the one a client reads from its reply.
    const engine::Decision decision = engine::classifyPage(page);
    const ClassificationResult classified =
        ImageTriClassifier::parse(LocalVisionBackend::replyFor(PromptKind::classify, page));
    if (classified.category != decision.category) std::abort();
    if (!classified.confidence || !(*classified.confidence >= 0 && *classified.confidence <= 1)) std::abort();

    // The label reply reads back as the fields the engine gives its own runs.
    const RelicLabelExtracted fields = engine::readLabelFields(page);
    const auto candidate = RelicLabelExtracted::parseJSONObjectWithCandidate(
        LocalVisionBackend::replyFor(PromptKind::label, page));
    if (!candidate.object) std::abort();
    const RelicLabelExtracted overTheService = RelicLabelExtracted::parseObject(*candidate.object);
    const RelicLabelExtracted inProcess = LocalVisionBackend::labelFor(page);
    // The reply reader repairs a model's markup as text (code fences, byte-order marks, trailing
    // commas, a straight quote closing a Chinese one), so a card that prints such characters may
    // read differently over the service; every other card reads the same.
    static const QString markup = QStringLiteral("`,\"\u201C\uFEFF");
    const auto printsMarkup = [&](const QString& field) {
        return std::any_of(field.begin(), field.end(), [&](QChar c) { return markup.contains(c); });
    };
    const bool plain = !printsMarkup(fields.name) && !printsMarkup(fields.source) &&
                       !printsMarkup(fields.period) && !printsMarkup(fields.other);
    if (plain && !(overTheService == inProcess)) std::abort();

    // The first row, where cards print the name, is corrected as a scan of the whole lexicon does.
    if (!page.rows.empty()) {
        const QString first = page.rows.front().text();
        if (first.size() <= 32 && engine::correctTerms(first) != fixtures::correctTermsByFullScan(first))
            std::abort();
    }

    (void)LocalVisionBackend::replyFor(PromptKind::ocr, page);
    return 0;
}
