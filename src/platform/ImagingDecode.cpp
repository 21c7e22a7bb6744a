// Decoders: TurboJPEG for JPEG, libheif for HEIF, libpng for PNG, Qt as the last resort. RAW files are in
// ImagingRaw.cpp.

#include "platform/ImagingInternal.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <libheif/heif.h>
#include <opencv2/imgproc.hpp>
#include <png.h>
#include <turbojpeg.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

namespace platform {
namespace detail {

std::optional<Bytes> readFileBytes(const std::filesystem::path& path, std::uintmax_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<Bytes> result;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        static_cast<std::uintmax_t>(st.st_size) <= maxBytes) {
        try {
            Bytes bytes(static_cast<size_t>(st.st_size));
            size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            bytes.resize(done);
            if (!bytes.empty()) result = std::move(bytes);
        } catch (const std::bad_alloc&) {
        }
    }
    ::close(fd);
    return result;
}

Bitmap applyOrientation(const Bitmap& image, int orientation) {
    Bitmap out;
    switch (orientation) {
    case 2:
        cv::flip(image, out, 1);
        return out;
    case 3:
        cv::rotate(image, out, cv::ROTATE_180);
        return out;
    case 4:
        cv::flip(image, out, 0);
        return out;
    case 5:
        cv::transpose(image, out);
        return out;
    case 6:
        cv::rotate(image, out, cv::ROTATE_90_CLOCKWISE);
        return out;
    case 7:
        cv::transpose(image, out);
        cv::rotate(out, out, cv::ROTATE_180);
        return out;
    case 8:
        cv::rotate(image, out, cv::ROTATE_90_COUNTERCLOCKWISE);
        return out;
    default:
        return image;
    }
}

namespace {

/// The start-of-frame marker (0xC0…0xCF) of a JPEG stream, or 0 when none precedes the scans.
int jpegFrameMarker(const Bytes& bytes) {
    size_t at = 2;
    while (at + 4 <= bytes.size()) {
        if (bytes[at] != 0xFF) return 0;
        const int marker = bytes[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) { // no length field
            at += 2;
            continue;
        }
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return marker;
        if (marker == 0xDA || marker == 0xD9) return 0;
        at += 2 + ((size_t(bytes[at + 2]) << 8) | bytes[at + 3]);
    }
    return 0;
}

/// Whether the declared size is one we agree to decode. A progressive or arithmetic-coded
/// picture costs memory or time by its full size whatever the scale, so it is held to the
/// full-size bound. A Huffman-coded picture spends at least one bit on every 8×8 block, so a
/// stream too short for that is a damaged one claiming a size it never had: decoding it would
/// fill most of the claimed area (possibly gigabytes) with grey.
bool plausibleJpegSize(const Bytes& bytes, int width, int height) {
    const int marker = jpegFrameMarker(bytes);
    const bool progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
    const bool arithmetic = marker >= 0xC9;
    if ((progressive || arithmetic) && std::int64_t(width) * height > kMaxDecodePixels) return false;
    const std::int64_t blocks = ((std::int64_t(width) + 7) / 8) * ((std::int64_t(height) + 7) / 8);
    return arithmetic || blocks <= std::int64_t(bytes.size()) * 8;
}

} // namespace

std::optional<Bitmap> decodeJpeg(const Bytes& bytes, int maxSide) {
    tjhandle tj = tjInitDecompress();
    if (!tj) return std::nullopt;
    std::optional<Bitmap> result;
    try {
        int width = 0, height = 0, subsamp = 0, colorspace = 0;
        if (tjDecompressHeader3(tj, bytes.data(), static_cast<unsigned long>(bytes.size()), &width, &height,
                                &subsamp, &colorspace) == 0 &&
            width > 0 && height > 0 && plausibleJpegSize(bytes, width, height)) {
            tjscalingfactor chosen{1, 1};
            if (maxSide > 0) {
                int count = 0;
                const tjscalingfactor* factors = tjGetScalingFactors(&count);
                for (int i = 0; i < count; ++i) {
                    const tjscalingfactor f = factors[i];
                    if (f.num > f.denom) continue;
                    const int longest = std::max(TJSCALED(width, f), TJSCALED(height, f));
                    const bool smaller = f.num * chosen.denom < chosen.num * f.denom;
                    if (longest >= maxSide && smaller) chosen = f;
                }
            }
            const int w = TJSCALED(width, chosen);
            const int h = TJSCALED(height, chosen);
            if (std::int64_t(w) * h <= kMaxDecodePixels) {
                const bool cmyk = colorspace == TJCS_CMYK || colorspace == TJCS_YCCK;
                Bitmap decoded(h, w, cmyk ? CV_8UC4 : CV_8UC3);
                const int format = cmyk ? TJPF_CMYK : TJPF_RGB;
                if (tjDecompress2(tj, bytes.data(), static_cast<unsigned long>(bytes.size()), decoded.data, w,
                                  static_cast<int>(decoded.step), h, format, TJFLAG_ACCURATEDCT) == 0 ||
                    tjGetErrorCode(tj) == TJERR_WARNING) {
                    if (cmyk) {
                        // Adobe writes inverted CMYK; ink = 255 - value.
                        Bitmap rgb(h, w, CV_8UC3);
                        for (int y = 0; y < h; ++y) {
                            const uchar* s = decoded.ptr<uchar>(y);
                            uchar* d = rgb.ptr<uchar>(y);
                            for (int x = 0; x < w; ++x, s += 4, d += 3) {
                                d[0] = uchar(s[0] * s[3] / 255);
                                d[1] = uchar(s[1] * s[3] / 255);
                                d[2] = uchar(s[2] * s[3] / 255);
                            }
                        }
                        decoded = rgb;
                    }
                    // The target comes from the full size: DCT scaling rounds sides up, which would
                    // tilt the aspect ratio by a pixel.
                    result = maxSide > 0 ? resizedTo(decoded, fittedSize(cv::Size(width, height), maxSide))
                                         : decoded;
                }
            }
        }
    } catch (...) {
        result.reset();
    }
    tjDestroy(tj);
    return result;
}

} // namespace detail

