#include "smtp/SmtpSender.h"

#include "common/Clock.h"
#include "common/Text.h"
#include "net/TlsTrust.h"

#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSysInfo>
#include <QThread>

#include <optional>

namespace kestra {

namespace {

// What one reply may hold: real replies have lines of a few dozen bytes, and
// an EHLO reply lists a dozen or two extensions. A server that goes beyond
// either is cut off before it fills the memory.
constexpr qsizetype kLongestReplyLine = 4096;
constexpr int kMostReplyLines = 256;
// Read from the socket at a time: a flood waits in the kernel, not here.
constexpr qint64 kReadBuffer = 64 * 1024;
// The QUIT of a sender going away waits no longer than this.
constexpr int kQuitMs = 2000;

// The message as DATA carries it: every line that starts with a dot gets
// another, and a line with a single dot ends it.
QByteArray dataOf(const QByteArray &source)
{
    QByteArray out;
    out.reserve(source.size() + source.size() / 32 + 5);
    for (qsizetype from = 0; from < source.size();) {
        const qsizetype nl = source.indexOf('\n', from);
        const qsizetype end = nl < 0 ? source.size() : nl + 1;
        if (source.at(from) == '.')
            out += '.';
        out.append(source.constData() + from, end - from);
        from = end;
    }
    if (!out.isEmpty() && !out.endsWith("\r\n"))
        out += "\r\n";
    return out + ".\r\n";
}

// The AUTH mechanisms an EHLO reply offers ("AUTH PLAIN LOGIN", or the
// older "AUTH=PLAIN LOGIN"), upper case.
QByteArrayList authMechanisms(const QByteArrayList &extensions)
{
    QByteArrayList names;
    for (const QByteArray &e : extensions) {
        if (e.startsWith("AUTH ") || e.startsWith("AUTH="))
            names += e.mid(5).simplified().split(' ');
    }
    return names;
}

} // namespace

// One reply of the server: its code and the text of each line.
struct SmtpSender::Reply {
    int code = 0;
    QByteArray line; // the last line whole, for the user
    QByteArrayList texts; // each line after its code
};

Result<SmtpServerAddress> parseSmtpServer(const QString &name)
{
    if (trimBlanks(name).isEmpty())
        return Error(QStringLiteral("SMTPサーバー名が設定されていません。"));
    const Result<ServerAddress> parsed = parseServerAddress(name, MailProtocol::Smtp);
    if (!parsed)
        return Error(QStringLiteral("SMTPサーバー名「%1」が正しくありません（%2）。")
                         .arg(trimBlanks(name), parsed.error().message()));
    SmtpServerAddress a;
    a.implicitTls = parsed.value().implicitTls;
    a.host = parsed.value().host;
    a.port = parsed.value().port;
    a.portGiven = parsed.value().portGiven;
    return a;
}



SmtpSender::SmtpSender(SmtpSetup setup)
    : m_server(std::move(setup.server))
    , m_account(std::move(setup.account))
    , m_limits(setup.limits)
    , m_connection(std::move(setup.connection))
    , m_memoryIni(std::move(setup.memoryIni))
    , m_trustedCaFile(std::move(setup.trustedCaFile))
    , m_prompt(setup.prompt)
    , m_attachments(newAttachmentParts())
{
    m_helo = QSysInfo::machineHostName();
    static const QRegularExpression heloPattern(QStringLiteral("^[A-Za-z0-9.\\-]+$"));
    if (!heloPattern.match(m_helo).hasMatch())
        m_helo = QStringLiteral("localhost");
    // A time limit of the server settings bounds every wait.
    if (m_connection.timeoutSeconds > 0)
        m_limits.connectSeconds = m_limits.responseSeconds = m_limits.stallSeconds = m_connection.timeoutSeconds;
}

SmtpSender::~SmtpSender()
{
    quit();
}

Status SmtpSender::send(const OutgoingMail &mail)
{
    // The server's address, worked out at the first mail of the sender.
    if (!m_address) {
        Result<SmtpServerAddress> parsed = parseSmtpServer(m_server);
        if (!parsed)
            return parsed.error();
        SmtpServerAddress &address = parsed.value();
        if (m_connection.security == Security::Tls)
            address.implicitTls = true;
        if (!address.portGiven)
            address.port = m_connection.port > 0
                ? m_connection.port
                : usualPort(MailProtocol::Smtp, address.implicitTls ? Security::Tls : m_connection.security);
        m_address = std::move(address);
    }
    const SmtpServerAddress &address = *m_address;
    const Result<BuiltMessage> built = buildMessage(mail, clock().now(), *m_attachments);
    if (!built)
        return built.error();
    const BuiltMessage &message = built.value();
    Status outcome = sendOver(address, message);
    if (outcome || m_memoryIni.isEmpty() || !outcome.error().is(Error::Kind::CertificateRejected) || !m_prompt)
        return outcome;

    // A certificate the system does not know: the user may trust exactly this
    // one for this server; it is then pinned for the next try.
    const ServerMemory memory(m_memoryIni, MailProtocol::Smtp, address.host, address.port);
    const SmtpCertificateProbe probe
        = probeSmtpCertificate(address, m_limits.connectSeconds * 1000, m_trustedCaFile, m_cancelRequested);
    if (probe.canceled)
        return Error(QStringLiteral("送信を中止しました。"), Error::Kind::Canceled);
    if (probe.certificate.isNull() || probe.errors.isEmpty())
        return outcome;
    // The trusted certificate goes on without a question while it is valid;
    // expired, it is asked about again.
    const bool valid = certificateInValidity(probe.certificate, probe.errors);
    if ((certificateFingerprint(probe.certificate) != memory.trustedFingerprint() || !valid)
        && !securityQuestions::trustCertificate(m_prompt, memory, QStringLiteral("SMTP"), probe.certificate, probe.errors,
            address.host, QStringLiteral("送信エラー")))
        return Error::answered(); // the question said it all
    m_trustedFingerprint = certificateFingerprint(probe.certificate);
    m_trustedOutOfDate = !valid; // for this one try
    outcome = sendOver(address, message);
    m_trustedOutOfDate = false;
    return outcome;
}

Status SmtpSender::sendOver(const SmtpServerAddress &address, const BuiltMessage &message)
{
    // The connection is used on the thread that sends now (one per run) and
    // belongs to none in between, so that the next run's thread, or the
    // one that destroys the sender, can take it.
    adopt();
    const auto release = qScopeGuard([this] {
        if (m_socket)
            m_socket->moveToThread(nullptr);
    });
    m_deadline.setRemainingTime(qint64(m_limits.totalSeconds) * 1000);
    // A connection kept from the last mail goes on, unless the server closed
    // it or said something meanwhile (an idle limit's 421).
    const bool reused = m_socket && m_socket->state() == QAbstractSocket::ConnectedState && m_in.isEmpty()
        && m_socket->bytesAvailable() == 0;
    Status sent = reused ? Status() : open(address);
    if (sent)
        sent = transaction(message);
    // Dropped since the last mail (an idle limit, a restart): the server
    // answered nothing of this mail, so it goes once more over a new
    // connection, and the run carries on.
    if (!sent && reused && m_dropped && !sent.error().is(Error::Kind::Canceled)) {
        sent = open(address);
        if (sent)
            sent = transaction(message);
    }
    if (!sent)
        return sent;
    m_lastEncrypted = m_socket->isEncrypted();
    // Noted once per sender: the file is not read again for every mail of a run.
    if (m_startedTls && !m_tlsRemembered && !m_memoryIni.isEmpty()) {
        ServerMemory(m_memoryIni, MailProtocol::Smtp, address.host, address.port).rememberTls();
        m_tlsRemembered = true;
    }
    return {};
}

void SmtpSender::adopt()
{
    if (m_socket && m_socket->thread() != QThread::currentThread())
        m_socket->moveToThread(QThread::currentThread());
}

QString SmtpSender::serverText() const
{
    return m_address ? m_address->host + QLatin1Char(':') + QString::number(m_address->port) : m_server;
}

Error SmtpSender::replyError(const QString &text, const Reply &reply) const
{
    return Error(reply.line.isEmpty() ? text : text + QStringLiteral("\r\nサーバーの応答: ") + readableReply(reply.line));
}

Error SmtpSender::unsent(const Reply &reply) const
{
    return replyError(QStringLiteral("SMTPサーバー「%1」へメールを送信できませんでした。").arg(serverText()), reply);
}

void SmtpSender::hangUp()
{
    if (m_socket)
        m_socket->abort();
    m_socket.reset();
    m_in.clear();
    m_extensions.clear();
    m_startedTls = false;
    m_resetFirst = false;
}

Error SmtpSender::waitFailed(SocketWait how)
{
    const bool closed = how == SocketWait::Failed || how == SocketWait::Done;
    hangUp();
    if (how == SocketWait::Canceled)
        return Error::canceled(QStringLiteral("送信を中止しました。"));
    if (!closed)
        return Error(QStringLiteral("SMTPサーバー「%1」が時間内に応答しません。\r\n"
                                    "しばらくしてからもう一度送信してください。続くときは「設定」の「POPサーバー」でポート番号と接続の保護を確かめてください。")
                         .arg(serverText()));
    return Error(QStringLiteral("SMTPサーバー「%1」へメールを送信できませんでした。\r\n詳細: %2 の途中で接続が切れました。")
                     .arg(serverText(), QString::fromLatin1(m_step)));
}

Error SmtpSender::handshakeFailed(SocketWait how)
{
    if (how != SocketWait::Failed || m_certificateErrors.isEmpty()) {
        if (how != SocketWait::Failed)
            return waitFailed(how);
        hangUp();
        return Error(QStringLiteral("SMTPサーバー「%1」と暗号化通信（TLS）を確立できません。パスワードは送っていません。\r\n"
                                    "「設定」の「POPサーバー」で接続の保護（STARTTLS か SSL/TLS）とポート番号を確かめてください。")
                         .arg(serverText()));
    }
    hangUp();
    return Error(QStringLiteral("SMTPサーバー「%1」の証明書を確認できないため、送信を中止しました。パスワードは送っていません。\r\n理由: %2。")
                     .arg(serverText(), certificateReasons(m_certificateErrors, m_address->host)),
                 Error::Kind::CertificateRejected);
}

Status SmtpSender::open(const SmtpServerAddress &address)
{
    hangUp();
    // What the sender trusts is read once, at its first connection.
    if (!m_trustRead) {
        m_trustRead = true;
        if (!m_trustedCaFile.isEmpty())
            m_authorities = QSslCertificate::fromPath(m_trustedCaFile);
        if (!m_memoryIni.isEmpty())
            m_trustedFingerprint
                = ServerMemory(m_memoryIni, MailProtocol::Smtp, address.host, address.port).trustedFingerprint();
    }
    m_socket = std::make_unique<QSslSocket>();
    m_socket->setReadBufferSize(kReadBuffer);
    QSslConfiguration trust = net::mailServerTls();
    // The setup's authorities stand in for the system's: nothing reads and
    // parses the whole system store for a test's or a company's own.
    if (!m_authorities.isEmpty())
        trust.setCaCertificates(m_authorities);
    m_socket->setSslConfiguration(trust);
    m_socket->setPeerVerifyName(address.host);
    m_rejected = QSslCertificate();
    m_certificateErrors.clear();
    acceptTrustedCertificate(*m_socket, m_trustedFingerprint, m_trustedOutOfDate, m_rejected, m_certificateErrors);
    bool reached = false; // the TCP connection stands (a TLS failure comes after)
    QObject::connect(m_socket.get(), &QAbstractSocket::connected, m_socket.get(), [&reached] { reached = true; });
    m_step = "CONNECT";
    if (address.implicitTls)
        m_socket->connectToHostEncrypted(address.host, quint16(address.port));
    else
        m_socket->connectToHost(address.host, quint16(address.port));
    const bool tls = address.implicitTls;
    const SocketWait how = waitOnSocket(*m_socket, m_limits.connectSeconds * 1000, m_deadline, m_cancelRequested, [&] {
        return tls ? m_socket->isEncrypted() : m_socket->state() == QAbstractSocket::ConnectedState;
    });
    if (how != SocketWait::Done) {
        if (reached || how != SocketWait::Failed)
            return tls && reached ? handshakeFailed(how) : waitFailed(how);
        const bool unknown = m_socket->error() == QAbstractSocket::HostNotFoundError;
        hangUp();
        if (unknown)
            return Error(QStringLiteral("SMTPサーバー「%1」が見つかりません。\r\n"
                                        "「設定」の「POPサーバー」でSMTPサーバー名の綴りを確かめてください。インターネットにつながっているかも確かめてください。")
                             .arg(address.host));
        return Error(QStringLiteral("SMTPサーバー「%1」に接続できません。\r\n"
                                    "「設定」の「POPサーバー」でSMTPサーバー名、ポート番号、接続の保護を確かめてください。")
                         .arg(serverText()));
    }
    Reply greeting;
    if (Status read = readReply(greeting); !read)
        return read;
    if (greeting.code != 220) {
        hangUp();
        return unsent(greeting);
    }
    if (Status greeted = hello(); !greeted)
        return greeted;
    bool logIn = !m_account.user.isEmpty();
    if (!address.implicitTls && m_connection.security != Security::None) {
        if (Status secured = startTls(address, logIn); !secured)
            return secured;
    }
    return logIn ? authenticate() : Status();
}

Status SmtpSender::hello()
{
    Reply reply;
    if (Status said = command("EHLO " + m_helo.toLatin1(), reply); !said)
        return said;
    if (reply.code == 250) {
        m_extensions.clear();
        for (qsizetype i = 1; i < reply.texts.size(); ++i)
            m_extensions.append(reply.texts.at(i).trimmed().toUpper());
        return {};
    }
    // A server of the old kind knows HELO only, and no extension.
    if (Status said = command("HELO " + m_helo.toLatin1(), reply); !said)
        return said;
    if (reply.code != 250) {
        hangUp();
        return unsent(reply);
    }
    return {};
}

Status SmtpSender::startTls(const SmtpServerAddress &address, bool &logIn)
{
    // A refused or failed upgrade is an error; a server that does not offer
    // it gets the password in clear only when the user allows it.
    if (!m_extensions.contains("STARTTLS")) {
        const QString server = serverText();
        const std::optional<ServerMemory> memory = m_memoryIni.isEmpty()
            ? std::nullopt
            : std::optional<ServerMemory>(std::in_place, m_memoryIni, MailProtocol::Smtp, address.host, address.port);
        if (m_connection.security == Security::StartTls) {
            hangUp();
            return Error(
                QStringLiteral("SMTPサーバー「%1」は暗号化通信（STARTTLS）に対応していないため、送信を中止しました。パスワードは送っていません。\r\n"
                               "「設定」の「POPサーバー」でSMTPの接続の保護とポート番号を確かめてください（SSL/TLS ならふつうはポート 465）。")
                    .arg(server));
        }
        // A server that offered STARTTLS before and no longer does is being
        // tampered with: the mail itself is not sent in clear either.
        if (memory && memory->tlsSeen()) {
            hangUp();
            return securityQuestions::plainLogin(m_prompt, *memory, QStringLiteral("SMTP"));
        }
        if (!logIn || !memory) {
            logIn = false; // no password goes out
            return {};
        }
        if (Status allowed = securityQuestions::plainLogin(m_prompt, *memory, QStringLiteral("SMTP")); !allowed) {
            hangUp();
            return allowed;
        }
        return {};
    }
    Reply reply;
    if (Status said = command("STARTTLS", reply); !said)
        return said;
    if (reply.code != 220) {
        hangUp();
        return replyError(QStringLiteral("SMTPサーバー「%1」で暗号化通信（STARTTLS）に切り替えられません。").arg(serverText()), reply);
    }
    // Whatever came in clear after the go-ahead is no part of the encrypted session.
    m_in.clear();
    m_socket->readAll();
    m_socket->startClientEncryption();
    m_step = "STARTTLS";
    const SocketWait how = waitOnSocket(*m_socket, m_limits.connectSeconds * 1000, m_deadline, m_cancelRequested,
                                        [this] { return m_socket->isEncrypted(); });
    if (how != SocketWait::Done)
        return handshakeFailed(how);
    m_startedTls = true;
    // What the server offered in clear is forgotten.
    return hello();
}

Status SmtpSender::authenticate()
{
    const QByteArrayList offered = authMechanisms(m_extensions);
    if (offered.isEmpty())
        return {}; // the server asks for none; MAIL FROM says when it wants one
    const QByteArray user = m_account.user.toUtf8();
    const QByteArray password = m_account.password.toUtf8();
    const QString denied = QStringLiteral("SMTPサーバー「%1」で認証に失敗しました。IDとパスワードを確かめてください。").arg(serverText());
    Reply reply;
    // Each step that must be answered 334 (go on) or 235 (logged in).
    const auto step = [&](const QByteArray &line, int expected) -> Status {
        if (Status said = command(line, reply); !said)
            return said;
        if (reply.code == expected)
            return {};
        hangUp();
        return replyError(denied, reply);
    };
    Status done;
    if (offered.contains("CRAM-MD5")) {
        // The password itself never goes over the connection.
        if (!(done = step("AUTH CRAM-MD5", 334)))
            return done;
        const QByteArray challenge = QByteArray::fromBase64(reply.texts.value(0).trimmed());
        const QByteArray digest = QMessageAuthenticationCode::hash(challenge, password, QCryptographicHash::Md5).toHex();
        done = step(QByteArray(user + ' ' + digest).toBase64(), 235);
    } else if (offered.contains("PLAIN")) {
        done = step("AUTH PLAIN " + QByteArray('\0' + user + '\0' + password).toBase64(), 235);
    } else if (offered.contains("LOGIN")) {
        if ((done = step("AUTH LOGIN", 334)) && (done = step(user.toBase64(), 334)))
            done = step(password.toBase64(), 235);
    } else {
        hangUp();
        return Error(denied + QStringLiteral("\r\n詳細: サーバーの認証方式（%1）に対応していません。")
                                  .arg(readableReply(offered.join(' '))));
    }
    return done;
}

Status SmtpSender::transaction(const BuiltMessage &message)
{
    m_heard = false;
    m_dropped = false;
    Reply reply;
    if (m_resetFirst) {
        if (Status said = command("RSET", reply); !said)
            return said;
        if (reply.code != 250) {
            hangUp();
            return unsent(reply);
        }
    }
    // Until the end of DATA is answered, a failure leaves a transaction open.
    m_resetFirst = true;
    QByteArrayList commands{"MAIL FROM:<" + message.envelopeFrom + '>'};
    for (const QByteArray &r : message.recipients)
        commands.append("RCPT TO:<" + r + '>');
    commands.append("DATA");
    // With PIPELINING the whole group goes in one write and the replies are
    // read after, in order: one round trip instead of one per command.
    const bool pipelining = m_extensions.contains("PIPELINING");
    if (pipelining) {
        if (Status written = write(commands.join("\r\n") + "\r\n"); !written)
            return written;
    }
    std::optional<Error> refused;
    for (qsizetype i = 0; i < commands.size(); ++i) {
        const QByteArray &line = commands.at(i);
        m_step = line.left(4);
        if (Status said = pipelining ? readReply(reply) : command(line, reply); !said)
            return said;
        const bool data = i == commands.size() - 1;
        const bool accepted = i == 0 ? reply.code == 250 : data ? reply.code == 354 : reply.code == 250 || reply.code == 251;
        if (accepted && data && refused) {
            // The server waits for a message that is not coming: dropping the
            // connection discards the transaction, where an empty message
            // would reach the recipients it took.
            hangUp();
            return *refused;
        }
        if (accepted || refused)
            continue;
        if (i == 0 && reply.code == 530)
            refused = replyError(QStringLiteral("SMTPサーバー「%1」は認証を求めています。IDとパスワードを設定してください。").arg(serverText()), reply);
        else if (i == 0)
            refused = replyError(QStringLiteral("差出人「%1」はサーバーに受け付けられませんでした。").arg(QString::fromUtf8(message.envelopeFrom)), reply);
        else if (!data)
            refused = replyError(QStringLiteral("宛先「%1」はサーバーに受け付けられませんでした。").arg(QString::fromUtf8(message.recipients.at(i - 1))), reply);
        else
            refused = unsent(reply);
        if (!pipelining)
            return *refused;
    }
    if (refused)
        return *refused;
    m_step = "DATA";
    if (Status written = write(dataOf(message.source)); !written)
        return written;
    if (Status read = readReply(reply); !read)
        return read;
    m_resetFirst = false; // answered or not, the transaction is over
    return reply.code == 250 ? Status() : Status(unsent(reply));
}

Status SmtpSender::write(const QByteArray &bytes)
{
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        m_dropped = !m_heard;
        return waitFailed(SocketWait::Failed);
    }
    m_socket->write(bytes);
    // Until the last byte is on the wire (encrypted, where TLS is on), no
    // stretch without a byte moving may last longer than the stall bound.
    const auto pending = [this] { return m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite(); };
    qint64 left = pending();
    QDeadlineTimer stall(qint64(m_limits.stallSeconds) * 1000);
    const SocketWait how = waitOnSocket(*m_socket, m_limits.totalSeconds * 1000, m_deadline, m_cancelRequested, [&] {
        if (const qint64 now = pending(); now < left) {
            left = now;
            stall.setRemainingTime(qint64(m_limits.stallSeconds) * 1000);
        }
        return left == 0 || stall.hasExpired();
    });
    if (how == SocketWait::Done && left == 0)
        return {};
    m_dropped = how == SocketWait::Failed && !m_heard;
    return waitFailed(how == SocketWait::Done ? SocketWait::TimedOut : how);
}

