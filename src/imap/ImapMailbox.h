#pragma once

#include "imap/ImapSession.h"
#include "mail/MailboxSession.h"

#include <QHash>
#include <QList>

#include <memory>

namespace kestra {

// How an IMAP mailbox connects: the transport, the server settings window's
// choices and the trust policy, as for POP3 (see Pop3MailboxSetup).
struct ImapMailboxSetup {
    ImapOptions transport;
    ServerConnection connection;
    QString memoryIni;
    SecurityPrompt *prompt = nullptr;
    // Push only: login() selects the INBOX and gives its count, without the
    // listing and without taking note of a renumbering (the run tells that).
    bool watching = false;
};

// The mailbox port over IMAP: the INBOX, its messages numbered 1.. in UID
// order, each with the unique id "<UIDVALIDITY>.<UID>" so that the fetched-id
// journal tells what earlier runs took. Fetching never sets \Seen by itself
// (BODY.PEEK[]); the messages fetched are marked \Seen when the session is
// closed, and those removed get \Deleted and go with UID EXPUNGE of exactly
// them where the server offers UIDPLUS (never a bare EXPUNGE, which would take
// other clients' deletions too); abandon() changes nothing on the server.
//
// Fetches go out as ranges (UID FETCH of many messages in one command), the
// next range asked while the caller stores the last one.
//
// A changed UIDVALIDITY (the server renumbered the INBOX) would make every
// message look new: the change is told once, as the log-in's error, and the
// messages on the server at that moment are taken as received (kestra2.ini
// [imap-uidvalidity] remembers the new value and the first UID after them).
class ImapMailbox final : public MailboxSession
{
public:
    // A range holds at most this many messages and bytes (RFC822.SIZE); a
    // larger message is asked alone.
    static constexpr int kRangeMessages = 64;
    static constexpr qint64 kRangeBytes = 4 * 1024 * 1024;
    // The most messages an INBOX may announce.
    static constexpr qint64 kMostMessages = 1000000;

    explicit ImapMailbox(ImapMailboxSetup setup);
    ~ImapMailbox() override;
    ImapMailbox(const ImapMailbox &) = delete;
    ImapMailbox &operator=(const ImapMailbox &) = delete;

    void setCancelCheck(std::function<bool()> check) override { m_cancelCheck = std::move(check); }
    Status open(const MailboxAccount &account) override;
    Result<int> login() override;
    Result<MailboxListing> list(bool uniqueIds) override;
    Result<QByteArray> header(int number) override;
    Result<RawMessage> fetch(int number) override;
    Status remove(int number) override;
    Status close() override;
    Status abandon() override;
    bool broken() const override { return !m_session || m_session->broken(); }

    ImapSession *session() const { return m_session.get(); }

private:
    struct Message {
        qint64 uid = 0;
        qint64 size = -1;
    };
    Error noSession() const;
    Status select();
    Status listMessages(qint64 exists);
    Status adoptRenumbered(qint64 uidValidity);
    // Hands a FETCH response's items to `take`; other responses pass. A FETCH
    // that cannot be read ends the session (false).
    bool eachFetch(const ImapResponse &response, const std::function<void(const ImapFetch &)> &take);
    // Sends the UID FETCH of the range starting at message `number`.
    void askRange(int number);
    // Reads the answer of the range under way into m_fetched.
    Status readRange();
    Status storeFlags(const QList<qint64> &uids, const QByteArray &flag);

    ImapMailboxSetup m_setup;
    MailboxAccount m_account;
    std::function<bool()> m_cancelCheck;
    std::unique_ptr<ImapSession> m_session;
    qint64 m_uidValidity = 0;
    qint64 m_uidNext = 0;
    QList<Message> m_messages;          // by number - 1, UID order
    QByteArray m_rangeTag;               // the range under way, empty: none
    int m_rangeEnd = 0;                  // its last message number
    QHash<qint64, QByteArray> m_fetched; // bodies read ahead, by UID
    QList<qint64> m_seen;                // fetched: \Seen at close
    QList<qint64> m_removed;             // \Deleted at close
};

// "1:5,7,9:12" for ascending UIDs.
QByteArray imapUidSet(QList<qint64> uids);

} // namespace kestra
