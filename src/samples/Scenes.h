#pragma once

// A small renderer of exhibition photographs for sample shoots, tests and measurements: label
// cards with Chinese text on a wall, wall panels with many lines, and text-free objects (vessels,
// bowls, figures, a painting), with tilt, blur, noise and uneven light. Needs a QGuiApplication
// (fonts) and fonts-noto-cjk.

#include "platform/Imaging.h"

#include <QString>
#include <QStringList>

#include <random>

namespace scenes {

/// What a label card says.
struct LabelCard {
    QString name;      ///< 文物名称, e.g. "青铜饕餮纹鼎"
    QString source;    ///< 文物来源, e.g. "河南安阳殷墟出土"
    QString period;    ///< 年代, e.g. "商代晚期"
    QStringList other; ///< further lines: material, size, a short note
};

/// A plausible label for exhibit `index` of a show drawn from `seed`.
LabelCard randomLabel(unsigned seed);

enum class ObjectKind { vessel, bowl, figure, painting };

platform::Bitmap renderLabel(const LabelCard& card, unsigned seed, int width = 1600, int height = 1200);
platform::Bitmap renderPanel(unsigned seed, int width = 1600, int height = 1200);
platform::Bitmap renderObject(unsigned seed, int width = 1600, int height = 1200);
/// `view` > 0 photographs the same object again from another camera position.
platform::Bitmap renderObject(ObjectKind kind, unsigned seed, int width, int height, unsigned view = 0);

/// Encodes at quality 90 and writes the file, with an EXIF DateTimeOriginal when given.
void writePhoto(const std::filesystem::path& path, const platform::Bitmap& image,
                const QString& dateTimeOriginal = {});

} // namespace scenes
