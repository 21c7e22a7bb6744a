// The one place that runs OpenCV DNN for text. Two traps of OpenCV 4.6 shape this file: a
// network must never be run at a second input shape (results go silently wrong), and a detector
// input of 4,194,304 pixels or more crashes inside the last ConvTranspose. So every input is
// padded to one of a few fixed shapes, each with networks of its own, all well below that size.

#include "platform/TextRecognition.h"

#include "platform/ChannelProduct.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>

namespace platform {
namespace {

constexpr int kRecHeight = 48;
constexpr std::array<int, 3> kRecWidths = {320, 640, 1280};
/// A gap's runner-up is kept as nearly read from this probability on. Rare characters that were
/// dropped came second with 0.19–0.21, behind the gap at 0.27–0.35.
constexpr float kNearlyReadMin = 0.1f;
constexpr std::int64_t kDetPixelLimit = 4'194'304;

// DB post-processing, as PaddleOCR's defaults: probability threshold, region score threshold,
// and the unclip ratio that grows the shrunk text kernel back to the line's full extent.
constexpr float kBinaryThreshold = 0.3f;
constexpr float kBoxThreshold = 0.6f;
constexpr float kUnclipRatio = 1.5f;
constexpr float kMinBoxSide = 3.0f;

/// The networks of one model file at one input shape. A network is used by one thread at a
/// time; as many are loaded as threads ask for one at once, up to `most`: one per core for the
/// detector, so that the probes of several photos run side by side, one for each recogniser,
/// whose passes are short. A detector costs its weights and the buffers of one forward pass,
/// about 80 MB at 640x480 (bench/README.md).
struct NetPool {
    std::mutex mutex;
    std::condition_variable returned;
    std::vector<std::unique_ptr<cv::dnn::Net>> idle;
    int loaded = 0;
    int most = 1; ///< networks loaded at most
};

int detectorsPerShape() {
    static const int most = std::clamp(int(std::thread::hardware_concurrency()), 1, 8);
    return most;
}

/// A network taken from its pool for one forward pass, handed back when it goes out of scope.
class Lease {
  public:
    Lease(NetPool& pool, std::unique_ptr<cv::dnn::Net> net) : m_pool(pool), m_net(std::move(net)) {}
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() {
        {
            const std::lock_guard hold(m_pool.mutex);
            m_pool.idle.push_back(std::move(m_net));
        }
        m_pool.returned.notify_one();
    }
    cv::dnn::Net& net() { return *m_net; }

