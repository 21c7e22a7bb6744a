#pragma once

// The door through which the file manager reaches Vitrino: an application URL
// "vitrino://ocr?path=/A/IMG_1.JPG&path=/A/IMG_2.JPG" (host "ocr" for OCR of images, any other
// host or none for naming folders), passed as the argument of `vitrino` by the desktop files.

#include "services/FinderWorkItem.h"

#include <QString>

#include <filesystem>
#include <optional>
#include <vector>

class FinderJobController;

namespace ServiceEntry {

inline const QString kScheme = QStringLiteral("vitrino");

/// What one application URL asks for: the kind and the paths, in the order of the URL.
struct Request {
    FinderWorkItem::Kind kind = FinderWorkItem::Kind::nameFolder;
    std::vector<std::filesystem::path> paths;

    bool operator==(const Request&) const = default;
};

/// The absolute paths of the URL's query items named exactly "path", in order. Items with an
/// empty value are skipped, and so are relative paths: the running instance has no meaningful
/// working folder to resolve them against.
std::vector<std::filesystem::path> pathItems(const QString& url);

/// Whether the text is a "vitrino:" URL at all (usable or not).
bool isOpenURL(const QString& text);

/// The request of an application URL; nothing for another scheme, an unparsable URL or a URL
/// without usable paths (such URLs are ignored silently).
std::optional<Request> parseOpenURL(const QString& url);

/// The URL that asks for `request`: every byte of a path outside the unreserved set and "/" is
/// percent-encoded, so spaces, quotes, "&", "#" and CJK survive.
QString openURL(const Request& request);

/// Hands every application URL among a process's arguments (its own, or those a later process
/// sent) to the job queue: later, on the interface thread, in order. Other arguments are ignored.
/// Returns the number of requests handed over.
int dispatch(const QStringList& arguments, FinderJobController& controller);

} // namespace ServiceEntry
