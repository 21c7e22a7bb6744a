#pragma once

// A small renderer of exhibition photographs for sample shoots, tests and measurements: label
// cards with Chinese text on a wall, wall panels with many lines, and text-free objects (vessels,
// bowls, figures, a painting), with tilt, blur, noise and uneven light. Needs a QGuiApplication
// (fonts) and the Chinese font packages of scripts/bootstrap.

#include "platform/Imaging.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <random>
#include <vector>

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

/// The ways museums lay out their label cards.
enum class LabelLayout {
    classic, ///< name, then "period  source", then size lines
    prefixed, ///< "名称：…", "年代：…", "来源：…", "质地：…" with full-width, ASCII or no colon
    plain,          ///< no prefixes: name, period alone, find-spot, holder, material and size lines
    periodMaterial, ///< "西汉 · 木" on one line, or the period in brackets after the name
    bilingual,      ///< English lines interleaved or at the end, the English name in italics
    description,    ///< the fields, then a paragraph of prose
    twoColumn,      ///< field names in a left column, values in a right one
};
inline constexpr LabelLayout kLabelLayouts[] = {
    LabelLayout::classic,   LabelLayout::prefixed,    LabelLayout::plain,    LabelLayout::periodMaterial,
    LabelLayout::bilingual, LabelLayout::description, LabelLayout::twoColumn};
const char* layoutName(LabelLayout layout);

/// One printed line of a card.
struct PrintedLine {
    enum class Style { name, body, english, englishName, prose };
    QString text;
    Style style = Style::body;
    QString field; ///< two-column cards: the field name in the left column
    /// The line runs to the card's right edge and goes on in the next one (a wrapped source):
    /// it is set at the size that makes it fill the card's width.
    bool wraps = false;
};

/// A card as printed, with the fields a careful reader reports from it: one source (a find-spot
/// before a holder before an acquisition), no English, `other` = every remaining printed line in
/// reading order, verbatim (two-column rows as "field value").
struct PrintedLabel {
    LabelLayout layout = LabelLayout::classic;
    LabelCard fields;
    std::vector<PrintedLine> lines;
};

PrintedLabel randomPrintedLabel(LabelLayout layout, unsigned seed);

/// Chinese type families label cards are set in (from Debian's font packages, see
/// scripts/bootstrap): sans and serif (Song) faces, a Ming, a Kai, a Hei and a FangSong. Engine
/// measurements tune on the first list and report on the second, whose faces they never saw.
const QStringList& tuningFamilies();
const QStringList& heldOutFamilies();

/// Where the card sits in the photograph: its width as a share of the frame's, and its turn.
struct CardPose {
    double share = 0.7;
    double degrees = 0;
};

/// The card on a wall, with camera effects; the card may be small in the frame or turned ±10°
/// (drawn from the seed unless a pose is given). Its paper, ink, border and line spacing are
/// drawn from the seed, and so is its type family, from `families` (tuningFamilies() when empty).
platform::Bitmap renderPrintedLabel(const PrintedLabel& label, unsigned seed, int width = 1600,
                                    int height = 1200, std::optional<CardPose> pose = std::nullopt,
                                    const QStringList& families = {});

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
