#pragma once

// The imaging operations every other part reads image files through. Each operation reports
// failure only as "nothing": it never throws and never prints. Exiv2, TurboJPEG, libheif,
// LibRaw and OpenCV are touched only behind this header.

#include <QDateTime>
#include <QString>

#include <opencv2/core/mat.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

/// An 8-bit, 3-channel RGB bitmap (continuous rows). Always upright once returned here.
using Bitmap = cv::Mat;

enum class ImageFormat { jpeg, png, heif, raw, other };

/// An opened image file: a regular file whose leading bytes name an image format we read.
struct ImageSource {
    std::filesystem::path path;
    ImageFormat format = ImageFormat::other;
};

/// The two capture-time texts of image 0, where present.
struct DateTags {
    std::optional<QString> exifDateTimeOriginal;
    std::optional<QString> tiffDateTime;
};

/// Opens a file as an image source; nothing when it is not a regular, readable image file.
std::optional<ImageSource> openImageSource(const std::filesystem::path& path);

/// EXIF DateTimeOriginal and TIFF DateTime of image 0; nothing when no metadata could be read.
std::optional<DateTags> readDateTags(const ImageSource& source);

/// Image 0 with its longest side at most maxSide, orientation applied. JPEG decodes with DCT
/// scaling, so a large photograph never needs its full-size bitmap here.
std::optional<Bitmap> thumbnail(const ImageSource& source, int maxSide);

/// Image 0 at full size, orientation applied.
std::optional<Bitmap> fullImage(const ImageSource& source);

/// An image held in memory (JPEG, PNG or anything Qt reads), at its own size, upright.
std::optional<Bitmap> decodeImageBytes(const std::vector<unsigned char>& bytes);

/// Any raster file Qt or OpenCV can decode, at its own size: the last resort.
std::optional<Bitmap> decodeAny(const std::filesystem::path& path);

/// A camera RAW file opened for development.
class RawDeveloper {
  public:
    static std::unique_ptr<RawDeveloper> open(const std::filesystem::path& path);
    virtual ~RawDeveloper() = default;
    /// The developed image's size at scale 1, orientation applied.
    virtual cv::Size nativeSize() const = 0;
    /// Develops at the given scale (0 < scale ≤ 1); half-size demosaicing where the scale allows.
    virtual std::optional<Bitmap> develop(double scale) = 0;
};

/// The file's modification time and, where the file system records it, its birth time.
struct FileTimes {
    std::optional<QDateTime> birth;
    QDateTime modified;
};

/// Times of the item itself (a symbolic link is not followed).
std::optional<FileTimes> fileTimes(const std::filesystem::path& path);

/// The file system's creation date: the earlier of birth and modification time. On Linux the
/// birth time is when the file was copied onto this disk, while copies keep the camera's
/// modification time, so the earlier one is the better stand-in for capture time.
std::optional<QDateTime> fileCreationDate(const std::filesystem::path& path);

/// Scales so the longest side is at most maxSide: floor of each side, at least 1, area
/// interpolation. Returns the input (shared) when it already fits.
Bitmap fitWithin(const Bitmap& image, int maxSide);
cv::Size fittedSize(cv::Size size, int maxSide);
/// Area-interpolated resize (the input itself when already that size).
Bitmap resizedTo(const Bitmap& image, cv::Size size);

} // namespace platform

namespace platform {

/// Writes EXIF DateTimeOriginal (and, when given, TIFF DateTime) into a JPEG's metadata; false
/// on failure.
bool writeExifDates(const std::filesystem::path& path, const QString& dateTimeOriginal,
                    const QString& dateTime = {}, int orientation = 0);

/// One baseline JPEG encoding of an RGB bitmap; quality 1–100. Nothing on failure.
std::optional<std::vector<unsigned char>> encodeJpeg(const Bitmap& image, int quality);

} // namespace platform
