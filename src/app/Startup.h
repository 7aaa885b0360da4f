#pragma once

class QCoreApplication;

namespace kestra {

// Loads Qt's Japanese translations into `app`.
void installJapaneseTranslations(QCoreApplication &app);

// Creates the application, prepares the application folder, shows the main
// window and runs the event loop until the main window closes.
int runApplication(int argc, char *argv[]);

} // namespace kestra
