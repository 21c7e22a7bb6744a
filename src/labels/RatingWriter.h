#pragma once

// Star ratings (0–5) that mark each file's role, written two independent ways: into the file as
// XMP ratings by the external exiftool program, and as extended attributes that desktop search
// and file managers read. One working way is enough.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <optional>
#include <string>

namespace RatingWriter {

/// Where exiftool is looked for, in order; tests and benchmarks pass their own list.
inline const QStringList kExifToolPaths = {QStringLiteral("/opt/homebrew/bin/exiftool"),
                                           QStringLiteral("/usr/local/bin/exiftool"),
                                           QStringLiteral("/usr/bin/exiftool")};

/// The attribute the desktop search index of the other platform reads: a binary property list
/// of a real. Linux allows only the user namespace, hence the prefix.
inline const std::string kStarRatingAttribute = "user.com.apple.metadata:kMDItemStarRating";
/// KDE's file indexer (Dolphin, digiKam): a decimal string of 2 × stars, 0–10.
inline const std::string kBalooRatingAttribute = "user.baloo.rating";

inline const QString kExifToolMissing = QStringLiteral("未找到 exiftool");
inline const QString kExifToolExitStatus = QStringLiteral("exiftool 退出码 %1");
inline const QString kAttributeFailed = QStringLiteral("写入桌面搜索星级失败 (%1)");

/// Writes a rating, clamped to 0…5, both ways. Nothing when at least one way worked, else the
/// exiftool message, "；" and the attribute message.
std::optional<QString> write(int rating, const std::filesystem::path& file,
                             const QStringList& exifToolSearchPath = kExifToolPaths);

/// Runs exiftool once on the file; nothing on exit status 0.
std::optional<QString> writeWithExifTool(int rating, const std::filesystem::path& file,
                                         const QStringList& exifToolSearchPath = kExifToolPaths);

/// Sets the two rating attributes; the route succeeds when the first one is written.
std::optional<QString> writeSpotlightStarRating(int rating, const std::filesystem::path& file);

/// The first executable candidate.
std::optional<std::filesystem::path> exifToolPath(const QStringList& searchPath = kExifToolPaths);

/// The eight arguments, in order, for a rating already clamped.
QStringList exifToolArguments(int rating, const std::filesystem::path& file);

/// 1 → 1, 2 → 25, 3 → 50, 4 → 75, 5 → 99, anything else → 0.
int ratingPercent(int rating);

/// A binary property list (bplist00) holding one real number.
QByteArray realPropertyList(double value);

} // namespace RatingWriter
