#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace kestra {

// Window layouts are given in twips (1/1440 inch). At 96 dpi one pixel is 15
// twips; every conversion between the two goes through these helpers.
constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPx(double twips)
{
    const double px = twips / kTwipsPerPixel;
    return static_cast<int>(px >= 0 ? px + 0.5 : px - 0.5);
}

constexpr int pxToTwips(int px)
{
    return px * kTwipsPerPixel;
}

QRect twipsRect(int left, int top, int width, int height);

// Places `w` at the given twips geometry relative to its parent.
void setGeometryTwips(QWidget *w, int left, int top, int width, int height);

// Geometry of a widget in twips.
QRect geometryTwips(const QWidget *w);

} // namespace kestra
