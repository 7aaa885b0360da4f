#include "common/FormPlacement.h"

#include "common/Twips.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QShortcut>
#include <QWidget>

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

void showInFront(QWidget *w)
{
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
