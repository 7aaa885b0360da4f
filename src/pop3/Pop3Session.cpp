#include "pop3/Pop3Session.h"

#include "common/Text.h"
#include "net/TlsTrust.h"

#include <algorithm>
#include <limits>

#include <QCryptographicHash>
#include <QUrl>

#include <utility>

namespace kestra {

namespace {

constexpr qsizetype kMaxStatusLine = 64 * 1024;
constexpr qsizetype kMaxDataLine = 16 * 1024 * 1024;
constexpr qsizetype kMaxMessage = 256 * 1024 * 1024;
// What a CAPA answer may hold: a real server's list is a few hundred bytes.
constexpr qint64 kMaxCapabilities = 64 * 1024;
// The most messages a maildrop may announce: the tables read after the
// log-in (sizes, unique ids) are bounded by the count.
constexpr int kMostMessages = 1000000;
// A LIST or UIDL table holds one line per message; a few stray lines (out of
// range, unreadable) are left out, more mean the table is not one. Its lines
// are short: a number, a size or an id of at most 70 characters.
constexpr qint64 kStrayLines = 1024;
constexpr qint64 kTableLineBytes = 128;
constexpr qint64 kNoBound = std::numeric_limits<qint64>::max();
// Longest stretch of a wait in which a cancel goes unnoticed.
constexpr int kWaitSliceMs = 100;

QString seconds(int ms)
{
    return QString::number((ms + 999) / 1000);
}

} // namespace

QByteArray apopTimestamp(QByteArrayView greeting)
{
    // A msg-id: "<", printable ASCII without blanks or angle brackets holding
    // an "@", ">". Anything else is no challenge: a server that can change
    // what the client signs could replay an answer it saw elsewhere.
    constexpr qsizetype kLongest = 256;
    const qsizetype lt = greeting.indexOf('<');
    if (lt < 0)
        return {};
    const qsizetype end = qMin(greeting.size(), lt + kLongest);
    bool at = false;
    for (qsizetype i = lt + 1; i < end; ++i) {
        const char c = greeting[i];
        if (c == '>')
            return at && i > lt + 2 ? greeting.sliced(lt, i - lt + 1).toByteArray() : QByteArray();
        if (c < 0x21 || c > 0x7E || c == '<')
            return {};
        if (c == '@')
            at = true;
    }
    return {};
}

Result<Pop3Address> parsePop3Address(const QString &server)
{
    return parseServerAddress(server, MailProtocol::Pop3);
}

Result<Pop3Address> resolvePop3Address(const QString &server, Security security, int port)
{
    Result<Pop3Address> parsed = parsePop3Address(server);
    if (!parsed)
        return parsed;
    Pop3Address &a = parsed.value();
    if (security == Security::Tls)
        a.implicitTls = true;
    if (!a.portGiven)
        a.port = quint16(port > 0 && port <= 65535 ? port : usualPort(MailProtocol::Pop3, a.implicitTls ? Security::Tls : security));
    return parsed;
}

Pop3Session::Pop3Session(Pop3Options options) : m_options(std::move(options)) {}

Pop3Session::~Pop3Session()
{
    if (m_socket)
        m_socket->abort();
}

bool Pop3Session::fail(const QString &text, bool breaks)
{
    m_error = text;
    if (breaks) {
        m_broken = true;
        if (m_socket)
            m_socket->abort();
    }
    return false;
}

Error Pop3Session::failure() const
{
    const Error::Kind kind = !m_rejected.isNull() ? Error::Kind::CertificateRejected
        : m_canceled                               ? Error::Kind::Canceled
        : m_answered                               ? Error::Kind::Answered
                                                   : Error::Kind::Failed;
    return Error(m_error, kind);
}

QString Pop3Session::stepName() const
{
    switch (m_step) {
    case Step::Idle: return QStringLiteral("待機");
    case Step::Connect: return QStringLiteral("接続");
    case Step::Greeting: return QStringLiteral("接続時の挨拶");
    case Step::Capa: return QStringLiteral("CAPA");
    case Step::Stls: return QStringLiteral("STLS");
    case Step::Handshake: return QStringLiteral("TLSハンドシェイク");
    case Step::Apop: return QStringLiteral("APOP");
    case Step::User: return QStringLiteral("USER");
    case Step::Pass: return QStringLiteral("PASS");
    case Step::Stat: return QStringLiteral("STAT");
    case Step::List: return QStringLiteral("LIST");
    case Step::Top: return QStringLiteral("TOP");
    case Step::Retr: return QStringLiteral("RETR");
    case Step::Dele: return QStringLiteral("DELE");
    case Step::Rset: return QStringLiteral("RSET");
    case Step::Quit: return QStringLiteral("QUIT");
    case Step::Uidl: return QStringLiteral("UIDL");
    }
    return {};
}

QString Pop3Session::serverReply(const QByteArray &line) const
{
    return readableReply(line);
}

bool Pop3Session::encrypted() const
{
    return m_socket && m_socket->isEncrypted();
}

Pop3Session::Wait Pop3Session::waitInSlices(int boundMs, const std::function<bool(int)> &wait)
{
    const QDeadlineTimer bound(boundMs);
    for (;;) {
        if (m_options.cancelRequested && m_options.cancelRequested())
            return Wait::Canceled;
        if (m_commandDeadline.hasExpired())
            return Wait::Overdue;
        if (bound.hasExpired())
            return Wait::TimedOut;
        qint64 slice = qMin<qint64>(kWaitSliceMs, bound.remainingTime());
        if (!m_commandDeadline.isForever())
            slice = qMin(slice, m_commandDeadline.remainingTime());
        if (wait(int(qMax<qint64>(1, slice))))
            return Wait::Done;
        // A slice that ran out leaves the socket connected; anything else closed it.
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return Wait::Failed;
    }
}

Pop3Session::Wait Pop3Session::waitUntil(int boundMs, const std::function<bool()> &done)
{
    return waitOnSocket(*m_socket, boundMs, m_commandDeadline, m_options.cancelRequested, done);
}

bool Pop3Session::waitFailed(Wait how, const QString &timedOut)
{
    switch (how) {
    case Wait::Canceled:
        m_canceled = true;
        return fail(QStringLiteral("受信を中止しました。"));
    case Wait::Overdue:
        return fail(QStringLiteral("POP3サーバー「%1」の応答が遅すぎるため、接続を切りました（%2 に %3 秒を超えました）。\r\n"
                                   "しばらくしてからもう一度受信してください。")
                        .arg(m_serverText, stepName(), seconds(m_options.commandTimeoutMs)));
    case Wait::TimedOut:
        return fail(timedOut);
    case Wait::Done:
    case Wait::Failed:
        break;
    }
    return fail(QStringLiteral("POP3サーバー %1 との接続が切れました。(%2 の応答待ち: %3)")
                    .arg(m_serverText, stepName(), m_socket->errorString()));
}

bool Pop3Session::waitForData()
{
    if (m_socket->bytesAvailable() > 0) {
        m_in += m_socket->readAll();
        return true;
    }
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return fail(QStringLiteral("POP3サーバー %1 との接続が切れました。(%2 の応答待ち)").arg(m_serverText, stepName()));
    const Wait how = waitInSlices(m_options.readTimeoutMs, [this](int ms) { return m_socket->waitForReadyRead(ms); });
    if (m_socket->bytesAvailable() > 0) {
        m_in += m_socket->readAll();
        return true;
    }
    return waitFailed(how == Wait::Done ? Wait::Failed : how,
                      QStringLiteral("POP3サーバー「%1」から応答がありません（%2 の応答を %3 秒待ちました）。\r\n"
                                     "しばらくしてからもう一度受信してください。続くときは「設定」の「POPサーバー」で"
                                     "ポート番号と接続の保護を確かめてください。")
                          .arg(m_serverText, stepName(), seconds(m_options.readTimeoutMs)));
}

bool Pop3Session::readLine(QByteArray &line, qsizetype maxLength)
{
    for (;;) {
        const qsizetype nl = m_in.indexOf('\n', m_scanFrom);
        if (nl >= 0) {
            line = m_in.left(nl + 1);
            m_in.remove(0, nl + 1);
            m_scanFrom = 0;
            while (line.endsWith('\n') || line.endsWith('\r'))
                line.chop(1);
            return true;
        }
        m_scanFrom = m_in.size();
        if (m_in.size() > maxLength)
            return fail(QStringLiteral("POP3サーバー %1 の応答が長すぎます。(%2 の応答の1行が %3 バイトを超えました)")
                            .arg(m_serverText, stepName(), QString::number(maxLength)));
        if (!waitForData())
            return false;
    }
}

bool Pop3Session::readStatus(QByteArray &line)
{
    if (!readLine(line, kMaxStatusLine))
        return false;
    if (line.startsWith("+OK") || line.startsWith("-ERR"))
        return true;
    // Anything else means the conversation is out of step.
    return fail(QStringLiteral("POP3サーバー %1 の応答を理解できません。(%2 に対して「%3」)")
                    .arg(m_serverText, stepName(), serverReply(line)));
}

bool Pop3Session::readMultiline(QByteArray &data)
{
    return readMultiline(data, nullptr, kMaxMessage);
}

bool Pop3Session::readMultiline(QByteArray &data, QIODevice *sink, qint64 limit)
{
    data.clear();
    const auto keep = [&](QByteArrayView content) {
        if (!sink) {
            data.append(content);
            return true;
        }
        if (sink->write(content.data(), content.size()) == content.size())
            return true;
        return fail(QStringLiteral("受信したメールを一時ファイルに書き込めません。(%1)").arg(sink->errorString()));
    };
    // A message over the limit is read to its end and thrown away, so that
    // the session goes on; anything else over it ends the session.
    return readDataLines(limit, kNoBound, sink ? Overflow::ReadAway : Overflow::Fail, keep);
}

bool Pop3Session::readDataLines(qint64 maxBytes, qint64 maxLines, Overflow overflow,
                                const std::function<bool(QByteArrayView)> &each)
{
    qint64 total = 0;
    qint64 lines = 0;
    bool over = false;
    qsizetype pos = 0;
    qsizetype scan = 0;
    for (;;) {
        const qsizetype nl = m_in.indexOf('\n', scan);
        if (nl < 0) {
            // A line that cannot fit in what is left is not waited for to its end.
            if (overflow == Overflow::Fail && m_in.size() - pos > maxBytes - total)
                return fail(QStringLiteral("POP3サーバー %1 の応答が長すぎます。(%2 の応答が %3 バイトを超えました)")
                                .arg(m_serverText, stepName(), QString::number(maxBytes)));
            if (m_in.size() - pos > kMaxDataLine)
                return fail(QStringLiteral("POP3サーバー %1 の応答が長すぎます。(%2 の応答の1行が %3 バイトを超えました)")
                                .arg(m_serverText, stepName(), QString::number(kMaxDataLine)));
            m_in.remove(0, pos);
            pos = 0;
            scan = m_in.size();
            if (!waitForData())
                return false;
            continue;
        }
        const QByteArrayView line(m_in.constData() + pos, nl + 1 - pos);
        if (line == ".\r\n" || line == ".\n") {
            m_in.remove(0, nl + 1);
            m_scanFrom = 0;
            if (over) {
                // The answer was read to its end, so the session goes on.
                m_tooLarge = true;
                return fail(QStringLiteral("POP3サーバー %1 のメールが大きすぎます。(%2 の応答が %3 バイトを超えました)")
                                .arg(m_serverText, stepName(), QString::number(maxBytes)),
                            false);
            }
            return true;
        }
        const QByteArrayView content = line.startsWith('.') ? line.sliced(1) : line;
        total += content.size();
        if (++lines > maxLines)
            return fail(QStringLiteral("POP3サーバー %1 の応答が長すぎます。(%2 の応答が %3 行を超えました)")
                            .arg(m_serverText, stepName(), QString::number(maxLines)));
        if (total > maxBytes && overflow == Overflow::Fail)
            return fail(QStringLiteral("POP3サーバー %1 の応答が長すぎます。(%2 の応答が %3 バイトを超えました)")
                            .arg(m_serverText, stepName(), QString::number(maxBytes)));
        if (total > maxBytes)
            over = true; // the rest is read and thrown away
        else if (!each(content))
            return false;
        pos = nl + 1;
        scan = pos;
    }
}

bool Pop3Session::send(const QByteArray &command, Step step)
{
    if (!m_ahead.isEmpty() && !dropAhead())
        return false;
    m_step = step;
    if (m_broken || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("POP3サーバーに接続していません。");
        m_broken = true;
        return false;
    }
    m_commandDeadline.setRemainingTime(m_options.commandTimeoutMs);
    m_socket->write(command + "\r\n");
    const QDeadlineTimer deadline(m_options.readTimeoutMs);
    while (m_socket->bytesToWrite() > 0) {
        const Wait how = waitInSlices(int(qMax<qint64>(1, deadline.remainingTime())),
                                      [this](int ms) { return m_socket->waitForBytesWritten(ms); });
        if (how == Wait::Canceled || how == Wait::Overdue)
            return waitFailed(how, {});
        if (how != Wait::Done)
            return fail(QStringLiteral("POP3サーバー %1 に送信できません。(%2: %3)")
                            .arg(m_serverText, stepName(), m_socket->errorString()));
    }
    return true;
}

bool Pop3Session::command(const QByteArray &cmd, Step step, QByteArray *reply)
{
    QByteArray line;
    if (!send(cmd, step) || !readStatus(line))
        return false;
    if (reply)
        *reply = line;
    if (line.startsWith("-ERR"))
        return fail(QStringLiteral("POP3サーバー %1 が %2 を拒否しました。(%3)").arg(m_serverText, stepName(), serverReply(line)),
                    false);
    return true;
}

Pop3Session::Listing Pop3Session::listing(const QByteArray &cmd, Step step, qint64 maxBytes, qint64 maxLines,
                                          const std::function<void(QByteArrayView)> &each)
{
    QByteArray line;
    if (!send(cmd, step) || !readStatus(line))
        return Listing::Failed;
    if (!line.startsWith("+OK"))
        return Listing::Refused;
    const auto take = [&](QByteArrayView content) {
        each(content.trimmed());
        return true;
    };
    return readDataLines(maxBytes, maxLines, Overflow::Fail, take) ? Listing::Received : Listing::Failed;
}

Status Pop3Session::open(const QString &server)
{
    const Result<Pop3Address> resolved = resolvePop3Address(server, m_options.security, m_options.port);
    m_serverText = trimBlanks(server);
    if (!resolved)
        return status(fail(QStringLiteral("POP3サーバー名「%1」を読み取れません（%2）。\r\n「設定」の「POPサーバー」でサーバー名を確かめてください。")
                        .arg(m_serverText, resolved.error().message())));
    const Pop3Address &address = resolved.value();
    m_address = address;
    m_host = address.host;
    m_serverText = address.host + u':' + QString::number(address.port);

    m_socket = std::make_unique<QSslSocket>();
    m_socket->setSslConfiguration(net::mailServerTls(m_options.extraCaCertificates));
    m_socket->setPeerVerifyName(address.host);
    acceptTrustedCertificate(*m_socket, m_options.trustedFingerprint, m_options.trustedOutOfDate, m_rejected,
                             m_certificateErrors);

    m_step = Step::Connect;
    m_commandDeadline.setRemainingTime(m_options.commandTimeoutMs);
    if (address.implicitTls) {
        if (!QSslSocket::supportsSsl())
            return status(fail(QStringLiteral("POP3サーバー「%1」に暗号化して接続できません（このコンピューターでTLSが使えません）。").arg(m_serverText)));
        m_socket->connectToHostEncrypted(address.host, quint16(address.port));
    } else {
        m_socket->connectToHost(address.host, quint16(address.port));
    }
    Wait how = waitUntil(m_options.connectTimeoutMs,
                         [this] { return m_socket->state() == QAbstractSocket::ConnectedState; });
    if (how != Wait::Done)
        return status(connectFailed(how));
    if (address.implicitTls) {
        m_step = Step::Handshake;
        how = waitUntil(m_options.connectTimeoutMs, [this] { return m_socket->isEncrypted(); });
        if (how != Wait::Done)
            return status(handshakeFailed(how));
    }

    m_step = Step::Greeting;
    QByteArray greeting;
    if (!readStatus(greeting))
        return failure();
    if (!greeting.startsWith("+OK"))
        return status(fail(QStringLiteral("POP3サーバー「%1」が接続を断りました（%2）。\r\nしばらくしてからもう一度受信してください。").arg(m_serverText, serverReply(greeting))));
    m_timestamp = apopTimestamp(greeting);

    if (!address.implicitTls && m_options.security != Security::None)
        return status(startTls());
    return {};
}

bool Pop3Session::connectFailed(Wait how)
{
    const QString port = QString::number(m_address.port);
    const QString check = QStringLiteral("「設定」の「POPサーバー」で");
    if (how == Wait::Canceled || how == Wait::Overdue)
        return waitFailed(how, {});
    switch (how == Wait::TimedOut ? QAbstractSocket::SocketTimeoutError : m_socket->error()) {
    case QAbstractSocket::HostNotFoundError:
        return fail(QStringLiteral("POP3サーバー「%1」が見つかりません。\r\n%2サーバー名の綴りを確かめてください。"
                                   "インターネットにつながっているかも確かめてください。")
                        .arg(m_host, check));
    case QAbstractSocket::ConnectionRefusedError:
        return fail(QStringLiteral("POP3サーバー「%1」のポート %2 に接続を断られました。\r\n%3サーバー名、ポート番号、接続の保護を確かめてください。")
                        .arg(m_host, port, check));
    case QAbstractSocket::SocketTimeoutError:
        return fail(QStringLiteral("POP3サーバー「%1」のポート %2 に %3 秒待っても接続できません。\r\n"
                                   "%4サーバー名とポート番号を確かめるか、しばらくしてからもう一度受信してください。")
                        .arg(m_host, port, seconds(m_options.connectTimeoutMs), check));
    default:
        return fail(QStringLiteral("POP3サーバー「%1」のポート %2 に接続できません（%3）。\r\n"
                                   "ネットワークにつながっているか確かめ、%4サーバー名とポート番号を確かめてください。")
                        .arg(m_host, port, m_socket->errorString(), check));
    }
}

bool Pop3Session::handshakeFailed(Wait how)
{
    if (how == Wait::Canceled || how == Wait::Overdue)
        return waitFailed(how, {});
    if (!m_certificateErrors.isEmpty())
        return fail(QStringLiteral("POP3サーバー「%1」の証明書を確認できないため、接続を中止しました。パスワードは送っていません。\r\n理由: %2。")
                        .arg(m_serverText, certificateReasons(m_certificateErrors, m_host)));
    return fail(QStringLiteral("POP3サーバー「%1」と暗号化通信を始められませんでした（%2）。パスワードは送っていません。\r\n"
                               "「設定」の「POPサーバー」で接続の保護（STARTTLS か SSL/TLS）とポート番号を確かめてください。")
                    .arg(m_serverText, m_socket->errorString()));
}

bool Pop3Session::readCapabilities(QByteArrayList &names)
{
    // Servers without CAPA answer -ERR: they announce nothing.
    names.clear();
    const Listing capa = listing("CAPA", Step::Capa, kMaxCapabilities, kNoBound, [&](QByteArrayView line) {
        const qsizetype blank = line.indexOf(' ');
        const QByteArray name = line.first(blank < 0 ? line.size() : blank).toByteArray().toUpper();
        if (!name.isEmpty())
            names.append(name);
    });
    return capa != Listing::Failed;
}

bool Pop3Session::startTls()
{
    QByteArrayList capabilities;
    if (!readCapabilities(capabilities))
        return false;
    const bool offered = capabilities.contains("STLS");
    if (!offered) {
        if (m_options.security == Security::StartTls)
            return fail(QStringLiteral("POP3サーバー「%1」は暗号化通信（STARTTLS）に対応していないため、接続を中止しました。パスワードは送っていません。\r\n"
                                       "「設定」の「POPサーバー」で接続の保護とポート番号を確かめてください（SSL/TLS ならふつうはポート 995）。")
                            .arg(m_serverText));
        if (!m_options.plainLogin)
            return true;
        const Status allowed = m_options.plainLogin(m_address);
        if (allowed)
            return true;
        // A question the user answered No is told by its kind: nothing more to show.
        m_answered = allowed.error().is(Error::Kind::Answered);
        return fail(allowed.error().message());
    }
    if (!QSslSocket::supportsSsl())
        return fail(QStringLiteral("POP3サーバー「%1」と暗号化通信を始められません（このコンピューターでTLSが使えません）。").arg(m_serverText));
    if (!command("STLS", Step::Stls))
        return fail(m_error); // no silent fall-back to plain text
    m_in.clear();
    m_scanFrom = 0;
    m_step = Step::Handshake;
    m_socket->startClientEncryption();
    if (const Wait how = waitUntil(m_options.connectTimeoutMs, [this] { return m_socket->isEncrypted(); });
        how != Wait::Done)
        return handshakeFailed(how);
    return true;
}

Result<int> Pop3Session::login(const QString &user, const QString &password, bool apop)
{
    const QByteArray id = user.toUtf8();
    const QByteArray pass = password.toUtf8();
    for (const QByteArray *field : {&id, &pass}) {
        if (field->contains('\r') || field->contains('\n') || field->contains('\0')) {
            fail(QStringLiteral("IDまたはパスワードに使えない文字(改行など)が含まれています。"), false);
            return failure();
        }
    }
    if (apop) {
        if (m_timestamp.isEmpty()) {
            fail(QStringLiteral("POP3サーバー %1 はAPOPに対応していません。(接続時の挨拶にタイムスタンプがありません)")
                     .arg(m_serverText),
                 false);
            return failure();
        }
        const QByteArray digest = QCryptographicHash::hash(m_timestamp + pass, QCryptographicHash::Md5).toHex();
        QByteArray reply;
        if (!command("APOP " + id + ' ' + digest, Step::Apop, &reply)) {
            if (!m_broken)
                m_error = QStringLiteral("POP3サーバー「%1」がログインを断りました（%2: %3）。\r\n"
                                         "「設定」の「ID/PASS」でIDとパスワードを確かめてください。")
                              .arg(m_serverText, stepName(), serverReply(reply));
            return failure();
        }
    } else {
        QByteArray reply;
        if (!command("USER " + id, Step::User, &reply) || !command("PASS " + pass, Step::Pass, &reply)) {
            if (!m_broken)
                m_error = QStringLiteral("POP3サーバー「%1」がログインを断りました（%2: %3）。\r\n"
                                         "「設定」の「ID/PASS」でIDとパスワードを確かめてください。")
                              .arg(m_serverText, stepName(), serverReply(reply));
            return failure();
        }
    }
    QByteArray stat;
    if (!command("STAT", Step::Stat, &stat))
        return failure();
    bool ok = false;
    const int count = stat.split(' ').value(1).toInt(&ok);
    if (!ok || count < 0) {
        fail(QStringLiteral("POP3サーバー %1 の応答を理解できません。(STAT に対して「%2」)").arg(m_serverText, serverReply(stat)));
        return failure();
    }
    // Every table of the session is as long as the count: a count no real
    // maildrop reaches would let the server fill the memory.
    if (count > kMostMessages) {
        fail(QStringLiteral("POP3サーバー %1 のメールの数 (%2 通) が多すぎるため、受信を中止しました。(一度に扱えるのは %3 通までです)")
                 .arg(m_serverText, QString::number(count), QString::number(kMostMessages)));
        return failure();
    }
    if (count > 0 && !readSizeTable(count))
        return failure();
    // What the server offers once logged in (it may differ from before).
    QByteArrayList capabilities;
    if (count > 0 && !readCapabilities(capabilities))
        return failure();
    m_pipelining = capabilities.contains("PIPELINING");
    m_count = count;
    return count;
}

bool Pop3Session::readSizeTable(int count)
{
    // One LIST for the whole maildrop instead of one per message: the sizes
    // cannot change while the session holds the maildrop. A server that
    // refuses it, or whose table is not understood, is asked message by
    // message instead.
    m_sizes.clear();
    QHash<int, qint64> sizes;
    const qint64 lines = qint64(count) + kStrayLines;
    const Listing list = listing("LIST", Step::List, lines * kTableLineBytes, lines, [&](QByteArrayView entry) {
        const QList<QByteArray> fields = entry.toByteArray().split(' ');
        if (fields.size() < 2)
            return;
        bool numberOk = false;
        bool sizeOk = false;
        const int number = fields[0].toInt(&numberOk);
        const qint64 bytes = fields[1].toLongLong(&sizeOk);
        if (numberOk && sizeOk && number >= 1 && number <= count && bytes >= 0)
            sizes.insert(number, bytes);
    });
    if (list != Listing::Received)
        return list == Listing::Refused;
    m_sizes = std::move(sizes);
    return true;
}

Result<qint64> Pop3Session::size(int number)
{
    // Like every call after a failure that broke the session: at once.
    if (m_broken)
        return failure();
    if (const auto known = m_sizes.constFind(number); known != m_sizes.cend())
        return known.value();
    QByteArray reply;
    if (!command("LIST " + QByteArray::number(number), Step::List, &reply))
        return failure();
    bool ok = false;
    const qint64 bytes = reply.split(' ').value(2).toLongLong(&ok);
    if (!ok || bytes < 0) {
        fail(QStringLiteral("POP3サーバー %1 の応答を理解できません。(LIST に対して「%2」)").arg(m_serverText, serverReply(reply)));
        return failure();
    }
    return bytes;
}

Status Pop3Session::top(int number, QByteArray &header)
{
    return status(command("TOP " + QByteArray::number(number) + " 0", Step::Top) && readMultiline(header));
}

bool Pop3Session::dropAhead(int keep)
{
    while (!m_ahead.isEmpty() && m_ahead.first() != keep) {
        const int number = m_ahead.takeFirst();
        m_step = Step::Retr;
        m_commandDeadline.setRemainingTime(m_options.commandTimeoutMs);
        QByteArray line;
        if (!readStatus(line))
            return false;
        if (line.startsWith("-ERR"))
            continue;
        QByteArray unused;
        if (!readMultiline(unused, nullptr, qMax<qint64>(m_sizes.value(number) * 2 + 1024, 64 * 1024)))
            return false;
    }
    return true;
}

void Pop3Session::askAhead(int number, qint64 limit)
{
    // Only small messages are asked ahead, and only so many bytes of them at
    // a time: an answer not asked for in the end is read into memory to be
    // thrown away, and a cancel has at most this much to wait for.
    constexpr qint64 kAheadLargest = 1024 * 1024;
    constexpr qint64 kAheadBytes = 2 * 1024 * 1024;
    constexpr qsizetype kAheadCount = 8;
    if (!m_pipelining || m_broken)
        return;
    qint64 bytes = 0;
    for (const int waiting : std::as_const(m_ahead))
        bytes += m_sizes.value(waiting);
    QByteArray commands;
    for (int next = m_ahead.isEmpty() ? number + 1 : m_ahead.last() + 1;
         next <= m_count && m_ahead.size() < kAheadCount; ++next) {
        const qint64 size = m_sizes.value(next, -1);
        if (size < 0 || size > qMin(limit, kAheadLargest) || bytes + size > kAheadBytes)
            break;
        commands += "RETR " + QByteArray::number(next) + "\r\n";
        m_ahead.append(next);
        bytes += size;
    }
    if (!commands.isEmpty()) {
        m_socket->write(commands);
        m_socket->flush();
    }
}

Status Pop3Session::retrieve(int number, QIODevice &sink, qint64 limit)
{
    m_tooLarge = false;
    // Answers to messages asked ahead and no longer wanted come first.
    if (!dropAhead(number))
        return failure();
    if (!m_ahead.isEmpty()) { // asked already: its answer is next
        m_ahead.removeFirst();
        m_step = Step::Retr;
        m_commandDeadline.setRemainingTime(m_options.commandTimeoutMs);
    } else if (!send("RETR " + QByteArray::number(number), Step::Retr)) {
        return failure();
    }
    // The server prepares the next messages while this one is read and stored.
    askAhead(number, limit);
    QByteArray line;
    if (!readStatus(line))
        return failure();
    if (line.startsWith("-ERR"))
        return status(fail(QStringLiteral("POP3サーバー %1 が %2 を拒否しました。(%3)").arg(m_serverText, stepName(), serverReply(line)),
                           false));
    QByteArray unused;
    return status(readMultiline(unused, &sink, limit));
}

Result<Pop3Session::UniqueIds> Pop3Session::uniqueIds(QHash<int, QByteArray> &ids)
{
    ids.clear();
    const qint64 lines = qint64(m_count) + kStrayLines;
    const Listing list = listing("UIDL", Step::Uidl, lines * kTableLineBytes, lines, [&](QByteArrayView entry) {
        const QList<QByteArray> fields = entry.toByteArray().split(' ');
        if (fields.size() != 2)
            return;
        bool ok = false;
        const int number = fields[0].toInt(&ok);
        const QByteArray &id = fields[1];
        const bool printable = std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x21 && c <= 0x7E; });
        if (ok && number >= 1 && number <= m_count && !id.isEmpty() && id.size() <= 70 && printable)
            ids.insert(number, id);
    });
    if (list == Listing::Failed) {
        ids.clear();
        return failure();
    }
    if (list == Listing::Refused)
        return UniqueIds::Unsupported;
    return UniqueIds::Listed;
}

