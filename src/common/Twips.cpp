#include "common/Twips.h"

#include <QWidget>

namespace kestra {

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPx(left), twipsToPx(top), twipsToPx(width), twipsToPx(height));
}

void setGeometryTwips(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(twipsRect(left, top, width, height));
}

QRect geometryTwips(const QWidget *w)
{
    const QRect g = w->geometry();
    return QRect(pxToTwips(g.x()), pxToTwips(g.y()), pxToTwips(g.width()), pxToTwips(g.height()));
}

} // namespace kestra
