#include "samples/Scenes.h"
#include "samples/SceneCanvas.h"

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <opencv2/imgproc.hpp>

#include <fstream>
#include <stdexcept>

namespace scenes {
namespace {

const QStringList kObjects = {"鼎", "簋", "尊", "爵", "觚", "壶", "罐", "瓶",
                              "碗", "盘", "璧", "琮", "俑", "镜", "剑", "杯"};
const QStringList kMaterials = {"青铜", "白玉", "彩绘陶", "青花瓷", "漆木",
                                "金",   "银",   "三彩",   "黑陶",   "铜鎏金"};
const QStringList kPatterns = {"饕餮纹", "云雷纹", "缠枝莲纹", "兽面纹", "蟠螭纹",
                               "龙纹",   "凤鸟纹", "几何纹",   "莲瓣纹", ""};
const QStringList kPlaces = {"河南安阳殷墟",   "陕西西安",     "湖北随州曾侯乙墓", "浙江余杭反山",
                             "四川广汉三星堆", "河北满城汉墓", "湖南长沙马王堆",   "江苏徐州狮子山",
                             "山西侯马",       "甘肃武威雷台"};
const QStringList kHoldings = {"故宫博物院藏", "上海博物馆藏", "南京博物院藏", "湖北省博物馆藏",
                               "国家博物馆藏"};
const QStringList kPeriods = {"商代晚期", "西周早期", "春秋",   "战国",   "西汉",     "东汉",
                              "唐",       "北宋",     "明永乐", "清乾隆", "良渚文化", "仰韶文化"};
const QString kProse = QStringLiteral(
    "本单元展出的文物反映了古代社会的礼制与生活面貌。青铜礼器是祭祀与宴飨的重要用具，其组合与纹饰体现了等级"
    "秩序。考古发掘表明，这一时期的手工业已有相当规模，铸造、琢玉、制陶等技艺相互影响，形成了鲜明的地域特色。"
    "展品多出土于大型墓葬与遗址，为研究当时的宗教信仰、社会结构和对外交流提供了珍贵的实物资料。");

} // namespace

namespace canvas {

QString pick(const QStringList& list, std::mt19937& rng) {
    return list.at(int(rng() % unsigned(list.size())));
}

platform::Bitmap toBitmap(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    return platform::Bitmap(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar*>(rgb.bits()),
                            static_cast<size_t>(rgb.bytesPerLine()))
        .clone();
}

/// A museum wall: a warm or cool gradient under a spotlight.
static void paintWall(QPainter& p, int w, int h, std::mt19937& rng) {
    const int base = 40 + int(rng() % 150);
    QLinearGradient g(0, 0, w * 0.3, h);
    g.setColorAt(0, QColor(base + 20, base + 15, base + int(rng() % 20)));
    g.setColorAt(1, QColor(base - 20 > 0 ? base - 20 : 0, base - 25 > 0 ? base - 25 : 0, base - 10));
    p.fillRect(0, 0, w, h, g);
    QRadialGradient spot(w * (0.3 + (rng() % 40) / 100.0), h * 0.3, std::max(w, h) * 0.7);
    spot.setColorAt(0, QColor(255, 250, 235, 70));
    spot.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(0, 0, w, h, spot);
}

Canvas::Canvas(int width, int height, std::mt19937& rng)
    : image(width, height, QImage::Format_RGB888), painter(&image) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    paintWall(painter, width, height, rng);
}

/// Camera effects: a slight perspective tilt, blur, sensor noise and uneven light.
platform::Bitmap photograph(const QImage& drawn, std::mt19937& rng, double tiltAmount) {
    platform::Bitmap image = toBitmap(drawn);
    const int w = image.cols, h = image.rows;
    auto jitter = [&](double range) { return (double(rng() % 2001) / 1000.0 - 1.0) * range; };
    const cv::Point2f src[4] = {{0, 0}, {float(w), 0}, {float(w), float(h)}, {0, float(h)}};
    const cv::Point2f dst[4] = {{float(jitter(tiltAmount) * w), float(jitter(tiltAmount) * h)},
                                {float(w + jitter(tiltAmount) * w), float(jitter(tiltAmount) * h)},
                                {float(w + jitter(tiltAmount) * w), float(h + jitter(tiltAmount) * h)},
                                {float(jitter(tiltAmount) * w), float(h + jitter(tiltAmount) * h)}};
    cv::warpPerspective(image, image, cv::getPerspectiveTransform(src, dst), image.size(), cv::INTER_LINEAR,
                        cv::BORDER_REPLICATE);
    const double sigma = 0.4 + (rng() % 100) / 100.0;
    cv::GaussianBlur(image, image, cv::Size(0, 0), sigma);
    cv::Mat light(h, w, CV_32F);
    const double cx = w * (0.2 + (rng() % 60) / 100.0), cy = h * (0.2 + (rng() % 60) / 100.0);
    const double strength = 0.25 + (rng() % 30) / 100.0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double d = std::hypot(x - cx, y - cy) / std::hypot(w, h);
            light.at<float>(y, x) = float(1.0 - strength * d * 1.5);
        }
    cv::Mat f;
    image.convertTo(f, CV_32FC3);
    std::vector<cv::Mat> ch;
    cv::split(f, ch);
    for (auto& c : ch)
        c = c.mul(light);
    cv::merge(ch, f);
    // Drawn from the scene's seed, not from OpenCV's shared generator, so that one seed is one
    // picture whatever was rendered before it in the process.
    cv::Mat noise(f.size(), CV_32FC3);
    const double noiseSigma = 3 + rng() % 5;
    cv::RNG(rng()).fill(noise, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(noiseSigma));
    f += noise;
    f.convertTo(image, CV_8UC3);
    return image;
}

