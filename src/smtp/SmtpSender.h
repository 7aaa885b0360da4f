#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QDeadlineTimer>
#include <QSslSocket>

#include <functional>
#include <memory>
#include <optional>

#include "common/Result.h"
#include "mail/MailOptions.h"
#include "mail/MailSender.h"
#include "net/ServerSecurity.h"
#include "net/Transport.h"
#include "smtp/MessageBuilder.h"

namespace kestra {

// Where an SMTP server name points. Accepted forms: "host", "host:port",
// "smtp://host[:port]" (plain connection that is upgraded with STARTTLS
// whenever the server offers it) and "smtps://host[:port]" (TLS from the first
// byte). IPv6 literals are written in brackets: "[::1]:2525".
struct SmtpServerAddress {
    bool implicitTls = false;
    QString host; // without brackets
    int port = 25;
    bool portGiven = false; // the name carries its port
};

// An error says why the name cannot be used.
Result<SmtpServerAddress> parseSmtpServer(const QString &name);

// Bounds of every wait of a session, in seconds.
struct SmtpLimits {
    int connectSeconds = 30; // TCP connect and TLS handshake
    int responseSeconds = 60; // each server reply
    int stallSeconds = 60; // no byte moving at all
    int totalSeconds = 900; // the whole session
};

// The certificate an SMTP server shows (after STARTTLS unless the address
// asks for TLS from the start) and why it fails the check: against the
// system's authorities and, when `caFile` names one, the authorities in it.
// The whole probe ends within `timeoutMs`, and at once when `cancelRequested`
// says so (asked several times a second).
struct SmtpCertificateProbe {
    QSslCertificate certificate;
    QList<QSslError> errors;
    bool timedOut = false; // the bound passed first
    bool canceled = false; // cancelRequested ended it
};
SmtpCertificateProbe probeSmtpCertificate(const SmtpServerAddress &address, int timeoutMs,
    const QString &caFile = QString(), const std::function<bool()> &cancelRequested = {});

// How a sender reaches its server: the server name, the choices of the
// server settings window, the kestra2.ini in which servers are remembered
// (empty: nothing is asked or remembered, and no password goes over a
// connection without TLS), the account, the bounds of every wait (the
// server settings' time limit, when set, wins), the authorities trusted
// instead of the system's (a PEM file; empty: the system's list) and the
// prompt that asks the user (none: every question counts as No).
struct SmtpSetup {
    QString server;
    ServerConnection connection;
    QString memoryIni;
    SmtpAccount account;
    SmtpLimits limits;
    QString trustedCaFile;
    SecurityPrompt *prompt = nullptr;
};

// Sends mail over SMTP on the program's own client. The server's certificate
// is checked against the system's authorities (or those of the setup's CA
// file, when one is named) or must be the one the user trusts for this
// server; there is no silent fall-back to a plain connection once STARTTLS was
// offered. When the server offers AUTH (CRAM-MD5, PLAIN or LOGIN) and the
// account has a user, the session logs in. One sender keeps its connection
// for the next mail to the same server: a transaction that failed part-way is
// ended with RSET first, and when the server dropped the connection in
// between, the mail goes over a new one. With a server that offers
// PIPELINING, MAIL FROM, every RCPT TO and DATA go out in one write. Every
// reply line and the number of lines of one reply are bounded. The sender may
// be used on one thread after another (one per run) and destroyed on yet
// another: it says QUIT when destroyed.
class SmtpSender final : public MailSender
{
public:
    explicit SmtpSender(SmtpSetup setup);
    ~SmtpSender() override;
    SmtpSender(const SmtpSender &) = delete;
    SmtpSender &operator=(const SmtpSender &) = delete;

    // Asked several times a second during a transfer, on the sending thread;
    // true ends it at once with the text "送信を中止しました。".
    void setCancelCheck(std::function<bool()> check) override { m_cancelRequested = std::move(check); }

    Status send(const OutgoingMail &mail) override;

    // Whether the last successful session ran over TLS (STARTTLS or smtps).
    bool lastSessionEncrypted() const { return m_lastEncrypted; }

private:
    struct Reply;
    Status sendOver(const SmtpServerAddress &address, const BuiltMessage &message);
    // Takes the connection kept from another thread into this one.
    void adopt();
    // Connects, greets, switches to TLS and logs in as the settings say.
    Status open(const SmtpServerAddress &address);
    Status hello();
    // `logIn` is cleared when the password must stay home.
    Status startTls(const SmtpServerAddress &address, bool &logIn);
    Status authenticate();
    // One mail over the open connection, from MAIL FROM to the end of DATA.
    Status transaction(const BuiltMessage &message);
    // Writes `bytes` and waits until they are gone, each stretch bounded.
    Status write(const QByteArray &bytes);
    Status command(const QByteArray &line, Reply &reply);
    // One reply, its lines bounded in length and number; 421 is a failure.
    Status readReply(Reply &reply);
    // Each failure drops the connection and says why.
    Error waitFailed(SocketWait how);
    Error handshakeFailed(SocketWait how);
    Error replyError(const QString &text, const Reply &reply) const;
    Error unsent(const Reply &reply) const;
    QString serverText() const;
    void hangUp();
    void quit();

    QString m_server;
    std::optional<SmtpServerAddress> m_address;
    SmtpAccount m_account;
    SmtpLimits m_limits;
    ServerConnection m_connection;
    QString m_memoryIni;
    QString m_trustedCaFile;
    SecurityPrompt *m_prompt = nullptr;
    bool m_trustRead = false; // the two below, read at the first connection
    QList<QSslCertificate> m_authorities; // of m_trustedCaFile
    QByteArray m_trustedFingerprint; // the certificate the user trusts for this server
    bool m_trustedOutOfDate = false; // ... accepted just now although out of its validity
    QSslCertificate m_rejected; // the certificate that failed the check
    QList<QSslError> m_certificateErrors;
    bool m_lastEncrypted = false;
    bool m_tlsRemembered = false; // this server's STARTTLS is noted in m_memoryIni
    QString m_helo; // the name given in EHLO
    AttachmentPartsPtr m_attachments;
    std::function<bool()> m_cancelRequested;

    // The connection kept from one mail to the next.
    std::unique_ptr<QSslSocket> m_socket;
    QByteArray m_in; // read and not yet taken
    QByteArrayList m_extensions; // of the last EHLO reply, upper case
    QByteArray m_step; // the command waited for, named in error texts
    bool m_startedTls = false; // encrypted by STARTTLS (not smtps)
    bool m_resetFirst = false; // the last transaction stopped part-way
    bool m_heard = false; // a reply came in the current transaction
    bool m_dropped = false; // the connection closed before any such reply
    QDeadlineTimer m_deadline; // of one mail's session
};

} // namespace kestra
