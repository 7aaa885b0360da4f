#pragma once

#include <QLatin1String>
#include <QObject>
#include <QtGlobal>

#include <memory>

namespace kestra::test {

// The control `name` of `window`, found by its object name the way a user
// finds it on the screen: windows keep their controls to themselves. A missing
// control (or one of another type) ends the test program at once, where a null
// pointer would only crash it later and further from the cause.
template <class T> T *findControl(const QObject *window, const char *name)
{
    T *found = window ? window->findChild<T *>(QLatin1String(name)) : nullptr;
    if (!found)
        qFatal("no control \"%s\" of type %s in window %s", name, T::staticMetaObject.className(),
            window ? window->metaObject()->className() : "(none)");
    return found;
}

// The same for a window the test holds in a std::unique_ptr.
template <class T, class W> T *findControl(const std::unique_ptr<W> &window, const char *name)
{
    return findControl<T>(window.get(), name);
}

} // namespace kestra::test
