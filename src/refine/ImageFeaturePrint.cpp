#include "refine/ImageFeaturePrint.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace refine {
namespace {

const QString kNoFeature = QStringLiteral("图像特征无效：");

QString displayName(const std::filesystem::path& file) {
    return QString::fromStdString(file.filename().string());
}

} // namespace

std::optional<FeaturePrintObservation> FeaturePrintObservation::fromFeature(std::vector<float> values) {
    double sum = 0;
    for (float v : values) {
        if (!std::isfinite(v)) return std::nullopt;
        sum += double(v) * v;
    }
    if (values.empty() || sum <= 0) return std::nullopt;
    const double scale = 1.0 / std::sqrt(sum);
    for (float& v : values)
        v = float(v * scale);
    return FeaturePrintObservation(std::move(values));
}

std::optional<float> FeaturePrintObservation::computeDistance(const FeaturePrintObservation& other) const {
    if (m_values.size() != other.m_values.size()) return std::nullopt;
    double sum = 0;
    for (size_t i = 0; i < m_values.size(); ++i) {
        const double d = double(m_values[i]) - other.m_values[i];
        sum += d * d;
    }
    return float(std::sqrt(sum));
}

std::optional<float> distance(const FeaturePrintObservation& a, const FeaturePrintObservation& b) {
    return a.computeDistance(b);
}

std::optional<platform::Bitmap> ImageFeaturePrint::thumbnail(const std::filesystem::path& file) {
    const auto source = platform::openImageSource(file);
    if (!source) return std::nullopt;
    auto image = platform::thumbnail(*source, kThumbnailSide);
    if (!image || image->empty()) return std::nullopt;
    return image;
}

// The fit was measured with `bench_featureprint --fit` on rendered objects photographed from 4
// camera positions (half landscape, half portrait), 768 px thumbnails:
//
//   seeds     objects  fit          top-1  pair < all  mean same  mean other
//   1–24         24    squash       1.000     0.955      0.267      0.423
//                      centre crop  0.990     0.920      0.280      0.432
//                      pad          0.990     0.944      0.275      0.420
//   201–240      40    squash       0.981     0.871      0.278      0.391
//                      centre crop  0.963     0.854      0.283      0.394
//                      pad          0.975     0.881      0.261      0.383
//
// top-1: the nearest other photograph shows the same object; pair < all: another view of the
// same object is nearer than every view of every other object. Centre crop, which cuts off the
// picture's edges, is worst on both sets; squash and pad are even, and squash wins the
// nearest-neighbour test that the refinement pass relies on, spends no input on black bars, and
// is how the model's own package feeds it.
platform::Bitmap ImageFeaturePrint::networkInput(const platform::Bitmap& thumbnail, FeatureInputFit fit) {
    const int side = platform::kImageFeatureSide;
    switch (fit) {
    case FeatureInputFit::squash:
        return platform::resizedTo(thumbnail, cv::Size(side, side));
    case FeatureInputFit::centreCrop: {
        const int s = std::min(thumbnail.cols, thumbnail.rows);
        const cv::Rect square((thumbnail.cols - s) / 2, (thumbnail.rows - s) / 2, s, s);
        return platform::resizedTo(thumbnail(square).clone(), cv::Size(side, side));
    }
    case FeatureInputFit::pad: {
        const double scale = double(side) / std::max(thumbnail.cols, thumbnail.rows);
        const cv::Size size(std::clamp(int(std::lround(thumbnail.cols * scale)), 1, side),
                            std::clamp(int(std::lround(thumbnail.rows * scale)), 1, side));
        const platform::Bitmap fitted = platform::resizedTo(thumbnail, size);
        platform::Bitmap square(side, side, CV_8UC3, cv::Scalar::all(0));
        fitted.copyTo(
            square(cv::Rect((side - fitted.cols) / 2, (side - fitted.rows) / 2, fitted.cols, fitted.rows)));
        return square;
    }
    }
    return {};
}

const FeaturePrintRecipe& ImageFeaturePrint::recipe() {
    // The final layer on the part of the picture it responds to most: see FEATURE_PRINT.md.
    static const FeaturePrintRecipe chosen{
        {{"MobilenetV2/Conv_1/Relu6", 1}}, platform::Pooling::average, 1, 1};
    return chosen;
}

namespace {

/// The parts of a thumbnail the network sees: the whole, then the recipe's crops.
std::vector<platform::Bitmap> cropsOf(const platform::Bitmap& thumbnail, int crops) {
    std::vector<platform::Bitmap> parts{thumbnail};
    const int w = thumbnail.cols, h = thumbnail.rows;
    if (crops == 2) {
        platform::Bitmap mirrored;
        cv::flip(thumbnail, mirrored, 1);
        parts.push_back(mirrored);
    } else if (crops == 3) {
        const int cw = std::max(1, w * 3 / 4);
        parts.push_back(thumbnail(cv::Rect(0, 0, cw, h)));
        parts.push_back(thumbnail(cv::Rect(w - cw, 0, cw, h)));
    } else if (crops == 5) {
        const int cw = std::max(1, w * 2 / 3), ch = std::max(1, h * 2 / 3);
        for (const cv::Point at :
             {cv::Point(0, 0), cv::Point(w - cw, 0), cv::Point(0, h - ch), cv::Point(w - cw, h - ch)})
            parts.push_back(thumbnail(cv::Rect(at.x, at.y, cw, ch)));
    }
    return parts;
}

} // namespace

