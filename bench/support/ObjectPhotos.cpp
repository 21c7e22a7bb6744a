#include "support/ObjectPhotos.h"

#include <QImage>
#include <QString>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace bench {
namespace {

using Rng = std::mt19937;

double uniform(Rng& rng, double lo, double hi) {
    return std::uniform_real_distribution<>(lo, hi)(rng);
}

bool chance(Rng& rng, double p) {
    return uniform(rng, 0, 1) < p;
}

} // namespace

std::vector<CutOut> loadCutOuts(const std::vector<std::string>& categories, int minSide) {
    std::vector<CutOut> result;
    for (const std::string& category : categories) {
        const fs::path dir = fs::path(kCutOutRoot) / category;
        std::error_code ec;
        if (!fs::is_directory(dir, ec)) continue;
        std::vector<fs::path> files;
        for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (it->path().extension() == ".png" && name.find("mirror") == std::string::npos &&
                name.find("flip") == std::string::npos)
                files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            QImage loaded(QString::fromStdString(file.string()));
            if (loaded.isNull() || !loaded.hasAlphaChannel()) continue;
            loaded = loaded.convertToFormat(QImage::Format_RGBA8888);
            const cv::Mat image = cv::Mat(loaded.height(), loaded.width(), CV_8UC4, loaded.bits(),
                                          size_t(loaded.bytesPerLine()))
                                      .clone();
            if (std::max(image.cols, image.rows) < minSide) continue;
            std::vector<cv::Mat> planes;
            cv::split(image, planes);
            // A cut-out: at least a tenth of it transparent and a quarter of it solid.
            const double clear = double(cv::countNonZero(planes[3] < 16)) / double(image.total());
            const double solid = double(cv::countNonZero(planes[3] > 240)) / double(image.total());
            if (clear < 0.1 || solid < 0.25) continue;
            result.push_back({category + "/" + file.filename().string(), image});
        }
    }
    return result;
}

Hall hallFor(unsigned seed) {
    Rng rng(seed * 7919u + 17u);
    Hall hall;
    const double warmth = uniform(rng, -0.15, 0.15);
    const double wall = uniform(rng, 60, 210), floor = uniform(rng, 40, 170);
    hall.wall = cv::Vec3f(float(wall * (1 + warmth)), float(wall), float(wall * (1 - warmth)));
    hall.floor = cv::Vec3f(float(floor * (1 + warmth / 2)), float(floor * 0.97), float(floor * (1 - warmth)));
    hall.light = float(uniform(rng, 0.8, 1.15));
    return hall;
}