  private:
    NetPool& m_pool;
    std::unique_ptr<cv::dnn::Net> m_net;
};

core::Result<std::unique_ptr<cv::dnn::Net>> load(const QString& file) {
    auto net = std::make_unique<cv::dnn::Net>();
    installChannelProduct(); // the detector's squeeze-and-excitation products, on every core
    try {
        *net = cv::dnn::readNetFromONNX(QFile::encodeName(file).toStdString());
        net->setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    } catch (const std::exception& e) {
        return core::Error{kModelsMissing + QString::fromStdString(e.what()).left(200)};
    }
    if (net->empty()) return core::Error{kModelsMissing + file};
    return net;
}

/// A free network of the pool, loaded from `file` when none is free and fewer than the most are
/// loaded; otherwise waits for one to be handed back.
core::Result<std::unique_ptr<Lease>> lease(NetPool& pool, const QString& file) {
    std::unique_lock hold(pool.mutex);
    pool.returned.wait(hold, [&] { return !pool.idle.empty() || pool.loaded < pool.most; });
    if (!pool.idle.empty()) {
        auto net = std::move(pool.idle.back());
        pool.idle.pop_back();
        return std::make_unique<Lease>(pool, std::move(net));
    }
    ++pool.loaded;
    hold.unlock();
    auto net = load(file);
    if (!net) {
        hold.lock();
        --pool.loaded;
        hold.unlock();
        pool.returned.notify_one();
        return net.error();
    }
    return std::make_unique<Lease>(pool, std::move(*net));
}

/// The pools and the character list, made once per process.
struct Models {
    std::mutex mapMutex;
    std::map<std::pair<int, int>, std::unique_ptr<NetPool>> det; // (height, width)
    std::map<int, std::unique_ptr<NetPool>> rec;                 // width
    std::vector<QString> keys;
    std::once_flag keysOnce;
};

Models& models() {
    static Models m;
    return m;
}

NetPool& detPool(int h, int w) {
    std::lock_guard lock(models().mapMutex);
    auto& pool = models().det[{h, w}];
    if (!pool) {
        pool = std::make_unique<NetPool>();
        pool->most = detectorsPerShape();
    }
    return *pool;
}

NetPool& recPool(int w) {
    std::lock_guard lock(models().mapMutex);
    auto& pool = models().rec[w];
    if (!pool) pool = std::make_unique<NetPool>();
    return *pool;
}

const std::vector<QString>& keys() {
    std::call_once(models().keysOnce, [] {
        QFile file(QDir(modelsDirectory()).filePath(QStringLiteral("keys.txt")));
        if (!file.open(QIODevice::ReadOnly)) return;
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        for (const QString& line : lines)
            models().keys.push_back(line);
        while (!models().keys.empty() && models().keys.back().isEmpty())
            models().keys.pop_back();
    });
    return models().keys;
}

/// The detector runs on fixed tiles only: 640×480 for landscape pictures, 480×640 for portrait
/// ones. A picture scaled to a larger detector side is covered by overlapping tiles whose
/// probability maps are stitched (maximum where they overlap), so one network serves every size.
/// A second, larger network (960×736) held some 225 MB of activations for one forward pass.
constexpr int kTileLong = 640, kTileShort = 480, kTileOverlap = 96;

cv::Size tileShape(cv::Size scaled) {
    return scaled.width >= scaled.height ? cv::Size(kTileLong, kTileShort) : cv::Size(kTileShort, kTileLong);
}

/// Tile origins along one axis of `length` covered by tiles of `tile` with some overlap.
std::vector<int> tileOrigins(int length, int tile) {
    if (length <= tile) return {0};
    std::vector<int> origins;
    const int stride = tile - kTileOverlap;
    for (int at = 0;; at += stride) {
        if (at + tile >= length) {
            origins.push_back(length - tile);
            break;
        }
        origins.push_back(at);
    }
    return origins;
}

/// The region's quadrilateral grown by the unclip distance (area × ratio / perimeter).
cv::RotatedRect unclip(const cv::RotatedRect& r) {
    const float area = r.size.width * r.size.height;
    const float perimeter = 2.0f * (r.size.width + r.size.height);
    const float d = area * kUnclipRatio / std::max(perimeter, 1e-3f);
    return cv::RotatedRect(r.center, cv::Size2f(r.size.width + 2 * d, r.size.height + 2 * d), r.angle);
}

TextBox toTextBox(const cv::RotatedRect& r, float sx, float sy, float score) {
    cv::Point2f pts[4];
    r.points(pts);
    for (auto& p : pts)
        p = cv::Point2f(p.x * sx, p.y * sy);
    // Order: the point with the smallest x + y first, then clockwise.
    std::array<cv::Point2f, 4> c;
    std::sort(pts, pts + 4, [](const cv::Point2f& a, const cv::Point2f& b) { return a.x < b.x; });
    const cv::Point2f leftTop = pts[0].y <= pts[1].y ? pts[0] : pts[1];
    const cv::Point2f leftBottom = pts[0].y <= pts[1].y ? pts[1] : pts[0];
    const cv::Point2f rightTop = pts[2].y <= pts[3].y ? pts[2] : pts[3];
    const cv::Point2f rightBottom = pts[2].y <= pts[3].y ? pts[3] : pts[2];
    c = {leftTop, rightTop, rightBottom, leftBottom};
    TextBox box;
    box.corners = c;
    const float top = float(cv::norm(rightTop - leftTop));
    const float side = float(cv::norm(leftBottom - leftTop));
    box.width = std::max(top, side);
    box.height = std::min(top, side);
    box.score = score;
    return box;
}

} // namespace

core::Result<bool> checkModels() {
    static std::once_flag once;
    static std::optional<core::Error> problem;
    std::call_once(once, [] {
        QStringList names = {QStringLiteral("det.onnx"), QStringLiteral("keys.txt")};
        for (int width : kRecWidths)
            names << QStringLiteral("rec_48x%1.onnx").arg(width);
        if (auto ok = verifyModelFiles(modelsDirectory(), names, kModelsMissing); !ok) problem = ok.error();
    });
    if (problem) return *problem;
    return true;
}

core::Result<std::vector<TextBox>> detectText(const Bitmap& image, int detSide, double minHeightFraction) {
    if (auto ok = checkModels(); !ok) return ok.error();
    if (image.empty() || image.type() != CV_8UC3) return std::vector<TextBox>{};
    detSide = std::max(32, detSide / 32 * 32);

    // Resize keeping the aspect ratio; tiles beyond the picture are padded (reads as black).
    const double scale = double(detSide) / std::max(image.cols, image.rows);
    const cv::Size scaled(std::max(1, int(std::lround(image.cols * scale))),
                          std::max(1, int(std::lround(image.rows * scale))));
    cv::Mat resized;
    cv::resize(image, resized, scaled, 0, 0, cv::INTER_AREA);
    const cv::Size shape = tileShape(scaled);
    static_assert(std::int64_t(kTileLong) * kTileShort < kDetPixelLimit);

    NetPool& pool = detPool(shape.height, shape.width);
    cv::Mat prob(scaled, CV_32F, cv::Scalar(0));
    for (int y0 : tileOrigins(scaled.height, shape.height)) {
        for (int x0 : tileOrigins(scaled.width, shape.width)) {
            const cv::Rect area(x0, y0, std::min(shape.width, scaled.width - x0),
                                std::min(shape.height, scaled.height - y0));
            cv::Mat tile(shape, CV_8UC3, cv::Scalar::all(0));
            resized(area).copyTo(tile(cv::Rect(0, 0, area.width, area.height)));
            // The detector was trained on BGR input normalised with ImageNet's mean and deviation.
            const cv::Mat blob =
                cv::dnn::blobFromImage(tile, 1.0 / 255.0, shape, cv::Scalar(), true, false, CV_32F);
            const float mean[3] = {0.485f, 0.456f, 0.406f}, stdev[3] = {0.229f, 0.224f, 0.225f};
            for (int c = 0; c < 3; ++c) {
                cv::Mat plane(shape.height, shape.width, CV_32F, const_cast<float*>(blob.ptr<float>(0, c)));
                plane = (plane - mean[c]) / stdev[c];
            }
            const auto leased = lease(pool, QDir(modelsDirectory()).filePath(QStringLiteral("det.onnx")));
            if (!leased) return leased.error();
            try {
                cv::dnn::Net& net = (*leased)->net();
                net.setInput(blob);
                cv::Mat out = net.forward();
                const cv::Mat tileProb(shape.height, shape.width, CV_32F, out.ptr<float>());
                cv::Mat target = prob(area);
                cv::max(target, tileProb(cv::Rect(0, 0, area.width, area.height)), target);
            } catch (const std::exception& e) {
                return core::Error{kModelsMissing + QString::fromStdString(e.what()).left(200)};
            }
        }
    }

    const cv::Mat& valid = prob;

    cv::Mat mask = valid > kBinaryThreshold;
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(mask, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
    const float sx = float(image.cols) / float(scaled.width);
    const float sy = float(image.rows) / float(scaled.height);
    std::vector<TextBox> boxes;
    for (const auto& contour : contours) {
        if (contour.size() < 3) continue;
        const cv::RotatedRect rect = cv::minAreaRect(contour);
        if (std::min(rect.size.width, rect.size.height) < kMinBoxSide) continue;
        const cv::Rect bounds = cv::boundingRect(contour) & cv::Rect(0, 0, valid.cols, valid.rows);
        cv::Mat regionMask = cv::Mat::zeros(bounds.size(), CV_8U);
        std::vector<std::vector<cv::Point>> shifted(1);
        for (const auto& p : contour)
            shifted[0].push_back(p - bounds.tl());
        cv::fillPoly(regionMask, shifted, cv::Scalar(1));
        const float score = float(cv::mean(valid(bounds), regionMask)[0]);
        if (score < kBoxThreshold) continue;
        TextBox box = toTextBox(unclip(rect), sx, sy, score);
        if (box.height < minHeightFraction * image.rows) continue;
        boxes.push_back(box);
    }
    sortInReadingOrder(boxes);
    return boxes;
}

void sortInReadingOrder(std::vector<TextBox>& boxes) {
    // Each box's line is decided once, in one pass from the top, so that the order is a strict
    // weak ordering for any boxes: comparing two boxes by "same line if their tops are within half
    // the smaller height, else by top" is not transitive (three boxes on a slant each come before
    // the next), and std::sort with such a comparison may read outside the vector.
    const auto key = [](const TextBox& b) {
        return std::tuple(b.corners[0].y, b.corners[0].x, b.height, b.width, b.corners[2].y, b.corners[2].x,
                          b.score);
    };
    std::sort(boxes.begin(), boxes.end(),
              [&](const TextBox& a, const TextBox& b) { return key(a) < key(b); });
    // A box joins the line begun by the topmost box of it when their tops lie within half the
    // smaller height; otherwise it begins the next line.
    std::vector<std::pair<int, size_t>> order; // (line, index in top order)
    order.reserve(boxes.size());
    int line = -1;
    size_t start = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
        const TextBox& first = boxes[start];
        if (line < 0 || std::abs(boxes[i].corners[0].y - first.corners[0].y) >
                            std::min(first.height, boxes[i].height) * 0.5f) {
            ++line;
            start = i;
        }
        order.emplace_back(line, i);
    }
    std::sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        const float ax = boxes[a.second].corners[0].x, bx = boxes[b.second].corners[0].x;
        return ax != bx ? ax < bx : a.second < b.second;
    });
    std::vector<TextBox> sorted;
    sorted.reserve(boxes.size());
    for (const auto& [l, i] : order)
        sorted.push_back(boxes[i]);
    boxes = std::move(sorted);
}

