#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QSslCertificate>
#include <QSslSocket>
#include <QString>

#include "common/Result.h"
#include "net/ServerSecurity.h"
#include "net/Transport.h"

#include <functional>
#include <memory>

namespace kestra {

// Where a POP3 server is: "host", "host:port", "pop3://host[:port]" or
// "pop3s://host[:port]" ("[::1]:port" for IPv6).
using Pop3Address = ServerAddress;
Result<Pop3Address> parsePop3Address(const QString &server);
// Where the session connects: the name, then the connection settings. A port
// in the name wins over `port`; without either the usual port is taken.
Result<Pop3Address> resolvePop3Address(const QString &server, Security security, int port);

// The APOP challenge of a server greeting: its first "<...>" when that is a
// printable-ASCII msg-id with an "@" of at most 256 characters, else empty.
QByteArray apopTimestamp(QByteArrayView greeting);

// The transport's bounds and trust (see TransportOptions).
using Pop3Options = TransportOptions;

// One POP3 session, driven synchronously: every call sends one command and
// waits, with a bound, for its complete answer. Certificates are checked
// against the system's authorities (plus the extra ones). Plain connections
// switch to TLS with STLS; a server that does not offer it gets the password
// in clear only when the user chose that (security None or plainLogin).
// After a failure that leaves the conversation out of step (timeout, dropped
// connection, garbage) the session is broken and every later call fails at once.
// A failure's error is Canceled when cancelRequested ended the wait,
// CertificateRejected when the server's certificate failed the check and
// Answered when the user declined a plain-text log-in.
class Pop3Session
{
public:
    // What the session is waiting for; named in error texts.
    enum class Step { Idle, Connect, Greeting, Capa, Stls, Handshake, Apop, User, Pass, Stat, List, Top, Retr, Dele, Rset, Quit, Uidl };

    explicit Pop3Session(Pop3Options options);
    ~Pop3Session();
    Pop3Session(const Pop3Session &) = delete;
    Pop3Session &operator=(const Pop3Session &) = delete;

    Status open(const QString &server);
    // Logs in (APOP or USER/PASS), then asks STAT. Gives the message count;
    // a count beyond a million, or a size table far longer than the count,
    // ends the session with an error.
    Result<int> login(const QString &user, const QString &password, bool apop);
    Result<qint64> size(int number);
    Status top(int number, QByteArray &header);
    // RETR written to `sink` as it arrives. A message longer than `limit` is
    // read to its end but not kept: an error with tooLarge(), the session goes on.
    // With a server that announces PIPELINING the RETRs of the next few
    // messages (those the size table shows small, up to a few MiB together)
    // go out before this one is read, so the server prepares them while the
    // caller works on this one; any other command, or a RETR of another
    // message, first reads the answers before it away.
    Status retrieve(int number, QIODevice &sink, qint64 limit);
    bool tooLarge() const { return m_tooLarge; }
    // UIDL for the whole maildrop: the unique id of each message by its
    // number. A server without the command answers Unsupported and the
    // session goes on; ids that are not printable ASCII of 1..70 characters,
    // and numbers beyond the count of the log-in, are left out. A table far
    // longer than the count ends the session with an error.
    enum class UniqueIds { Listed, Unsupported };
    Result<UniqueIds> uniqueIds(QHash<int, QByteArray> &ids);
    // Marks a message for deletion. A server that announces PIPELINING gets
    // the marks later, all together just before QUIT: they take effect only
    // with QUIT either way, and one exchange replaces one per message.
    Status remove(int number);
    // Sends the marks still held back (see remove()); an error when the
    // connection failed or the server refused one of them.
    Status flushDeletions();
    // QUIT (a bounded wait), then closes the connection. Deletions take effect
    // only when the server answers QUIT.
    Status quit();
    // RSET (a bounded wait) where the connection still works, then drops the
    // connection without QUIT: the server ends the session without deleting
    // anything. Succeeds when the server confirmed the reset.
    Status abandon();
    // The server announced PIPELINING (RFC 2449) after the log-in.
    bool pipelining() const { return m_pipelining; }

