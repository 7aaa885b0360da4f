#pragma once

#include "common/Result.h"
#include "mail/RawMessage.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace kestra {

// Whose mailbox a session opens and how much of a message it takes.
struct MailboxAccount {
    QString server;   // the name the user typed ("host", "host:port", "pop3s://host" ...)
    QString id;
    QString password;
    bool apop = false;
    // A message longer than this is not kept: its fetch fails and it stays
    // on the server, however large the server said it was.
    qint64 maxMessageBytes = qint64(32) * 1024 * 1024;
};

// One waiting message as the server lists it.
struct MailboxEntry {
    int number = 0;       // from 1, in server order
    qint64 size = -1;     // -1: the server would not tell
    QByteArray uniqueId;  // empty: none given (or not asked)
};

struct MailboxListing {
    QList<MailboxEntry> entries;
    bool hasUniqueIds = false; // the server gives unique ids (asked for and answered)
};

// A session with one mailbox on a server, driven from one thread: open,
// log in, list, fetch and remove messages, then close (removals take effect)
// or abandon (nothing is removed). Every wait is bounded; cancel() ends a
// wait at once with an error of kind Canceled. After a failure that leaves
// the conversation out of step (a drop, a timeout, garbage) the session is
// broken and every later call fails at once. Questions to the user (a
// certificate the system does not know, a password in clear) go through the
// prompt the session was made with; one the user answered No fails with an
// error of kind Answered.
class MailboxSession
{
public:
    virtual ~MailboxSession() = default;

    // Asked while a call waits for the server; true ends the wait.
    virtual void setCancelCheck(std::function<bool()> check) = 0;
    // Connects to the account's server (nothing is sent in clear that the
    // user did not allow).
    virtual Status open(const MailboxAccount &account) = 0;
    // Logs in with the account's ID and password: the number of waiting messages.
    virtual Result<int> login() = 0;
    // Every waiting message with its size, and its unique id when `uniqueIds`.
    virtual Result<MailboxListing> list(bool uniqueIds) = 0;
    // The header of a message without its body (it ends with the blank line).
    virtual Result<QByteArray> header(int number) = 0;
    virtual Result<RawMessage> fetch(int number) = 0;
    // Marks a message for removal; it goes when the session is closed.
    virtual Status remove(int number) = 0;
    // Ends the session and commits the removals.
    virtual Status close() = 0;
    // Ends the session without committing any removal: every message stays.
    virtual Status abandon() = 0;
    // The conversation is gone: every further call fails.
    virtual bool broken() const = 0;
};

} // namespace kestra
