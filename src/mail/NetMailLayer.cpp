#include "mail/NetMailLayer.h"

#include "mail/AttachmentFiles.h"
#include "mail/Charsets.h"
#include "mail/MimeMessage.h"
#include "mail/SmtpSender.h"

#include <QDir>

namespace kestra {

namespace {

// Fills an output the way a fixed buffer of `size` characters is filled.
void fill(QString &out, const QString &value, int size)
{
    out = size > 0 ? value.left(size - 1) : QString();
}

// Raw bytes shown as text one byte per character, so they survive a round trip.
QString rawText(QByteArrayView bytes)
{
    QString text = QString::fromLatin1(bytes);
    text.remove(QChar(u'\0'));
    return text;
}

QByteArray rawBytes(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return text.toUtf8();
    }
    return text.toLatin1();
}

} // namespace

NetMailLayer::NetMailLayer() = default;
NetMailLayer::~NetMailLayer() = default;

void NetMailLayer::setTimeouts(int connectMs, int readMs)
{
    m_options.connectTimeoutMs = qMax(1, connectMs);
    m_options.readTimeoutMs = qMax(1, readMs);
}

void NetMailLayer::addTrustedCaCertificates(const QList<QSslCertificate> &certificates)
{
    m_options.extraCaCertificates += certificates;
}

bool NetMailLayer::addTrustedCaFile(const QString &path)
{
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(path, QSsl::Pem);
    m_options.extraCaCertificates += certificates;
    return !certificates.isEmpty();
}

int NetMailLayer::NMailInitializeWinSock()
{
    return 0;
}

int NetMailLayer::NMailSetOption(int, int)
{
    return 0;
}

int NetMailLayer::NMailEndWinSock()
{
    m_sessions.clear();
    return 0;
}

int NetMailLayer::failed(const QString &text, int result)
{
    m_lastError = text;
    return result;
}

int NetMailLayer::sessionFailed(Pop3Session *s, int result)
{
    return failed(s->errorText(), result);
}

Pop3Session *NetMailLayer::session(int handle)
{
    const auto it = m_sessions.find(handle);
    if (it == m_sessions.end()) {
        m_lastError = QStringLiteral("POP3の接続がありません。(接続番号 %1)").arg(handle);
        return nullptr;
    }
    return it->second.get();
}

int NetMailLayer::NMailPop3Connect(const QString &server)
{
    auto s = std::make_unique<Pop3Session>(m_options);
    if (!s->open(server))
        return sessionFailed(s.get());
    const int handle = m_nextHandle++;
    m_sessions.emplace(handle, std::move(s));
    return handle;
}

int NetMailLayer::NMailPop3Authenticate(int handle, const QString &id, const QString &password, int apop)
{
    Pop3Session *s = session(handle);
    if (!s)
        return -1;
    const int count = s->login(id, password, apop != 0);
    return count < 0 ? sessionFailed(s) : count;
}

int NetMailLayer::NMailPop3GetMailStatus(int handle, int number, QString &subject, QString &date, QString &from,
                                         QString &header, int)
{
    Pop3Session *s = session(handle);
    if (!s)
        return -1;
    QByteArray top;
    if (!s->top(number, top))
        return sessionFailed(s);
    const mime::SplitMessage split = mime::splitMessage(top);
    const mime::HeaderSummary summary = mime::summariseHeader(split.header);
    fill(subject, summary.subject, kHeaderBufferSize);
    fill(date, summary.date, kHeaderBufferSize);
    fill(from, summary.from, kHeaderBufferSize);
    fill(header, rawText(split.header), kHeaderBufferSize);
    return 0;
}

int NetMailLayer::NMailPop3GetMailSize(int handle, int number)
{
    Pop3Session *s = session(handle);
    if (!s)
        return -1;
    const qint64 size = s->size(number);
    if (size < 0)
        return sessionFailed(s);
    return int(qMin<qint64>(size, std::numeric_limits<int>::max() - 1));
}

