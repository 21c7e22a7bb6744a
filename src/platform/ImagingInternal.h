#pragma once

// Helpers shared by the imaging adapters; not for use outside src/platform.

#include "platform/Imaging.h"

#include <cstdint>
#include <vector>

namespace platform::detail {

using Bytes = std::vector<unsigned char>;

/// Reads a whole regular file (at most maxBytes); nothing on any failure.
std::optional<Bytes> readFileBytes(const std::filesystem::path& path, std::uintmax_t maxBytes);

/// Rotates/flips by an EXIF orientation value (1–8); other values leave the image unchanged.
Bitmap applyOrientation(const Bitmap& image, int orientation);

/// Decodes JPEG bytes to RGB; with maxSide > 0, DCT-scaled to the smallest scale still at
/// least maxSide, then fitted to maxSide. Orientation is not applied here.
std::optional<Bitmap> decodeJpeg(const Bytes& bytes, int maxSide);

/// The embedded preview of a RAW file, fitted to maxSide and turned upright.
std::optional<Bitmap> rawPreview(const std::filesystem::path& path, int maxSide);

/// EXIF orientation of a file Exiv2 reads (1 when absent).
int exifOrientation(const std::filesystem::path& path);

/// Largest image we agree to decode at full size, in pixels. The fuzz build sets a lower bound
/// so that each run stays small.
#ifdef VITRINO_MAX_DECODE_PIXELS
constexpr std::int64_t kMaxDecodePixels = VITRINO_MAX_DECODE_PIXELS;
#else
constexpr std::int64_t kMaxDecodePixels = 512LL * 1000 * 1000;
#endif
/// Largest file we read into memory.
constexpr std::uintmax_t kMaxFileBytes = 2ULL * 1024 * 1024 * 1024;

} // namespace platform::detail
