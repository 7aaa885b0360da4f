#pragma once

namespace kestra {

// Creates the application, prepares the application folder, shows the main
// window and runs the event loop until the main window closes.
int runApplication(int argc, char *argv[]);

} // namespace kestra