platform::Bitmap photographCutOut(const CutOut& object, const Hall& hall, unsigned seed, unsigned view,
                                  int width, int height) {
    Rng rng(seed * 2654435761u + view * 40503u + 7u);
    // The hall: a lit wall above a floor or plinth, its horizon and spot light moving with the camera.
    cv::Mat3f photo(height, width);
    const double horizon = uniform(rng, 0.6, 0.85) * height;
    const cv::Point2d spot(uniform(rng, 0.3, 0.7) * width, uniform(rng, 0.2, 0.5) * height);
    const double reach = uniform(rng, 0.6, 1.2) * std::max(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double d = cv::norm(cv::Point2d(x, y) - spot) / reach;
            const double lit = hall.light * (0.55 + 0.45 * std::exp(-d * d * 2));
            const cv::Vec3f& base = y < horizon ? hall.wall : hall.floor;
            photo(y, x) = base * float(lit);
        }

    // The object, seen from this camera position: scale, framing, tilt and turn.
    const double longest = uniform(rng, 0.4, 0.85) * std::min(width, height);
    const double scale = longest / std::max(object.rgba.cols, object.rgba.rows);
    const double w = object.rgba.cols * scale, h = object.rgba.rows * scale;
    const cv::Point2d centre(width / 2.0 + uniform(rng, -0.15, 0.15) * width,
                             std::min(horizon + 0.05 * height, height - h / 2) +
                                 uniform(rng, -0.08, 0.04) * height - h * 0.35);
    const double turn = uniform(rng, -6, 6) * CV_PI / 180;
    const cv::Point2f src[4] = {{0, 0},
                                {float(object.rgba.cols), 0},
                                {float(object.rgba.cols), float(object.rgba.rows)},
                                {0, float(object.rgba.rows)}};
    cv::Point2f dst[4];
    const double corners[4][2] = {{-0.5, -0.5}, {0.5, -0.5}, {0.5, 0.5}, {-0.5, 0.5}};
    const double tiltX = uniform(rng, -0.12, 0.12), tiltY = uniform(rng, -0.1, 0.1);
    for (int i = 0; i < 4; ++i) {
        // Perspective: one side nearer the camera than the other.
        double cx = corners[i][0] * w * (1 + tiltY * corners[i][1] * 2);
        double cy = corners[i][1] * h * (1 + tiltX * corners[i][0] * 2);
        cx += uniform(rng, -0.03, 0.03) * w;
        cy += uniform(rng, -0.03, 0.03) * h;
        dst[i] = cv::Point2f(float(centre.x + cx * std::cos(turn) - cy * std::sin(turn)),
                             float(centre.y + cx * std::sin(turn) + cy * std::cos(turn)));
    }
    const cv::Mat warp = cv::getPerspectiveTransform(src, dst);
    cv::Mat placed;
    cv::warpPerspective(object.rgba, placed, warp, cv::Size(width, height), cv::INTER_LINEAR,
                        cv::BORDER_CONSTANT, cv::Scalar::all(0));
    cv::Mat placedF;
    placed.convertTo(placedF, CV_32F);
    std::vector<cv::Mat> planes;
    cv::split(placedF, planes);
    cv::Mat alpha = planes[3] / 255.0f;
    // A soft shadow below and behind it.
    cv::Mat shadow;
    const cv::Mat shift =
        (cv::Mat_<double>(2, 3) << 1, 0, uniform(rng, -0.03, 0.03) * width, 0, 1, 0.02 * height);
    cv::warpAffine(alpha, shadow, shift, alpha.size());
    cv::GaussianBlur(shadow, shadow, cv::Size(0, 0), 0.02 * width);
    cv::Mat objectRgb;
    cv::merge(std::vector<cv::Mat>{planes[0], planes[1], planes[2]}, objectRgb);
    const float objectLight = float(hall.light * uniform(rng, 0.85, 1.1));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const float a = alpha.at<float>(y, x);
            cv::Vec3f& p = photo(y, x);
            p *= 1.0f - 0.45f * shadow.at<float>(y, x);
            p = p * (1 - a) + objectRgb.at<cv::Vec3f>(y, x) * (a * objectLight);
        }

    // In front of the object: a reflection on the case glass, or a visitor's shoulder.
    if (chance(rng, 0.25)) {
        const bool shoulder = chance(rng, 0.5);
        const double x0 = uniform(rng, 0, 1) < 0.5 ? uniform(rng, -0.2, 0.05) : uniform(rng, 0.75, 1.0);
        const double bandWidth = uniform(rng, 0.12, 0.25);
        const cv::Vec3f tone = shoulder ? cv::Vec3f(float(uniform(rng, 10, 60)), float(uniform(rng, 10, 60)),
                                                    float(uniform(rng, 10, 60)))
                                        : cv::Vec3f(250, 250, 250);
        const float strength = shoulder ? 1.0f : float(uniform(rng, 0.2, 0.4));
        const double slope = uniform(rng, -0.3, 0.3);
        const double top = shoulder ? uniform(rng, 0.3, 0.5) * height : 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double u = double(x) / width - slope * double(y) / height - x0;
                if (u < 0 || u > bandWidth) continue;
                if (y < top) continue;
                cv::Vec3f& p = photo(y, x);
                p = p * (1 - strength) + tone * strength;
            }
    }

    // A close-up now and then: the photographer steps in.
    cv::Mat3f framed = photo;
    if (view > 0 && chance(rng, 0.2)) {
        const double part = uniform(rng, 0.55, 0.75);
        const int cw = int(width * part), ch = int(height * part);
        const int x = std::clamp(int(centre.x - cw / 2 + uniform(rng, -0.1, 0.1) * cw), 0, width - cw);
        const int y = std::clamp(int(centre.y - ch / 2 + uniform(rng, -0.1, 0.1) * ch), 0, height - ch);
        cv::resize(photo(cv::Rect(x, y, cw, ch)), framed, cv::Size(width, height), 0, 0, cv::INTER_LINEAR);
    }

    // The camera: exposure, white balance, focus, noise.
    const float exposure = float(uniform(rng, 0.7, 1.3));
    const cv::Vec3f balance(float(uniform(rng, 0.85, 1.15)), 1.0f, float(uniform(rng, 0.85, 1.15)));
    cv::Mat3f toned = framed.clone();
    for (auto& p : toned)
        p = cv::Vec3f(p[0] * balance[0], p[1] * balance[1], p[2] * balance[2]) * exposure;
    const double blur = uniform(rng, 0, 1.5);
    if (blur > 0.3) cv::GaussianBlur(toned, toned, cv::Size(0, 0), blur);
    cv::Mat noise(toned.size(), CV_32FC3);
    cv::RNG grain(seed * 31u + view);
    grain.fill(noise, cv::RNG::NORMAL, 0, uniform(rng, 2, 6));
    toned += noise;
    platform::Bitmap result;
    toned.convertTo(result, CV_8UC3);
    return result;
}

} // namespace bench