Status SmtpSender::command(const QByteArray &line, Reply &reply)
{
    // Named by its verb; a line of a log-in dialogue (a secret) keeps "AUTH".
    static const QByteArrayList verbs{"EHLO", "HELO", "STARTTLS", "AUTH", "MAIL", "RCPT", "DATA", "RSET", "QUIT"};
    if (const QByteArray verb = line.left(line.indexOf(' ')); verbs.contains(verb))
        m_step = verb;
    if (Status written = write(line + "\r\n"); !written)
        return written;
    return readReply(reply);
}

Status SmtpSender::readReply(Reply &reply)
{
    reply = Reply();
    for (int lines = 0;;) {
        const qsizetype nl = m_in.indexOf('\n');
        if (nl < 0 || nl > kLongestReplyLine + 1) {
            if (m_in.size() > kLongestReplyLine + 1) {
                hangUp();
                return Error(QStringLiteral("SMTPサーバー「%1」の応答の1行が長すぎるため、送信を中止しました（%2 の応答が %3 バイトを超えました）。")
                                 .arg(serverText(), QString::fromLatin1(m_step), QString::number(kLongestReplyLine)));
            }
            const SocketWait how = waitOnSocket(*m_socket, m_limits.responseSeconds * 1000, m_deadline, m_cancelRequested,
                                                [this] { return m_socket->bytesAvailable() > 0; });
            if (m_socket->bytesAvailable() == 0) {
                m_dropped = how == SocketWait::Failed && !m_heard && m_in.isEmpty() && lines == 0;
                return waitFailed(how);
            }
            m_in += m_socket->read(kReadBuffer);
            continue;
        }
        QByteArray line = m_in.left(nl + 1);
        m_in.remove(0, nl + 1);
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (++lines > kMostReplyLines) {
            hangUp();
            return Error(QStringLiteral("SMTPサーバー「%1」の応答が長すぎるため、送信を中止しました（%2 の応答が %3 行を超えました）。")
                             .arg(serverText(), QString::fromLatin1(m_step), QString::number(kMostReplyLines)));
        }
        const bool coded = line.size() >= 3 && std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; })
            && (line.size() == 3 || line.at(3) == ' ' || line.at(3) == '-');
        if (!coded) {
            hangUp();
            return Error(QStringLiteral("SMTPサーバー「%1」の応答を理解できないため、送信を中止しました（%2 に対して「%3」）。")
                             .arg(serverText(), QString::fromLatin1(m_step), readableReply(line)));
        }
        reply.code = line.left(3).toInt();
        reply.texts.append(line.mid(4));
        reply.line = line;
        if (line.size() > 3 && line.at(3) == '-')
            continue;
        // 421: the server is closing the connection. As the first word on a
        // kept connection it is the same as a drop in between.
        if (reply.code == 421) {
            m_dropped = !m_heard;
            const Error closing = unsent(reply);
            hangUp();
            return closing;
        }
        m_heard = true;
        return {};
    }
}

