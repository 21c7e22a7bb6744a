#pragma once

// Photographs of real objects for the feature-print benchmarks, made from photographed cut-outs
// (PNG with an alpha channel) that Debian's tuxpaint-stamps-default ships under
// /usr/share/tuxpaint/stamps/<category>/. Every object of one shoot stands in the same hall (wall
// and floor colours, light), so neighbouring exhibits differ only by the object; each view moves
// the camera: perspective, scale, framing, a close-up now and then, exposure, white balance, blur,
// noise, and sometimes a reflection on the case glass or a visitor's shoulder in the frame.

#include "platform/Imaging.h"

#include <string>
#include <vector>

namespace bench {

inline const std::string kCutOutRoot = "/usr/share/tuxpaint/stamps";

struct CutOut {
    std::string name; ///< category/file
    cv::Mat rgba;     ///< 8-bit, RGB order, straight alpha
};

/// The cut-outs of the given categories (folders below kCutOutRoot, searched recursively), in
/// name order, leaving out mirrored copies and pictures whose longer side is under `minSide` or
/// that have no real transparency. Empty when the package is not installed.
std::vector<CutOut> loadCutOuts(const std::vector<std::string>& categories, int minSide = 150);

/// The colours and light that every exhibit of one shoot shares.
struct Hall {
    cv::Vec3f wall, floor; ///< RGB, 0–255
    float light = 1;
};
Hall hallFor(unsigned seed);

/// One photograph (RGB) of `object` in `hall`: `view` 0, 1, … are different camera positions;
/// `seed` varies all of them together.
platform::Bitmap photographCutOut(const CutOut& object, const Hall& hall, unsigned seed, unsigned view,
                                  int width, int height);

} // namespace bench
