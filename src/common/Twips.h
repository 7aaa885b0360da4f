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

// Twips layouts are drawn for a 9 pt font (12 px at 96 dpi). A window that
// calls growWithText() before placing its controls grows with a larger font
// (a larger system font, 125 % scaling): its twips then count that much more,
// so every text keeps fitting its control. Other windows keep 15 twips a pixel.
void growWithText(QWidget *window);
// How much the twips of `w`'s window count: 1, or the window's font size over
// the design font's when it grows with text.
double twipsScale(const QWidget *w);
// Twips in pixels for the window of `w`.
int twipsToPx(const QWidget *w, double twips);

// Places `w` at the given twips geometry relative to its parent.
void setGeometryTwips(QWidget *w, int left, int top, int width, int height);

// Geometry of a widget in twips.
QRect geometryTwips(const QWidget *w);

} // namespace kestra
