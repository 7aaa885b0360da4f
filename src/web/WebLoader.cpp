#include "web/WebLoader.h"

#include <QCoreApplication>
#include <QLibrary>

#include <dlfcn.h>

namespace kestra {

namespace {

using Entry = WebEngine *(*)();

std::function<void()> &startedHandler()
{
    static std::function<void()> handler;
    return handler;
}

Entry loadEntry(QString *error)
{
    // Linked into this program (the tests link the library): nothing to load.
    if (void *linked = ::dlsym(RTLD_DEFAULT, KESTRA_WEB_ENTRY))
        return reinterpret_cast<Entry>(linked);
    QLibrary library(webLibraryPath());
    if (!library.load()) {
        *error = library.errorString();
        return nullptr;
    }
    // The library stays loaded for the rest of the run (QLibrary unloads only when asked).
    if (QFunctionPointer entry = library.resolve(KESTRA_WEB_ENTRY))
        return reinterpret_cast<Entry>(entry);
    *error = QStringLiteral("%1 に %2 がありません。").arg(library.fileName(), QLatin1String(KESTRA_WEB_ENTRY));
    return nullptr;
}

} // namespace

QString webLibraryPath()
{
    const QString chosen = qEnvironmentVariable("KESTRA_WEB_LIBRARY");
    if (!chosen.isEmpty())
        return chosen;
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/kestra/libkestra_web.so");
}

WebEngine *webEngine(QString *error)
{
    static WebEngine *engine = nullptr;
    if (engine)
        return engine;
    QString why;
    const Entry entry = loadEntry(&why);
    if (!entry) {
        if (error)
            *error = why;
        return nullptr;
    }
    engine = entry();
    if (startedHandler())
        startedHandler()();
    return engine;
}

void setWebEngineStarted(std::function<void()> started)
{
    startedHandler() = std::move(started);
}

} // namespace kestra