Status Pop3Session::remove(int number)
{
    if (m_pipelining && !m_broken) {
        m_heldDeletions.append(number);
        return {};
    }
    return status(command("DELE " + QByteArray::number(number), Step::Dele));
}

Status Pop3Session::flushDeletions()
{
    // Sent in windows, each read back before the next goes: the server's
    // answers must never fill the connection while we are still writing.
    constexpr qsizetype kWindow = 256;
    const QList<int> held = std::exchange(m_heldDeletions, {});
    QString refused;
    for (qsizetype from = 0; from < held.size(); from += kWindow) {
        const qsizetype n = qMin(kWindow, held.size() - from);
        QByteArray commands;
        for (qsizetype i = 0; i < n; ++i)
            commands += "DELE " + QByteArray::number(held.at(from + i)) + "\r\n";
        commands.chop(2);
        if (!send(commands, Step::Dele))
            return failure();
        for (qsizetype i = 0; i < n; ++i) {
            QByteArray line;
            if (!readStatus(line))
                return failure();
            if (line.startsWith("-ERR") && refused.isEmpty())
                refused = QStringLiteral("POP3サーバー %1 が %2 番のメールの削除を拒否しました。(%3)")
                              .arg(m_serverText, QString::number(held.at(from + i)), serverReply(line));
        }
    }
    return status(refused.isEmpty() || fail(refused, false));
}

Status Pop3Session::quit()
{
    if (!m_socket)
        return failure();
    bool ok = false;
    if (!m_broken && m_socket->state() == QAbstractSocket::ConnectedState) {
        // A refused mark does not hold back the others: QUIT commits them.
        const bool marked = flushDeletions().ok();
        ok = !m_broken && command("QUIT", Step::Quit) && marked;
    }
    m_socket->disconnectFromHost();
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->waitForDisconnected(qMin(m_options.readTimeoutMs, 2000));
    m_socket->abort();
    m_step = Step::Idle;
    return status(ok);
}

Status Pop3Session::abandon()
{
    if (!m_socket)
        return failure();
    bool ok = false;
    m_heldDeletions.clear(); // never sent: nothing to take back for them
    if (!m_broken && m_socket->state() == QAbstractSocket::ConnectedState)
        ok = command("RSET", Step::Rset);
    // No QUIT, whatever RSET gave: a session that ends without it commits nothing.
    m_socket->abort();
    m_step = Step::Idle;
    return status(ok);
}

} // namespace kestra
