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

} // namespace kestra
