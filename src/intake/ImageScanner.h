#pragma once

#include "core/Result.h"

#include <QDateTime>
#include <QString>

#include <filesystem>
#include <optional>
#include <vector>

namespace ImageScanner {

/// One media file of a shoot.
struct ImageInfo {
    enum class ImageType { jpg, raw, heic, png, video };

    std::filesystem::path path;
    QString fileName;                      ///< the last path component, as text
    std::optional<QDateTime> creationDate; ///< capture time; absent when nothing could be read
    ImageType fileType = ImageType::raw;

    bool operator==(const ImageInfo&) const = default;
};

/// The records of one folder, in capture order.
struct ScanResult {
    std::vector<ImageInfo> images;

    int rawCount() const { return count(ImageInfo::ImageType::raw); }
    int jpgCount() const { return count(ImageInfo::ImageType::jpg); }
    int heicCount() const { return count(ImageInfo::ImageType::heic); }
    int videoCount() const { return count(ImageInfo::ImageType::video); }

  private:
    int count(ImageInfo::ImageType type) const;
};

struct ScannerError {
    enum class Kind { folderNotFound, notADirectory, listingFailed };
    Kind kind;
    QString reason; ///< the system's reason, for listingFailed
    QString description() const;
};

inline const QString kFolderNotFound = QStringLiteral("文件夹不存在");
inline const QString kNotADirectory = QStringLiteral("选择的不是文件夹");
inline const QString kListingFailed = QStringLiteral("无法读取文件夹内容：");

/// Lists the folder's own entries (never subfolders' contents) with an image or video extension,
/// as records sorted by capture time (stable; an absent date counts as earliest).
core::Result<ScanResult, ScannerError> scanFolder(const std::filesystem::path& folder);

/// The record of one file.
ImageInfo processImageFile(const std::filesystem::path& path);

/// True for an already lower-cased extension (without dot) of a camera RAW format.
bool isRawExtension(const QString& ext);

/// True for an already lower-cased extension (without dot) in the image or the video list.
bool isSupportedExtension(const QString& ext);

/// Capture time: EXIF DateTimeOriginal, then TIFF DateTime, then the file's creation date.
/// Videos always take the file's creation date.
std::optional<QDateTime> getCreationDate(const std::filesystem::path& path, bool isVideo);

/// The file's extension without dot, lower-cased ("" when none).
QString lowerExtension(const std::filesystem::path& path);

/// The type of a lower-cased extension.
ImageInfo::ImageType typeForExtension(const QString& ext);

/// The log line that reports a scan: "扫描完成：共 …".
QString summaryLine(const ScanResult& result);

} // namespace ImageScanner