QFont font(const QString& family, int pixelSize, bool bold) {
    QFont f(family);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

} // namespace canvas

using namespace canvas;

LabelCard randomLabel(unsigned seed) {
    std::mt19937 rng(seed * 7919u + 17u);
    LabelCard card;
    card.name = pick(kMaterials, rng) + pick(kPatterns, rng) + pick(kObjects, rng);
    card.source = (rng() % 3 == 0) ? pick(kHoldings, rng) : pick(kPlaces, rng) + QStringLiteral("出土");
    card.period = pick(kPeriods, rng);
    card.other << QStringLiteral("高 %1 厘米  口径 %2 厘米").arg(10 + rng() % 60).arg(5 + rng() % 30);
    if (rng() % 2) card.other << QStringLiteral("%1年征集").arg(1950 + rng() % 70);
    return card;
}

platform::Bitmap renderLabel(const LabelCard& card, unsigned seed, int width, int height) {
    std::mt19937 rng(seed);
    Canvas canvas(width, height, rng);
    QPainter& p = canvas.painter;

    // The card fills a good part of the frame, as when the photographer steps up to read it.
    const double share = 0.55 + (rng() % 30) / 100.0;
    const int cw = int(width * share), ch = int(cw * (0.55 + (rng() % 20) / 100.0));
    const int cx = (width - cw) / 2 + int(rng() % 60) - 30, cy = (height - ch) / 2 + int(rng() % 60) - 30;
    p.fillRect(cx + 8, cy + 10, cw, ch, QColor(0, 0, 0, 90));
    const bool dark = rng() % 4 == 0;
    p.fillRect(cx, cy, cw, ch, dark ? QColor(40, 38, 36) : QColor(236, 232, 222));
    const QColor ink = dark ? QColor(230, 225, 210) : QColor(30, 28, 26);
    const QString family =
        rng() % 2 ? QStringLiteral("Noto Serif CJK SC") : QStringLiteral("Noto Sans CJK SC");
    const int big = std::max(14, ch / 9), small = std::max(10, ch / 15);
    int y = cy + ch / 7;
    const int x = cx + cw / 12;
    p.setPen(ink);
    p.setFont(font(family, big, true));
    p.drawText(x, y + big, card.name);
    y += int(big * 1.9);
    p.setFont(font(family, small));
    QStringList lines = {card.period + QStringLiteral("  ") + card.source};
    lines += card.other;
    for (const QString& line : lines) {
        p.drawText(x, y + small, line);
        y += int(small * 1.7);
    }
    p.end();
    return photograph(canvas.image, rng);
}

