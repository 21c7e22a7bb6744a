#pragma once

// The vision backend of an OpenAI-compatible chat-completions service: one photograph and one of
// Vitrino's prompts per request, through the chat client.

#include "ai/AIConfig.h"
#include "ai/VisionBackend.h"

namespace ai {

class RemoteVisionBackend final : public VisionBackend {
  public:
    explicit RemoteVisionBackend(AISettings settings) : m_settings(std::move(settings)) {}

    core::Result<PreparedPhoto> prepare(const std::filesystem::path& photo) const override;
    core::Result<PreparedPhoto> prepareFrom(const platform::Bitmap& enhanced) const override;
    core::Result<ClassificationResult> classify(const std::filesystem::path& photo,
                                                const PreparedPhoto& prepared) override;
    core::Result<RelicLabelExtracted> readLabel(const std::filesystem::path& photo,
                                                const PreparedPhoto& prepared) override;
    core::Result<QString> readText(const std::filesystem::path& photo,
                                   const PreparedPhoto& prepared) override;
    /// Every request is a connection of its own: a run may have several in flight.
    bool takesConcurrentRequests() const override { return true; }
    using VisionBackend::readLabel;
    using VisionBackend::readText;

    const AISettings& settings() const { return m_settings; }

  private:
    core::Result<QString> chat(const std::filesystem::path& photo, const PreparedPhoto& prepared,
                               const QString& prompt, int maxTokens) const;
    AISettings m_settings;
};

} // namespace ai
