#include "platform/ImageEmbedding.h"

#include "platform/ModelFiles.h"

#include <QDir>
#include <QFile>

#include <opencv2/dnn.hpp>

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

core::Result<std::vector<float>> ImageEmbedding::feature(const Bitmap& rgb) {
    std::lock_guard lock(m_state->mutex);
    m_state->load();
    if (m_state->problem) return *m_state->problem;
    if (rgb.type() != CV_8UC3 || rgb.cols != kImageFeatureSide || rgb.rows != kImageFeatureSide)
        return core::Error{kImageFeatureBadInput};
    // The network is fixed at one input shape: OpenCV 4.6 goes silently wrong at a second one.
    const cv::Mat blob =
        cv::dnn::blobFromImage(rgb, 1.0 / 255.0, rgb.size(), cv::Scalar(), false, false, CV_32F);
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
