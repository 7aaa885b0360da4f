#pragma once

#include <functional>

namespace kestra {

// Runs `job` on a thread of its own and returns when it has ended. Meanwhile
// the calling thread's event loop goes on: windows repaint, timers fire, and
// user input is delivered. The caller shows an application-modal dialog for
// the time (a progress dialog that can stop the job), so that no other
// window acts in the middle of the job.
void runOnWorkerThread(const std::function<void()> &job);

// Runs `call` on the application's main thread and waits for it: the way a
// worker thread asks the user something. On the main thread it simply runs.
void runOnMainThread(const std::function<void()> &call);

} // namespace kestra
