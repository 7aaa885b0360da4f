#include "common/HoverHelp.h"

#include <QEvent>
#include <QMouseEvent>
#include <QWidget>

namespace kestra {

namespace {

// Parts Qt builds inside a control carry no name or one of its own "qt_" names.
bool isNamedControl(const QWidget *w)
{
    const QString name = w->objectName();
    return !name.isEmpty() && !name.startsWith(QLatin1String("qt_"));
}

} // namespace

HoverHelp::HoverHelp(QWidget *window, Handler onControl)
    : QObject(window)
    , m_window(window)
    , m_onControl(std::move(onControl))
{
}

void HoverHelp::watch(std::initializer_list<QWidget *> widgets)
{
    for (QWidget *w : widgets) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
}

QWidget *HoverHelp::controlAt(QPoint pos) const
{
    QWidget *w = m_window->childAt(pos);
    while (w && w != m_window && !isNamedControl(w))
        w = w->parentWidget();
    return w ? w : m_window;
}

bool HoverHelp::eventFilter(QObject *watched, QEvent *event)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget)
        return false;
    // Enter and move events from the window system carry the pointer's place.
    if ((event->type() != QEvent::MouseMove && event->type() != QEvent::Enter) || !event->isSinglePointEvent())
        return false;
    const auto *pointer = static_cast<QSinglePointEvent *>(event);
    const QPoint pos = widget->mapTo(m_window, pointer->position().toPoint());
    m_onControl(controlAt(pos));
    return false;
}

} // namespace kestra
