#pragma once

// Does a photograph show any readable text? Answered on this machine, without the model: fast
// detection at 1280 px, then detection plus recognition at 1280, then at 2560.

#include "core/Result.h"
#include "platform/Imaging.h"
#include "platform/TextRecognition.h"

#include <QString>

#include <filesystem>
#include <functional>
#include <vector>

namespace ai {
class TextFound;
}

namespace VisionTextProbe {

struct ProbeResult {
    bool hasText = false;
    QString detail; ///< "1280 fast", "1280 accurate", "2560 accurate" or "1280+2560 均无文字"
    bool operator==(const ProbeResult&) const = default;
};

struct ProbeError {
    /// recognitionFailed: the text model failed while running (not "no text found").
    enum class Kind { imageLoadFailed, modelsUnavailable, recognitionFailed };
    Kind kind = Kind::imageLoadFailed;
    QString reason; ///< for modelsUnavailable and recognitionFailed
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

/// The on-device text model; tests replace it to make it fail.
struct TextModel {
    std::function<core::Result<std::vector<platform::TextBox>>(const platform::Bitmap&, int detSide,
                                                               double minHeightFraction)>
        detect;
    std::function<core::Result<platform::RecognizedText>(const platform::Bitmap&, const platform::TextBox&)>
        recognize;
    static const TextModel& system();
};

/// Loads at 2560, enhances as for upload, then runs the three attempts in order. A model that
/// fails while running is an error, never "no text": the photograph must then go to the model.
core::Result<ProbeResult, ProbeError> containsAnyText(const std::filesystem::path& imagePath);
/// The three attempts on a picture already loaded at 2560 and enhanced as for upload (the
/// classification pipeline decodes each photo once for the probe and the upload). `found`, when
/// it is for `enhanced`, keeps the detection and the reads of the attempt at 2560, made on those
/// very pixels, for the engine's reading of the photo.
core::Result<ProbeResult, ProbeError> containsAnyTextIn(const platform::Bitmap& enhanced,
                                                        const TextModel& model = TextModel::system(),
                                                        ai::TextFound* found = nullptr);
/// The same with another text model.
core::Result<ProbeResult, ProbeError> containsAnyTextWith(const std::filesystem::path& imagePath,
                                                          const TextModel& model);

/// One attempt on one bitmap.
core::Result<bool> recognizeHasText(const platform::Bitmap& bitmap, Level level,
                                    const TextModel& model = TextModel::system());

} // namespace VisionTextProbe
