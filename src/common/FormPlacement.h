#pragma once

#include "common/Forms.h"

#include <QWidget>

class QLineEdit;

namespace kestra {

// Gives a top-level window a fixed client area of the given size in twips and
// puts it in the middle of the screen's available area.
void setClientSizeTwips(QWidget *w, int width, int height);
void centreOnScreen(QWidget *w);

// The window a box or window opened now must stand in front of: the modal
// dialog that holds the input, else a window of the program kept on top of all
// others (a window opened behind it could not be reached), else the active
// window. Null when the program has no window up.
QWidget *frontWindow();

// Shows a modeless window and brings it to the front, keeping what it holds.
// While a window is kept on top, the shown one is made its transient, so that
// the window manager keeps it above that window too.
void showInFront(QWidget *w);

// Esc anywhere in the window closes it, the way a dialog closes. A window that
// holds typed text asks in its close handler before the text is lost.
void closeOnEscape(QWidget *window);

// Keeps line breaks out of a one-line box: pasted or assigned text loses its
// CR and LF characters. Settings files hold one value per line and record
// fields end up in mail headers, so a value must never carry a line break.
void keepSingleLine(QLineEdit *box);

// Unloads `self`: through the registry when it is the registered window of its
// kind, otherwise by closing it (every window deletes itself on close).
template <class T>
void unloadSelf(T *self)
{
    if (loadedForm<T>() == self)
        unloadForm<T>();
    else
        self->close();
}

} // namespace kestra
