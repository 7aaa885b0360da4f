#include "common/Twips.h"

#include <QFontInfo>
#include <QVariant>
#include <QWidget>

namespace kestra {

namespace {
constexpr char kGrowsWithText[] = "kestraGrowsWithText";
constexpr double kDesignFontPx = 12;
} // namespace

void growWithText(QWidget *window)
{
    window->setProperty(kGrowsWithText, true);
}

double twipsScale(const QWidget *w)
{
    const QWidget *window = w->window();
    if (!window->property(kGrowsWithText).toBool())
        return 1;
    return qMax(1.0, QFontInfo(window->font()).pixelSize() / kDesignFontPx);
}

int twipsToPx(const QWidget *w, double twips)
{
    return twipsToPx(twips * twipsScale(w));
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPx(left), twipsToPx(top), twipsToPx(width), twipsToPx(height));
}

void setGeometryTwips(QWidget *w, int left, int top, int width, int height)
{
    const double scale = twipsScale(w);
    w->setGeometry(twipsRect(int(left * scale), int(top * scale), int(width * scale), int(height * scale)));
}

QRect geometryTwips(const QWidget *w)
{
    const QRect g = w->geometry();
    return QRect(pxToTwips(g.x()), pxToTwips(g.y()), pxToTwips(g.width()), pxToTwips(g.height()));
}

} // namespace kestra
