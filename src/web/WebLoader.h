#pragma once

#include "web/WebPane.h"

#include <QString>

#include <functional>

namespace kestra {

// The web engine library: the file the program loads, by default
// <program folder>/../lib/kestra/libkestra_web.so (the installed layout,
// <prefix>/bin and <prefix>/lib/kestra, and the build tree's, <build>/src and
// <build>/lib/kestra). KESTRA_WEB_LIBRARY names another file.
QString webLibraryPath();

// The factory of the web engine library, loaded on the first call. A program
// that links the library has its entry point already and loads nothing.
// Null when the library cannot be loaded; `error` then says why. A failed
// load is tried again on the next call.
WebEngine *webEngine(QString *error);

// Called once, when the engine has been loaded (the sandbox notice).
void setWebEngineStarted(std::function<void()> started);

} // namespace kestra