namespace {

/// Reads one upright crop: height 48, the narrowest network that holds its width (a slightly
/// longer line is squeezed into the widest one).
core::Result<RecognizedText> recognizeCrop(const cv::Mat& crop, const std::vector<QString>& characters) {
    int width = std::max(1, int(std::ceil(double(kRecHeight) * crop.cols / std::max(1, crop.rows))));
    int netWidth = kRecWidths.back();
    for (int candidate : kRecWidths)
        if (width <= candidate) {
            netWidth = candidate;
            break;
        }
    width = std::min(width, netWidth);
    cv::Mat resized;
    cv::resize(crop, resized, cv::Size(width, kRecHeight), 0, 0,
               crop.rows > kRecHeight ? cv::INTER_AREA : cv::INTER_LINEAR);
    cv::Mat canvas(kRecHeight, netWidth, CV_8UC3, cv::Scalar::all(128));
    resized.copyTo(canvas(cv::Rect(0, 0, width, kRecHeight)));
    // BGR, scaled to −1…1; the padding is mid-grey, i.e. 0.
    const cv::Mat blob = cv::dnn::blobFromImage(canvas, 1.0 / 127.5, canvas.size(), cv::Scalar::all(127.5),
                                                true, false, CV_32F);

    cv::Mat out;
    {
        const QString file = QDir(modelsDirectory()).filePath(QStringLiteral("rec_48x%1.onnx").arg(netWidth));
        const auto leased = lease(recPool(netWidth), file);
        if (!leased) return leased.error();
        try {
            cv::dnn::Net& net = (*leased)->net();
            net.setInput(blob);
            out = net.forward().clone();
        } catch (const std::exception& e) {
            return core::Error{kModelsMissing + QString::fromStdString(e.what()).left(200)};
        }
    }
    if (out.dims != 3) return core::Error{kModelsMissing + QStringLiteral("rec output")};
    const int steps = out.size[1], classes = out.size[2];
    // Only the steps that cover the text, not the grey padding.
    const int usedSteps = std::min(steps, int(std::ceil(double(steps) * width / netWidth)) + 1);

    RecognizedText result;
    double confidenceSum = 0;
    int kept = 0, previous = 0;
    for (int t = 0; t < usedSteps; ++t) {
        const float* p = out.ptr<float>(0, t);
        int best = 0, second = 1;
        if (p[second] > p[best]) std::swap(best, second);
        for (int k = 2; k < classes; ++k)
            if (p[k] > p[second]) {
                second = k;
                if (p[second] > p[best]) std::swap(best, second);
            }
        // A gap whose runner-up is a character (not the one just read, nor the space).
        if (best == 0 && second != previous && p[second] >= kNearlyReadMin &&
            second - 1 < int(characters.size()))
            result.nearlyRead.push_back({result.text.size(), characters[size_t(second - 1)]});
        if (best != 0 && best != previous) {
            // Index 0 is the CTC blank; the last class is the space.
            if (best - 1 < int(characters.size()))
                result.text += characters[size_t(best - 1)];
            else
                result.text += QLatin1Char(' ');
            confidenceSum += p[best];
            ++kept;
        }
        previous = best;
    }
    result.confidence = kept ? float(confidenceSum / kept) : 0.0f;
    return result;
}

} // namespace

