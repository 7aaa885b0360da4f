#include <curl/curl.h>

#include "smtp/SmtpSender.h"

#include "common/Clock.h"
#include "common/Text.h"
#include "net/TlsTrust.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QSslKey>
#include <QSslSocket>
#include <QRegularExpression>
#include <QSysInfo>

#include <cerrno>
#include <memory>
#include <mutex>
#include <optional>

namespace kestra {

namespace {

void initLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

QString SmtpServerAddress::url(const QString &heloName) const
{
    const QString h = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return (implicitTls ? QStringLiteral("smtps://") : QStringLiteral("smtp://")) + h + QLatin1Char(':')
        + QString::number(port) + QLatin1Char('/') + heloName;
}

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


// What one libcurl session saw: the upload position and the server's replies.
struct SmtpSender::Transfer {
    const QByteArray *data = nullptr;
    qsizetype position = 0;
    bool sawEhlo = false;
    bool offeredStartTls = false;
    QString lastReply; // last line the server sent
    QString lastCommand; // last command sent (AUTH details left out)
    QString failedCommand; // the command the server answered with an error
    int lastReplyCode = 0; // the code of that error answer
    QString refusedRecipient;
    const std::function<bool()> *cancelRequested = nullptr;

    // libcurl asks this several times a second, also while it waits for the
    // server: a non-zero answer ends the transfer at once.
    static int progress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        const auto *t = static_cast<const Transfer *>(user);
        return t->cancelRequested && *t->cancelRequested && (*t->cancelRequested)() ? 1 : 0;
    }

    static size_t read(char *buffer, size_t size, size_t count, void *user)
    {
        auto *t = static_cast<Transfer *>(user);
        const qsizetype left = t->data->size() - t->position;
        const qsizetype n = qMin(left, qsizetype(size * count));
        memcpy(buffer, t->data->constData() + t->position, size_t(n));
        t->position += n;
        return size_t(n);
    }

    static int debug(CURL *, curl_infotype type, char *data, size_t size, void *user)
    {
        auto *t = static_cast<Transfer *>(user);
        if (type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT)
            return 0;
        const QStringList lines
            = QString::fromLatin1(data, qsizetype(size)).split(QLatin1String("\r\n"), Qt::SkipEmptyParts);
        for (const QString &line : lines) {
            if (type == CURLINFO_HEADER_IN) {
                t->lastReply = line;
                if (line.startsWith(QLatin1Char('4')) || line.startsWith(QLatin1Char('5'))) {
                    t->failedCommand = t->lastCommand;
                    t->lastReplyCode = line.left(3).toInt();
                }
                if (line.size() > 4 && line.startsWith(QLatin1String("250"))
                    && line.mid(4).trimmed().compare(QLatin1String("STARTTLS"), Qt::CaseInsensitive) == 0)
                    t->offeredStartTls = true;
            } else {
                const QString upper = line.toUpper();
                if (upper.startsWith(QLatin1String("EHLO")))
                    t->sawEhlo = true;
                t->lastCommand = upper.startsWith(QLatin1String("AUTH")) ? QStringLiteral("AUTH") : line;
            }
        }
        return 0;
    }
};

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
    initLibraries();
}

SmtpSender::~SmtpSender()
{
    if (m_curl)
        curl_easy_cleanup(static_cast<CURL *>(m_curl));
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
    m_pinned = probe.certificate;
    m_pinnedOutOfDate = !valid;
    outcome = sendOver(address, message);
    m_pinned = QSslCertificate();
    m_pinnedOutOfDate = false;
    return outcome;
}

