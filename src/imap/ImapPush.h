#pragma once

#include "imap/ImapMailbox.h"
#include "mail/MailPorts.h"

#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

namespace kestra {

// Push for an IMAP account: one connection IDLE on the INBOX, on a thread of
// its own, that calls `arrived` (on that thread) when the server tells of new
// mail. The IDLE is issued afresh every kIdleMs (servers end one after 30
// minutes); a connection that fails or drops is made again after a pause that
// starts at kFirstPauseMs and doubles up to kLongestPauseMs. After the machine
// slept (the wall clock ran ahead of the monotonic one, which stands still
// meanwhile) the connection is made afresh at once. Nothing is asked: a
// certificate or a plain-text log-in the user has not accepted keeps the push
// off until the next connection attempt. Destroying it stops it.
class ImapPush final : public MailboxWatch
{
public:
    static constexpr int kIdleMs = 25 * 60 * 1000;
    static constexpr int kFirstPauseMs = 5000;
    static constexpr int kLongestPauseMs = 5 * 60 * 1000;

    ImapPush(ImapMailboxSetup setup, MailboxAccount account, std::function<void()> arrived);
    ~ImapPush() override;
    ImapPush(const ImapPush &) = delete;
    ImapPush &operator=(const ImapPush &) = delete;

    // The IDLE is under way.
    bool listening() const { return m_listening.load(); }

private:
    void run();
    // Waits `ms`, or less when stopped.
    void pause(int ms);

    ImapMailboxSetup m_setup;
    MailboxAccount m_account;
    std::function<void()> m_arrived;
    std::atomic_bool m_stop{false};
    std::atomic_bool m_listening{false};
    std::unique_ptr<QThread> m_thread;
};

} // namespace kestra
