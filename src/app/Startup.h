#pragma once

#include <vector>

class QCoreApplication;

namespace kestra {

// Loads Qt's Japanese translations into `app`.
void installJapaneseTranslations(QCoreApplication &app);

// How the windows draw, chosen before the application object exists: no
// OpenGL driver is loaded, unless KESTRA_GPU=1 asks for OpenGL;
// QT_XCB_GL_INTEGRATION set by the user is kept.
struct RenderingChoice {
    bool glIntegrationSet = false; // QT_XCB_GL_INTEGRATION=none was set for the display connection
};
RenderingChoice chooseRendering();
// Once the application object exists: takes back the variable that was only
// meant for it, so that programs started from Kestra do not inherit it.
void settleRendering(const RenderingChoice &choice);

// The program's arguments for the application object, ending in a null
// pointer: as root the web engine's sandbox and with it its zygote are
// switched off on its command line (unless QTWEBENGINE_DISABLE_SANDBOX
// already says so).
std::vector<char *> withEngineArguments(int argc, char *argv[], bool root);

// Gives every buffer of 128 KiB or more pages of its own, which go back to
// the system as soon as it is freed (glibc; elsewhere nothing is done).
void keepLargeBuffersApart();

// Creates the application, prepares the application folder, shows the main
// window and runs the event loop until the main window closes.
int runApplication(int argc, char *argv[]);

} // namespace kestra
