#pragma once

#include <QString>

#include <filesystem>

/// One unit of work handed over from the file manager.
struct FinderWorkItem {
    /// Re-organize and name one folder, or read one image into a text file.
    enum class Kind { nameFolder, ocrImage };

    Kind kind = Kind::nameFolder;
    std::filesystem::path url; ///< the folder or image as received

    bool operator==(const FinderWorkItem&) const = default;

    /// "nameFolder" or "ocrImage": the kind's part of a queue key.
    static QString rawValue(Kind kind) {
        return kind == Kind::ocrImage ? QStringLiteral("ocrImage") : QStringLiteral("nameFolder");
    }
};
