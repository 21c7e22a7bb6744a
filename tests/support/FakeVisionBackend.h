#pragma once

// A scripted vision backend for tests of the runs: answers by file name, counts every call, and
// can be slowed down or made to fail, without any network or model.

#include "ai/VisionBackend.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace fixtures {

class FakeVisionBackend : public ai::VisionBackend {
  public:
    /// What the backend answers for one file name (anything not scripted is an artifact with
    /// confidence 0.9, no label fields and no text).
    struct Script {
        std::optional<MediaCategory> category;
        std::optional<double> confidence;
        std::optional<RelicLabelExtracted> label;
        std::optional<QString> labelError; ///< label reads of this file fail so
    };

    void script(const QString& fileName, Script script);
    void classifyAs(const QString& fileName, MediaCategory category, double confidence = 0.9);
    void label(const QString& fileName, RelicLabelExtracted fields);

    /// Every request waits this long (for overlap and cancellation tests).
    void setLatency(std::chrono::milliseconds latency) { m_latency = latency; }
    /// Called at the start of every request, with the file name (e.g. to cancel a run midway).
    void onRequest(std::function<void(const QString&)> hook) { m_hook = std::move(hook); }

    core::Result<ai::PreparedPhoto> prepare(const std::filesystem::path& photo) const override;
    core::Result<ai::PreparedPhoto> prepareFrom(const platform::Bitmap& enhanced) const override;
    core::Result<ClassificationResult> classify(const std::filesystem::path& photo,
                                                const ai::PreparedPhoto& prepared) override;
    core::Result<RelicLabelExtracted> readLabel(const std::filesystem::path& photo,
                                                const ai::PreparedPhoto& prepared) override;
    core::Result<QString> readText(const std::filesystem::path& photo,
                                   const ai::PreparedPhoto& prepared) override;
    using VisionBackend::readLabel;
    using VisionBackend::readText;

    /// "classify NAME", "label NAME", "text NAME" in the order they arrived.
    QStringList calls() const;
    int prepared() const { return m_prepared.load(); }
    /// Of those, how many were made from a picture the pipeline had already decoded.
    int preparedFromPictures() const { return m_preparedFromPictures.load(); }

  private:
    Script scriptFor(const std::filesystem::path& photo) const;
    void request(const QString& kind, const std::filesystem::path& photo);

    mutable std::mutex m_mutex;
    std::map<QString, Script> m_scripts;
    QStringList m_calls;
    std::chrono::milliseconds m_latency{0};
    std::function<void(const QString&)> m_hook;
    mutable std::atomic<int> m_prepared{0};
    mutable std::atomic<int> m_preparedFromPictures{0};
};

} // namespace fixtures