cv::Rect ImageFeaturePrint::focusBox(const cv::Mat& response, cv::Size size) {
    double most = 0;
    cv::minMaxLoc(response, nullptr, &most);
    int x0 = response.cols, y0 = response.rows, x1 = -1, y1 = -1;
    for (int y = 0; y < response.rows; ++y)
        for (int x = 0; x < response.cols; ++x)
            if (most > 0 && response.at<float>(y, x) >= 0.5 * most) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    if (x1 < 0) return cv::Rect(cv::Point(0, 0), size);
    auto span = [](int lo, int hi, int cells, int pixels) {
        double a = (lo - 0.5) / cells, b = (hi + 1.5) / cells;
        const double least = 3.0 / 7.0;
        if (b - a < least) {
            const double grow = (least - (b - a)) / 2;
            a -= grow, b += grow;
        }
        if (a < 0) b -= a, a = 0;
        if (b > 1) a -= b - 1, b = 1;
        const int from = std::clamp(int(std::lround(std::max(0.0, a) * pixels)), 0, pixels - 1);
        const int to = std::clamp(int(std::lround(b * pixels)), from + 1, pixels);
        return std::pair(from, to);
    };
    const auto [left, right] = span(x0, x1, response.cols, size.width);
    const auto [top, bottom] = span(y0, y1, response.rows, size.height);
    return cv::Rect(left, top, right - left, bottom - top);
}

namespace {

/// 4 × 4 mean colours, each channel less its mean over the picture.
std::vector<float> colourLayout(const platform::Bitmap& thumbnail) {
    cv::Mat small;
    cv::resize(thumbnail, small, cv::Size(4, 4), 0, 0, cv::INTER_AREA);
    small.convertTo(small, CV_32F, 1.0 / 255);
    const cv::Scalar mean = cv::mean(small);
    std::vector<float> out;
    for (int y = 0; y < small.rows; ++y)
        for (int x = 0; x < small.cols; ++x)
            for (int c = 0; c < 3; ++c)
                out.push_back(float(small.at<cv::Vec3f>(y, x)[c] - mean[c]));
    return out;
}

/// Appends `part` scaled to length `weight` (nothing when it is all zero).
void appendNormalised(std::vector<float>& print, const std::vector<float>& part, float weight) {
    double sum = 0;
    for (float v : part)
        sum += double(v) * v;
    const double scale = sum > 0 ? weight / std::sqrt(sum) : 0.0;
    for (float v : part)
        print.push_back(float(v * scale));
}

} // namespace

core::Result<FeaturePrintObservation> ImageFeaturePrint::ofThumbnail(const platform::Bitmap& thumbnail,
                                                                     FeatureInputFit fit,
                                                                     platform::ImageEmbedding& network) {
    return ofThumbnail(thumbnail, recipe(), fit, network);
}

core::Result<FeaturePrintObservation> ImageFeaturePrint::ofThumbnail(const platform::Bitmap& thumbnail,
                                                                     const FeaturePrintRecipe& recipe,
                                                                     FeatureInputFit fit,
                                                                     platform::ImageEmbedding& network) {
    if (thumbnail.empty()) return core::Error{kNoFeature + QStringLiteral("空图像")};
    std::vector<std::string> names;
    for (const auto& layer : recipe.layers)
        names.push_back(layer.name);
    // Each layer's pooled values, averaged over the crops.
    std::vector<std::vector<float>> sums(names.size());
    int seen = 0;
    auto add = [&](const std::vector<std::vector<float>>& layers) {
        for (size_t l = 0; l < names.size(); ++l) {
            auto& sum = sums[l];
            const auto& values = layers[l];
            if (sum.empty()) sum.assign(values.size(), 0.0f);
            for (size_t i = 0; i < values.size() && i < sum.size(); ++i)
                sum[i] += values[i];
        }
        ++seen;
    };
    const auto parts = cropsOf(thumbnail, recipe.crops);
    for (size_t k = 0; k < parts.size(); ++k) {
        cv::Mat response;
        auto layers = network.pooledLayers(networkInput(parts[k], fit), names, recipe.pooling,
                                           k == 0 && recipe.focus > 0 ? &response : nullptr);
        if (!layers) return layers.error();
        if (layers->size() != names.size()) return core::Error{kNoFeature + QStringLiteral("层数不符")};
        if (k > 0 || recipe.focus < 2) add(*layers);
        if (!response.empty()) {
            const cv::Rect box = focusBox(response, thumbnail.size());
            auto focused = network.pooledLayers(networkInput(thumbnail(box), fit), names, recipe.pooling);
            if (!focused) return focused.error();
            if (focused->size() != names.size()) return core::Error{kNoFeature + QStringLiteral("层数不符")};
            add(*focused);
        }
    }
    for (auto& sum : sums)
        for (float& v : sum)
            v /= float(std::max(seen, 1));
    std::vector<float> values;
    for (size_t l = 0; l < names.size(); ++l) {
        if (recipe.rootValues)
            for (float& v : sums[l])
                v = std::sqrt(std::max(0.0f, v));
        appendNormalised(values, sums[l], recipe.layers[l].weight);
    }
    if (recipe.colourWeight > 0) appendNormalised(values, colourLayout(thumbnail), recipe.colourWeight);
    auto print = FeaturePrintObservation::fromFeature(std::move(values));
    if (!print) return core::Error{kNoFeature + QStringLiteral("全为零或非有限值")};
    return *print;
}

core::Result<FeaturePrintObservation> ImageFeaturePrint::compute(const std::filesystem::path& file) {
    const auto image = thumbnail(file);
    if (!image) return core::Error{kFeaturePrintUnreadable + displayName(file)};
    return ofThumbnail(*image);
}

core::Result<std::vector<float>> ImageFeaturePrint::featureVector(const std::filesystem::path& file) {
    auto print = compute(file);
    if (!print) return print.error();
    return print->values();
}

} // namespace refine
