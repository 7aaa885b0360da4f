#include "imap/ImapPush.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>

namespace kestra {

namespace {

// A wall clock this far ahead of the monotonic one means the machine slept.
constexpr qint64 kSleptMs = 60 * 1000;

} // namespace

ImapPush::ImapPush(ImapMailboxSetup setup, MailboxAccount account, std::function<void()> arrived)
    : m_setup(std::move(setup))
    , m_account(std::move(account))
    , m_arrived(std::move(arrived))
{
    m_setup.watching = true;
    m_setup.prompt = nullptr;
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->start();
}

ImapPush::~ImapPush()
{
    m_stop = true;
    m_thread->wait();
}

void ImapPush::pause(int ms)
{
    const QDeadlineTimer until(ms);
    while (!m_stop && !until.hasExpired())
        QThread::msleep(100);
}

void ImapPush::run()
{
    int pauseMs = kFirstPauseMs;
    while (!m_stop) {
        ImapMailbox mailbox(m_setup);
        mailbox.setCancelCheck([this] { return m_stop.load(); });
        bool slept = false;
        if (mailbox.open(m_account) && mailbox.login()) {
            pauseMs = kFirstPauseMs;
            while (!m_stop && !slept) {
                QElapsedTimer monotonic;
                monotonic.start();
                const qint64 wallStart = QDateTime::currentMSecsSinceEpoch();
                const Result<bool> news = mailbox.session()->idle(kIdleMs, [&] {
                    m_listening = true; // asked only once the server idles
                    slept = QDateTime::currentMSecsSinceEpoch() - wallStart > monotonic.elapsed() + kSleptMs;
                    return m_stop.load() || slept;
                });
                if (!news)
                    break;
                if (news.value())
                    m_arrived();
            }
            m_listening = false;
        }
        (void)mailbox.abandon();
        if (!slept) {
            pause(pauseMs);
            pauseMs = qMin(pauseMs * 2, kLongestPauseMs);
        }
    }
}

} // namespace kestra
