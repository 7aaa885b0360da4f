#pragma once

#include <QObject>
#include <QPoint>

#include <functional>
#include <initializer_list>

class QWidget;

namespace kestra {

// Follows the pointer over a window's controls for its hover help and reports
// the control the pointer rests on.
//
// A mouse move that a control does not take (a push button ignores plain moves)
// passes on to the frames and panels around it, and each of them sees it too.
// Every event is therefore judged by the control under the pointer, never by
// the widget it was delivered to: a frame cannot undo what the button inside it
// has just shown. The control is the innermost named widget at the pointer;
// the unnamed parts inside a control (a list's viewport, a toolbar's buttons)
// count as that control.
class HoverHelp final : public QObject
{
public:
    using Handler = std::function<void(QWidget *control)>;

    // `onControl` is called with the control under the pointer, or with the
    // window itself over its background.
    HoverHelp(QWidget *window, Handler onControl);

    // Listens to pointer moves and entries over these widgets.
    void watch(std::initializer_list<QWidget *> widgets);

    // The control at `pos` in the window's coordinates.
    QWidget *controlAt(QPoint pos) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    Handler m_onControl;
};

} // namespace kestra