core::Result<RecognizedText> recognizeText(const Bitmap& image, const TextBox& box) {
    if (auto ok = checkModels(); !ok) return ok.error();
    const std::vector<QString>& characters = keys();
    if (characters.empty()) return core::Error{kModelsMissing + QStringLiteral("keys.txt")};

    // Cut the region out upright.
    const int w = std::max(1, int(std::lround(cv::norm(box.corners[1] - box.corners[0]))));
    const int h = std::max(1, int(std::lround(cv::norm(box.corners[3] - box.corners[0]))));
    const cv::Point2f dst[4] = {{0, 0}, {float(w), 0}, {float(w), float(h)}, {0, float(h)}};
    const cv::Mat m = cv::getPerspectiveTransform(box.corners.data(), dst);
    cv::Mat crop;
    cv::warpPerspective(image, crop, m, cv::Size(w, h), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    if (crop.rows >= crop.cols * 1.5) cv::rotate(crop, crop, cv::ROTATE_90_COUNTERCLOCKWISE);

    // A line much longer than the widest network is read in equal pieces rather than squeezed
    // beyond recognition.
    const double naturalWidth = double(kRecHeight) * crop.cols / std::max(1, crop.rows);
    const int pieces = std::max(1, int(std::ceil(naturalWidth / (kRecWidths.back() * 1.25))));
    RecognizedText joined;
    double weighted = 0;
    int characterCount = 0;
    for (int i = 0; i < pieces; ++i) {
        const int x0 = crop.cols * i / pieces, x1 = crop.cols * (i + 1) / pieces;
        const auto part = recognizeCrop(crop(cv::Rect(x0, 0, std::max(1, x1 - x0), crop.rows)), characters);
        if (!part) return part.error();
        for (auto nearly : part->nearlyRead) {
            nearly.at += joined.text.size();
            joined.nearlyRead.push_back(std::move(nearly));
        }
        joined.text += part->text;
        weighted += double(part->confidence) * part->text.size();
        characterCount += int(part->text.size());
    }
    joined.confidence = characterCount ? float(weighted / characterCount) : 0.0f;
    return joined;
}

} // namespace platform