namespace {

std::optional<Bitmap> decodeHeif(const std::filesystem::path& path) {
    heif_context* ctx = heif_context_alloc();
    if (!ctx) return std::nullopt;
    std::optional<Bitmap> result;
    heif_image_handle* handle = nullptr;
    heif_image* img = nullptr;
    if (heif_context_read_from_file(ctx, path.c_str(), nullptr).code == heif_error_Ok &&
        heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok) {
        const int w = heif_image_handle_get_width(handle);
        const int h = heif_image_handle_get_height(handle);
        // libheif applies the container's rotation and mirroring while decoding.
        if (w > 0 && h > 0 && std::int64_t(w) * h <= detail::kMaxDecodePixels &&
            heif_decode_image(handle, &img, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code ==
                heif_error_Ok) {
            int stride = 0;
            const uint8_t* plane = heif_image_get_plane_readonly(img, heif_channel_interleaved, &stride);
            const int iw = heif_image_get_width(img, heif_channel_interleaved);
            const int ih = heif_image_get_height(img, heif_channel_interleaved);
            if (plane && iw > 0 && ih > 0) {
                try {
                    result = Bitmap(ih, iw, CV_8UC3, const_cast<uint8_t*>(plane), static_cast<size_t>(stride))
                                 .clone();
                } catch (...) {
                }
            }
        }
    }
    if (img) heif_image_release(img);
    if (handle) heif_image_handle_release(handle);
    heif_context_free(ctx);
    return result;
}

std::optional<Bitmap> decodePng(const detail::Bytes& bytes) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) return std::nullopt;
    std::optional<Bitmap> result;
    if (png.width > 0 && png.height > 0 && std::int64_t(png.width) * png.height <= detail::kMaxDecodePixels) {
        png.format = PNG_FORMAT_RGB; // alpha is composited onto the background colour by libpng
        try {
            Bitmap image(int(png.height), int(png.width), CV_8UC3);
            if (png_image_finish_read(&png, nullptr, image.data, static_cast<png_int_32>(image.step),
                                      nullptr))
                result = image;
        } catch (...) {
        }
    }
    png_image_free(&png);
    return result;
}

