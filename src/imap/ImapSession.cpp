#include "imap/ImapSession.h"

#include "common/Text.h"
#include "net/TlsTrust.h"


namespace kestra {

Result<ServerAddress> resolveImapAddress(const QString &server, Security security, int port)
{
    Result<ServerAddress> parsed = parseServerAddress(server, MailProtocol::Imap);
    if (!parsed)
        return parsed;
    ServerAddress &a = parsed.value();
    a.implicitTls = a.implicitTls || security == Security::Tls;
    if (!a.portGiven)
        a.port = port > 0 && port <= 65535 ? port : usualPort(MailProtocol::Imap, a.implicitTls ? Security::Tls : security);
    return parsed;
}

ImapSession::ImapSession(ImapOptions options) : m_options(std::move(options)) {}

ImapSession::~ImapSession()
{
    if (m_socket)
        m_socket->abort();
}

Error ImapSession::fail(const QString &text)
{
    m_error = text;
    m_broken = true;
    if (m_socket)
        m_socket->abort();
    return failure();
}

Error ImapSession::failure() const
{
    const Error::Kind kind = !m_rejected.isNull() ? Error::Kind::CertificateRejected
        : m_canceled                               ? Error::Kind::Canceled
        : m_answered                               ? Error::Kind::Answered
                                                   : Error::Kind::Failed;
    return Error(m_error.isEmpty() ? QStringLiteral("IMAPサーバーに接続していません。") : m_error, kind);
}

ImapSession::Wait ImapSession::waitUntil(int boundMs, const std::function<bool()> &done)
{
    return waitOnSocket(*m_socket, boundMs, m_commandDeadline, m_options.cancelRequested, done);
}

Error ImapSession::waitFailed(Wait how, const QString &what)
{
    switch (how) {
    case Wait::Canceled:
        m_canceled = true;
        return fail(QStringLiteral("受信を中止しました。"));
    case Wait::Overdue:
        return fail(QStringLiteral("IMAPサーバー「%1」の応答が遅すぎるため、接続を切りました（%2 に %3 秒を超えました）。\r\n"
                                   "しばらくしてからもう一度受信してください。")
                        .arg(m_serverText, what, QString::number(m_options.commandTimeoutMs / 1000)));
    case Wait::TimedOut:
        return fail(QStringLiteral("IMAPサーバー「%1」から応答がありません（%2 を %3 秒待ちました）。\r\n"
                                   "しばらくしてからもう一度受信してください。続くときは「設定」で"
                                   "IMAPサーバーのポート番号と接続の保護を確かめてください。")
                        .arg(m_serverText, what, QString::number((m_options.readTimeoutMs + 999) / 1000)));
    case Wait::Done:
    case Wait::Failed:
        break;
    }
    return fail(QStringLiteral("IMAPサーバー「%1」との接続が切れました（%2: %3）。")
                    .arg(m_serverText, what, m_socket ? m_socket->errorString() : QString()));
}

void ImapSession::configureSocket(const QString &host)
{
    m_socket->setSslConfiguration(net::mailServerTls(m_options.extraCaCertificates));
    m_socket->setPeerVerifyName(host);
    acceptTrustedCertificate(*m_socket, m_options.trustedFingerprint, m_options.trustedOutOfDate, m_rejected,
                             m_certificateErrors);
}

Result<ImapResponse> ImapSession::read()
{
    for (;;) {
        ImapTaken taken = takeImapResponse(m_in, m_bounds);
        if (taken.response)
            return std::move(*taken.response);
        if (!taken.error.isEmpty())
            return fail(QStringLiteral("IMAPサーバー「%1」の応答を受け付けられないため、接続を切りました（%2）。")
                            .arg(m_serverText, taken.error));
        if (m_broken)
            return failure();
        const Wait how = waitUntil(m_options.readTimeoutMs, [this] { return m_socket->bytesAvailable() > 0; });
        m_in += m_socket->readAll();
        if (how != Wait::Done)
            return waitFailed(how, QStringLiteral("応答待ち"));
    }
}

QByteArray ImapSession::send(const QByteArray &command)
{
    if (m_broken || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        m_broken = true;
        return {};
    }
    const QByteArray tag = 'k' + QByteArray::number(++m_nextTag);
    m_socket->write(tag + ' ' + command + "\r\n");
    return tag;
}

Result<ImapResponse> ImapSession::finish(const QByteArray &tag, const Untagged &each, qint64 mostUntagged)
{
    if (tag.isEmpty())
        return failure();
    m_commandDeadline.setRemainingTime(m_options.commandTimeoutMs);
    while (m_socket->bytesToWrite() > 0) {
        if (const Wait how = waitUntil(m_options.readTimeoutMs, [this] { return m_socket->bytesToWrite() == 0; });
            how != Wait::Done)
            return waitFailed(how, QStringLiteral("送信"));
    }
    for (qint64 untagged = 0;;) {
        Result<ImapResponse> got = read();
        if (!got)
            return got;
        const ImapResponse &r = got.value();
        if (r.tag == tag)
            return got;
        if (r.tag == "+")
            return fail(QStringLiteral("IMAPサーバー「%1」が求めていない続きを求めました。").arg(m_serverText));
        if (r.tag != "*")
            continue; // the answer to a command sent ahead and no longer waited for
        if (++untagged > mostUntagged)
            return fail(QStringLiteral("IMAPサーバー「%1」の応答が多すぎるため、接続を切りました（%2 行を超えました）。")
                            .arg(m_serverText).arg(mostUntagged));
        if (r.status() == "BYE" && !m_loggingOut)
            return fail(QStringLiteral("IMAPサーバー「%1」が接続を終えました（%2）。").arg(m_serverText, readableReply(r.head())));
        if (const QList<QByteArray> names = r.capabilities(); !names.isEmpty())
            m_capabilities = names;
        if (each && !each(r))
            return failure();
    }
}

Status ImapSession::command(const QByteArray &command, const Untagged &each, qint64 mostUntagged)
{
    const Result<ImapResponse> answer = finish(send(command), each, mostUntagged);
    if (!answer)
        return answer.error();
    if (answer.value().status() != "OK") {
        const QByteArray verb = command.left(command.indexOf(' ') < 0 ? command.size() : command.indexOf(' '));
        m_error = QStringLiteral("IMAPサーバー「%1」が %2 を断りました（%3）。")
                      .arg(m_serverText, QString::fromLatin1(verb), readableReply(answer.value().head()));
        return Error(m_error);
    }
    return {};
}

Status ImapSession::readCapabilities()
{
    m_capabilities.clear();
    return command("CAPABILITY");
}

Status ImapSession::open(const QString &server)
{
    const Result<ServerAddress> resolved = resolveImapAddress(server, m_options.security, m_options.port);
    m_serverText = trimBlanks(server);
    if (!resolved)
        return fail(QStringLiteral("IMAPサーバー名「%1」を読み取れません（%2）。\r\n「設定」でIMAPサーバー名を確かめてください。")
                        .arg(m_serverText, resolved.error().message()));
    m_address = resolved.value();
    m_serverText = m_address.host + u':' + QString::number(m_address.port);
    m_socket = std::make_unique<QSslSocket>();
    configureSocket(m_address.host);
    m_commandDeadline.setRemainingTime(m_options.commandTimeoutMs);
    if (m_address.implicitTls)
        m_socket->connectToHostEncrypted(m_address.host, quint16(m_address.port));
    else
        m_socket->connectToHost(m_address.host, quint16(m_address.port));
    const bool tls = m_address.implicitTls;
    const Wait how = waitUntil(m_options.connectTimeoutMs, [this, tls] {
        return tls ? m_socket->isEncrypted() : m_socket->state() == QAbstractSocket::ConnectedState;
    });
    if (how != Wait::Done) {
        if (how == Wait::Failed && !m_certificateErrors.isEmpty())
            return fail(QStringLiteral("IMAPサーバー「%1」の証明書を確認できないため、接続を中止しました。パスワードは送っていません。\r\n理由: %2。")
                            .arg(m_serverText, certificateReasons(m_certificateErrors, m_address.host)));
        return waitFailed(how, QStringLiteral("接続"));
    }
    const Result<ImapResponse> greeting = read();
    if (!greeting)
        return greeting.error();
    const QByteArray status = greeting.value().status();
    if (greeting.value().tag != "*" || (status != "OK" && status != "PREAUTH"))
        return fail(QStringLiteral("IMAPサーバー「%1」が接続を断りました（%2）。").arg(m_serverText, readableReply(greeting.value().head())));
    // A server that logs in before any TLS could not be switched to it.
    if (status == "PREAUTH" && !tls && m_options.security != Security::None)
        return fail(QStringLiteral("IMAPサーバー「%1」が暗号化の前にログインを済ませたため、接続を中止しました。").arg(m_serverText));
    if (!tls && m_options.security != Security::None)
        return startTls();
    return readCapabilities();
}

Status ImapSession::startTls()
{
    if (Status asked = readCapabilities(); !asked)
        return fail(asked.error().message());
    if (!hasCapability("STARTTLS")) {
        if (m_options.security == Security::StartTls)
            return fail(QStringLiteral("IMAPサーバー「%1」は暗号化通信（STARTTLS）に対応していないため、接続を中止しました。パスワードは送っていません。\r\n"
                                       "「設定」でIMAPの接続の保護とポート番号を確かめてください（SSL/TLS ならふつうはポート 993）。")
                            .arg(m_serverText));
        if (!m_options.plainLogin)
            return {};
        const Status allowed = m_options.plainLogin(m_address);
        if (allowed)
            return {};
        m_answered = allowed.error().is(Error::Kind::Answered);
        return fail(allowed.error().message());
    }
    if (Status started = command("STARTTLS"); !started)
        return fail(started.error().message()); // never a silent fall-back to plain text
    m_in.clear();
    m_socket->startClientEncryption();
    if (const Wait how = waitUntil(m_options.connectTimeoutMs, [this] { return m_socket->isEncrypted(); }); how != Wait::Done) {
        if (!m_certificateErrors.isEmpty())
            return fail(QStringLiteral("IMAPサーバー「%1」の証明書を確認できないため、接続を中止しました。パスワードは送っていません。\r\n理由: %2。")
                            .arg(m_serverText, certificateReasons(m_certificateErrors, m_address.host)));
        return waitFailed(how, QStringLiteral("TLSハンドシェイク"));
    }
    // What the server offered in clear is forgotten.
    return readCapabilities();
}

Status ImapSession::login(const QString &user, const QString &password)
{
    const QByteArray id = user.toUtf8();
    const QByteArray pass = password.toUtf8();
    for (const QByteArray *field : {&id, &pass}) {
        if (field->contains('\r') || field->contains('\n') || field->contains('\0'))
            return Error(QStringLiteral("IDまたはパスワードに使えない文字(改行など)が含まれています。"));
    }
    if (hasCapability("LOGINDISABLED"))
        return fail(QStringLiteral("IMAPサーバー「%1」はこの接続でのログインを受け付けません。「設定」でIMAPの接続の保護を確かめてください。").arg(m_serverText));
    if (Status in = command("LOGIN " + imapQuoted(id) + ' ' + imapQuoted(pass)); !in)
        return m_broken ? in
                        : Status(Error(QStringLiteral("IMAPサーバー「%1」がログインを断りました。\r\n"
                                                      "「設定」の「ID/PASS」でIDとパスワードを確かめてください。\r\n(%2)")
                                           .arg(m_serverText, in.error().message())));
    return readCapabilities();
}

Result<bool> ImapSession::idle(int boundMs, const std::function<bool()> &wake)
{
    const QByteArray tag = send("IDLE");
    if (tag.isEmpty())
        return failure();
    m_commandDeadline.setRemainingTime(m_options.commandTimeoutMs);
    const Result<ImapResponse> go = read();
    if (!go)
        return go.error();
    if (go.value().tag != "+")
        return fail(QStringLiteral("IMAPサーバー「%1」がIDLEを断りました（%2）。").arg(m_serverText, readableReply(go.value().head())));
    // Waiting for news is no command that could be overdue.
    m_commandDeadline = QDeadlineTimer(QDeadlineTimer::Forever);
    bool news = false;
    const QDeadlineTimer bound(boundMs);
    while (!news && !bound.hasExpired() && !(wake && wake())) {
        ImapTaken taken = takeImapResponse(m_in, m_bounds);
        if (!taken.error.isEmpty())
            return fail(QStringLiteral("IMAPサーバー「%1」の応答を受け付けられないため、接続を切りました（%2）。").arg(m_serverText, taken.error));
        if (taken.response) {
            const ImapResponse &r = *taken.response;
            if (r.status() == "BYE")
                return fail(QStringLiteral("IMAPサーバー「%1」が接続を終えました（%2）。").arg(m_serverText, readableReply(r.head())));
            news = r.tag == "*" && (r.keyword() == "EXISTS" || r.keyword() == "RECENT");
            continue;
        }
        const Wait how = waitUntil(int(bound.remainingTime()), [&] {
            return m_socket->bytesAvailable() > 0 || (wake && wake());
        });
        m_in += m_socket->readAll();
        if (how != Wait::Done && how != Wait::TimedOut)
            return waitFailed(how, QStringLiteral("IDLE"));
    }
    m_socket->write("DONE\r\n");
    const Result<ImapResponse> done = finish(tag, {}, 1024);
    if (!done)
        return done.error();
    return news;
}

Status ImapSession::logout()
{
    if (!m_socket)
        return failure();
    m_loggingOut = true; // its BYE is the expected farewell
    Status said = m_broken ? Status(failure()) : command("LOGOUT");
    m_socket->disconnectFromHost();
    m_socket->abort();
    return said;
}

} // namespace kestra
