#pragma once

#include <QString>

namespace ImageOCRProcessor {

/// The instruction sent with an image whose text is to be read out into a text file.
extern const QString kPrompt;

} // namespace ImageOCRProcessor
