#include "cli/Cli.h"

#include "platform/FileSystem.h"

#include "core/Dates.h"
#include "core/Text.h"
#include "intake/ImageScanner.h"
#include "intake/WorkUnits.h"
#include "platform/Imaging.h"

namespace cli {

std::optional<std::vector<MediaPipeline::WorkUnit>> scanAndReport(const std::filesystem::path& folder) {
    const auto scan = ImageScanner::scanFolder(folder);
    if (!scan) {
        err(scan.error().description());
        return std::nullopt;
    }
    out(ImageScanner::summaryLine(*scan));
    auto units = MediaPipeline::buildWorkUnits(scan->images);
    out(MediaPipeline::taskLine(units));
    return units;
}

int scanCommand(Args& args) {
    if (args.unknownOption() || args.rest().size() != 1) return usageError("scan");
    const auto units = scanAndReport(args.path(0));
    if (!units) return 1;
    for (const auto& unit : *units) {
        out(QStringLiteral("%1\t%2%3")
                .arg(core::isoOrDash(unit.primary.creationDate), core::escapeControls(unit.primary.fileName),
                     core::escapeControls(MediaPipeline::companionNote(unit))));
    }
    return 0;
}

int thumbCommand(Args& args) {
    const auto max = args.take(QStringLiteral("--max"));
    const auto output = args.take(QStringLiteral("-o"));
    bool okMax = false;
    const int maxSide = max ? max->toInt(&okMax) : 0;
    if (args.unknownOption() || args.rest().size() != 1 || !output || !okMax || maxSide < 1)
        return usageError("thumb");
    const auto source = platform::openImageSource(args.path(0));
    const auto image = source ? platform::thumbnail(*source, maxSide) : std::nullopt;
    if (!image) {
        err(QStringLiteral("无法读取或解码图片：") + core::displayPath(args.path(0)));
        return 1;
    }
    const auto jpeg = platform::encodeJpeg(*image, 90);
    if (!jpeg || platform::writeFileAtomically(
                     core::toPath(*output),
                     QByteArray(reinterpret_cast<const char*>(jpeg->data()), qsizetype(jpeg->size())))) {
        err(QStringLiteral("无法写入文件：") + *output);
        return 1;
    }
    out(QStringLiteral("%1×%2").arg(image->cols).arg(image->rows));
    return 0;
}

} // namespace cli
