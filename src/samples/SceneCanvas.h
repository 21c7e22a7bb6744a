#pragma once

// What the scene renderers share: a museum wall to draw on, the camera's effects, type faces.

#include "platform/Imaging.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QStringList>

#include <random>

namespace scenes::canvas {

QString pick(const QStringList& list, std::mt19937& rng);

/// A blank photograph of a museum wall, with a painter ready on it.
struct Canvas {
    QImage image;
    QPainter painter;
    Canvas(int width, int height, std::mt19937& rng);
};

/// Camera effects: a slight perspective tilt, blur, sensor noise and uneven light.
platform::Bitmap photograph(const QImage& drawn, std::mt19937& rng, double tiltAmount = 0.04);

QFont font(const QString& family, int pixelSize, bool bold = false);

} // namespace scenes::canvas
