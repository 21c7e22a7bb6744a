#include "platform/ChannelProduct.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/dnn/all_layers.hpp>
#include <opencv2/dnn/layer.hpp>

#include <mutex>

namespace platform {
namespace {

using cv::dnn::EltwiseLayer;
using cv::dnn::Layer;
using cv::dnn::LayerParams;
using cv::dnn::MatShape;

/// OpenCV's product layer, with the per-plane factor case done here.
class ChannelProduct : public EltwiseLayer {
  public:
    static cv::Ptr<Layer> create(LayerParams& params) {
        if (params.get<cv::String>("operation", "sum") != "prod" || params.has("coeff"))
            return EltwiseLayer::create(params);
        return cv::Ptr<Layer>(new ChannelProduct(params));
    }

    bool getMemoryShapes(const std::vector<MatShape>& inputs, int requiredOutputs,
                         std::vector<MatShape>& outputs, std::vector<MatShape>& internals) const override {
        return m_own->getMemoryShapes(inputs, requiredOutputs, outputs, internals);
    }
    void finalize(cv::InputArrayOfArrays inputs, cv::OutputArrayOfArrays outputs) override {
        m_own->preferableTarget = preferableTarget;
        m_own->finalize(inputs, outputs);
    }
    bool supportBackend(int backendId) override { return m_own->supportBackend(backendId); }
    bool setActivation(const cv::Ptr<cv::dnn::ActivationLayer>& layer) override {
        const bool fused = m_own->setActivation(layer);
        m_activated = m_activated || fused;
        return fused;
    }
    bool tryFuse(cv::Ptr<Layer>& top) override { return m_own->tryFuse(top); }
    void getScaleShift(cv::Mat& scale, cv::Mat& shift) const override { m_own->getScaleShift(scale, shift); }
    void unsetAttached() override { m_own->unsetAttached(); }
    int64 getFLOPS(const std::vector<MatShape>& inputs, const std::vector<MatShape>& outputs) const override {
        return m_own->getFLOPS(inputs, outputs);
    }
    bool updateMemoryShapes(const std::vector<MatShape>& inputs) override {
        return m_own->updateMemoryShapes(inputs);
    }

    void forward(cv::InputArrayOfArrays inputsArray, cv::OutputArrayOfArrays outputsArray,
                 cv::OutputArrayOfArrays internals) override {
        std::vector<cv::Mat> in, out;
        inputsArray.getMatVector(in);
        outputsArray.getMatVector(out);
        if (!perPlaneFactor(in, out)) {
            m_own->forward(inputsArray, outputsArray, internals);
            return;
        }
        const size_t area = size_t(in[0].size[2]) * size_t(in[0].size[3]);
        const float* maps = in[0].ptr<float>();
        const float* factors = in[1].ptr<float>();
        float* products = out[0].ptr<float>();
        cv::parallel_for_(cv::Range(0, in[0].size[0] * in[0].size[1]), [&](const cv::Range& planes) {
            for (int p = planes.start; p < planes.end; ++p) {
                const float factor = factors[p];
                const float* from = maps + size_t(p) * area;
                float* to = products + size_t(p) * area;
                for (size_t i = 0; i < area; ++i)
                    to[i] = from[i] * factor;
            }
        });
    }

  private:
    explicit ChannelProduct(LayerParams& params) : m_own(EltwiseLayer::create(params)) {
        setParamsFrom(params);
    }

    /// Two float inputs, N × C × H × W and N × C × 1 × 1, into one output of the first's shape.
    bool perPlaneFactor(const std::vector<cv::Mat>& in, const std::vector<cv::Mat>& out) const {
        if (m_activated || in.size() != 2 || out.size() != 1) return false;
        const cv::Mat &maps = in[0], &factors = in[1], &products = out[0];
        for (const cv::Mat* m : {&maps, &factors, &products})
            if (m->type() != CV_32F || m->dims != 4 || !m->isContinuous()) return false;
        return factors.size[0] == maps.size[0] && factors.size[1] == maps.size[1] && factors.size[2] == 1 &&
               factors.size[3] == 1 && products.size == maps.size;
    }

    cv::Ptr<EltwiseLayer> m_own;
    bool m_activated = false;
};

} // namespace

void installChannelProduct() {
    static std::once_flag once;
    std::call_once(once, [] { cv::dnn::LayerFactory::registerLayer("Eltwise", ChannelProduct::create); });
}

} // namespace platform
