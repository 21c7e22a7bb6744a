#include "services/OCRJob.h"

#include "core/Text.h"
#include "services/ImageOCRProcessor.h"

namespace services {

JobFrame ocrFrame() {
    return JobFrame{QStringLiteral("—— 开始 OCR ——"), QStringLiteral("—— OCR 结束 ——"),
                    ProcessingLock::kBusyForMain, true};
}

OCRResult readImages(const RunJob& job, const Engine& engine,
                     const std::vector<std::filesystem::path>& selection) {
    OCRResult result;
    if (!engine.notice.isEmpty()) job.log(engine.notice);
    const core::RunContext context = job.context();
    const auto images = ImageOCRProcessor::resolveImages(selection, context.log);
    if (images.empty()) result.errors << kNoImagesToRead;
    for (size_t i = 0; i < images.size(); ++i) {
        if (context.cancelled()) {
            result.cancelled = true;
            job.log(kOCRCancelledLine.arg(result.written.size()));
            break;
        }
        context.report(kOCRStage, int(i + 1), int(images.size()), core::displayName(images[i]));
        auto written = ImageOCRProcessor::run(images[i], *engine.backend, context.log);
        if (written)
            result.written.push_back(*written);
        else
            result.errors << written.error().description();
    }
    job.summarize(result.errors);
    return result;
}

} // namespace services
