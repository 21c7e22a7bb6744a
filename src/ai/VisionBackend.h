#pragma once

// The three things Vitrino asks of a vision model: what a photograph shows, what a label card
// says, and all the text of an image. The remote service and the offline engine both answer
// them; the runs only see this interface.

#include "ai/RAWJPEGExporter.h"
#include "core/ImageTriClassifier.h"
#include "core/RelicLabelExtracted.h"
#include "core/Result.h"
#include "platform/Imaging.h"
#include "platform/TextRecognition.h"

#include <QString>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace ai {

/// The text found so far on one toned bitmap, kept with the photo so that the same pixels are
/// neither detected nor read twice: the text probe's detection at the reading scale serves the
/// engine's reading, and a classification's lines serve the label card's later read. Answers only
/// for the bitmap it was made for (the same pixels, shared, not a copy); safe from several threads.
class TextFound {
  public:
    using Regions = std::vector<platform::TextBox>;
    /// What a detection was asked: the detector side, the smallest line height (of the bitmap's
    /// height) and whether small text was detected again enlarged.
    using Question = std::tuple<int, double, bool>;

    explicit TextFound(const platform::Bitmap& image);
    /// Whether `image` is the bitmap this was made for (its pixels, shared).
    bool isFor(const platform::Bitmap& image) const;
    /// Takes a digest of the pixels (`image` being the bitmap this was made for), so that the
    /// findings can be handed to the same photo prepared again later.
    void keepDigest(const platform::Bitmap& image);
    /// The same findings for `image`, a bitmap made again from the same photo, when its pixels
    /// are those of the digest kept; nothing otherwise (no digest, or the file changed meanwhile).
    std::shared_ptr<TextFound> forCopy(const platform::Bitmap& image) const;

    std::optional<Regions> regions(const Question& question) const;
    void keepRegions(const Question& question, const Regions& regions);
    std::optional<platform::RecognizedText> read(const platform::TextBox& box) const;
    void keepRead(const platform::TextBox& box, const platform::RecognizedText& text);

  private:
    const uchar* m_data;
    cv::Size m_size;
    int m_type;
    std::optional<size_t> m_digest;
    mutable std::mutex m_mutex;
    std::map<Question, Regions> m_regions;
    std::vector<std::pair<platform::TextBox, platform::RecognizedText>> m_reads;
};

/// A photograph made ready for one backend: the upload JPEG for a remote service, the toned
/// bitmap for the engine on this machine (with what was found on it so far).
struct PreparedPhoto {
    std::optional<RAWJPEGExporter::PreparedImage> upload;
    std::optional<platform::Bitmap> bitmap;
    std::shared_ptr<TextFound> found{};
};

/// Gives `prepared` what was found on an earlier preparation of the same photo, when its bitmap
/// has the same pixels.
void adoptFound(PreparedPhoto& prepared, const std::shared_ptr<TextFound>& earlier);

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

    /// What a request will want of a photo.
    enum class Ask { classify, readLabel };
    /// Does ahead, on the calling thread, the work of that request that is done on this machine,
    /// keeping it with `prepared` so that the request only takes it up: safe on another thread
    /// while a request is in flight, like prepare. A remote service has none.
    virtual void workAhead(const PreparedPhoto&, Ask) const {}

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
    void workAhead(const PreparedPhoto& prepared, Ask ask) const override {
        m_backend.workAhead(prepared, ask);
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
