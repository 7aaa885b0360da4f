#include "settings/MailOptionsInForce.h"

#include "common/AppState.h"

namespace kestra {

MailOptions mailOptionsInForce()
{
    if (appState().appFolder.isEmpty())
        return mailOptionsFrom(QString(), QString(), appState().settings);
    const AppPaths paths = appPaths();
    return mailOptionsFrom(paths.extraIni(), paths.idPassIni(), appState().settings);
}

} // namespace kestra
