#pragma once

#include "common/Result.h"

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>

namespace kestra {

// How the connection to a mail server is protected.
enum class Security {
    Unset,    // settings of earlier versions: STARTTLS when the server offers it
    StartTls, // plain connection switched to TLS; refused when the server cannot
    Tls,      // TLS from the first byte (POP3S, SMTPS)
    None,     // no encryption: the user chose to send the password in clear
};

enum class MailProtocol { Pop3, Smtp, Imap };

// Where a mail server is, read from the name the user typed: "host",
// "host:port", "[v6]:port", a bare IPv6 address, or a URL of the protocol
// ("pop3://" and "pop3s://", "smtp://" and "smtps://", "imap://" and
// "imaps://"; the second of each is TLS from the first byte), with at most a "/" after it.
struct ServerAddress {
    QString host;             // without brackets
    int port = 0;             // from the name, else the usual one of the scheme
    bool implicitTls = false; // pop3s, smtps
    bool portGiven = false;   // the name carries its port
};
// An error says why the name cannot be used.
Result<ServerAddress> parseServerAddress(const QString &name, MailProtocol protocol);

// What the server settings window adds to kestra.ini, kept in kestra2.ini
// ([pop3], [smtp] and [imap]) so that earlier versions still read kestra.ini.
struct ServerConnection {
    // IMAP only (kestra.ini knows POP3 and SMTP servers alone): whether mail
    // is received over IMAP instead of POP3, and from which server.
    bool receiving = false;
    QString server;
    Security security = Security::Unset;
    int port = 0;           // 0: the usual port of the protocol and the choice
    int timeoutSeconds = 0; // 0: the program's default
    QString user;           // SMTP only: empty means the POP3 ID and password
    QString password;
};

// The usual port: POP3 110 / 995, IMAP 143 / 993, SMTP 587 / 465, and 25 without encryption
// or without a stored choice (what earlier versions used).
int usualPort(MailProtocol protocol, Security security);
QString securityKey(Security security);
Security securityFromKey(const QString &key);

ServerConnection readServerConnection(const QString &iniPath, MailProtocol protocol);
// The file may hold the SMTP password: it is readable by its owner only.
Status writeServerConnection(const QString &iniPath, MailProtocol protocol, const ServerConnection &connection);

// What one certificate is, for the user to judge.
struct CertificateFacts {
    QString subject;
    QString issuer;
    QString validFrom;
    QString validUntil;
    QString sha256; // "AB:CD:..." as certificate viewers show it
};
CertificateFacts certificateFacts(const QSslCertificate &certificate);
QByteArray certificateFingerprint(const QSslCertificate &certificate); // SHA-256, hex
// Whether the certificate is within its validity now, and the check that
// gave `errors` found no fault with its dates.
bool certificateInValidity(const QSslCertificate &certificate, const QList<QSslError> &errors = {});
// Why a certificate was not accepted, in words a user understands.
QString certificateReasons(const QList<QSslError> &errors, const QString &host);

// What the program remembers about one server (host and port) of one
// protocol, in kestra2.ini: that it once offered TLS, the user's answer to
// sending the password in clear, and the certificate the user trusts for it.
class ServerMemory
{
public:
    ServerMemory(QString iniPath, MailProtocol protocol, const QString &host, int port);

    bool tlsSeen() const;
    void rememberTls() const;
    // 0 = never asked, 1 = allowed, -1 = refused.
    int plainAnswer() const;
    void rememberPlainAnswer(bool allowed) const;
    QByteArray trustedFingerprint() const;
    void trust(const QSslCertificate &certificate) const;

    const QString &serverText() const { return m_server; }

private:
    QString value(const char *group) const;
    void setValue(const char *group, const QString &value) const;

    QString m_path;
    QString m_prefix;
    QString m_key;
    QString m_server;
};

// The questions a mail session asks the user: one with Yes and No. Handed
// to each session and sender (the program's is its message boxes); without
// one nothing is asked and every question counts as No, so nothing unsafe
// happens. Asked on the thread that receives or sends.
class SecurityPrompt
{
public:
    virtual ~SecurityPrompt() = default;
    // `warning`: an alarm icon rather than a question mark. True = Yes.
    virtual bool ask(const QString &text, const QString &title, bool warning) = 0;
    // False where nobody could answer (an automatic check): a question is
    // then neither asked nor answered, nothing is remembered, and the
    // connection stops with an error that says so; the next run the user
    // starts asks.
    virtual bool attended() const { return true; }
};

// The decisions only the user can take, asked through `prompt` under
// `title` ("エラー" when receiving, "送信エラー" when sending).
namespace securityQuestions {
// The server offers no encryption and no choice was stored: asks once per
// server and remembers the answer; refuses a server that offered TLS before.
// Success when the password may go in clear; otherwise the error says why
// not, or is Answered when the user declined (no further box is needed).
Status plainLogin(SecurityPrompt *prompt, const ServerMemory &memory, const QString &protocolName);
// The refusal when nobody can be asked (no prompt, no settings file in
// which a choice could be stored): the password stays home.
Error plainLoginRefused(const QString &protocolName, const QString &server);
// The certificate is not trusted: shows its facts and asks whether to trust
// exactly this certificate for this server. True when the user trusted it
// (it is then remembered). The question says when it is the certificate
// trusted before, now out of its validity.
bool trustCertificate(SecurityPrompt *prompt, const ServerMemory &memory, const QString &protocolName, const QSslCertificate &certificate,
    const QList<QSslError> &errors, const QString &host, const QString &title);
} // namespace securityQuestions

} // namespace kestra
