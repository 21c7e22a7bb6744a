#include "services/ImageOCRProcessor.h"

#include "core/Text.h"
#include "intake/ImageScanner.h"
#include "intake/WorkUnits.h"
#include "organize/AutoOrganizer.h"
#include "platform/FileSystem.h"

#include <QTextBoundaryFinder>

#include <cstring>
#include <set>

namespace ImageOCRProcessor {

namespace fs = std::filesystem;
using ImageScanner::ImageInfo;

namespace {

/// The key two selections of one file share (also without a trailing "/").
fs::path standardized(const fs::path& path) {
    std::error_code ec;
    fs::path out = fs::absolute(path, ec);
    out = (ec ? path : out).lexically_normal();
    if (!out.has_filename() && out.has_relative_path()) out = out.parent_path();
    return out;
}

} // namespace

std::optional<fs::path> siblingJPEG(const fs::path& file) {
    for (const char* ext : {".jpg", ".JPG", ".jpeg", ".JPEG"}) {
        fs::path candidate = file;
        candidate.replace_extension(ext);
        std::error_code ec;
        if (candidate != file && fs::is_regular_file(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

std::vector<fs::path> resolveImages(const std::vector<fs::path>& selection, const core::Log& log) {
    std::vector<ImageInfo> records;
    std::set<fs::path> seen;
    const auto firstTime = [&seen](const fs::path& path) { return seen.insert(standardized(path)).second; };

    for (const fs::path& item : selection) {
        std::error_code ec;
        const fs::file_status status = fs::status(item, ec);
        if (ec || !fs::exists(status)) continue;

        if (fs::is_directory(status)) {
            const QString folder = core::displayName(standardized(item));
            auto scan = ImageScanner::scanFolder(item);
            if (!scan) {
                log(core::failure(kScanFailedLine.arg(folder, scan.error().description())));
                continue;
            }
            std::vector<ImageInfo> kept;
            for (const ImageInfo& info : scan->images)
                if (info.fileType != ImageInfo::ImageType::video) kept.push_back(info);
            log(kFolderImagesLine.arg(folder).arg(kept.size()));
            for (ImageInfo& info : kept)
                if (firstTime(info.path)) records.push_back(std::move(info));
            continue;
        }

        if (!ImageScanner::isSupportedExtension(ImageScanner::lowerExtension(item))) continue;
        ImageInfo info = ImageScanner::processImageFile(item);
        if (info.fileType == ImageInfo::ImageType::video) continue;
        const bool isRaw = info.fileType == ImageInfo::ImageType::raw;
        if (firstTime(item)) records.push_back(std::move(info));

        if (!isRaw) continue;
        const auto jpeg = siblingJPEG(item);
        if (!jpeg || !firstTime(*jpeg)) continue;
        if (!ImageScanner::isSupportedExtension(ImageScanner::lowerExtension(*jpeg))) continue;
        records.push_back(ImageScanner::processImageFile(*jpeg));
        log(kSiblingJPEGLine.arg(core::displayName(*jpeg)));
    }

    std::vector<fs::path> images;
    for (const MediaPipeline::WorkUnit& unit : MediaPipeline::buildWorkUnits(records))
        if (unit.primary.fileType != ImageInfo::ImageType::video) images.push_back(unit.primary.path);
    return images;
}

QString cleanReply(const QString& reply) {
    static const QString fence = QStringLiteral("```");
    QString text = reply.trimmed();
    if (text.startsWith(fence)) text = text.remove(fence).trimmed();
    return text;
}

int perceivedLength(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

core::Result<fs::path> run(const fs::path& image, ai::VisionBackend& backend, const core::Log& log,
                           AutoOrganizer::MoveObserver* history) {
    const QString name = core::displayName(image);
    log(kReadingLine.arg(name));
    auto reply = backend.readText(image);
    if (!reply) {
        const core::Error error{kReadFailed.arg(name, reply.error().description())};
        log(core::failure(error.text));
        return error;
    }
    return saveText(image, *reply, log, history);
}

core::Result<fs::path> saveText(const fs::path& image, const QString& reply, const core::Log& log,
                                AutoOrganizer::MoveObserver* history) {
    const QString text = cleanReply(reply);
    const fs::path file = textFileFor(image);
    const QString name = core::displayName(file);
    const bool replacing = platform::itemExists(file);
    const auto id = history ? history->willWrite(file, text.toUtf8()) : std::nullopt;
    if (history && !id) {
        const core::Error error{kWriteFailed.arg(name, QStringLiteral("无法记入历史，未写入"))};
        log(core::failure(error.text));
        return error;
    }
    const auto code = platform::writeFileAtomically(file, text.toUtf8());
    if (id) history->finished(*id, !code);
    if (id && replacing && !code) log(core::warning(kReplacedLine.arg(name)));
    if (code) {
        const QString reason = QString::fromLocal8Bit(std::strerror(*code));
        const core::Error error{kWriteFailed.arg(name, reason)};
        log(core::failure(error.text));
        return error;
    }
    log(kWrittenLine.arg(name).arg(perceivedLength(text)));
    return file;
}

fs::path textFileFor(const fs::path& image) {
    fs::path out = image;
    out.replace_extension(".txt");
    return out;
}

} // namespace ImageOCRProcessor
