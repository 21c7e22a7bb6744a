#include "intake/ImageScanner.h"

#include "core/Dates.h"
#include "core/Text.h"
#include "platform/Imaging.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace ImageScanner {
namespace {

constexpr std::array<const char*, 11> kRawExtensions = {"cr2", "cr3", "nef", "arw", "dng", "raf",
                                                        "orf", "rw2", "pef", "srw", "x3f"};
constexpr std::array<const char*, 5> kOtherImageExtensions = {"jpg", "jpeg", "png", "heic", "heif"};
constexpr std::array<const char*, 4> kVideoExtensions = {"mov", "mp4", "avi", "m4v"};

template <size_t N> bool contains(const std::array<const char*, N>& list, const QString& ext) {
    return std::any_of(list.begin(), list.end(), [&](const char* e) { return ext == QLatin1String(e); });
}

} // namespace

int ScanResult::count(ImageInfo::ImageType type) const {
    return static_cast<int>(std::count_if(images.begin(), images.end(),
                                          [type](const ImageInfo& i) { return i.fileType == type; }));
}

QString ScannerError::description() const {
    switch (kind) {
    case Kind::folderNotFound:
        return kFolderNotFound;
    case Kind::notADirectory:
        return kNotADirectory;
    case Kind::listingFailed:
        return kListingFailed + reason;
    }
    return {};
}

QString lowerExtension(const std::filesystem::path& path) {
    const std::string ext = path.filename().extension().native();
    if (ext.size() <= 1) return {};
    return QString::fromUtf8(ext.data() + 1, static_cast<qsizetype>(ext.size() - 1)).toLower();
}

bool isRawExtension(const QString& ext) {
    return contains(kRawExtensions, ext);
}

bool isSupportedExtension(const QString& ext) {
    return contains(kRawExtensions, ext) || contains(kOtherImageExtensions, ext) ||
           contains(kVideoExtensions, ext);
}

ImageInfo::ImageType typeForExtension(const QString& ext) {
    using T = ImageInfo::ImageType;
    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg")) return T::jpg;
    if (ext == QLatin1String("png")) return T::png;
    if (ext == QLatin1String("heic") || ext == QLatin1String("heif")) return T::heic;
    if (contains(kVideoExtensions, ext)) return T::video;
    return T::raw;
}

std::optional<QDateTime> getCreationDate(const std::filesystem::path& path, bool isVideo) {
    if (isVideo) return platform::fileCreationDate(path);
    const auto source = platform::openImageSource(path);
    if (!source) return platform::fileCreationDate(path);
    const auto tags = platform::readDateTags(*source);
    if (tags) {
        if (tags->exifDateTimeOriginal)
            if (auto date = core::parseExifDate(*tags->exifDateTimeOriginal)) return date;
        if (tags->tiffDateTime)
            if (auto date = core::parseExifDate(*tags->tiffDateTime)) return date;
    }
    return platform::fileCreationDate(path);
}

ImageInfo processImageFile(const std::filesystem::path& path) {
    ImageInfo info;
    info.path = path;
    info.fileName = core::displayName(path);
    info.fileType = typeForExtension(lowerExtension(path));
    info.creationDate = getCreationDate(path, info.fileType == ImageInfo::ImageType::video);
    return info;
}

core::Result<ScanResult, ScannerError> scanFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    const auto status = std::filesystem::status(folder, ec);
    if (!std::filesystem::exists(status)) return ScannerError{ScannerError::Kind::folderNotFound, {}};
    if (!std::filesystem::is_directory(status)) return ScannerError{ScannerError::Kind::notADirectory, {}};

    std::vector<std::filesystem::path> entries;
    std::filesystem::directory_iterator it(folder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const auto& path = it->path();
        if (isSupportedExtension(lowerExtension(path))) entries.push_back(path);
    }
    if (ec) {
        return ScannerError{ScannerError::Kind::listingFailed, QString::fromLocal8Bit(ec.message().c_str())};
    }
    // The directory's own order is arbitrary; name order makes every run see the same listing.
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.filename().native() < b.filename().native(); });

    ScanResult result;
    result.images.reserve(entries.size());
    for (const auto& path : entries)
        result.images.push_back(processImageFile(path));
    std::stable_sort(result.images.begin(), result.images.end(), [](const ImageInfo& a, const ImageInfo& b) {
        return core::earlierCapture(a.creationDate, b.creationDate);
    });
    return result;
}

QString summaryLine(const ScanResult& result) {
    return QStringLiteral("扫描完成：共 %1 个（RAW %2 / JPG %3 / HEIC %4 / 视频 %5）")
        .arg(result.images.size())
        .arg(result.rawCount())
        .arg(result.jpgCount())
        .arg(result.heicCount())
        .arg(result.videoCount());
}

} // namespace ImageScanner
