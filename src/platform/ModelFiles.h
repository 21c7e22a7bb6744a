#pragma once

// Where the on-device model files live (made at bootstrap by scripts/models) and their check
// against the SHA256SUMS list there. Each model family checks only its own files, so one family
// stays usable when another is missing.

#include "core/Result.h"

#include <QString>
#include <QStringList>

namespace platform {

/// Where the model files are: $VITRINO_MODELS_DIR, else the first of these that holds a
/// SHA256SUMS: share/vitrino/models beside the program (an installed or unpacked tree), the
/// models folder beside it (the build tree's programs), the build tree's models folder (tests and
/// benchmarks, which lie deeper); else the first.
QString modelsDirectory();

/// Checks that every named file in `directory` is listed in its SHA256SUMS and matches it. The
/// error is `prefix` followed by the reason.
core::Result<bool> verifyModelFiles(const QString& directory, const QStringList& names,
                                    const QString& prefix);

} // namespace platform
