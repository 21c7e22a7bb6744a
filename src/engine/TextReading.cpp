#include "engine/TextReading.h"

#include "ai/VisionBackend.h"
#include "engine/MuseumTerms.h"
#include "platform/TextRecognition.h"

#include <algorithm>
#include <cmath>

namespace engine {
namespace {

/// The detector side for reading: label cards are shot close, but their small lines (sizes,
/// accession numbers) need more than the probe's 640.
constexpr int kDetSide = 960;
constexpr double kMinLineHeight = 0.006;
constexpr float kMinConfidence = 0.5f;

/// The direction of the text, in radians: the median slope of the clearly elongated lines.
double dominantAngle(const std::vector<platform::TextBox>& boxes) {
    std::vector<double> angles;
    for (const auto& box : boxes) {
        if (box.width < 2 * box.height) continue;
        const cv::Point2f top = box.corners[1] - box.corners[0];
        const cv::Point2f side = box.corners[3] - box.corners[0];
        const cv::Point2f along = cv::norm(top) >= cv::norm(side) ? top : side;
        double a = std::atan2(double(along.y), double(along.x));
        if (a > M_PI / 2) a -= M_PI;
        if (a < -M_PI / 2) a += M_PI;
        angles.push_back(a);
    }
    if (angles.empty()) return 0;
    std::nth_element(angles.begin(), angles.begin() + long(angles.size() / 2), angles.end());
    const double median = angles[angles.size() / 2];
    // Only a card turned by a moderate angle is read this way; upright text stays as it was.
    return std::abs(median) <= M_PI / 6 ? median : 0;
}

/// Lines lower than this at the detector's scale are detected again in an enlarged part of the
/// frame: the detector misses the thin strokes of a Song face at about 10 pixels.
constexpr float kSmallLineHeight = 14.0f;
/// … when all lines lie in a part of the frame at most this share of its longer side.
constexpr double kZoomMaxShare = 0.6;

/// The regions, detected again in the part of the frame that holds them when they are small;
/// the regions as they were otherwise.
core::Result<std::vector<platform::TextBox>> detectEnlarged(const platform::Bitmap& image,
                                                            std::vector<platform::TextBox> boxes) {
    if (boxes.empty()) return boxes;
    const double scale = double(kDetSide) / std::max(image.cols, image.rows);
    std::vector<float> heights;
    float x0 = float(image.cols), y0 = float(image.rows), x1 = 0, y1 = 0;
    for (const auto& box : boxes) {
        heights.push_back(box.height);
        for (const auto& c : box.corners) {
            x0 = std::min(x0, c.x), y0 = std::min(y0, c.y);
            x1 = std::max(x1, c.x), y1 = std::max(y1, c.y);
        }
    }
    std::nth_element(heights.begin(), heights.begin() + long(heights.size() / 2), heights.end());
    const float median = heights[heights.size() / 2];
    if (median * scale >= kSmallLineHeight) return boxes;
    // The part around the lines, with a margin of a few line heights for lines not yet found.
    const float margin = 4 * median;
    const cv::Rect part = cv::Rect(cv::Point(int(x0 - margin), int(y0 - margin)),
                                   cv::Point(int(x1 + margin), int(y1 + margin))) &
                          cv::Rect(0, 0, image.cols, image.rows);
    if (part.empty() || std::max(part.width, part.height) > kZoomMaxShare * std::max(image.cols, image.rows))
        return boxes;
    auto found =
        platform::detectText(image(part).clone(), kDetSide, kMinLineHeight * image.rows / part.height);
    if (!found) return found.error();
    if (found->size() < boxes.size()) return boxes;
    for (auto& box : *found)
        for (auto& corner : box.corners)
            corner += cv::Point2f(float(part.x), float(part.y));
    return found;
}

using Regions = std::vector<platform::TextBox>;

/// The regions of the whole bitmap, enlarged where small, taken from `found` when they were
/// detected on these pixels before.
core::Result<Regions> detectRegions(const platform::Bitmap& image, bool zoomSmallText, ai::TextFound* found) {
    const ai::TextFound::Question whole{kDetSide, kMinLineHeight, false};
    const ai::TextFound::Question asked{kDetSide, kMinLineHeight, zoomSmallText};
    if (found)
        if (auto kept = found->regions(asked)) return std::move(*kept);
    core::Result<Regions> boxes = Regions{};
    if (auto kept = found ? found->regions(whole) : std::nullopt) {
        boxes = std::move(*kept);
    } else {
        boxes = platform::detectText(image, kDetSide, kMinLineHeight);
        if (boxes && found) found->keepRegions(whole, *boxes);
    }
    if (boxes && zoomSmallText) {
        boxes = detectEnlarged(image, std::move(*boxes));
        if (boxes && found) found->keepRegions(asked, *boxes);
    }
    return boxes;
}

core::Result<platform::RecognizedText> recognize(const platform::Bitmap& image, const platform::TextBox& box,
                                                 ai::TextFound* found) {
    if (found)
        if (auto kept = found->read(box)) return std::move(*kept);
    auto read = platform::recognizeText(image, box);
    if (read && found) found->keepRead(box, *read);
    return read;
}

} // namespace

QString TextRow::text() const {
    QStringList parts;
    for (const auto& line : lines)
        if (!line.text.isEmpty()) parts << line.text;
    return parts.join(QLatin1Char(' '));
}

float TextRow::height() const {
    float h = 0;
    for (const auto& line : lines)
        h = std::max(h, line.height);
    return h;
}

double TextRow::estimatedCharacters() const {
    double n = 0;
    for (const auto& line : lines)
        n += line.height > 0 ? line.width / line.height : 0;
    return n;
}

int PageText::lineCount() const {
    int n = 0;
    for (const auto& row : rows)
        n += int(row.lines.size());
    return n;
}

QStringList PageText::rowTexts() const {
    QStringList out;
    for (const auto& row : rows)
        out << row.text();
    return out;
}

core::Result<PageText> readPage(const platform::Bitmap& image, int maxRead, const ReadFilter& worthReading,
                                bool zoomSmallText, ai::TextFound* found) {
    PageText page;
    page.imageWidth = image.cols;
    page.imageHeight = image.rows;
    if (found && !found->isFor(image)) found = nullptr;
    auto boxes = detectRegions(image, zoomSmallText, found);
    if (!boxes) return boxes.error();
    if (worthReading && !worthReading(*boxes)) maxRead = 0;
    // The card may be turned: lines are placed in the frame of the text's dominant direction, so
    // that rows and reading order hold for a card photographed at an angle.
    const double angle = dominantAngle(*boxes);
    const double cosA = std::cos(angle), sinA = std::sin(angle);
    std::vector<TextLine> lines;
    double area = 0;
    int readCount = 0;
    for (const auto& box : *boxes) {
        cv::Point2f centre(0, 0);
        for (const auto& c : box.corners)
            centre += c * 0.25f;
        const float along = float(centre.x * cosA + centre.y * sinA);
        const float across = float(-centre.x * sinA + centre.y * cosA);
        const float top = across - box.height / 2, left = along - box.width / 2;
        area += double(box.width) * box.height;
        if (readCount++ >= maxRead) {
            lines.push_back(TextLine{QString(), 0, box.height, box.width, top, left});
            continue;
        }
        const auto read = recognize(image, box, found);
        if (!read) return read.error();
        const QString text = completeTerms(read->text, read->nearlyRead).trimmed();
        if (text.isEmpty() || read->confidence < kMinConfidence) {
            area -= double(box.width) * box.height;
            continue;
        }
        lines.push_back(TextLine{text, read->confidence, box.height, box.width, top, left});
    }
    page.textAreaShare = image.empty() ? 0 : area / (double(image.cols) * image.rows);

    // Rows: a line joins the row whose vertical middle lies within half its height.
    std::sort(lines.begin(), lines.end(), [](const TextLine& a, const TextLine& b) { return a.top < b.top; });
    for (const auto& line : lines) {
        const float middle = line.top + line.height / 2;
        auto row = std::find_if(page.rows.begin(), page.rows.end(), [&](const TextRow& r) {
            const TextLine& first = r.lines.front();
            return std::abs(first.top + first.height / 2 - middle) < std::min(first.height, line.height) / 2;
        });
        if (row == page.rows.end())
            page.rows.push_back(TextRow{{line}});
        else
            row->lines.push_back(line);
    }
    for (auto& row : page.rows)
        std::sort(row.lines.begin(), row.lines.end(),
                  [](const TextLine& a, const TextLine& b) { return a.left < b.left; });
    return page;
}

} // namespace engine