void SmtpSender::quit()
{
    if (!m_socket)
        return;
    adopt();
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        // The sender goes away, often on the main thread amid its windows:
        // blocking waits with a tight bound and no event loop that could run
        // anything else meanwhile. What the server answers changes nothing.
        const QDeadlineTimer bound(kQuitMs);
        m_socket->write("QUIT\r\n");
        while (m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite() > 0 && !bound.hasExpired()
               && m_socket->waitForBytesWritten(int(bound.remainingTime()))) {
        }
        while (!m_socket->canReadLine() && !bound.hasExpired() && m_socket->waitForReadyRead(int(bound.remainingTime()))) {
        }
    }
    hangUp();
}

SmtpCertificateProbe probeSmtpCertificate(const SmtpServerAddress &address, int timeoutMs, const QString &caFile,
    const std::function<bool()> &cancelRequested)
{
    // One bound for the whole probe, looked at with the cancel between short
    // slices of every wait: a server that trickles a byte now and then
    // cannot hold it (and the modal question behind it) for longer.
    constexpr int kSliceMs = 100;
    constexpr qsizetype kLongestReplyLine = 4096;
    const QDeadlineTimer deadline(qMax(1, timeoutMs));
    SmtpCertificateProbe probe;
    QSslSocket socket;
    socket.setSslConfiguration(
        net::mailServerTls(caFile.isEmpty() ? QList<QSslCertificate>() : QSslCertificate::fromPath(caFile)));
    socket.setPeerVerifyName(address.host);
    QObject::connect(&socket, &QSslSocket::sslErrors, &socket, [&](const QList<QSslError> &errors) {
        probe.errors = errors;
        probe.certificate = socket.peerCertificate();
        socket.abort(); // only looked at: nothing is sent over it
    });
    // Waits in slices until `wait` succeeds; false when the socket closed,
    // the bound passed or the caller canceled (the last two are noted).
    const auto waitFor = [&](const std::function<bool(int)> &wait) {
        for (;;) {
            if (cancelRequested && cancelRequested()) {
                probe.canceled = true;
                return false;
            }
            if (deadline.hasExpired()) {
                probe.timedOut = true;
                return false;
            }
            if (wait(int(qBound(qint64(1), deadline.remainingTime(), qint64(kSliceMs)))))
                return true;
            if (socket.state() == QAbstractSocket::UnconnectedState)
                return false;
        }
    };
    // One reply: its last line starts with the code and a blank.
    const auto reply = [&](const char *code) {
        while (socket.state() == QAbstractSocket::ConnectedState) {
            while (socket.canReadLine()) {
                const QByteArray line = socket.readLine(kLongestReplyLine + 1);
                if (line.size() >= 4 && line[3] == ' ')
                    return line.startsWith(code);
            }
            if (socket.bytesAvailable() > kLongestReplyLine)
                return false; // no SMTP reply line is this long
            if (!waitFor([&](int ms) { return socket.waitForReadyRead(ms); }))
                return false;
        }
        return false;
    };
    const auto encrypted = [&] {
        waitFor([&](int ms) { return socket.waitForEncrypted(ms) || socket.state() != QAbstractSocket::ConnectedState; });
    };
    if (address.implicitTls) {
        socket.connectToHostEncrypted(address.host, quint16(address.port));
        encrypted();
    } else {
        socket.connectToHost(address.host, quint16(address.port));
        if (!waitFor([&](int ms) { return socket.waitForConnected(ms); }) || !reply("220"))
            return probe;
        socket.write("EHLO localhost\r\n");
        if (!reply("250"))
            return probe;
        socket.write("STARTTLS\r\n");
        if (!reply("220"))
            return probe;
        socket.startClientEncryption();
        encrypted();
    }
    socket.abort();
    return probe;
}

} // namespace kestra
