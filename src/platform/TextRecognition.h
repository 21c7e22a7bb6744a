#pragma once

// On-device text detection and recognition: PaddleOCR v4 (DB detector, CTC recogniser) run by
// OpenCV DNN. The model files are made at bootstrap by scripts/models.

#include "core/Result.h"
#include "platform/Imaging.h"
#include "platform/ModelFiles.h"

#include <QString>

#include <opencv2/core/types.hpp>

#include <array>
#include <vector>

namespace platform {

/// One detected text region, in the coordinates of the bitmap given to detectText.
struct TextBox {
    std::array<cv::Point2f, 4> corners; ///< clockwise from top-left of the unrotated box
    float width = 0;                    ///< along the text line
    float height = 0;                   ///< across it
    float score = 0;                    ///< mean text probability inside the region
    bool lineLike() const { return height > 0 && width >= 3.0f * height; }
};

struct RecognizedText {
    QString text;
    float confidence = 0; ///< mean probability of the characters read
    /// A character the recogniser nearly read where it read none: the runner-up of a step it
    /// took as a gap, to go in before `text[at]`. Rare characters are often dropped this way.
    struct NearlyRead {
        qsizetype at = 0;
        QString character;
    };
    std::vector<NearlyRead> nearlyRead;
};

inline const QString kModelsMissing = QStringLiteral("文字识别模型不可用：");

/// Checks that the text model files exist and match their recorded SHA-256 (once per process).
core::Result<bool> checkModels();

/// Detects text regions. The bitmap is resized so its longest side is detSide (a multiple of 32)
/// and padded to one of a few fixed shapes; each shape has its own network. Regions whose
/// height is below minHeightFraction of the bitmap's height are dropped.
core::Result<std::vector<TextBox>> detectText(const Bitmap& image, int detSide, double minHeightFraction);

/// Puts regions in reading order: lines top to bottom, each line's regions left to right. A
/// region is on the line begun by the topmost region above it when their tops lie within half
/// the smaller height. The order does not depend on the order the regions come in.
void sortInReadingOrder(std::vector<TextBox>& boxes);

/// Reads the text of one detected region (cut out upright, scaled to 48 px high).
core::Result<RecognizedText> recognizeText(const Bitmap& image, const TextBox& box);

} // namespace platform
