// The one place that calls Exiv2. Exiv2 is not re-entrant, so calls are serialised, and its
// exceptions never leave this file.

#include "platform/ImagingInternal.h"

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

std::mutex& exivMutex() {
    static std::mutex m;
    return m;
}

void initExiv2Once() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
        Exiv2::enableBMFF(true);
    });
}

std::optional<QString> asciiTag(const Exiv2::ExifData& exif, const char* key) {
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end()) return std::nullopt;
    std::string text = it->toString();
    while (!text.empty() && (text.back() == '\0'))
        text.pop_back();
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

DateTags datesOf(const Exiv2::ExifData& exif) {
    DateTags tags;
    tags.exifDateTimeOriginal = asciiTag(exif, "Exif.Photo.DateTimeOriginal");
    tags.tiffDateTime = asciiTag(exif, "Exif.Image.DateTime");
    return tags;
}

/// The Exif block of a HEIF file's primary image, as TIFF bytes (without the offset prefix).
std::optional<detail::Bytes> heifExifBlock(const std::filesystem::path& path) {
    heif_context* ctx = heif_context_alloc();
    if (!ctx) return std::nullopt;
    std::optional<detail::Bytes> result;
    heif_image_handle* handle = nullptr;
    if (heif_context_read_from_file(ctx, path.c_str(), nullptr).code == heif_error_Ok &&
        heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok) {
        heif_item_id id = 0;
        if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) == 1) {
            const size_t size = heif_image_handle_get_metadata_size(handle, id);
            detail::Bytes block(size);
            if (size > 4 && heif_image_handle_get_metadata(handle, id, block.data()).code == heif_error_Ok) {
                // The block starts with a 4-byte big-endian offset to the TIFF header.
                const uint32_t offset = (uint32_t(block[0]) << 24) | (uint32_t(block[1]) << 16) |
                                        (uint32_t(block[2]) << 8) | uint32_t(block[3]);
                if (offset < size - 4) result = detail::Bytes(block.begin() + 4 + offset, block.end());
            }
        }
    }
    if (handle) heif_image_handle_release(handle);
    heif_context_free(ctx);
    return result;
}

ImageFormat sniff(const std::array<unsigned char, 16>& h, size_t n) {
    auto at = [&](size_t off, const char* text) {
        const size_t len = std::strlen(text);
        return n >= off + len && std::memcmp(h.data() + off, text, len) == 0;
    };
    if (n >= 3 && h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF) return ImageFormat::jpeg;
    if (at(0, "\x89PNG")) return ImageFormat::png;
    if (at(4, "ftyp")) {
        if (at(8, "crx ")) return ImageFormat::raw;
        return ImageFormat::heif; // heic, heix, mif1, msf1, avif …: libheif decides
    }
    if (at(0, "II*") || at(0, "MM\0*") || at(0, "IIRO") || at(0, "IIRS") || at(0, "IIU") ||
        at(0, "FUJIFILM") || at(0, "FOVb"))
        return ImageFormat::raw;
    return ImageFormat::other;
}

} // namespace

std::optional<ImageSource> openImageSource(const std::filesystem::path& path) {
    // O_NONBLOCK keeps a FIFO that merely carries an image name from blocking the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::array<unsigned char, 16> head{};
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = ::read(fd, head.data(), head.size());
    ::close(fd);
    if (n <= 0) return std::nullopt;
    const ImageFormat format = sniff(head, static_cast<size_t>(n));
    if (format == ImageFormat::other) return std::nullopt;
    return ImageSource{path, format};
}

std::optional<DateTags> readDateTags(const ImageSource& source) {
    initExiv2Once();
    if (source.format == ImageFormat::heif) {
        // Exiv2 0.27 does not read Exif from HEIF; libheif hands us the block instead.
        const auto block = heifExifBlock(source.path);
        if (!block) return std::nullopt;
        const std::lock_guard lock(exivMutex());
        try {
            Exiv2::ExifData exif;
            Exiv2::ExifParser::decode(exif, block->data(), static_cast<uint32_t>(block->size()));
            if (exif.empty()) return std::nullopt;
            return datesOf(exif);
        } catch (...) {
            return std::nullopt;
        }
    }
    const std::lock_guard lock(exivMutex());
    try {
        auto image = Exiv2::ImageFactory::open(source.path.native());
        if (!image.get()) return std::nullopt;
        image->readMetadata();
        return datesOf(image->exifData());
    } catch (...) {
        return std::nullopt;
    }
}

namespace detail {

int exifOrientation(const std::filesystem::path& path) {
    initExiv2Once();
    const std::lock_guard lock(exivMutex());
    try {
        auto image = Exiv2::ImageFactory::open(path.native());
        if (!image.get()) return 1;
        image->readMetadata();
        const auto& exif = image->exifData();
        const auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (it == exif.end() || it->count() == 0) return 1;
        const long value = it->toLong();
        return (value >= 1 && value <= 8) ? static_cast<int>(value) : 1;
    } catch (...) {
        return 1;
    }
}

} // namespace detail

bool writeExifDates(const std::filesystem::path& path, const QString& dateTimeOriginal,
                    const QString& dateTime, int orientation) {
    initExiv2Once();
    const std::lock_guard lock(exivMutex());
    try {
        auto image = Exiv2::ImageFactory::open(path.native());
        if (!image.get()) return false;
        image->readMetadata();
        Exiv2::ExifData exif = image->exifData();
        if (!dateTimeOriginal.isEmpty()) exif["Exif.Photo.DateTimeOriginal"] = dateTimeOriginal.toStdString();
        if (!dateTime.isEmpty()) exif["Exif.Image.DateTime"] = dateTime.toStdString();
        if (orientation > 0) exif["Exif.Image.Orientation"] = uint16_t(orientation);
        image->setExifData(exif);
        image->writeMetadata();
        return true;
    } catch (...) {
        return false;
    }
}

std::optional<FileTimes> fileTimes(const std::filesystem::path& path) {
    struct statx stx {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &stx) != 0)
        return std::nullopt;
    auto toDate = [](const statx_timestamp& ts) {
        return QDateTime::fromMSecsSinceEpoch(qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000, Qt::LocalTime);
    };
    FileTimes times;
    times.modified = toDate(stx.stx_mtime);
    if ((stx.stx_mask & STATX_BTIME) && (stx.stx_btime.tv_sec != 0 || stx.stx_btime.tv_nsec != 0))
        times.birth = toDate(stx.stx_btime);
    return times;
}

std::optional<QDateTime> fileCreationDate(const std::filesystem::path& path) {
    const auto times = fileTimes(path);
    if (!times) return std::nullopt;
    if (times->birth && *times->birth < times->modified) return times->birth;
    return times->modified;
}

} // namespace platform