std::optional<Bitmap> decodeWithQt(const detail::Bytes& bytes) {
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && std::int64_t(size.width()) * size.height() > detail::kMaxDecodePixels)
        return std::nullopt;
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    image = image.convertToFormat(QImage::Format_RGB888);
    try {
        Bitmap view(image.height(), image.width(), CV_8UC3, image.bits(),
                    static_cast<size_t>(image.bytesPerLine()));
        return view.clone();
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<Bitmap> decodeSource(const ImageSource& source, int maxSide) {
    switch (source.format) {
    case ImageFormat::jpeg: {
        const auto bytes = detail::readFileBytes(source.path, detail::kMaxFileBytes);
        if (!bytes) return std::nullopt;
        auto decoded = detail::decodeJpeg(*bytes, maxSide);
        if (!decoded) return std::nullopt;
        return detail::applyOrientation(*decoded, detail::exifOrientation(source.path));
    }
    case ImageFormat::heif: {
        auto decoded = decodeHeif(source.path);
        if (!decoded) return std::nullopt;
        return maxSide > 0 ? fitWithin(*decoded, maxSide) : *decoded;
    }
    case ImageFormat::png: {
        const auto bytes = detail::readFileBytes(source.path, detail::kMaxFileBytes);
        if (!bytes) return std::nullopt;
        auto decoded = decodePng(*bytes);
        if (!decoded) return std::nullopt;
        return maxSide > 0 ? fitWithin(*decoded, maxSide) : *decoded;
    }
    case ImageFormat::raw:
    case ImageFormat::other:
        break;
    }
    return std::nullopt;
}

} // namespace

cv::Size fittedSize(cv::Size size, int maxSide) {
    const int longest = std::max(size.width, size.height);
    if (maxSide <= 0 || longest <= maxSide) return size;
    // floor(maxSide / longest × side) in exact integer arithmetic, so the longest side lands on
    // maxSide itself rather than one pixel short through rounding of the ratio.
    return {std::max(1, static_cast<int>(std::int64_t(maxSide) * size.width / longest)),
            std::max(1, static_cast<int>(std::int64_t(maxSide) * size.height / longest))};
}

Bitmap resizedTo(const Bitmap& image, cv::Size size) {
    if (image.size() == size) return image;
    Bitmap out;
    cv::resize(image, out, size, 0, 0, cv::INTER_AREA);
    return out;
}

Bitmap fitWithin(const Bitmap& image, int maxSide) {
    return resizedTo(image, fittedSize(image.size(), maxSide));
}

std::optional<Bitmap> thumbnail(const ImageSource& source, int maxSide) {
    if (maxSide <= 0) return std::nullopt;
    if (source.format == ImageFormat::raw) return detail::rawPreview(source.path, maxSide);
    return decodeSource(source, maxSide);
}

std::optional<Bitmap> fullImage(const ImageSource& source) {
    if (source.format == ImageFormat::raw) {
        auto raw = RawDeveloper::open(source.path);
        if (!raw) return std::nullopt;
        return raw->develop(1.0);
    }
    return decodeSource(source, 0);
}

std::optional<Bitmap> decodeImageBytes(const std::vector<unsigned char>& bytes) {
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
        if (auto jpeg = detail::decodeJpeg(bytes, 0)) return jpeg;
    if (auto image = decodeWithQt(bytes)) return image;
    return decodePng(bytes);
}

std::optional<Bitmap> decodeAny(const std::filesystem::path& path) {
    const auto bytes = detail::readFileBytes(path, detail::kMaxFileBytes);
    if (!bytes) return std::nullopt;
    if (auto image = decodeWithQt(*bytes)) return image;
    return decodePng(*bytes);
}

} // namespace platform
