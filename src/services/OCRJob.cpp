#include "services/OCRJob.h"

#include "core/Text.h"
#include "services/History.h"
#include "services/ImageOCRProcessor.h"

#include <map>
#include <memory>

namespace services {

JobFrame ocrFrame() {
    return JobFrame{QStringLiteral("—— 开始 OCR ——"), QStringLiteral("—— OCR 结束 ——"),
                    ProcessingLock::kBusyForMain, true};
}

OCRResult readImages(const RunJob& job, const Engine& engine,
                     const std::vector<std::filesystem::path>& selection) {
    OCRResult result;
    if (!engine.notice.isEmpty()) job.log(engine.notice);
    if (const auto reason = refuseWithoutHistory(job)) return refusedResult<OCRResult>(*reason);
    const core::RunContext context = job.context();
    const auto images = ImageOCRProcessor::resolveImages(selection, context.log);
    if (images.empty()) result.errors << kNoImagesToRead;
    // One operation per shoot the images belong to.
    std::map<std::filesystem::path, std::unique_ptr<MoveJournal::LazyWriter>> journals;
    std::optional<QString> historyError;
    for (size_t i = 0; i < images.size(); ++i) {
        if (context.cancelled()) {
            if (historyError) break;
            result.cancelled = true;
            job.log(kOCRCancelledLine.arg(result.written.size()));
            break;
        }
        context.report(kOCRStage, int(i + 1), int(images.size()), core::displayName(images[i]));
        auto& journal = journals[historyRootFor(images[i])];
        if (!journal) {
            const auto root = historyRootFor(images[i]);
            journal = std::make_unique<MoveJournal::LazyWriter>(MoveJournal::Kind::ocr, root, root);
            journal->stopOnFailure(job.cancelToken());
        }
        auto written = ImageOCRProcessor::run(images[i], *engine.backend, context.log, journal.get());
        if (written)
            result.written.push_back(*written);
        else
            result.errors << written.error().description();
        if (!historyError) historyError = journal->error();
    }
    settleHistory(result, historyError);
    job.summarize(result.errors);
    return result;
}

} // namespace services