platform::Bitmap renderPanel(unsigned seed, int width, int height) {
    std::mt19937 rng(seed);
    Canvas canvas(width, height, rng);
    QPainter& p = canvas.painter;
    const int bx = width / 20, by = height / 20, bw = width - 2 * bx, bh = height - 2 * by;
    const QColor board = QColor::fromHsv(int(rng() % 360), 40 + int(rng() % 80), 120 + int(rng() % 120));
    p.fillRect(bx, by, bw, bh, board);
    const QColor ink = board.value() > 170 ? QColor(25, 25, 25) : QColor(245, 240, 230);
    p.setPen(ink);
    const int title = bh / 12, body = std::max(12, bh / 30);
    p.setFont(font(QStringLiteral("Noto Sans CJK SC"), title, true));
    p.drawText(bx + bw / 16, by + title * 2, pick(kPeriods, rng) + QStringLiteral("的礼制与生活"));
    p.setFont(font(QStringLiteral("Noto Sans CJK SC"), body));
    const bool map = rng() % 2;
    const int textWidth = map ? bw / 2 : bw - bw / 8;
    int y = by + title * 3 + body;
    int offset = int(rng() % 40);
    const int perLine = std::max(8, textWidth / body);
    while (y < by + bh - body * 2) {
        p.drawText(bx + bw / 16, y, kProse.mid((offset * 7) % (kProse.size() - perLine), perLine));
        y += int(body * 1.6);
        ++offset;
    }
    if (map) {
        const QRect area(bx + bw * 5 / 8, by + title * 3, bw / 3, bh / 2);
        p.fillRect(area, QColor(210, 200, 170));
        p.setPen(QPen(QColor(90, 60, 40), 3));
        for (int i = 0; i < 5; ++i)
            p.drawLine(area.left() + int(rng() % unsigned(area.width())),
                       area.top() + int(rng() % unsigned(area.height())),
                       area.left() + int(rng() % unsigned(area.width())),
                       area.top() + int(rng() % unsigned(area.height())));
        p.setFont(font(QStringLiteral("Noto Sans CJK SC"), body));
        p.drawText(area.left() + 10, area.bottom() - 10, pick(kPlaces, rng));
    }
    p.end();
    return photograph(canvas.image, rng, 0.03);
}

