#include "common/SwapWindow.h"

#include <QWidget>

namespace kestra {

void SwapWindow(QWidget *next, QWidget *previous)
{
    if (!next)
        return;
    if (previous) {
        const QPoint corner = previous->pos(); // frame's top-left, as the user sees it
        next->move(corner);
    }
    next->show();
    next->raise();
    next->activateWindow();
    if (previous && previous != next)
        previous->hide();
}

} // namespace kestra
