#pragma once

// The offline engine as a vision backend: the prepared bitmap is read on this machine, in this
// process. Nothing is uploaded, encoded or sent over a socket.

#include "ai/VisionBackend.h"
#include "engine/TextReading.h"

#include <optional>

namespace engine {

enum class PromptKind { classify, label, ocr };

/// Which of Vitrino's prompts this is (compared exactly).
std::optional<PromptKind> promptKind(const QString& prompt);

class LocalVisionBackend final : public ai::VisionBackend {
  public:
    core::Result<ai::PreparedPhoto> prepare(const std::filesystem::path& photo) const override;
    core::Result<ai::PreparedPhoto> prepareFrom(const platform::Bitmap& enhanced) const override;
    /// The detection and reads of the request, kept on the photo's TextFound.
    void workAhead(const ai::PreparedPhoto& prepared, Ask ask) const override;
    core::Result<ClassificationResult> classify(const std::filesystem::path& photo,
                                                const ai::PreparedPhoto& prepared) override;
    core::Result<RelicLabelExtracted> readLabel(const std::filesystem::path& photo,
                                                const ai::PreparedPhoto& prepared) override;
    core::Result<QString> readText(const std::filesystem::path& photo,
                                   const ai::PreparedPhoto& prepared) override;
    using VisionBackend::readLabel;
    using VisionBackend::readText;

    /// The reply a chat-completions service would give to this prompt: the category JSON, the
    /// label JSON or the plain text (what vitrino-local-ai and `chat --engine local` print).
    static core::Result<QString> reply(PromptKind kind, const platform::Bitmap& image);
    /// The same reply for a page already read (a classification reads at most
    /// kClassifyReadLimit lines of it).
    static QString replyFor(PromptKind kind, const PageText& page);
    /// The label fields a run in process takes from a read page: the engine's reading through the
    /// field rules a remote reply goes through.
    static RelicLabelExtracted labelFor(const PageText& page);
};

} // namespace engine
