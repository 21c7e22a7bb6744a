#include "labels/RatingWriter.h"

#include "core/Text.h"
#include "platform/ExtendedAttributes.h"
#include "platform/Process.h"

#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cstdint>

namespace RatingWriter {

std::optional<QString> write(int rating, const std::filesystem::path& file,
                             const QStringList& exifToolSearchPath) {
    const int stars = std::clamp(rating, 0, 5);
    const auto exifTool = writeWithExifTool(stars, file, exifToolSearchPath);
    const auto attribute = writeSpotlightStarRating(stars, file);
    if (exifTool && attribute) return *exifTool + QStringLiteral("；") + *attribute;
    return std::nullopt;
}

std::optional<QString> writeWithExifTool(int rating, const std::filesystem::path& file,
                                         const QStringList& exifToolSearchPath) {
    const auto program = exifToolPath(exifToolSearchPath);
    if (!program) return kExifToolMissing;
    const auto status = platform::runProgram(*program, exifToolArguments(std::clamp(rating, 0, 5), file));
    if (!status) return status.error().description();
    if (*status != 0) return kExifToolExitStatus.arg(*status);
    return std::nullopt;
}

std::optional<QString> writeSpotlightStarRating(int rating, const std::filesystem::path& file) {
    const int stars = std::clamp(rating, 0, 5);
    const int result = platform::setAttribute(file, kStarRatingAttribute, realPropertyList(double(stars)));
    if (result != 0) return kAttributeFailed.arg(result);
    // Only what file managers show here; the rating is already carried by the first attribute.
    platform::setAttribute(file, kBalooRatingAttribute, QByteArray::number(2 * stars));
    return std::nullopt;
}

std::optional<std::filesystem::path> exifToolPath(const QStringList& searchPath) {
    for (const QString& candidate : searchPath) {
        const std::filesystem::path path = core::toPath(candidate);
        if (platform::isExecutableFile(path)) return path;
    }
    return std::nullopt;
}

QStringList exifToolArguments(int rating, const std::filesystem::path& file) {
    const QString r = QString::number(rating);
    const QString p = QString::number(ratingPercent(rating));
    QString path = core::displayPath(file);
    // A relative name starting with "-" would be read as an option.
    if (path.startsWith(QLatin1Char('-'))) path.prepend(QStringLiteral("./"));
    return {QStringLiteral("-overwrite_original_in_place"),
            QStringLiteral("-n"),
            QStringLiteral("-Rating=") + r,
            QStringLiteral("-XMP-xmp:Rating=") + r,
            QStringLiteral("-RatingPercent=") + p,
            QStringLiteral("-XMP-microsoft:Rating=") + r,
            QStringLiteral("-XMP-microsoft:RatingPercent=") + p,
            path};
}

int ratingPercent(int rating) {
    switch (rating) {
    case 1:
        return 1;
    case 2:
        return 25;
    case 3:
        return 50;
    case 4:
        return 75;
    case 5:
        return 99;
    default:
        return 0;
    }
}

QByteArray realPropertyList(double value) {
    // Header, one object (marker 0x23: a real of 2^3 bytes, big-endian), a one-entry offset
    // table, and the trailer: 6 unused bytes, offset and reference sizes, object count, top
    // object, offset table position.
    QByteArray bytes("bplist00");
    bytes.append(char(0x23));
    char real[8];
    qToBigEndian(std::bit_cast<quint64>(value), real);
    bytes.append(real, 8);
    const qsizetype offsetTable = bytes.size();
    bytes.append(char(8)); // the object's offset
    bytes.append(6, char(0));
    bytes.append(char(1));
    bytes.append(char(1));
    char number[8];
    qToBigEndian(quint64(1), number);
    bytes.append(number, 8);
    qToBigEndian(quint64(0), number);
    bytes.append(number, 8);
    qToBigEndian(quint64(offsetTable), number);
    bytes.append(number, 8);
    return bytes;
}

} // namespace RatingWriter
