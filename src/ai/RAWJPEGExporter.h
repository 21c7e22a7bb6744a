#pragma once

// Preparing a photograph for the vision model: decode at most 2560 px, tone it for legible text,
// and encode a JPEG under 10 MiB and 36 megapixels.

#include "core/Result.h"
#include "platform/Imaging.h"

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <vector>

namespace RAWJPEGExporter {

using platform::Bitmap;

/// Encoded bytes ready for upload.
struct PreparedImage {
    QByteArray data;
    QString mime = QStringLiteral("image/jpeg");
};

struct ExportError {
    enum class Kind { imageReadFailed, imageCompressionFailed };
    Kind kind;
    QString description() const;
    bool operator==(const ExportError&) const = default;
};

inline const QString kImageReadFailed = QStringLiteral("无法读取或解码图片");
inline const QString kImageCompressionFailed =
    QStringLiteral("无法压缩到 API 可用大小（需小于 10MB、像素小于 3600 万）");

/// The longest side used for everything sent to the model.
constexpr int kUploadMaxPixelSize = 2560;
constexpr std::int64_t kMaxPixels = 35'999'999;
constexpr std::int64_t kMaxBytes = 10'485'760;

/// Decodes a file with its longest side at most maxPixelSize. RAW files develop at reduced scale,
/// then fall back to their embedded preview and a full decode; the general decoder is the last
/// resort (and returns the picture at its own size).
std::optional<Bitmap> loadViewableImage(const std::filesystem::path& path, int maxPixelSize);

/// The bitmap scaled so that its longest side is at most maxPixelSize.
Bitmap downsampledImage(const Bitmap& image, int maxPixelSize);

/// m: the luminance below which 40 % of pixels lie; h: the share of pixels in bins 217…255.
struct LuminanceStats {
    double m = 0.4;
    double h = 0.0;
};
LuminanceStats luminanceHistogramStats(const Bitmap& image);

/// What the enhancement decided, for reports.
struct Enhancement {
    LuminanceStats stats;
    std::optional<double> ev; ///< absent when no exposure change was applied
    double shadowAmount = 0;
    double highlightAmount = 0;
};

/// The exposure decision for given statistics (absent: no exposure step).
std::optional<double> exposureFor(const LuminanceStats& stats);
double shadowAmountFor(double m);
double highlightAmountFor(double h);

/// Tones the image for legibility: exposure (only when dark), highlights/shadows, colour
/// controls. Never fails.
Bitmap enhanceForAPI(const Bitmap& image, Enhancement* decided = nullptr);

/// One JPEG encoding at a compression factor (0…1; quality = round(factor × 100)).
std::optional<std::vector<unsigned char>> jpegData(const Bitmap& image, double quality);

/// The encoder compressImageForAPI uses; tests replace it to observe the sequence of attempts.
using JpegEncoder = std::function<std::optional<std::vector<unsigned char>>(const Bitmap&, double quality)>;

struct Compression {
    double quality = 0; ///< the factor of the encoding that was kept
    cv::Size size;
    int encodings = 0;
};

/// Encodes within the limits: shrink below 36 MP, then a quality ladder with shrinks, 48
/// encodings at most, and a last attempt at 0.22.
core::Result<PreparedImage, ExportError> compressImageForAPI(const Bitmap& image,
                                                             const JpegEncoder& encoder = jpegData,
                                                             Compression* report = nullptr);

/// What one preparation did, for the command line and benchmarks.
struct Preparation {
    Enhancement enhancement;
    Compression compression;
};

/// load (2560) → enhance → compress: what the chat client and the classification pipeline send.
core::Result<PreparedImage, ExportError> prepareForUpload(const std::filesystem::path& path,
                                                          Preparation* report = nullptr);

} // namespace RAWJPEGExporter