Status SmtpSender::sendOver(const SmtpServerAddress &address, const BuiltMessage &message)
{
    const QString server = address.host + QLatin1Char(':') + QString::number(address.port);
    if (address.implicitTls)
        return transfer(address, message, true, nullptr);
    if (m_connection.security == Security::None)
        return transfer(address, message, false, nullptr); // the user's choice

    // STARTTLS. A refused or failed upgrade is an error; a server that does
    // not offer it gets the password in clear only when the user allows it.
    bool notOffered = false;
    Status first = transfer(address, message, true, &notOffered);
    const std::optional<ServerMemory> memory = m_memoryIni.isEmpty()
        ? std::nullopt
        : std::optional<ServerMemory>(std::in_place, m_memoryIni, MailProtocol::Smtp, address.host, address.port);
    // Noted once per sender: the file is not read again for every mail of a run.
    if (first && memory && !m_tlsRemembered) {
        memory->rememberTls();
        m_tlsRemembered = true;
    }
    if (first || !notOffered)
        return first;
    if (m_connection.security == Security::StartTls)
        return Error(
            QStringLiteral("SMTPサーバー「%1」は暗号化通信（STARTTLS）に対応していないため、送信を中止しました。パスワードは送っていません。\r\n"
                           "「設定」の「POPサーバー」でSMTPの接続の保護とポート番号を確かめてください（SSL/TLS ならふつうはポート 465）。")
                .arg(server));
    // A server that offered STARTTLS before and no longer does is being
    // tampered with: the mail itself is not sent in clear either.
    if (memory && memory->tlsSeen())
        return securityQuestions::plainLogin(m_prompt, *memory, QStringLiteral("SMTP"));
    if (m_account.user.isEmpty() || !memory)
        return transfer(address, message, false, nullptr, false); // no password goes out
    if (Status allowed = securityQuestions::plainLogin(m_prompt, *memory, QStringLiteral("SMTP")); !allowed)
        return allowed;
    return transfer(address, message, false, nullptr);
}

