#pragma once

// The three things Vitrino asks of a vision model: what a photograph shows, what a label card
// says, and all the text of an image. The remote service and the offline engine both answer
// them; the runs only see this interface.

#include "ai/RAWJPEGExporter.h"
#include "core/ImageTriClassifier.h"
#include "core/RelicLabelExtracted.h"
#include "core/Result.h"
#include "platform/Imaging.h"

#include <QString>

#include <filesystem>
#include <optional>

namespace ai {

/// A photograph made ready for one backend: the upload JPEG for a remote service, the toned
/// bitmap for the engine on this machine.
struct PreparedPhoto {
    std::optional<RAWJPEGExporter::PreparedImage> upload;
    std::optional<platform::Bitmap> bitmap;
};

/// The prefix of a label or text read whose photograph could not be prepared.
inline const QString kImagePrepareFailed = QStringLiteral("图片准备失败：");

class VisionBackend {
  public:
    virtual ~VisionBackend() = default;

    /// Decoding, toning and encoding only, no request: safe to call on another thread while a
    /// request is in flight. The error is the preparation's own text ("无法读取或解码图片").
    virtual core::Result<PreparedPhoto> prepare(const std::filesystem::path& photo) const = 0;
    /// The same from a picture already loaded at 2560 px and enhanced as for upload, so that a
    /// photo decoded for the text probe is not decoded again.
    virtual core::Result<PreparedPhoto> prepareFrom(const platform::Bitmap& enhanced) const = 0;

    /// Panel, label or artifact (unknown when the reply fits none).
    virtual core::Result<ClassificationResult> classify(const std::filesystem::path& photo,
                                                        const PreparedPhoto& prepared) = 0;
    /// The four label fields, with the field rules applied (not yet the persistence defaults).
    virtual core::Result<RelicLabelExtracted> readLabel(const std::filesystem::path& photo,
                                                        const PreparedPhoto& prepared) = 0;
    /// All text of the image, as the model gave it.
    virtual core::Result<QString> readText(const std::filesystem::path& photo,
                                           const PreparedPhoto& prepared) = 0;

    /// Whether classify, readLabel and readText may run on several threads at once (a remote
    /// service); otherwise a run sends one at a time whatever its setting.
    virtual bool takesConcurrentRequests() const { return false; }

    /// Prepares, then reads; a preparation failure reads "图片准备失败：{reason}".
    core::Result<RelicLabelExtracted> readLabel(const std::filesystem::path& photo);
    core::Result<QString> readText(const std::filesystem::path& photo);
};

/// Another backend lent to a run that wants to own one (the batch's engine to one item's run).
class BorrowedBackend final : public VisionBackend {
  public:
    explicit BorrowedBackend(VisionBackend& backend) : m_backend(backend) {}
    core::Result<PreparedPhoto> prepare(const std::filesystem::path& photo) const override {
        return m_backend.prepare(photo);
    }
    core::Result<PreparedPhoto> prepareFrom(const platform::Bitmap& enhanced) const override {
        return m_backend.prepareFrom(enhanced);
    }
    core::Result<ClassificationResult> classify(const std::filesystem::path& photo,
                                                const PreparedPhoto& prepared) override {
        return m_backend.classify(photo, prepared);
    }
    core::Result<RelicLabelExtracted> readLabel(const std::filesystem::path& photo,
                                                const PreparedPhoto& prepared) override {
        return m_backend.readLabel(photo, prepared);
    }
    core::Result<QString> readText(const std::filesystem::path& photo,
                                   const PreparedPhoto& prepared) override {
        return m_backend.readText(photo, prepared);
    }
    using VisionBackend::readLabel;
    using VisionBackend::readText;

  private:
    VisionBackend& m_backend;
};

} // namespace ai