    bool broken() const { return m_broken; }
    // A wait ended because cancelRequested said so.
    bool canceled() const { return m_canceled; }
    bool encrypted() const;
    const QString &serverName() const { return m_serverText; }
    const Pop3Address &address() const { return m_address; }
    // The certificate that failed the check in open(), and why; empty otherwise.
    const QSslCertificate &rejectedCertificate() const { return m_rejected; }
    const QList<QSslError> &certificateErrors() const { return m_certificateErrors; }
private:
    bool fail(const QString &text, bool breaks = true);
    // The last failure as its error: its readable text with the technical reason.
    Error failure() const;
    Status status(bool ok) const { return ok ? Status() : Status(failure()); }
    bool send(const QByteArray &command, Step step);
    // One status line; false on timeout, drop or an over-long line.
    bool readLine(QByteArray &line, qsizetype maxLength);
    bool readStatus(QByteArray &line);
    bool readMultiline(QByteArray &data);
    bool readMultiline(QByteArray &data, QIODevice *sink, qint64 limit);
    // What happens to a multi-line answer that outgrows its bound of bytes:
    // the session fails, or the rest is read away (the session goes on, the
    // failure says too large).
    enum class Overflow { Fail, ReadAway };
    // Reads a multi-line answer to its "." line, handing each line (its end
    // kept, the dot-stuffing undone) to `each` as it arrives: only the line
    // being read is held. More than `maxLines` lines always fail; `each`
    // gives false after a failure of its own.
    bool readDataLines(qint64 maxBytes, qint64 maxLines, Overflow overflow,
                       const std::function<bool(QByteArrayView)> &each);
    bool waitForData();
    using Wait = SocketWait;
    // Calls `wait` (a blocking wait of the socket taking a bound in ms) in
    // short slices until it succeeds, fails, `boundMs` or the command's
    // deadline passes, or the caller cancels.
    Wait waitInSlices(int boundMs, const std::function<bool(int)> &wait);
    // Runs the thread's event loop until `done` holds, the socket fails or
    // the bound passes: a connection attempt and a handshake go on while the
    // cancel and the deadline are looked at.
    Wait waitUntil(int boundMs, const std::function<bool()> &done);
    bool waitFailed(Wait how, const QString &timedOut);
    bool command(const QByteArray &command, Step step, QByteArray *reply = nullptr);
    bool readSizeTable(int count);
    // Reads away the answers to RETRs sent ahead, oldest first, until the
    // oldest still waiting is that of `keep` (0: all of them).
    bool dropAhead(int keep = 0);
    // With PIPELINING, the RETRs of the messages after `number` (or after the
    // last one asked ahead), as far as their sizes allow.
    void askAhead(int number, qint64 limit);
    bool readCapabilities(QByteArrayList &names);
    // A command answered with lines of data after +OK (CAPA, LIST), each line
    // handed to `each` trimmed, as it arrives; an answer beyond its bounds is
    // a failure. A refusal (-ERR) is an answer, not a failure: the session goes on.
    enum class Listing { Received, Refused, Failed };
    Listing listing(const QByteArray &command, Step step, qint64 maxBytes, qint64 maxLines,
                    const std::function<void(QByteArrayView)> &each);
    QString stepName() const;
    QString serverReply(const QByteArray &line) const;
    bool startTls();
    bool connectFailed(Wait how);
    bool handshakeFailed(Wait how);

    Pop3Options m_options;
    std::unique_ptr<QSslSocket> m_socket;
    QByteArray m_in;
    qsizetype m_scanFrom = 0;
    Step m_step = Step::Idle;
    QString m_serverText;
    QString m_host;
    Pop3Address m_address;
    QSslCertificate m_rejected;
    QList<QSslError> m_certificateErrors;
    QByteArray m_timestamp; // APOP timestamp from the greeting
    QHash<int, qint64> m_sizes; // message sizes from the LIST after login
    QList<int> m_heldDeletions; // marks not yet sent (servers with PIPELINING)
    bool m_pipelining = false;
    int m_count = 0;  // messages in the maildrop (STAT)
    QList<int> m_ahead; // messages whose RETR was sent ahead, unanswered, in order
    bool m_broken = false;
    bool m_canceled = false;
    bool m_answered = false; // the user declined the plain-text log-in
    QDeadlineTimer m_commandDeadline{QDeadlineTimer::Forever};
    bool m_tooLarge = false;
    QString m_error;
};

} // namespace kestra
