#pragma once

#include "mail/MailboxSession.h"
#include "net/ServerSecurity.h"
#include "pop3/Pop3Session.h"

#include <QByteArray>
#include <QTemporaryFile>

#include <functional>
#include <memory>

namespace kestra {

// How a POP3 mailbox connects: the transport's bounds and extra authorities
// (Pop3Options: connect and read timeouts, CAs trusted besides the system's),
// the server settings window's choices, and the trust policy (what the
// program remembers about servers, in `memoryIni`, and the prompt that asks
// the user; without a prompt every question counts as No, and without a
// memory file nothing is asked or remembered and no password goes in clear).
struct Pop3MailboxSetup {
    Pop3Options transport;
    ServerConnection connection;
    QString memoryIni;
    SecurityPrompt *prompt = nullptr;
};

// The mailbox port over a Pop3Session. A fetched message goes into memory
// as it arrives and moves to a private file once it outgrows kInMemoryLargest;
// one such file serves the whole session.
class Pop3Mailbox final : public MailboxSession
{
public:
    static constexpr qint64 kInMemoryLargest = 4 * 1024 * 1024;

    explicit Pop3Mailbox(Pop3MailboxSetup setup);
    ~Pop3Mailbox() override;
    Pop3Mailbox(const Pop3Mailbox &) = delete;
    Pop3Mailbox &operator=(const Pop3Mailbox &) = delete;

    void setCancelCheck(std::function<bool()> check) override { m_cancelCheck = std::move(check); }
    Status open(const MailboxAccount &account) override;
    Result<int> login() override;
    Result<MailboxListing> list(bool uniqueIds) override;
    Result<QByteArray> header(int number) override;
    Result<RawMessage> fetch(int number) override;
    Status remove(int number) override;
    Status close() override;
    Status abandon() override;
    bool broken() const override;

    // The session under the port, once opened (tests look at its state).
    Pop3Session *session() const { return m_session.get(); }

private:
    Error noSession() const;
    Error failed(Error error);

    Pop3MailboxSetup m_setup;
    MailboxAccount m_account;
    std::function<bool()> m_cancelCheck;
    std::unique_ptr<Pop3Session> m_session;
    int m_count = 0;
    Error m_lastError; // the failure that broke the session, given again by close()
    std::shared_ptr<QTemporaryFile> m_file; // holds the large messages, one at a time
};

} // namespace kestra
