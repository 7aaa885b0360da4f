#pragma once

#include <QPointer>
#include <QWidget>

namespace kestra {

// Registry of the program's single-instance windows.
//
// form<T>() returns the one instance of window T, creating it on first use; the
// constructor is the window's load step, so touching a window that is not
// loaded loads it. A window unloads by closing (every form sets
// Qt::WA_DeleteOnClose); the registry then forgets it and the next use creates
// it afresh. Windows are top-level and shown modeless.
template <class T>
class FormSlot
{
public:
    static QPointer<T> &instance()
    {
        static QPointer<T> slot;
        return slot;
    }
};

template <class T>
T *form()
{
    QPointer<T> &slot = FormSlot<T>::instance();
    if (!slot)
        slot = new T();
    return slot.data();
}

// The loaded instance, or nullptr when the window is not loaded.
template <class T>
T *loadedForm()
{
    return FormSlot<T>::instance().data();
}

// Unloads the window: it is forgotten at once (the next form<T>() creates a new
// one), closed (its close handler runs) and deleted once control returns to
// the event loop, so a window may unload itself from its own handlers.
template <class T>
void unloadForm()
{
    if (T *w = FormSlot<T>::instance().data()) {
        FormSlot<T>::instance().clear();
        w->setAttribute(Qt::WA_DeleteOnClose);
        if (!w->close()) {
            w->hide();
            w->deleteLater();
        }
    }
}

// The main window, which windows hand the screen back to when their task ends;
// null before it exists and after it is gone.
inline QPointer<QWidget> &mainWindowSlot()
{
    static QPointer<QWidget> slot;
    return slot;
}

} // namespace kestra
