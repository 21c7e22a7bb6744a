#pragma once

#include "ai/Prompts.h"

namespace ImageOCRProcessor {

/// The instruction sent with an image whose text is to be read out into a text file.
inline const QString& kPrompt = ai::prompts::kOCR;

} // namespace ImageOCRProcessor
