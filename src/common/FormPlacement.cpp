#include "common/FormPlacement.h"

#include "common/Twips.h"

#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QShortcut>
#include <QWidget>
#include <QWindow>

namespace kestra {

void setClientSizeTwips(QWidget *w, int width, int height)
{
    w->setFixedSize(twipsToPx(w, width), twipsToPx(w, height));
}

void centreOnScreen(QWidget *w)
{
    QScreen *screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    w->move(area.center() - w->rect().center());
}

namespace {

QWidget *windowKeptOnTop()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = w->windowType();
        if (w->isVisible() && (w->windowFlags() & Qt::WindowStaysOnTopHint)
            && (type == Qt::Window || type == Qt::Dialog))
            return w;
    }
    return nullptr;
}

} // namespace

QWidget *frontWindow()
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget *top = windowKeptOnTop())
        return top;
    return QApplication::activeWindow();
}

void showInFront(QWidget *w)
{
    QWidget *top = windowKeptOnTop();
    if (top && top != w && !(w->windowFlags() & Qt::WindowStaysOnTopHint)) {
        w->winId(); // the native window exists from here on
        w->windowHandle()->setTransientParent(top->windowHandle());
    }
    w->show();
    w->raise();
    w->activateWindow();
}

void closeOnEscape(QWidget *window)
{
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    QObject::connect(escape, &QShortcut::activated, window, &QWidget::close);
}

void keepSingleLine(QLineEdit *box)
{
    QObject::connect(box, &QLineEdit::textChanged, box, [box](const QString &text) {
        if (!text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n')))
            return;
        QString cleaned = text;
        cleaned.remove(QLatin1Char('\r'));
        cleaned.remove(QLatin1Char('\n'));
        box->setText(cleaned);
    });
}

} // namespace kestra
