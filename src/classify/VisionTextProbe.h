#pragma once

// Does a photograph show any readable text? Answered on this machine, without the model: fast
// detection at 1280 px, then detection plus recognition at 1280, then at 2560.

#include "core/Result.h"
#include "platform/Imaging.h"

#include <QString>

#include <filesystem>

namespace VisionTextProbe {

struct ProbeResult {
    bool hasText = false;
    QString detail; ///< "1280 fast", "1280 accurate", "2560 accurate" or "1280+2560 均无文字"
    bool operator==(const ProbeResult&) const = default;
};

struct ProbeError {
    enum class Kind { imageLoadFailed, modelsUnavailable };
    Kind kind = Kind::imageLoadFailed;
    QString reason; ///< for modelsUnavailable
    QString description() const;
};

inline const QString kImageLoadFailed = QStringLiteral("无法加载图像供 Vision 检测");
inline const QString kFast1280 = QStringLiteral("1280 fast");
inline const QString kAccurate1280 = QStringLiteral("1280 accurate");
inline const QString kAccurate2560 = QStringLiteral("2560 accurate");
inline const QString kNoText = QStringLiteral("1280+2560 均无文字");

enum class Level { fast, accurate };

/// The thresholds, measured on rendered label cards, wall panels and object photographs
/// (bench/bench_probe); see the notes beside their values in VisionTextProbe.cpp.
struct Thresholds {
    int detSide1280 = 640;              ///< detector input for the 1280 px bitmap
    int detSide2560 = 960;              ///< detector input for the 2560 px bitmap
    double minTextHeight = 0.006;       ///< of the image height
    int fastMinLines = 2;               ///< fast: this many line-like regions mean text
    int accurateMaxBoxes = 8;           ///< accurate: regions read at most
    int accurateMinChars = 2;           ///< accurate: a region reading this many characters …
    double accurateMinConfidence = 0.8; ///< … with this mean confidence means text
};
const Thresholds& thresholds();

/// Loads at 2560, enhances as for upload, then runs the three attempts in order.
core::Result<ProbeResult, ProbeError> containsAnyText(const std::filesystem::path& imageURL);

/// One attempt on one bitmap; a failing detector counts as no text.
bool recognizeHasText(const platform::Bitmap& bitmap, Level level);

} // namespace VisionTextProbe
