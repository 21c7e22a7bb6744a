#include "engine/LocalVisionBackend.h"

#include "core/Prompts.h"
#include "engine/Heuristics.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace engine {
namespace {

QString compactJson(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

/// Confidence with two decimals, as a reply would carry it.
double replyConfidence(double confidence) {
    return std::round(confidence * 100) / 100;
}

/// A classification reads the regions and, unless they already show a panel, a few lines.
core::Result<PageText> readToClassify(const platform::Bitmap& image, ai::TextFound* found = nullptr) {
    return readPage(image, kClassifyReadLimit, worthReadingToClassify, true, found);
}

/// A label card or a page of text reads every line.
core::Result<PageText> readWhole(const platform::Bitmap& image, ai::TextFound* found) {
    return readPage(image, 1 << 30, {}, true, found);
}

/// The classification reply: the category and the confidence with two decimals.
QString decisionJson(const Decision& decision) {
    return compactJson(QJsonObject{{"category", rawValue(decision.category)},
                                   {"confidence", replyConfidence(decision.confidence)}});
}

QJsonObject fieldsObject(const RelicLabelExtracted& fields) {
    return QJsonObject{{"文物名称", fields.name},
                       {"文物来源", fields.source},
                       {"年代", fields.period},
                       {"其他", fields.other}};
}

const platform::Bitmap* bitmapOf(const ai::PreparedPhoto& prepared) {
    return prepared.bitmap ? &*prepared.bitmap : nullptr;
}

const core::Error kNotPrepared{RAWJPEGExporter::kImageReadFailed};

} // namespace

std::optional<PromptKind> promptKind(const QString& prompt) {
    if (prompt == core::prompts::kClassify) return PromptKind::classify;
    if (prompt == core::prompts::kLabel) return PromptKind::label;
    if (prompt == core::prompts::kOCR) return PromptKind::ocr;
    return std::nullopt;
}

core::Result<ai::PreparedPhoto> LocalVisionBackend::prepare(const std::filesystem::path& photo) const {
    // The same picture the remote service would see, minus the JPEG round trip.
    const auto loaded = RAWJPEGExporter::loadViewableImage(photo, RAWJPEGExporter::kUploadMaxPixelSize);
    if (!loaded) return kNotPrepared;
    return prepareFrom(RAWJPEGExporter::enhanceForAPI(*loaded));
}

core::Result<ai::PreparedPhoto> LocalVisionBackend::prepareFrom(const platform::Bitmap& enhanced) const {
    return ai::PreparedPhoto{std::nullopt, enhanced, std::make_shared<ai::TextFound>(enhanced)};
}

void LocalVisionBackend::workAhead(const ai::PreparedPhoto& prepared, Ask ask) const {
    const platform::Bitmap* image = bitmapOf(prepared);
    if (!image || !prepared.found) return;
    // Only what is kept counts: a failure here is met again, and reported, by the request.
    if (ask == Ask::classify)
        (void)readToClassify(*image, prepared.found.get());
    else
        (void)readWhole(*image, prepared.found.get());
}

core::Result<ClassificationResult> LocalVisionBackend::classify(const std::filesystem::path&,
                                                                const ai::PreparedPhoto& prepared) {
    const platform::Bitmap* image = bitmapOf(prepared);
    if (!image) return kNotPrepared;
    const auto page = readToClassify(*image, prepared.found.get());
    if (!page) return page.error();
    const Decision decision = classifyPage(*page);
    return ClassificationResult{decision.category, replyConfidence(decision.confidence),
                                decisionJson(decision)};
}

core::Result<RelicLabelExtracted> LocalVisionBackend::readLabel(const std::filesystem::path&,
                                                                const ai::PreparedPhoto& prepared) {
    const platform::Bitmap* image = bitmapOf(prepared);
    if (!image) return kNotPrepared;
    const auto page = readWhole(*image, prepared.found.get());
    if (!page) return page.error();
    return labelFor(*page);
}

core::Result<QString> LocalVisionBackend::readText(const std::filesystem::path&,
                                                   const ai::PreparedPhoto& prepared) {
    const platform::Bitmap* image = bitmapOf(prepared);
    if (!image) return kNotPrepared;
    const auto page = readWhole(*image, prepared.found.get());
    if (!page) return page.error();
    return ocrText(*page);
}

core::Result<QString> LocalVisionBackend::reply(PromptKind kind, const platform::Bitmap& image) {
    const auto page = kind == PromptKind::classify ? readToClassify(image) : readPage(image);
    if (!page) return page.error();
    return replyFor(kind, *page);
}

RelicLabelExtracted LocalVisionBackend::labelFor(const PageText& page) {
    // Through the same field rules as a remote reply, so both routes name folders alike.
    return RelicLabelExtracted::parseObject(fieldsObject(readLabelFields(page)));
}

QString LocalVisionBackend::replyFor(PromptKind kind, const PageText& page) {
    switch (kind) {
    case PromptKind::classify:
        return decisionJson(classifyPage(page));
    case PromptKind::label:
        return compactJson(fieldsObject(readLabelFields(page)));
    case PromptKind::ocr:
        return ocrText(page);
    }
    return {};
}

} // namespace engine