platform::Bitmap renderObject(ObjectKind kind, unsigned seed, int width, int height, unsigned view) {
    std::mt19937 rng(seed);
    Canvas canvas(width, height, rng);
    QPainter& p = canvas.painter;
    const QColor body = QColor::fromHsv(int(rng() % 360), 60 + int(rng() % 150), 80 + int(rng() % 150));
    const double cx = width * (0.4 + (rng() % 20) / 100.0), base = height * 0.85;
    // Plinth and shadow.
    p.fillRect(QRectF(cx - width * 0.3, base, width * 0.6, height * 0.2), QColor(30, 30, 32));
    p.setBrush(QColor(0, 0, 0, 80));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(cx + width * 0.05, base), width * 0.22, height * 0.03);
    QRadialGradient shade(cx - width * 0.08, height * 0.45, width * 0.35);
    shade.setColorAt(0, body.lighter(160));
    shade.setColorAt(0.6, body);
    shade.setColorAt(1, body.darker(250));
    p.setBrush(shade);
    QPainterPath path;
    const double s = std::min(width, height) * (0.8 + (rng() % 30) / 100.0);
    switch (kind) {
    case ObjectKind::vessel:
        path.moveTo(cx - s * 0.12, base);
        path.cubicTo(cx - s * 0.45, base - s * 0.3, cx - s * 0.3, base - s * 0.55, cx - s * 0.1,
                     base - s * 0.7);
        path.lineTo(cx + s * 0.1, base - s * 0.7);
        path.cubicTo(cx + s * 0.3, base - s * 0.55, cx + s * 0.45, base - s * 0.3, cx + s * 0.12, base);
        path.closeSubpath();
        break;
    case ObjectKind::bowl:
        path.moveTo(cx - s * 0.4, base - s * 0.3);
        path.cubicTo(cx - s * 0.35, base - s * 0.05, cx + s * 0.35, base - s * 0.05, cx + s * 0.4,
                     base - s * 0.3);
        path.closeSubpath();
        path.addRect(cx - s * 0.1, base - s * 0.06, s * 0.2, s * 0.06);
        break;
    case ObjectKind::figure:
        path.addEllipse(QPointF(cx, base - s * 0.62), s * 0.07, s * 0.09);
        path.moveTo(cx - s * 0.05, base - s * 0.52);
        path.cubicTo(cx - s * 0.25, base - s * 0.4, cx - s * 0.2, base - s * 0.1, cx - s * 0.15, base);
        path.lineTo(cx + s * 0.15, base);
        path.cubicTo(cx + s * 0.2, base - s * 0.1, cx + s * 0.25, base - s * 0.4, cx + s * 0.05,
                     base - s * 0.52);
        path.closeSubpath();
        break;
    case ObjectKind::painting: {
        const QRectF frame(width * 0.15, height * 0.1, width * 0.7, height * 0.7);
        p.fillRect(frame.adjusted(-20, -20, 20, 20), QColor(90, 60, 30));
        QLinearGradient sky(frame.topLeft(), frame.bottomLeft());
        sky.setColorAt(0, QColor(200, 210, 220));
        sky.setColorAt(1, QColor(230, 220, 190));
        p.fillRect(frame, sky);
        p.setPen(QPen(QColor(50, 60, 50, 200), 6));
        for (int i = 0; i < 40; ++i) {
            const double x0 = frame.left() + (rng() % 1000) / 1000.0 * frame.width();
            const double y0 = frame.top() + frame.height() * (0.4 + (rng() % 600) / 1000.0);
            p.drawLine(QPointF(x0, y0), QPointF(x0 + (rng() % 80) - 40, y0 - double(rng() % 200)));
        }
        p.setPen(Qt::NoPen);
        break;
    }
    }
    p.drawPath(path);
    if (kind != ObjectKind::painting) {
        // Decoration on the body only: bands and scrolls, like cast or painted motifs.
        p.setClipPath(path);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(body.darker(180), std::max(2.0, s * 0.01)));
        for (int i = 0; i < 3; ++i)
            p.drawLine(QPointF(cx - s * 0.4, base - s * (0.12 + 0.1 * i)),
                       QPointF(cx + s * 0.4, base - s * (0.12 + 0.1 * i)));
        p.setPen(QPen(body.lighter(140), std::max(1.5, s * 0.006)));
        for (int i = 0; i < 6; ++i) {
            QPainterPath scroll;
            const double x0 = cx - s * 0.3 + (rng() % 600) / 1000.0 * s,
                         y0 = base - s * (0.1 + (rng() % 500) / 1000.0);
            scroll.moveTo(x0, y0);
            scroll.cubicTo(x0 + s * 0.05, y0 - s * 0.05, x0 + s * 0.1, y0 + s * 0.05, x0 + s * 0.15, y0);
            p.drawPath(scroll);
        }
        p.setClipping(false);
    }
    p.end();
    // Another viewpoint of the same object: the same object, another camera.
    std::mt19937 camera(seed * 31u + view * 7919u + 1u);
    return photograph(canvas.image, view == 0 ? rng : camera, view == 0 ? 0.04 : 0.04 + 0.02 * (view % 3));
}

platform::Bitmap renderObject(unsigned seed, int width, int height) {
    return renderObject(static_cast<ObjectKind>(seed % 4), seed, width, height, 0);
}

void writePhoto(const std::filesystem::path& path, const platform::Bitmap& image,
                const QString& dateTimeOriginal) {
    const auto jpeg = platform::encodeJpeg(image, 90);
    if (!jpeg) throw std::runtime_error("cannot encode scene");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg->data()), std::streamsize(jpeg->size()));
    if (!dateTimeOriginal.isEmpty() && !platform::writeExifDates(path, dateTimeOriginal))
        throw std::runtime_error("cannot write the capture date");
}

} // namespace scenes
