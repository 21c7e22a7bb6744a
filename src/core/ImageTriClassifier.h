#pragma once

#include "core/Prompts.h"

#include <QString>

#include <optional>

/// The role of a photograph in an exhibition shoot.
enum class MediaCategory { panel, artifact, label, unknown };

QString rawValue(MediaCategory category);
/// The category with this raw value; nothing for any other text.
std::optional<MediaCategory> mediaCategoryFromRaw(const QString& raw);

struct ClassificationResult {
    MediaCategory category = MediaCategory::unknown;
    std::optional<double> confidence;
    QString rawResponse;
};

namespace ImageTriClassifier {

/// The instruction sent with every photograph to sort it into panel, label or artifact.
inline const QString& kPrompt = core::prompts::kClassify;

/// Reads the model's reply; every input gives a result (unknown when nothing fits).
ClassificationResult parse(const QString& reply);

} // namespace ImageTriClassifier
