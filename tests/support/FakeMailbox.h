#pragma once

#include "mail/MailPorts.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace kestra {

// A mailbox that plays a script instead of talking to a server, for tests of
// the runs and the windows: ready-made messages, a record of every call, and
// chosen calls made to fail. Messages removed in a session leave the mailbox
// when that session is closed, as on a POP3 server. Its sessions (from
// session() or ports()) all work on this one mailbox.
class FakeMailbox
{
public:
    struct Message {
        QString subject;
        QString date;
        QString from;     // the sender's address
        QString body;     // the text part, UTF-8 on the wire
        QByteArray raw;   // when set: the message as sent, the fields above unused
        qint64 size = -1; // the size the server lists; -1: that of the bytes
        QByteArray uniqueId;
        QByteArray bytes() const;
    };

    // One call as it was made: "open", "login", "list", "header", "fetch",
    // "remove", "close" or "abandon", and its arguments joined with "|".
    struct Call {
        QString name;
        QString args;
    };

    QList<Message> mailbox;
    QString expectedId; // empty: any ID and password are accepted
    QString expectedPassword;
    bool uniqueIds = true; // the server gives unique ids when asked
    QString errorText = QStringLiteral("スクリプトされたエラー");
    // When set, "open" of a session made by ports() asks this through the
    // session's SecurityPrompt first, as a real session asks about an unknown
    // certificate; No ends the connection with an Answered error.
    QString question;

    // The `occurrence`-th call (from 1; 0 = every call) of `name` fails with
    // `text` (errorText when empty). With `breaks` the session is broken from
    // then on: every later call fails at once.
    void failCall(const QString &name, int occurrence = 0, const QString &text = {}, bool breaks = false);
    // Called with each call's name as it is made (on the caller's thread),
    // before its outcome is decided: tests cancel a run from here.
    std::function<void(const QString &name)> onCall;

    const QList<Call> &calls() const { return m_calls; }
    QStringList callNames() const;
    int count(const QString &name) const;
    bool connectionOpen() const { return m_open; }

    std::unique_ptr<MailboxSession> session(SecurityPrompt *prompt = nullptr);
    // Ports whose mailbox sessions are this mailbox's (and that send nothing).
    MailPorts ports();

private:
    class Session;
    // Records the call; an error when it is scripted to fail (or the session is broken).
    std::optional<Error> record(const QString &name, const QString &args);

    QList<Call> m_calls;
    struct Failure {
        int occurrence;
        QString text;
        bool breaks;
    };
    QMap<QString, QList<Failure>> m_failures;
    QList<int> m_removed;
    bool m_open = false;
    bool m_broken = false;
    bool m_loggedIn = false;
    MailboxAccount m_account;
};

} // namespace kestra
