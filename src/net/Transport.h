#pragma once

#include "common/Result.h"
#include "net/ServerSecurity.h"

#include <QSslSocket>
#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QSslCertificate>

#include <functional>

namespace kestra {

// The bounds and the trust of one mail connection (POP3, IMAP): its waits,
// the cancel, the extra authorities and what the user chose and accepted.
struct TransportOptions {
    int connectTimeoutMs = 30000;
    int readTimeoutMs = 30000;
    // Bound of one whole command, from sending it to the end of its answer
    // (of the connection, from the first attempt to the greeting): a server
    // that trickles a byte now and then cannot hold the session for longer.
    int commandTimeoutMs = 5 * 60 * 1000;
    // Asked while waiting, several times a second: true ends the wait at
    // once, the session is broken and canceled. Called on the thread that
    // drives the session.
    std::function<bool()> cancelRequested;
    QList<QSslCertificate> extraCaCertificates; // trusted besides the system's
    Security security = Security::Unset;
    int port = 0; // 0: from the name, else the usual one
    // Asked when the server offers no STARTTLS and no choice was stored:
    // success when the log-in may go on in plain text; otherwise the error
    // says why not (no text when the user declined). Without it a plain
    // log-in goes on (the mail layer always sets it).
    std::function<Status(const ServerAddress &address)> plainLogin;
    // SHA-256 (hex) of a certificate the user chose to trust for this server:
    // accepted while it is within its validity.
    QByteArray trustedFingerprint;
    // The user just accepted that certificate although it is out of its
    // validity: accepted so for this session only.
    bool trustedOutOfDate = false;
};

// Takes the server settings window's choices into `options`.
void applyConnection(TransportOptions &options, const ServerConnection &connection);

// What the user settled for this server, from its memory in the settings
// file `ini`: the certificate trusted and the plain-text question asked
// through `prompt`. Without a settings file nobody chose plain text for the
// server, so a plain log-in is refused and no certificate is pinned.
void applyServerMemory(TransportOptions &options, const ServerMemory &memory, const QString &ini,
                       SecurityPrompt *prompt, const QString &protocolName);

// A server's reply as the user may read it: its first 300 bytes as UTF-8,
// control characters made blanks, trimmed.
QString readableReply(QByteArrayView reply);

// Watches the TLS check of `socket`: a certificate that fails it is noted in
// `rejected` with the reasons in `errors`, unless it is exactly the one the
// user trusted for this server (`trustedFingerprint`, SHA-256 hex) and within
// its validity, or accepted just now although out of it (`trustedOutOfDate`):
// that one is accepted and nothing is noted. The references must outlive the
// socket's handshakes.
void acceptTrustedCertificate(QSslSocket &socket, const QByteArray &trustedFingerprint, const bool &trustedOutOfDate,
                              QSslCertificate &rejected, QList<QSslError> &errors);

// How a bounded wait on a socket ended.
enum class SocketWait { Done, Failed, TimedOut, Overdue, Canceled };

// Runs the thread's event loop until `done` holds, the socket is closed,
// `cancel` says so, `commandDeadline` or `boundMs` passes; the conditions are
// looked at whenever the socket signals and at least every 100 ms.
SocketWait waitOnSocket(QSslSocket &socket, int boundMs, const QDeadlineTimer &commandDeadline,
                        const std::function<bool()> &cancel, const std::function<bool()> &done);

} // namespace kestra