Status SmtpSender::transfer(const SmtpServerAddress &address, const BuiltMessage &message, bool requireTls,
    bool *startTlsNotOffered, bool logIn)
{
    if (!m_curl)
        m_curl = curl_easy_init();
    CURL *curl = static_cast<CURL *>(m_curl);
    if (!curl)
        return Error(QStringLiteral("メールを送信する準備ができません。"));
    curl_easy_reset(curl);

    Transfer t;
    t.data = &message.source;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const QByteArray url = address.url(m_helo).toUtf8();
    const QByteArray from = '<' + message.envelopeFrom + '>';
    curl_slist *recipients = nullptr;
    for (const QByteArray &r : message.recipients)
        recipients = curl_slist_append(recipients, QByteArray('<' + r + '>').constData());
    const QByteArray user = m_account.user.toUtf8();
    const QByteArray password = m_account.password.toUtf8();
    const QByteArray caFile = QFile::encodeName(m_trustedCaFile);

    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &Transfer::read);
    curl_easy_setopt(curl, CURLOPT_READDATA, &t);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(message.source.size()));
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &Transfer::debug);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &t);
    curl_easy_setopt(curl, CURLOPT_USE_SSL, long(requireTls ? CURLUSESSL_ALL : CURLUSESSL_NONE));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    if (!caFile.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
    const QByteArray pinnedKey = m_pinned.isNull() ? QByteArray()
        : "sha256//" + QCryptographicHash::hash(m_pinned.publicKey().toDer(), QCryptographicHash::Sha256).toBase64();
    QByteArray pinnedPem = m_pinned.isNull() ? QByteArray() : m_pinned.toPem();
    if (!m_pinned.isNull()) {
        // The user accepted this very certificate, name and all, for this
        // server: its key must be the server's, and the certificate itself
        // stands in for the authorities, so that its dates are still checked
        // on this connection. Only one the user accepted out of its validity
        // just now goes without that check.
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(curl, CURLOPT_PINNEDPUBLICKEY, pinnedKey.constData());
        if (m_pinnedOutOfDate) {
            curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        } else {
            curl_blob blob{pinnedPem.data(), size_t(pinnedPem.size()), CURL_BLOB_COPY};
            curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
        }
    }
    if (!user.isEmpty() && logIn) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(m_limits.connectSeconds));
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(m_limits.responseSeconds));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(m_limits.stallSeconds));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, long(m_limits.totalSeconds));
    t.cancelRequested = &m_cancelRequested;
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Transfer::progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);

    CURLcode code = curl_easy_perform(curl);
    // A kept connection the server dropped since the last mail (an idle limit,
    // a restart) fails before any reply: the mail did not reach the server, so
    // it goes once more over a new connection, and the run carries on.
    long connects = 0;
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects);
    if (connects == 0 && t.lastReply.isEmpty()
        && (code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING)) {
        Transfer fresh;
        fresh.data = t.data;
        fresh.cancelRequested = t.cancelRequested;
        t = std::move(fresh);
        errorBuffer[0] = 0;
        curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
        code = curl_easy_perform(curl);
    }
    // The handle keeps its connection for the next mail, and libcurl may still
    // talk on it later (QUIT when the handle goes): no option may keep pointing
    // at this function's buffers and callbacks by then.
    curl_easy_reset(curl);
    curl_slist_free_all(recipients);

    if (code == CURLE_OK) {
        // With CURLUSESSL_ALL a session that succeeded ran over TLS.
        m_lastEncrypted = requireTls;
        return {};
    }

    // A fresh session that never saw STARTTLS offered: the caller may go plain.
    if (startTlsNotOffered && code == CURLE_USE_SSL_FAILED && t.sawEhlo && !t.offeredStartTls) {
        *startTlsNotOffered = true;
        return Error(QStringLiteral("STARTTLS"));
    }

    const QString server = address.host + QLatin1Char(':') + QString::number(address.port);
    QString text;
    switch (code) {
    case CURLE_ABORTED_BY_CALLBACK:
        text = QStringLiteral("送信を中止しました。");
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
        text = QStringLiteral("SMTPサーバー「%1」が見つかりません。\r\n"
                              "「設定」の「POPサーバー」でSMTPサーバー名の綴りを確かめてください。インターネットにつながっているかも確かめてください。")
                   .arg(address.host);
        break;
    case CURLE_COULDNT_CONNECT:
        text = QStringLiteral("SMTPサーバー「%1」に接続できません。\r\n"
                              "「設定」の「POPサーバー」でSMTPサーバー名、ポート番号、接続の保護を確かめてください。")
                   .arg(server);
        break;
    case CURLE_OPERATION_TIMEDOUT:
        text = QStringLiteral("SMTPサーバー「%1」が時間内に応答しません。\r\n"
                              "しばらくしてからもう一度送信してください。続くときは「設定」の「POPサーバー」でポート番号と接続の保護を確かめてください。")
                   .arg(server);
        break;
    case CURLE_PEER_FAILED_VERIFICATION:
        text = QStringLiteral("SMTPサーバー「%1」の証明書を確認できないため、送信を中止しました。パスワードは送っていません。").arg(server);
        break;
    case CURLE_SSL_CONNECT_ERROR:
        text = QStringLiteral("SMTPサーバー「%1」と暗号化通信（TLS）を確立できません。パスワードは送っていません。\r\n"
                              "「設定」の「POPサーバー」で接続の保護（STARTTLS か SSL/TLS）とポート番号を確かめてください。")
                   .arg(server);
        break;
    case CURLE_USE_SSL_FAILED:
        text = QStringLiteral("SMTPサーバー「%1」で暗号化通信（STARTTLS）に切り替えられません。").arg(server);
        break;
    case CURLE_LOGIN_DENIED:
        text = QStringLiteral("SMTPサーバー「%1」で認証に失敗しました。IDとパスワードを確かめてください。")
                   .arg(server);
        break;
    default:
        if (t.failedCommand.startsWith(QLatin1String("RCPT"), Qt::CaseInsensitive)) {
            QString who = t.failedCommand.section(QLatin1Char(':'), 1).trimmed();
            who.remove(QLatin1Char('<')).remove(QLatin1Char('>'));
            text = QStringLiteral("宛先「%1」はサーバーに受け付けられませんでした。").arg(who);
        } else if (t.failedCommand.startsWith(QLatin1String("MAIL"), Qt::CaseInsensitive)
            && t.lastReplyCode == 530) {
            text
                = QStringLiteral("SMTPサーバー「%1」は認証を求めています。IDとパスワードを設定してください。")
                      .arg(server);
        } else if (t.failedCommand.startsWith(QLatin1String("MAIL"), Qt::CaseInsensitive)) {
            text = QStringLiteral("差出人「%1」はサーバーに受け付けられませんでした。")
                       .arg(QString::fromUtf8(message.envelopeFrom));
        } else if (t.failedCommand.startsWith(QLatin1String("AUTH"), Qt::CaseInsensitive)) {
            text
                = QStringLiteral("SMTPサーバー「%1」で認証に失敗しました。IDとパスワードを確かめてください。")
                      .arg(server);
        } else {
            text = QStringLiteral("SMTPサーバー「%1」へメールを送信できませんでした。").arg(server);
        }
        break;
    }
    QString detail = QString::fromUtf8(errorBuffer);
    if (detail.isEmpty())
        detail = QString::fromUtf8(curl_easy_strerror(code));
    text += QStringLiteral("\r\n詳細: ") + detail;
    if (!t.lastReply.isEmpty() && code != CURLE_COULDNT_CONNECT && code != CURLE_COULDNT_RESOLVE_HOST)
        text += QStringLiteral("\r\nサーバーの応答: ") + t.lastReply;
    const Error::Kind kind = code == CURLE_PEER_FAILED_VERIFICATION ? Error::Kind::CertificateRejected
        : code == CURLE_ABORTED_BY_CALLBACK                         ? Error::Kind::Canceled
                                                                    : Error::Kind::Failed;
    return Error(text, kind);
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
