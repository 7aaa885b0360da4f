#pragma once

#include <vector>

class QCoreApplication;

namespace kestra {

// Loads Qt's Japanese translations into `app`.
void installJapaneseTranslations(QCoreApplication &app);

// How the browser pane draws, chosen before the application object exists.
// It draws in software and no OpenGL driver is loaded, unless KESTRA_GPU=1
// asks for OpenGL; QT_XCB_GL_INTEGRATION and QT_QUICK_BACKEND set by the user
// are kept.
struct RenderingChoice {
    bool glIntegrationSet = false; // QT_XCB_GL_INTEGRATION=none was set for the display connection
    bool software = false;         // the web view's scene graph draws in software
};
RenderingChoice chooseRendering();
// Once the application object exists: takes back the variable that was only
// meant for it, so that programs started from Kestra do not inherit it.
void settleRendering(const RenderingChoice &choice);

// The program's arguments for the application object, ending in a null
// pointer: as root the web engine's sandbox is switched off on its command
// line (unless QTWEBENGINE_DISABLE_SANDBOX already says so).
std::vector<char *> withEngineArguments(int argc, char *argv[], bool root);

// Creates the application, prepares the application folder, shows the main
// window and runs the event loop until the main window closes.
int runApplication(int argc, char *argv[]);

} // namespace kestra
