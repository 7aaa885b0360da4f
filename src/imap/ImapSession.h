#pragma once

#include "common/Result.h"
#include "imap/ImapResponse.h"
#include "net/ServerSecurity.h"
#include "net/Transport.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QSslCertificate>
#include <QSslSocket>
#include <QString>

#include <functional>
#include <memory>

namespace kestra {

// Where an IMAP server is: "host", "host:port", "imap://host[:port]" or
// "imaps://host[:port]". A port in the name wins over `port`; without either
// the usual port of the choice is taken (143, 993 for SSL/TLS).
Result<ServerAddress> resolveImapAddress(const QString &server, Security security, int port);

// The transport's bounds and trust (see TransportOptions).
using ImapOptions = TransportOptions;

// One IMAP connection, driven synchronously from one thread: commands go out
// tagged, and their answers are read with a bound on every wait. Commands
// may be sent ahead (send()) and their answers read later in order
// (finish()). Plain connections switch to TLS with STARTTLS; a server that
// does not offer it gets the password in clear only when the user chose so.
// Every response is bounded (ImapBounds); after a failure that leaves the
// conversation out of step the session is broken and every call fails at once.
class ImapSession
{
public:
    explicit ImapSession(ImapOptions options);
    ~ImapSession();
    ImapSession(const ImapSession &) = delete;
    ImapSession &operator=(const ImapSession &) = delete;

    // Connects, reads the greeting and the capabilities, and switches to TLS.
    Status open(const QString &server);
    Status login(const QString &user, const QString &password);

    // Sends one command; its tag, empty when the session is broken.
    QByteArray send(const QByteArray &command);
    // Reads up to the tagged answer of `tag`: each untagged response on the
    // way goes to `each` (false from it ends the session with the error set
    // by fail()). More than `mostUntagged` of them end the session.
    using Untagged = std::function<bool(const ImapResponse &)>;
    Result<ImapResponse> finish(const QByteArray &tag, const Untagged &each, qint64 mostUntagged);
    // send() and finish(); a tagged NO or BAD is an error that leaves the session going.
    Status command(const QByteArray &command, const Untagged &each = {}, qint64 mostUntagged = 64);

    // IDLE on the selected mailbox until the server tells of new mail
    // (true), `boundMs` passes or `wake` says so (false), then DONE.
    // Servers end an IDLE after 30 minutes, so the bound stays below that.
    Result<bool> idle(int boundMs, const std::function<bool()> &wake);
    // LOGOUT (a bounded wait), then closes the connection.
    Status logout();

    ImapBounds &bounds() { return m_bounds; }
    bool hasCapability(const QByteArray &name) const { return m_capabilities.contains(name); }
    bool broken() const { return m_broken; }
    bool encrypted() const { return m_socket && m_socket->isEncrypted(); }
    const QString &serverName() const { return m_serverText; }
    const QSslCertificate &rejectedCertificate() const { return m_rejected; }
    const QList<QSslError> &certificateErrors() const { return m_certificateErrors; }
    // Ends the session with `text` (the reason a caller found in an answer).
    Error fail(const QString &text);
    // The last failure as its error.
    Error failure() const;

private:
    using Wait = SocketWait;
    Wait waitUntil(int boundMs, const std::function<bool()> &done);
    Error waitFailed(Wait how, const QString &what);
    Result<ImapResponse> read();
    Status startTls();
    Status readCapabilities();
    void configureSocket(const QString &host);

    ImapOptions m_options;
    ImapBounds m_bounds;
    std::unique_ptr<QSslSocket> m_socket;
    QByteArray m_in;
    QString m_serverText;
    ServerAddress m_address;
    QList<QByteArray> m_capabilities;
    QSslCertificate m_rejected;
    QList<QSslError> m_certificateErrors;
    QDeadlineTimer m_commandDeadline{QDeadlineTimer::Forever};
    int m_nextTag = 0;
    bool m_broken = false;
    bool m_canceled = false;
    bool m_answered = false;
    bool m_loggingOut = false;
    QString m_error;
};

} // namespace kestra
