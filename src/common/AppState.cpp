#include "common/AppState.h"

namespace kestra {

AppState &appState()
{
    static AppState state;
    return state;
}

void resetAppState()
{
    appState() = AppState{};
}

MailBusy::MailBusy()
{
    ++appState().mailBusy;
}

MailBusy::~MailBusy()
{
    --appState().mailBusy;
}

AppPaths appPaths()
{
    return AppPaths(appState().appFolder);
}

} // namespace kestra
