#include "common/WorkerThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>

#include <memory>

namespace kestra {

void runOnWorkerThread(const std::function<void()> &job)
{
    QEventLoop loop;
    std::unique_ptr<QThread> thread(QThread::create(job));
    // Queued to this thread: the loop ends after it has started, however
    // quickly the job is done.
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    thread->start();
    loop.exec();
    thread->wait();
}

void runOnMainThread(const std::function<void()> &call)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(app, call, Qt::BlockingQueuedConnection);
}

LatestProgress::LatestProgress(QObject *receiver, std::function<void(int n, int count)> show)
    : m_receiver(receiver), m_show(std::move(show))
{
}

void LatestProgress::post(int n, int count)
{
    m_n.store(n);
    m_count.store(count);
    if (m_pending.exchange(true))
        return;
    QMetaObject::invokeMethod(m_receiver, [this] {
        m_pending.store(false);
        m_show(m_n.load(), m_count.load());
    }, Qt::QueuedConnection);
}

} // namespace kestra
