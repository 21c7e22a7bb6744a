#include "ai/VisionBackend.h"

#include <algorithm>
#include <string_view>

namespace ai {

namespace {

/// A digest of the pixels, to tell a bitmap made again from the same photo from another one.
size_t fingerprintOf(const platform::Bitmap& image) {
    size_t digest = 0;
    const size_t rowBytes = size_t(image.cols) * image.elemSize();
    for (int y = 0; y < image.rows; ++y) {
        const std::string_view row(reinterpret_cast<const char*>(image.ptr(y)), rowBytes);
        digest = digest * 1099511628211u ^ std::hash<std::string_view>{}(row);
    }
    return digest;
}

bool sameBox(const platform::TextBox& a, const platform::TextBox& b) {
    return a.corners == b.corners && a.width == b.width && a.height == b.height;
}

} // namespace

TextFound::TextFound(const platform::Bitmap& image)
    : m_data(image.data), m_size(image.size()), m_type(image.type()) {}

void TextFound::keepDigest(const platform::Bitmap& image) {
    if (isFor(image) && !m_digest) m_digest = fingerprintOf(image);
}

bool TextFound::isFor(const platform::Bitmap& image) const {
    return !image.empty() && image.data == m_data && image.size() == m_size && image.type() == m_type;
}

std::shared_ptr<TextFound> TextFound::forCopy(const platform::Bitmap& image) const {
    if (image.empty() || image.size() != m_size || image.type() != m_type) return nullptr;
    if (!m_digest || fingerprintOf(image) != *m_digest) return nullptr;
    auto copy = std::make_shared<TextFound>(image);
    copy->m_digest = m_digest;
    const std::lock_guard hold(m_mutex);
    copy->m_regions = m_regions;
    copy->m_reads = m_reads;
    return copy;
}

std::optional<TextFound::Regions> TextFound::regions(const Question& question) const {
    const std::lock_guard hold(m_mutex);
    const auto it = m_regions.find(question);
    if (it == m_regions.end()) return std::nullopt;
    return it->second;
}

void TextFound::keepRegions(const Question& question, const Regions& regions) {
    const std::lock_guard hold(m_mutex);
    m_regions.insert_or_assign(question, regions);
}

std::optional<platform::RecognizedText> TextFound::read(const platform::TextBox& box) const {
    const std::lock_guard hold(m_mutex);
    const auto it =
        std::find_if(m_reads.begin(), m_reads.end(), [&](const auto& r) { return sameBox(r.first, box); });
    if (it == m_reads.end()) return std::nullopt;
    return it->second;
}

void TextFound::keepRead(const platform::TextBox& box, const platform::RecognizedText& text) {
    const std::lock_guard hold(m_mutex);
    const auto it =
        std::find_if(m_reads.begin(), m_reads.end(), [&](const auto& r) { return sameBox(r.first, box); });
    if (it == m_reads.end()) m_reads.emplace_back(box, text);
}

void adoptFound(PreparedPhoto& prepared, const std::shared_ptr<TextFound>& earlier) {
    if (!earlier || !prepared.bitmap) return;
    if (earlier->isFor(*prepared.bitmap)) {
        prepared.found = earlier;
        return;
    }
    if (auto copy = earlier->forCopy(*prepared.bitmap)) prepared.found = std::move(copy);
}

core::Result<RelicLabelExtracted> VisionBackend::readLabel(const std::filesystem::path& photo) {
    const auto prepared = prepare(photo);
    if (!prepared) return core::Error{kImagePrepareFailed + prepared.error().description()};
    return readLabel(photo, *prepared);
}

core::Result<QString> VisionBackend::readText(const std::filesystem::path& photo) {
    const auto prepared = prepare(photo);
    if (!prepared) return core::Error{kImagePrepareFailed + prepared.error().description()};
    return readText(photo, *prepared);
}

} // namespace ai
