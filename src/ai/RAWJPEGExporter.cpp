#include "ai/RAWJPEGExporter.h"

#include "intake/ImageScanner.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <array>
#include <cmath>

namespace RAWJPEGExporter {

QString ExportError::description() const {
    return kind == Kind::imageReadFailed ? kImageReadFailed : kImageCompressionFailed;
}

namespace {

std::optional<Bitmap> usable(std::optional<Bitmap> image) {
    if (image && image->cols > 1 && image->rows > 1) return image;
    return std::nullopt;
}

/// RAW development at maxPixelSize / longest (never enlarging).
std::optional<Bitmap> developRaw(const std::filesystem::path& path, int maxPixelSize) {
    auto raw = platform::RawDeveloper::open(path);
    if (!raw) return std::nullopt;
    const cv::Size native = raw->nativeSize();
    const int longest = std::max(native.width, native.height);
    float scale = 1.0f;
    if (longest > 1 && longest > maxPixelSize) scale = float(maxPixelSize) / float(longest);
    return usable(raw->develop(scale));
}

} // namespace

std::optional<Bitmap> loadViewableImage(const std::filesystem::path& path, int maxPixelSize) {
    if (maxPixelSize < 1) return std::nullopt;
    const auto source = platform::openImageSource(path);
    if (ImageScanner::isRawExtension(ImageScanner::lowerExtension(path))) {
        if (auto developed = developRaw(path, maxPixelSize)) return developed;
        if (source)
            if (auto preview = usable(platform::thumbnail(*source, maxPixelSize))) return preview;
    }
    if (source) {
        // JPEG decodes DCT-scaled straight to size; the result equals a full decode scaled down,
        // without holding the full bitmap.
        std::optional<Bitmap> image = source->format == platform::ImageFormat::raw
                                          ? platform::fullImage(*source)
                                          : platform::thumbnail(*source, maxPixelSize);
        if (image && !image->empty()) return downsampledImage(*image, maxPixelSize);
    }
    return usable(platform::decodeAny(path));
}

Bitmap downsampledImage(const Bitmap& image, int maxPixelSize) {
    return platform::fitWithin(image, maxPixelSize);
}

LuminanceStats luminanceHistogramStats(const Bitmap& image) {
    LuminanceStats stats;
    if (image.empty() || image.cols <= 1 || image.rows <= 1 || image.type() != CV_8UC3) return stats;
    const double scale = std::min(320.0 / std::max(image.cols, image.rows), 1.0);
    // The scaled extent is made integral outwards, then truncated.
    const int w = static_cast<int>(std::ceil(image.cols * scale - 1e-9));
    const int h = static_cast<int>(std::ceil(image.rows * scale - 1e-9));
    if (w < 2 || h < 2) return stats;
    const Bitmap small = platform::resizedTo(image, cv::Size(w, h));

    std::array<std::int64_t, 256> bins{};
    for (int y = 0; y < h; ++y) {
        const auto* p = small.ptr<cv::Vec3b>(y);
        for (int x = 0; x < w; ++x) {
            const double lum = 0.2126 * p[x][0] + 0.7152 * p[x][1] + 0.0722 * p[x][2];
            ++bins[size_t(std::clamp<long>(std::lround(lum), 0, 255))];
        }
    }
    const std::int64_t n = std::int64_t(w) * h;
    const auto target = static_cast<std::int64_t>(std::floor(double(n) * 0.4));
    stats.m = 1.0;
    std::int64_t running = 0;
    for (int i = 0; i < 256; ++i) {
        running += bins[size_t(i)];
        if (running >= target) {
            stats.m = i / 255.0;
            break;
        }
    }
    std::int64_t top = 0;
    for (int i = 217; i < 256; ++i)
        top += bins[size_t(i)];
    stats.h = double(top) / double(std::max<std::int64_t>(n, 1));
    return stats;
}

std::optional<double> exposureFor(const LuminanceStats& stats) {
    if (!(stats.m < 0.36)) return std::nullopt; // also skips an m that is not a number
    double ev = std::log2(0.42 / std::max(stats.m, 0.03));
    if (ev < 0.15) ev = 0.15;
    if (ev >= 2.0) ev = 2.0;
    if (stats.h > 0.12)
        ev *= 0.55;
    else if (stats.h > 0.06)
        ev *= 0.75;
    if (ev < 0.12) return std::nullopt;
    return std::min(double(float(ev)), 2.0);
}

double shadowAmountFor(double m) {
    if (m < 0.22) return 0.5;
    if (m < 0.32) return 0.35;
    if (m < 0.4) return 0.18;
    return 0.08;
}

double highlightAmountFor(double h) {
    return h > 0.1 ? 0.05 : 0.0;
}

namespace {

float smoothstep(float edge0, float edge1, float x) {
    const float t = std::clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

/// sRGB transfer curve, both ways, as tables (decode by 8-bit value, encode by 1/4096 steps).
struct SrgbTables {
    std::array<float, 256> toLinear{};
    std::array<float, 4097> toSrgb{};
    SrgbTables() {
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            toLinear[size_t(i)] = float(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        for (int i = 0; i <= 4096; ++i) {
            const double l = i / 4096.0;
            toSrgb[size_t(i)] = float(l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055);
        }
    }
    float encode(float linear) const {
        const float i = std::clamp(linear, 0.0f, 1.0f) * 4096.0f;
        const auto lo = static_cast<size_t>(i);
        if (lo >= 4096) return toSrgb[4096];
        const float f = i - float(lo);
        return toSrgb[lo] + f * (toSrgb[lo + 1] - toSrgb[lo]);
    }
};

const SrgbTables& srgb() {
    static const SrgbTables tables;
    return tables;
}

} // namespace

Bitmap enhanceForAPI(const Bitmap& image, Enhancement* decided) {
    if (image.empty() || image.type() != CV_8UC3) return image;
    Enhancement e;
    e.stats = luminanceHistogramStats(image);
    e.ev = exposureFor(e.stats);
    e.shadowAmount = shadowAmountFor(e.stats.m);
    e.highlightAmount = highlightAmountFor(e.stats.h);
    if (decided) *decided = e;

    // Step 1 acts on each channel alone, so it is a table by 8-bit value. Step 2 depends only on
    // luminance, so it is a table over Y. Step 3 is linear.
    const SrgbTables& tables = srgb();
    std::array<float, 256> channel{};
    const float gain = e.ev ? float(std::exp2(*e.ev)) : 1.0f;
    for (int i = 0; i < 256; ++i) {
        // 1. Exposure: linear light × 2^ev, back to sRGB (clipped at white).
        channel[size_t(i)] = e.ev ? tables.encode(tables.toLinear[size_t(i)] * gain) : float(i) / 255.0f;
    }
    // 2. Highlights and shadows: luminance Y moves towards √Y in the shadows (weight
    //    1 − smoothstep(0, 0.6, Y)) and towards Y² in the highlights (weight smoothstep(0.5, 1, Y)),
    //    each by its amount; the colour is scaled with Y, so hue and saturation stay.
    constexpr int kSteps = 4096;
    std::array<float, kSteps + 2> tone{};
    const auto shadow = float(e.shadowAmount);
    const auto highlight = float(e.highlightAmount);
    for (int i = 0; i <= kSteps + 1; ++i) {
        const float lum = std::min(1.0f, float(i) / kSteps);
        tone[size_t(i)] = lum + shadow * (1.0f - smoothstep(0.0f, 0.6f, lum)) * (std::sqrt(lum) - lum) -
                          highlight * smoothstep(0.5f, 1.0f, lum) * (lum - lum * lum);
    }
    // 3. Colour controls: saturation 1.04 about luminance, brightness 0, contrast 1.06 about
    //    mid-grey: v = ((grey + 1.04 (c − grey)) + 0 − 0.5) × 1.06 + 0.5. After step 2 the grey is
    //    the toned luminance itself.
    constexpr float kContrast = 1.06f, kSaturation = 1.04f, kBrightness = 0.0f;
    constexpr float kA = kSaturation * kContrast;
    constexpr float kB = (1.0f - kSaturation) * kContrast;
    constexpr float kC = (kBrightness - 0.5f) * kContrast + 0.5f;

    Bitmap out(image.size(), CV_8UC3);
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const uchar* in = image.ptr<uchar>(y);
            uchar* dst = out.ptr<uchar>(y);
            for (int x = 0; x < image.cols * 3; x += 3) {
                float r = channel[in[x]], g = channel[in[x + 1]], b = channel[in[x + 2]];
                const float lum = 0.2126f * r + 0.7152f * g + 0.0722f * b;
                const float at = lum * kSteps;
                const int i = static_cast<int>(at);
                const float toned =
                    tone[size_t(i)] + (at - float(i)) * (tone[size_t(i) + 1] - tone[size_t(i)]);
                if (lum > 1e-4f) {
                    const float k = toned / lum;
                    r *= k, g *= k, b *= k;
                } else {
                    const float d = toned - lum;
                    r += d, g += d, b += d;
                }
                const float base = kB * toned + kC;
                dst[x] = static_cast<uchar>(std::clamp(kA * r + base, 0.0f, 1.0f) * 255.0f + 0.5f);
                dst[x + 1] = static_cast<uchar>(std::clamp(kA * g + base, 0.0f, 1.0f) * 255.0f + 0.5f);
                dst[x + 2] = static_cast<uchar>(std::clamp(kA * b + base, 0.0f, 1.0f) * 255.0f + 0.5f);
            }
        }
    });
    return out;
}

