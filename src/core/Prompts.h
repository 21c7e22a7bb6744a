#pragma once

// The three instructions Vitrino sends with a photograph, and their reply budgets. The texts are
// part of the wire protocol: the offline engine recognises them exactly.

#include <QString>

namespace core::prompts {

/// Sorts a photograph into panel, label or artifact.
extern const QString kClassify;
/// Reads a label card into its four fields.
extern const QString kLabel;
/// Reads out all text of an image.
extern const QString kOCR;

constexpr int kClassifyMaxTokens = 128;
constexpr int kLabelMaxTokens = 4096;
constexpr int kOCRMaxTokens = 4096;

} // namespace core::prompts
