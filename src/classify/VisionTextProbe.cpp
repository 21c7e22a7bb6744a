#include "classify/VisionTextProbe.h"

#include "ai/RAWJPEGExporter.h"
#include "ai/VisionBackend.h"
#include "platform/TextRecognition.h"

#include <algorithm>

namespace VisionTextProbe {

QString ProbeError::description() const {
    return kind == Kind::imageLoadFailed ? kImageLoadFailed : reason;
}

const TextModel& TextModel::system() {
    static const TextModel model{platform::detectText, platform::recognizeText};
    return model;
}

const Thresholds& thresholds() {
    // Measured with bench/bench_probe on 60 rendered scenes (20 labels, 20 panels, 20 objects):
    // see docs/ARCHITECTURE.md, "Text probe thresholds", for the table.
    static const Thresholds t;
    return t;
}

namespace {

int detSideFor(const platform::Bitmap& bitmap) {
    return std::max(bitmap.cols, bitmap.rows) > 1280 ? thresholds().detSide2560 : thresholds().detSide1280;
}

/// Accurate: read the largest regions; any region that reads as a few confident characters is text.
core::Result<bool> readsText(const platform::Bitmap& bitmap, std::vector<platform::TextBox> boxes,
                             const TextModel& model) {
    const Thresholds& t = thresholds();
    std::stable_sort(boxes.begin(), boxes.end(), [](const auto& a, const auto& b) {
        if (a.lineLike() != b.lineLike()) return a.lineLike();
        return a.width * a.height > b.width * b.height;
    });
    if (int(boxes.size()) > t.accurateMaxBoxes) boxes.resize(size_t(t.accurateMaxBoxes));
    for (const auto& box : boxes) {
        const auto read = model.recognize(bitmap, box);
        if (!read) return read.error();
        const QString text = read->text.trimmed();
        if (!text.isEmpty() && text.size() >= t.accurateMinChars &&
            read->confidence >= t.accurateMinConfidence)
            return true;
    }
    return false;
}

bool fastHasText(const std::vector<platform::TextBox>& boxes) {
    const auto lines = std::count_if(boxes.begin(), boxes.end(), [](const auto& b) { return b.lineLike(); });
    return lines >= thresholds().fastMinLines;
}

/// The model, keeping what it detects and reads on `found`'s bitmap there (and taking it from
/// there when it was found before).
TextModel keepingIn(const TextModel& model, ai::TextFound& found) {
    return TextModel{
        [&model, &found](const platform::Bitmap& bitmap, int detSide,
                         double minHeightFraction) -> core::Result<std::vector<platform::TextBox>> {
            const ai::TextFound::Question question{detSide, minHeightFraction, false};
            if (auto kept = found.regions(question)) return std::move(*kept);
            auto boxes = model.detect(bitmap, detSide, minHeightFraction);
            if (boxes) found.keepRegions(question, *boxes);
            return boxes;
        },
        [&model, &found](const platform::Bitmap& bitmap,
                         const platform::TextBox& box) -> core::Result<platform::RecognizedText> {
            if (auto kept = found.read(box)) return std::move(*kept);
            auto read = model.recognize(bitmap, box);
            if (read) found.keepRead(box, *read);
            return read;
        }};
}

} // namespace

core::Result<bool> recognizeHasText(const platform::Bitmap& bitmap, Level level, const TextModel& model) {
    const auto boxes = model.detect(bitmap, detSideFor(bitmap), thresholds().minTextHeight);
    if (!boxes) return boxes.error();
    if (level == Level::fast) return fastHasText(*boxes);
    return readsText(bitmap, *boxes, model);
}

core::Result<ProbeResult, ProbeError> containsAnyText(const std::filesystem::path& imagePath) {
    return containsAnyTextWith(imagePath, TextModel::system());
}

core::Result<ProbeResult, ProbeError> containsAnyTextWith(const std::filesystem::path& imagePath,
                                                          const TextModel& model) {
    if (auto models = platform::checkModels(); !models)
        return ProbeError{ProbeError::Kind::modelsUnavailable, models.error().description()};
    const auto loaded = RAWJPEGExporter::loadViewableImage(imagePath, RAWJPEGExporter::kUploadMaxPixelSize);
    if (!loaded) return ProbeError{ProbeError::Kind::imageLoadFailed, {}};
    return containsAnyTextIn(RAWJPEGExporter::enhanceForAPI(*loaded), model);
}

core::Result<ProbeResult, ProbeError> containsAnyTextIn(const platform::Bitmap& enhanced,
                                                        const TextModel& model, ai::TextFound* found) {
    if (auto models = platform::checkModels(); !models)
        return ProbeError{ProbeError::Kind::modelsUnavailable, models.error().description()};
    const auto failed = [](const core::Error& e) {
        return ProbeError{ProbeError::Kind::recognitionFailed, e.description()};
    };
    const platform::Bitmap small = RAWJPEGExporter::downsampledImage(enhanced, 1280);
    if (!small.empty()) {
        // Both 1280 attempts share one detection: the accurate one only adds recognition.
        const auto boxes = model.detect(small, thresholds().detSide1280, thresholds().minTextHeight);
        if (!boxes) return failed(boxes.error());
        if (fastHasText(*boxes)) return ProbeResult{true, kFast1280};
        const auto read = readsText(small, *boxes, model);
        if (!read) return failed(read.error());
        if (*read) return ProbeResult{true, kAccurate1280};
    }
    const platform::Bitmap large = RAWJPEGExporter::downsampledImage(enhanced, 2560);
    if (!large.empty()) {
        // The same pixels the engine reads: what is detected and read here is kept for it.
        const auto read = found && found->isFor(large)
                              ? recognizeHasText(large, Level::accurate, keepingIn(model, *found))
                              : recognizeHasText(large, Level::accurate, model);
        if (!read) return failed(read.error());
        if (*read) return ProbeResult{true, kAccurate2560};
    }
    return ProbeResult{false, kNoText};
}

} // namespace VisionTextProbe