std::optional<std::vector<unsigned char>> jpegData(const Bitmap& image, double quality) {
    const int q = static_cast<int>(std::lround(quality * 100.0));
    return platform::encodeJpeg(image, std::clamp(q, 1, 100));
}

core::Result<PreparedImage, ExportError> compressImageForAPI(const Bitmap& image, const JpegEncoder& encoder,
                                                             Compression* report) {
    using Kind = ExportError::Kind;
    if (image.empty() || image.type() != CV_8UC3) return ExportError{Kind::imageReadFailed};
    Bitmap current = image;
    Compression done;

    // Pixel limit: shrink just below 36 MP, at most 48 passes.
    for (int pass = 0; std::int64_t(current.cols) * current.rows > kMaxPixels; ++pass) {
        if (pass == 48) return ExportError{Kind::imageCompressionFailed};
        const double pixels = double(current.cols) * current.rows;
        const double scale = std::sqrt(double(kMaxPixels) / pixels) * 0.998;
        const cv::Size size(std::max(1, int(scale * current.cols)), std::max(1, int(scale * current.rows)));
        current = platform::resizedTo(current, size);
    }

    auto attempt = [&](int hundredths) -> std::optional<PreparedImage> {
        ++done.encodings;
        const auto bytes = encoder(current, hundredths / 100.0);
        if (!bytes || std::int64_t(bytes->size()) >= kMaxBytes) return std::nullopt;
        done.quality = hundredths / 100.0;
        done.size = current.size();
        if (report) *report = done;
        return PreparedImage{
            QByteArray(reinterpret_cast<const char*>(bytes->data()), qsizetype(bytes->size())),
            QStringLiteral("image/jpeg")};
    };

    // Quality ladders from 0.90 (later 0.88) down by 0.06, each bottom followed by a shrink to
    // 0.86 of each side; 48 encodings in all. Qualities are kept in hundredths so that the
    // ladder ends exactly at 0.24 and 0.22.
    int budget = 48;
    int quality = 90;
    while (budget > 0) {
        --budget;
        if (auto prepared = attempt(quality)) return *prepared;
        if (quality > 24) {
            quality -= 6;
            continue;
        }
        if (budget <= 1) break;
        current = platform::resizedTo(
            current, cv::Size(std::max(1, current.cols * 86 / 100), std::max(1, current.rows * 86 / 100)));
        quality = 88;
    }
    if (auto prepared = attempt(22)) return *prepared;
    if (report) *report = done;
    return ExportError{Kind::imageCompressionFailed};
}

core::Result<PreparedImage, ExportError> prepareForUpload(const std::filesystem::path& path,
                                                          Preparation* report) {
    const auto image = loadViewableImage(path, kUploadMaxPixelSize);
    if (!image) return ExportError{ExportError::Kind::imageReadFailed};
    Preparation prepared;
    const Bitmap enhanced = enhanceForAPI(*image, &prepared.enhancement);
    auto result = compressImageForAPI(enhanced, jpegData, &prepared.compression);
    if (report) *report = prepared;
    return result;
}

} // namespace RAWJPEGExporter
