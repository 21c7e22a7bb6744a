#include "platform/ImageEmbedding.h"

#include "platform/ModelFiles.h"

#include <QDir>
#include <QFile>

#include <opencv2/dnn.hpp>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>

namespace platform {

struct ImageEmbedding::State {
    QString directory;
    std::mutex mutex;
    bool tried = false;
    std::optional<core::Error> problem;
    cv::dnn::Net net;

    /// Under the mutex. Tried once: a failure is remembered, so a missing model costs nothing
    /// per photo.
    void load() {
        if (tried) return;
        tried = true;
        if (auto ok = verifyModelFiles(directory, {kImageFeatureModelFile}, kImageFeatureModelMissing); !ok) {
            problem = ok.error();
            return;
        }
        const QString file = QDir(directory).filePath(kImageFeatureModelFile);
        try {
            net = cv::dnn::readNetFromONNX(QFile::encodeName(file).toStdString());
            net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
            net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        } catch (const std::exception& e) {
            problem = core::Error{kImageFeatureModelMissing + QString::fromStdString(e.what()).left(200)};
            return;
        }
        if (net.empty()) problem = core::Error{kImageFeatureModelMissing + file};
    }
};

ImageEmbedding::ImageEmbedding(QString directory) : m_state(std::make_unique<State>()) {
    m_state->directory = std::move(directory);
}

ImageEmbedding::~ImageEmbedding() = default;

ImageEmbedding& ImageEmbedding::shared() {
    static ImageEmbedding instance(modelsDirectory());
    return instance;
}

namespace {

bool validInput(const Bitmap& rgb) {
    return rgb.type() == CV_8UC3 && rgb.cols == kImageFeatureSide && rgb.rows == kImageFeatureSide;
}

// The network is fixed at one input shape: OpenCV 4.6 goes silently wrong at a second one.
cv::Mat inputBlob(const Bitmap& rgb) {
    return cv::dnn::blobFromImage(rgb, 1.0 / 255.0, rgb.size(), cv::Scalar(), false, false, CV_32F);
}

/// One value per channel of an N×C×H×W blob (N = 1).
std::vector<float> pooled(const cv::Mat& blob, Pooling pooling) {
    if (blob.dims != 4 || blob.size[0] != 1) return {};
    const int channels = blob.size[1], rows = blob.size[2], cols = blob.size[3];
    const size_t positions = size_t(rows) * size_t(cols);
    if (channels <= 0 || positions == 0) return {};
    const float* p = blob.ptr<float>();
    auto at = [&](int c, size_t i) { return std::max(0.0f, p[size_t(c) * positions + i]); };

    // The weight of each position.
    std::vector<double> weight(positions, 1.0);
    if (pooling == Pooling::weighted) {
        // Each position by the square root of its share of the total response.
        double norm = 0;
        for (size_t i = 0; i < positions; ++i) {
            double sum = 0;
            for (int c = 0; c < channels; ++c)
                sum += at(c, i);
            weight[i] = sum;
            norm += sum * sum;
        }
        norm = std::sqrt(norm);
        for (double& w : weight)
            w = norm > 0 ? std::sqrt(w / norm) : 1.0;
    } else if (pooling == Pooling::centre) {
        const double sigma2 = 2 * 0.35 * 0.35;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x) {
                const double dy = (y + 0.5) / rows - 0.5, dx = (x + 0.5) / cols - 0.5;
                weight[size_t(y) * size_t(cols) + size_t(x)] = std::exp(-(dx * dx + dy * dy) / sigma2);
            }
    }
    double weights = 0;
    for (double w : weight)
        weights += w;
    if (!(weights > 0)) weights = 1;

    std::vector<float> out(size_t(channels), 0.0f);
    std::vector<double> present(size_t(channels), 0.0);
    for (int c = 0; c < channels; ++c) {
        double sum = 0;
        for (size_t i = 0; i < positions; ++i) {
            const double v = at(c, i);
            present[size_t(c)] += v > 0;
            sum += weight[i] * (pooling == Pooling::cubicMean ? v * v * v : v);
        }
        const double mean = sum / weights;
        out[size_t(c)] = float(pooling == Pooling::cubicMean ? std::cbrt(mean) : mean);
    }
    if (pooling == Pooling::weighted) {
        // A channel that responds in few places says more than one that responds everywhere.
        double total = 0;
        for (double& q : present) {
            q /= double(positions);
            total += q;
        }
        for (int c = 0; c < channels; ++c)
            out[size_t(c)] *= float(std::log(std::max(total, 1e-6) / (1e-6 + present[size_t(c)])));
    }
    return out;
}

} // namespace

core::Result<std::vector<std::vector<float>>>
ImageEmbedding::pooledLayers(const Bitmap& rgb, const std::vector<std::string>& layers, Pooling pooling,
                             cv::Mat* response) {
    std::lock_guard lock(m_state->mutex);
    m_state->load();
    if (m_state->problem) return *m_state->problem;
    if (!validInput(rgb)) return core::Error{kImageFeatureBadInput};
    if (layers.empty()) return std::vector<std::vector<float>>{};
    try {
        m_state->net.setInput(inputBlob(rgb));
        // OpenCV's importer names a layer after its node, with a prefix of its own.
        std::vector<cv::String> names;
        for (const std::string& layer : layers)
            names.push_back(m_state->net.getLayerId(layer) >= 0 ? layer : "onnx_node!" + layer);
        std::vector<cv::Mat> outs;
        m_state->net.forward(outs, names);
        std::vector<std::vector<float>> result;
        if (response && !outs.empty() && outs[0].dims == 4 && outs[0].size[0] == 1) {
            const cv::Mat& first = outs[0];
            const int channels = first.size[1], rows = first.size[2], cols = first.size[3];
            cv::Mat total(rows, cols, CV_32F, cv::Scalar(0));
            const float* p = first.ptr<float>();
            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < rows * cols; ++i)
                    total.ptr<float>()[i] += std::max(0.0f, p[size_t(c) * size_t(rows * cols) + size_t(i)]);
            *response = total;
        }
        for (size_t i = 0; i < outs.size(); ++i) {
            result.push_back(pooled(outs[i], pooling));
            if (result.back().empty())
                return core::Error{
                    kImageFeatureModelMissing +
                    QStringLiteral("层 %1 的输出形状不对").arg(QString::fromStdString(layers[i]))};
        }
        return result;
    } catch (const std::exception& e) {
        return core::Error{kImageFeatureModelMissing + QString::fromStdString(e.what()).left(200)};
    }
}

core::Result<std::vector<float>> ImageEmbedding::feature(const Bitmap& rgb) {
    std::lock_guard lock(m_state->mutex);
    m_state->load();
    if (m_state->problem) return *m_state->problem;
    if (!validInput(rgb)) return core::Error{kImageFeatureBadInput};
    const cv::Mat blob = inputBlob(rgb);
    try {
        m_state->net.setInput(blob);
        const cv::Mat out = m_state->net.forward();
        if (out.total() != size_t(kImageFeatureLength))
            return core::Error{kImageFeatureModelMissing + QStringLiteral("输出长度 %1").arg(out.total())};
        const float* p = out.ptr<float>();
        return std::vector<float>(p, p + kImageFeatureLength);
    } catch (const std::exception& e) {
        return core::Error{kImageFeatureModelMissing + QString::fromStdString(e.what()).left(200)};
    }
}

} // namespace platform
