#pragma once

// The image embedding behind feature prints: MobileNetV2 1.4 (224 × 224 input), cut at its
// 1,792-value feature layer, run by OpenCV DNN. scripts/models converts it from nsfwjs's
// TensorFlow.js model to image_feature.onnx.

#include "core/Result.h"
#include "platform/Imaging.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace platform {

inline const QString kImageFeatureModelMissing = QStringLiteral("图像特征模型不可用：");
inline const QString kImageFeatureBadInput = QStringLiteral("图像特征输入无效：需要 224×224 RGB 图像");
inline const QString kImageFeatureModelFile = QStringLiteral("image_feature.onnx");
constexpr int kImageFeatureSide = 224;
constexpr int kImageFeatureLength = 1792;

/// How a layer's output becomes one value per channel.
enum class Pooling {
    average,   ///< the mean over all positions
    cubicMean, ///< the generalised mean with power 3: leans towards the strongest responses
    weighted,  ///< positions weighted by their total response, channels by their rarity
    centre,    ///< positions weighted by a Gaussian around the picture's centre
};

/// One loaded network. Loading happens once, on first use; a missing or damaged model file gives
/// the same error on every call and touches nothing else. Calls are serialised by a mutex (the
/// network uses OpenCV's own threads inside one forward pass).
class ImageEmbedding {
  public:
    explicit ImageEmbedding(QString directory);
    ~ImageEmbedding();
    ImageEmbedding(const ImageEmbedding&) = delete;
    ImageEmbedding& operator=(const ImageEmbedding&) = delete;

    /// The process's one network, from modelsDirectory().
    static ImageEmbedding& shared();

    /// The raw feature (not normalised, 1,792 values ≥ 0) of a 224 × 224 RGB bitmap. The
    /// network takes pixel / 255 and maps it to [-1, 1] itself.
    core::Result<std::vector<float>> feature(const Bitmap& rgb);

    /// From one forward pass over a 224 × 224 RGB bitmap, each named layer's output (a node of
    /// the model, for instance "MobilenetV2/expanded_conv_13/expand/Relu6") pooled over its
    /// positions into one value per channel, its values clamped at 0 first. `response`, when
    /// given, receives the first layer's total response at each position (rows × columns, float).
    core::Result<std::vector<std::vector<float>>> pooledLayers(const Bitmap& rgb,
                                                               const std::vector<std::string>& layers,
                                                               Pooling pooling = Pooling::average,
                                                               cv::Mat* response = nullptr);

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace platform
