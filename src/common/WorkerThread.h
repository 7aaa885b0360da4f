#pragma once

#include <atomic>
#include <functional>

class QObject;

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

// Carries a worker's progress ("n of count") to `show`, run on the thread of
// `receiver`. A run steps faster than a window repaints: at most one call
// waits there at a time, and it shows the latest figures.
class LatestProgress
{
public:
    LatestProgress(QObject *receiver, std::function<void(int n, int count)> show);
    // From any thread.
    void post(int n, int count);

private:
    QObject *m_receiver;
    std::function<void(int n, int count)> m_show;
    std::atomic<bool> m_pending{false};
    std::atomic<int> m_n{0};
    std::atomic<int> m_count{0};
};

} // namespace kestra
