#include "ai/VisionBackend.h"

namespace ai {

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
