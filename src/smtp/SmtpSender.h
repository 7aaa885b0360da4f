#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

#include "common/Result.h"
#include "mail/MailOptions.h"
#include "mail/MailSender.h"
#include "net/ServerSecurity.h"
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

    // The URL handed to the transport, e.g. "smtp://127.0.0.1:25/helo.name".
    QString url(const QString &heloName) const;
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

// Sends mail over SMTP with libcurl. The server's certificate is checked
// against the system's authorities (or those of the setup's CA file, when one
// is named); there is no silent fall-back to a plain connection once
// STARTTLS was offered. When the server offers AUTH and the account has a
// user, the session logs in. One sender keeps its connection for the next mail
// to the same server; when the server dropped it in between, the mail goes
// over a new one.
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
    struct Transfer;
    // With `startTlsNotOffered`, a server that did not offer STARTTLS sets it
    // instead of failing with an error text.
    Status transfer(const SmtpServerAddress &address, const BuiltMessage &message, bool requireTls,
        bool *startTlsNotOffered, bool logIn = true);
    Status sendOver(const SmtpServerAddress &address, const BuiltMessage &message);

    void *m_curl = nullptr;
    QString m_server;
    std::optional<SmtpServerAddress> m_address;
    SmtpAccount m_account;
    SmtpLimits m_limits;
    ServerConnection m_connection;
    QString m_memoryIni;
    QString m_trustedCaFile;
    SecurityPrompt *m_prompt = nullptr;
    QSslCertificate m_pinned; // a certificate the user trusts, for one transfer
    bool m_pinnedOutOfDate = false; // ... accepted just now although out of its validity
    bool m_lastEncrypted = false;
    bool m_tlsRemembered = false; // this server's STARTTLS is noted in m_memoryIni
    QString m_helo; // the name given in EHLO
    AttachmentPartsPtr m_attachments;
    std::function<bool()> m_cancelRequested;
};

} // namespace kestra
