#pragma once

// A small DNG writer for sample shoots and tests: a Bayer mosaic made from an RGB picture, with
// capture dates and, optionally, an embedded JPEG preview. LibRaw develops what it writes.

#include "platform/Imaging.h"

#include <QString>

#include <filesystem>

namespace samples {

bool writeDng(const std::filesystem::path& path, const platform::Bitmap& rgb,
              const QString& dateTimeOriginal = {}, const QString& dateTime = {}, bool withPreview = true);

} // namespace samples
