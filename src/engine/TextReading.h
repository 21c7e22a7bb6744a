#pragma once

// Reading a photograph's text on this machine: PaddleOCR lines with their boxes, heights and
// confidences, grouped into rows in reading order.

#include "core/Result.h"
#include "platform/Imaging.h"
#include "platform/TextRecognition.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace ai {
class TextFound;
}

namespace engine {

struct TextLine {
    QString text; ///< empty when the line was detected but not read (see readPage's limit)
    float confidence = 0;
    float height = 0;        ///< across the line, in pixels of the bitmap read
    float width = 0;         ///< along it
    float top = 0, left = 0; ///< in the frame of the text's dominant direction (a turned card upright)
};

/// Lines that sit side by side on one visual row, left to right.
struct TextRow {
    std::vector<TextLine> lines;
    QString text() const; ///< the lines joined by one space
    float height() const; ///< the tallest line's height
    /// Characters the row holds, estimated from its shape (a CJK character is about square), so
    /// that rows not read still count.
    double estimatedCharacters() const;
};

struct PageText {
    std::vector<TextRow> rows; ///< top to bottom
    int imageWidth = 0, imageHeight = 0;
    double textAreaShare = 0; ///< summed line areas / image area
    int lineCount() const;
    QStringList rowTexts() const;
};

/// Detects (detector side 960, tiled) and reads the lines in reading order, at most
/// `maxRead` of them (the rest keep their shape, without text); lines read as nothing, or with
/// a mean confidence below 0.5, are dropped. When the lines found are small at the detector's
/// scale (a card a third of the frame's width) and lie together in a part of the frame, that
/// part is detected again, enlarged (`zoomSmallText`; off only to measure what it costs).
/// Given the detected regions, whether any line needs reading at all.
/// `found`, when it is for this bitmap, gives what was detected and read on it before (the
/// probe's detection, a classification's lines) and keeps what this reading adds.
using ReadFilter = std::function<bool(const std::vector<platform::TextBox>&)>;
core::Result<PageText> readPage(const platform::Bitmap& image, int maxRead = 1 << 30,
                                const ReadFilter& worthReading = {}, bool zoomSmallText = true,
                                ai::TextFound* found = nullptr);

} // namespace engine
