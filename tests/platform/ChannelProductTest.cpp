#include "platform/ChannelProduct.h"

#include <gtest/gtest.h>

#include <opencv2/dnn/all_layers.hpp>
#include <opencv2/dnn/layer.hpp>
#include <opencv2/dnn/shape_utils.hpp>

#include <cstring>
#include <typeinfo>

namespace {

using cv::dnn::MatShape;

struct Case {
    const char* what;
    const char* operation;
    std::vector<MatShape> inputs;
    bool relu = false; ///< an activation fused into the layer
};

/// The layer's output for `inputs`, set up the way a network sets up its layers.
cv::Mat run(const cv::Ptr<cv::dnn::Layer>& layer, std::vector<cv::Mat> inputs) {
    std::vector<MatShape> shapes, outShapes, internalShapes;
    for (const auto& m : inputs)
        shapes.push_back(cv::dnn::shape(m));
    layer->getMemoryShapes(shapes, 1, outShapes, internalShapes);
    std::vector<cv::Mat> outputs, internals;
    for (const auto& s : outShapes)
        outputs.emplace_back(s, CV_32F, cv::Scalar(-7));
    for (const auto& s : internalShapes)
        internals.emplace_back(s, CV_32F);
    layer->finalize(cv::InputArrayOfArrays(inputs), cv::OutputArrayOfArrays(outputs));
    layer->forward(inputs, outputs, internals);
    return outputs.at(0);
}

} // namespace

// Every product, whether or not it is the per-plane case done by the stand-in, comes out exactly
// as OpenCV's own layer computes it.
TEST(ChannelProduct, GivesOpenCVsOwnProductsToTheBit) {
    const std::vector<Case> cases = {
        {"a detector's squeeze-and-excitation product", "prod", {{1, 96, 120, 160}, {1, 96, 1, 1}}},
        {"several pictures in a batch", "prod", {{2, 3, 5, 7}, {2, 3, 1, 1}}},
        {"two maps of one shape", "prod", {{1, 16, 8, 8}, {1, 16, 8, 8}}},
        {"a sum", "sum", {{1, 4, 6, 6}, {1, 4, 6, 6}}},
        {"a product with a ReLU fused in", "prod", {{1, 8, 6, 5}, {1, 8, 1, 1}}, true},
    };
    platform::installChannelProduct();
    cv::RNG rng(25);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<cv::Mat> inputs;
        for (const auto& s : c.inputs) {
            inputs.emplace_back(s, CV_32F);
            rng.fill(inputs.back(), cv::RNG::UNIFORM, -3.0, 3.0);
        }
        cv::dnn::LayerParams params;
        params.name = "product";
        params.type = "Eltwise";
        params.set("operation", c.operation);
        const cv::Ptr<cv::dnn::Layer> ours = cv::dnn::LayerFactory::createLayerInstance("Eltwise", params);
        const cv::Ptr<cv::dnn::Layer> opencvs = cv::dnn::EltwiseLayer::create(params);
        ASSERT_FALSE(ours.empty());
        // Every product is built as the stand-in, or this table would compare OpenCV with itself.
        EXPECT_EQ(typeid(*ours) != typeid(*opencvs), std::string(c.operation) == "prod");
        if (c.relu) {
            cv::dnn::LayerParams reluParams;
            ASSERT_EQ(ours->setActivation(cv::dnn::ReLULayer::create(reluParams)),
                      opencvs->setActivation(cv::dnn::ReLULayer::create(reluParams)));
        }
        std::vector<cv::Mat> copies;
        for (const auto& m : inputs)
            copies.push_back(m.clone());
        const cv::Mat expected = run(opencvs, inputs);
        const cv::Mat got = run(ours, copies);
        ASSERT_EQ(cv::dnn::shape(got), cv::dnn::shape(expected));
        EXPECT_GT(cv::countNonZero(expected.reshape(1, 1) != -7.0f), 0);
        EXPECT_EQ(std::memcmp(got.data, expected.data, expected.total() * sizeof(float)), 0);
    }
}
