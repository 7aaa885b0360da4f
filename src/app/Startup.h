#pragma once

class QCoreApplication;

namespace kestra {

// Loads Qt's Japanese translations into `app`.
void installJapaneseTranslations(QCoreApplication &app);

// Chooses how the browser pane draws; called before the application object
// exists. The pane draws in software (no OpenGL driver is loaded) unless
// KESTRA_GPU=1 asks for OpenGL; QT_XCB_GL_INTEGRATION and QT_QUICK_BACKEND set
// by the user are kept.
void chooseRendering();

// Creates the application, prepares the application folder, shows the main
// window and runs the event loop until the main window closes.
int runApplication(int argc, char *argv[]);

} // namespace kestra