int NetMailLayer::NMailPop3GetMail(int handle, int number, QString &subject, QString &date, QString &from,
                                   QString &header, QString &body, int bodySize, int, int)
{
    Pop3Session *s = session(handle);
    if (!s)
        return -1;
    QByteArray message;
    if (!s->retrieve(number, message)) {
        m_lastMessage.clear();
        m_lastHeaderOut.clear();
        return sessionFailed(s);
    }
    const mime::SplitMessage split = mime::splitMessage(message);
    const mime::HeaderSummary summary = mime::summariseHeader(split.header);
    fill(subject, summary.subject, kHeaderBufferSize);
    fill(date, summary.date, kHeaderBufferSize);
    fill(from, summary.from, kHeaderBufferSize);
    fill(header, rawText(split.header), kHeaderBufferSize);
    fill(body, rawText(split.body), bodySize);
    m_lastHeaderOut = header;
    m_lastMessage = std::move(message);
    return 0;
}

int NetMailLayer::NMailPop3DeleteMail(int handle, int number)
{
    Pop3Session *s = session(handle);
    if (!s)
        return -1;
    return s->remove(number) ? 0 : sessionFailed(s);
}

int NetMailLayer::NMailPop3Close(int handle)
{
    const auto it = m_sessions.find(handle);
    if (it == m_sessions.end())
        return failed(QStringLiteral("POP3の接続がありません。(接続番号 %1)").arg(handle));
    std::unique_ptr<Pop3Session> s = std::move(it->second);
    m_sessions.erase(it);
    if (s->broken())
        return -1; // the error text of the failure stays
    return s->quit() ? 0 : sessionFailed(s.get());
}

int NetMailLayer::NMailPop3Abandon(int handle)
{
    const auto it = m_sessions.find(handle);
    if (it == m_sessions.end())
        return failed(QStringLiteral("POP3の接続がありません。(接続番号 %1)").arg(handle));
    std::unique_ptr<Pop3Session> s = std::move(it->second);
    m_sessions.erase(it);
    return s->abandon() ? 0 : sessionFailed(s.get());
}

int NetMailLayer::NMailAttachmentFileFirst(int, const QString &, const QString &, const QString &,
                                           const QString &header, QString &body, const QString &attachFolder,
                                           const QString &, QString &source, int)
{
    QByteArray raw;
    if (!m_lastMessage.isEmpty() && header == m_lastHeaderOut)
        raw = m_lastMessage;
    else if (!source.isEmpty())
        raw = rawBytes(source);
    else
        raw = rawBytes(header + QStringLiteral("\r\n") + body);

    mime::MessageContent content = mime::parseMessage(raw);
    mime::PartialStore partials(attachFolder);
    QByteArray partialId;
    if (content.isPartial) {
        QString error;
        if (!partials.keep(content.piece.id, content.piece.number, content.piece.total, raw, &error))
            return failed(QStringLiteral("分割されたメールの一部を保存できません。(%1)").arg(error), -5);
        const QByteArray whole = partials.complete(content.piece.id);
        if (whole.isEmpty()) {
            body = mime::withCrLf(mime::decodeGuessed(mime::splitMessage(raw).body));
            return failed(QStringLiteral("分割されたメールの %1 番目を受け取りました。残りが揃うまで展開できません。")
                              .arg(content.piece.number),
                          -6);
        }
        partialId = content.piece.id;
        content = mime::parseMessage(whole);
    }

    body = content.text;
    QStringList problems;
    int written = 0;
    for (const mime::Attachment &a : std::as_const(content.attachments)) {
        QString error;
        if (mime::writeNewFile(attachFolder, a.name, a.data, &error).isEmpty())
            problems << error;
        else
            ++written;
    }
    if (!problems.isEmpty())
        return failed(QStringLiteral("添付ファイルを保存できません。(%1)").arg(problems.join(QStringLiteral(", "))), -5);
    if (!partialId.isEmpty())
        partials.drop(partialId);
    return written > 0 ? 1 : 0;
}

int NetMailLayer::NMailAttachmentFileClose(int)
{
    return 0;
}

int NetMailLayer::NMailGetMessage(int, QString &text, int &size)
{
    fill(text, m_lastError, size);
    size = int(text.size());
    return size;
}

int NetMailLayer::NMailSmtpSendMail(const QString &server, const QString &to, const QString &cc,
                                    const QString &bcc, const QString &from, const QString &subject,
                                    const QString &body, const QString &extraHeader,
                                    const QString &attachments, int)
{
    QString error;
    if (smtpSendMail(server, to, cc, bcc, from, subject, body, extraHeader, attachments, error) < 0)
        return failed(error);
    return 0;
}

} // namespace kestra
