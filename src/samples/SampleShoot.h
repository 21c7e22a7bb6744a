#pragma once

// A sample exhibition shoot made on this machine: objects shot from a few viewpoints and then
// their label cards, wall panels along the way, EXIF dates in shooting order, a few RAW
// companions and a video. It lets the main job run on a fresh machine without photographs.

#include "samples/Scenes.h"

#include <filesystem>
#include <string>
#include <vector>

namespace samples {

struct SampleShot {
    enum class Kind { object, label, panel, raw, video };
    std::string fileName;
    Kind kind = Kind::object;
    int exhibit = -1; ///< 0-based exhibit the shot belongs to (-1: a panel)
};

struct SampleShoot {
    std::vector<SampleShot> shots;            ///< in shooting order
    std::vector<scenes::LabelCard> labels;    ///< one per exhibit
    std::vector<scenes::LabelLayout> layouts; ///< each exhibit's card layout
    std::vector<QString> families;            ///< each exhibit's type family (printed layouts)
};

/// Renders the shoot into `dir` (created when missing). Photos are 2400×1600 JPEGs.
SampleShoot makeSampleShoot(const std::filesystem::path& dir, int exhibits, unsigned seed);
/// The same, with exhibit e's card printed in layouts[e % size] (the classic card when empty).
SampleShoot makeSampleShoot(const std::filesystem::path& dir, int exhibits, unsigned seed,
                            const std::vector<scenes::LabelLayout>& layouts);
/// The same, with the printed cards set in one of `families` each (the renderer's tuning
/// families when empty).
SampleShoot makeSampleShoot(const std::filesystem::path& dir, int exhibits, unsigned seed,
                            const std::vector<scenes::LabelLayout>& layouts, const QStringList& families);

} // namespace samples
