#include "ai/RemoteVisionBackend.h"

#include "ai/AIClient.h"
#include "core/Prompts.h"

namespace ai {

core::Result<PreparedPhoto> RemoteVisionBackend::prepare(const std::filesystem::path& photo) const {
    auto prepared = RAWJPEGExporter::prepareForUpload(photo);
    if (!prepared) return core::Error{prepared.error().description()};
    return PreparedPhoto{std::move(prepared.value()), std::nullopt};
}

core::Result<QString> RemoteVisionBackend::chat(const std::filesystem::path& photo,
                                                const PreparedPhoto& prepared, const QString& prompt,
                                                int maxTokens) const {
    auto reply = AIClient::chatWithImage(photo, prompt, m_settings, maxTokens, prepared.upload);
    if (!reply) {
        const AIClient::ClientError& failed = reply.error();
        if (failed.isBusy()) return core::Error{failed.description(), failed.retryAfterMs.value_or(-1)};
        return core::Error{failed.description()};
    }
    return std::move(reply.value());
}

core::Result<PreparedPhoto> RemoteVisionBackend::prepareFrom(const platform::Bitmap& enhanced) const {
    auto compressed = RAWJPEGExporter::compressImageForAPI(enhanced);
    if (!compressed) return core::Error{compressed.error().description()};
    return PreparedPhoto{std::move(compressed.value()), std::nullopt};
}

core::Result<ClassificationResult> RemoteVisionBackend::classify(const std::filesystem::path& photo,
                                                                 const PreparedPhoto& prepared) {
    const auto reply = chat(photo, prepared, core::prompts::kClassify, core::prompts::kClassifyMaxTokens);
    if (!reply) return reply.error();
    return ImageTriClassifier::parse(*reply);
}

core::Result<RelicLabelExtracted> RemoteVisionBackend::readLabel(const std::filesystem::path& photo,
                                                                 const PreparedPhoto& prepared) {
    const auto reply = chat(photo, prepared, core::prompts::kLabel, core::prompts::kLabelMaxTokens);
    if (!reply) return reply.error();
    const auto candidate = RelicLabelExtracted::parseJSONObjectWithCandidate(*reply);
    if (!candidate.object) return core::Error{AIClient::kResponseParseFailed};
    return RelicLabelExtracted::parseObject(*candidate.object);
}

core::Result<QString> RemoteVisionBackend::readText(const std::filesystem::path& photo,
                                                    const PreparedPhoto& prepared) {
    return chat(photo, prepared, core::prompts::kOCR, core::prompts::kOCRMaxTokens);
}

} // namespace ai
