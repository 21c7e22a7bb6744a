#pragma once

// The feature print of a photograph: the image embedding of its 768 px thumbnail (orientation
// applied), L2-normalised; two prints are compared by their L2 distance (smaller = more similar).
// The embedding is the network's final layer averaged over the whole picture and over the part of
// it where that layer responds most (the object, as a rule, seen again at the network's own
// scale): chosen by measurement, see FEATURE_PRINT.md beside this file.

#include "core/Result.h"
#include "platform/ImageEmbedding.h"
#include "platform/Imaging.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace refine {

/// One photograph's feature print: a unit-length vector.
class FeaturePrintObservation {
  public:
    /// Normalises `values`; nothing when they are empty, not finite or all zero.
    static std::optional<FeaturePrintObservation> fromFeature(std::vector<float> values);

    const std::vector<float>& values() const { return m_values; }

    /// The L2 distance to `other`, in [0, 2]; nothing when the two prints differ in length.
    std::optional<float> computeDistance(const FeaturePrintObservation& other) const;

  private:
    explicit FeaturePrintObservation(std::vector<float> values) : m_values(std::move(values)) {}
    std::vector<float> m_values;
};

/// How the thumbnail becomes the network's square input.
enum class FeatureInputFit {
    squash,     ///< the whole picture, aspect ratio not kept
    centreCrop, ///< the central square
    pad,        ///< the whole picture, letterboxed on black
};

/// What a print is made of. The application's is ImageFeaturePrint::recipe(); the others are
/// measured against it by bench_featureprint.
struct FeaturePrintRecipe {
    struct Layer {
        std::string name; ///< a layer of the network, pooled over its positions
        float weight = 1; ///< its share of the print (each layer is normalised first)
    };
    std::vector<Layer> layers;
    platform::Pooling pooling = platform::Pooling::average;
    /// The parts of the picture whose pooled values are averaged: 1 the whole picture; 2 also its
    /// mirror image; 3 also its left and right three quarters; 5 also its four corner 2/3 crops.
    int crops = 1;
    /// The part of the picture where the first layer responds most (the object, as a rule), seen
    /// again on its own: 0 not, 1 beside the whole picture, 2 instead of it.
    int focus = 0;
    float colourWeight = 0;  ///< share of a 4 × 4 colour layout (0: none)
    bool rootValues = false; ///< the square root of each pooled value, so a few strong ones weigh less
};

inline const QString kFeaturePrintUnreadable = QStringLiteral("无法读取图像：");

struct ImageFeaturePrint {
    static constexpr int kThumbnailSide = 768;
    /// Chosen by measurement on rendered views (see ImageFeaturePrint.cpp).
    static constexpr FeatureInputFit kFit = FeatureInputFit::squash;

    /// The print of an image file, or the reason it has none: "无法读取图像：…" or the model's own error.
    static core::Result<FeaturePrintObservation> compute(const std::filesystem::path& file);

    /// compute()'s unit vector alone, the form the refinement pass takes its prints in.
    static core::Result<std::vector<float>> featureVector(const std::filesystem::path& file);

    /// The steps of compute(), apart for measurements: the 768 px upright thumbnail, its square
    /// network input, and the print of a thumbnail.
    static std::optional<platform::Bitmap> thumbnail(const std::filesystem::path& file);
    static platform::Bitmap networkInput(const platform::Bitmap& thumbnail, FeatureInputFit fit = kFit);
    static core::Result<FeaturePrintObservation>
    ofThumbnail(const platform::Bitmap& thumbnail, FeatureInputFit fit = kFit,
                platform::ImageEmbedding& network = platform::ImageEmbedding::shared());

    /// Where focus looks: the box around the positions of a layer's total `response` that reach
    /// half its maximum, half a position wider on every side and at least 3/7 of each side, in
    /// the pixels of a picture of `size`.
    static cv::Rect focusBox(const cv::Mat& response, cv::Size size);

    /// The recipe compute() uses (chosen by measurement, see FEATURE_PRINT.md).
    static const FeaturePrintRecipe& recipe();
    static core::Result<FeaturePrintObservation>
    ofThumbnail(const platform::Bitmap& thumbnail, const FeaturePrintRecipe& recipe,
                FeatureInputFit fit = kFit,
                platform::ImageEmbedding& network = platform::ImageEmbedding::shared());
};

/// The distance between two prints (as FeaturePrintObservation::computeDistance).
std::optional<float> distance(const FeaturePrintObservation& a, const FeaturePrintObservation& b);

} // namespace refine
