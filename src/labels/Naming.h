#pragma once

// The text rules that name an exhibit folder and its artifact photographs in place: a title from
// the label fields, the serial a folder name may start with, the folder name, the artifact file
// names and unique names within one folder. All are pure functions except that `uniquify`
// records the name it hands out.

#include "core/RelicLabelExtracted.h"

#include <QSet>
#include <QString>

#include <filesystem>
#include <optional>

namespace Naming {

/// Linux allows at most this many bytes in one path component.
inline constexpr qsizetype kMaxNameBytes = 255;

/// Name, source and period (defaults for empty source and period, fields normalised), the empty
/// ones dropped, joined by single spaces.
QString title(const RelicLabelExtracted& label);

/// The serial a folder name starts with: "12", "12-3", "2024-05-01"; nothing otherwise.
std::optional<QString> leadingSerial(const QString& folderName);

/// "{serial} {title}" (or the title alone) with path-unsafe characters as "_", fitted to one path
/// component by shortening the title. An empty title gives an empty name without a serial.
QString folderName(const std::optional<QString>& serial, const QString& title);

/// The last maximal run of decimal digits in a file stem ("IMG_0457" → "0457").
std::optional<QString> lastDigitRun(const QString& fileStem);

/// "{title} {digit run or whole stem}.{ext}", path-unsafe characters as "_". A long title is
/// shortened by whole characters so that the name, with room for a "-N" from `uniquify`, fits in
/// one path component; the digit run and the extension are never cut.
QString artifactFileName(const QString& title, const std::filesystem::path& original);

/// The name itself when unused, else "{base}-2.{ext}", "-3", … ; the result is added to `used`.
QString uniquify(const QString& name, QSet<QString>& used);

/// `front + middle + back` in at most `maxBytes` UTF-8 bytes, shortening only `middle`, by whole
/// characters (code points), and trimming the result's ends.
QString fitComponent(const QString& front, const QString& middle, const QString& back,
                     qsizetype maxBytes = kMaxNameBytes);

/// A folder name made from label text, fitted to one path component: NUL removed, "/" as "_",
/// the title after the serial (the first word) shortened, never the serial; an empty name, "."
/// or ".." becomes "_".
QString fitFolderName(const QString& name);

} // namespace Naming
