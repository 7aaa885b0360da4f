#include "mail/NetMailLayer.h"

#include "common/Text.h"
#include "mail/AttachmentFiles.h"
#include "mail/Charsets.h"
#include "mail/MimeMessage.h"
#include "mail/ServerSecurity.h"
#include "mail/SmtpSender.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryFile>

#include <functional>
#include <limits>
#include <unistd.h>

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

// The rest of `file` as text one byte per character, NULs left out, at most
// `maxChars` characters; read in pieces, so the bytes are never in memory
// beside the text. With `bodyOnly` the header block is skipped first.
QString rawTextOf(QIODevice &file, qint64 maxChars, bool bodyOnly = false)
{
    if (bodyOnly) {
        while (!file.atEnd()) {
            const QByteArray line = file.readLine(1024 * 1024);
            if (line == "\r\n" || line == "\n" || line == "\r")
                break;
        }
    }
    const qint64 left = qMax<qint64>(0, file.size() - file.pos());
    QString text(qsizetype(qBound<qint64>(qint64(0), qMin(left, maxChars), qint64(std::numeric_limits<int>::max()))), Qt::Uninitialized);
    QChar *out = text.data();
    qsizetype used = 0;
    char buffer[64 * 1024];
    while (used < text.size()) {
        const qint64 got = file.read(buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (qint64 i = 0; i < got && used < text.size(); ++i) {
            if (buffer[i] != '\0')
                out[used++] = QLatin1Char(buffer[i]);
        }
    }
    text.truncate(used);
    return text;
}

// The header texts of a fetch, each as a buffer of the header size holds it.
void fillHeaderTexts(const mime::HeaderSummary &summary, QByteArrayView headerBlock, QString &subject, QString &date,
                     QString &from, QString &header)
{
    fill(subject, summary.subject, MailLayer::kHeaderBufferSize);
    fill(date, summary.date, MailLayer::kHeaderBufferSize);
    fill(from, summary.from, MailLayer::kHeaderBufferSize);
    fill(header, rawText(headerBlock), MailLayer::kHeaderBufferSize);
}

// Keeps what is written in `bytes` until it would outgrow `largest`, then
// moves it into the file `openFile` gives and goes on there: however much a
// server sends (whatever its size table said), memory holds at most that.
class SpillingSink final : public QIODevice
{
public:
    SpillingSink(QByteArray &bytes, qint64 largest, std::function<QFileDevice *()> openFile)
        : m_bytes(bytes), m_largest(largest), m_openFile(std::move(openFile))
    {
    }
    bool spilled() const { return m_file != nullptr; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override
    {
        if (!m_file && m_bytes.size() + length > m_largest) {
            m_file = m_openFile();
            if (!m_file || m_file->write(m_bytes) != m_bytes.size())
                return failed();
            m_bytes.clear();
        }
        if (!m_file) {
            m_bytes.append(data, length);
            return length;
        }
        return m_file->write(data, length) == length ? length : failed();
    }

private:
    qint64 failed()
    {
        setErrorString(m_file ? m_file->errorString() : QString());
        return -1;
    }

    QByteArray &m_bytes;
    qint64 m_largest;
    std::function<QFileDevice *()> m_openFile;
    QFileDevice *m_file = nullptr;
};

QString tooLargeText(qint64 limit)
{
    return QStringLiteral("メールが受信できる大きさ (%1 MB) を超えています。").arg(limit / (1024 * 1024));
}

} // namespace

int removeReceiveLeftovers()
{
    // Only a crash leaves one: a finished receive removes its file. A file
    // another running copy is still receiving into stays readable to it.
    QDir temp(QDir::tempPath());
    QString pattern = QString::fromLatin1(NetMailLayer::kReceiveFilePattern);
    pattern.replace(QStringLiteral("XXXXXX"), QStringLiteral("*"));
    int removed = 0;
    for (const QFileInfo &file : temp.entryInfoList({pattern}, QDir::Files | QDir::Hidden)) {
        if (!file.isSymLink() && file.ownerId() == ::getuid() && QFile::remove(file.filePath()))
            ++removed;
    }
    return removed;
}

NetMailLayer::NetMailLayer()
{
    m_lastBuffer.setBuffer(&m_lastBytes);
}
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

int NetMailLayer::NMailSetOption(int option, int value)
{
    if (option == kOptionMaxMessageMiB && value > 0)
        m_maxMessageBytes = qint64(qMin(value, kLargestMessageMiB)) * 1024 * 1024;
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
    // The connection settings of the server settings window and what the
    // program remembers about the server, as the caller handed them in.
    const QString &ini = m_mailOptions.memoryIni;
    const ServerConnection &settings = m_mailOptions.pop3;
    // A name that cannot be read fails in the session's open(), with its reason.
    const Result<Pop3Address> resolved = resolvePop3Address(server, settings.security, settings.port);
    const Pop3Address address = resolved ? resolved.value() : Pop3Address();
    const ServerMemory memory(ini, MailProtocol::Pop3, address.host, address.port);

    Pop3Options options = m_options;
    // The sessions ask whatever check is in force at the moment they wait.
    options.cancelRequested = [this] { return m_cancelCheck && m_cancelCheck(); };
    options.security = settings.security;
    options.port = settings.port;
    if (settings.timeoutSeconds > 0)
        options.connectTimeoutMs = options.readTimeoutMs = settings.timeoutSeconds * 1000;
    if (!ini.isEmpty()) {
        options.plainLogin = [&memory](const Pop3Address &) {
            return securityQuestions::plainLogin(memory, QStringLiteral("POP3"));
        };
        options.trustedFingerprint = memory.trustedFingerprint();
    } else {
        // No settings file: nobody chose plain text for this server.
        options.plainLogin = [](const Pop3Address &a) {
            return Status(securityQuestions::plainLoginRefused(QStringLiteral("POP3"), a.host + u':' + QString::number(a.port)));
        };
    }

    auto s = std::make_unique<Pop3Session>(options);
    Status opened = s->open(server);
    // A certificate the system does not know: the user may trust exactly
    // this one for this server, and the connection is made again with it.
    if (!opened && opened.error().is(Error::Kind::CertificateRejected) && !ini.isEmpty() && securityPrompt()) {
        if (!securityQuestions::trustCertificate(memory, QStringLiteral("POP3"), s->rejectedCertificate(),
                s->certificateErrors(), address.host, QStringLiteral("エラー")))
            return failed(QString()); // the question said it all
        options.trustedFingerprint = memory.trustedFingerprint();
        // The user has seen its dates: an expired one holds for this session only.
        options.trustedOutOfDate = true;
        s = std::make_unique<Pop3Session>(options);
        opened = s->open(server);
    }
    if (!opened)
        return failed(opened.error());
    if (!ini.isEmpty() && s->encrypted())
        memory.rememberTls();
    const int handle = m_nextHandle++;
    m_sessions.emplace(handle, std::move(s));
    return handle;
}

int NetMailLayer::NMailPop3Authenticate(int handle, const QString &id, const QString &password, int apop)
{
    Pop3Session *s = session(handle);
    if (!s)
        return -1;
    const Result<int> count = s->login(id, password, apop != 0);
    return count ? count.value() : failed(count.error());
}

int NetMailLayer::NMailPop3GetMailStatus(int handle, int number, QString &subject, QString &date, QString &from,
                                         QString &header, int)
{
    Pop3Session *s = session(handle);
    if (!s)
        return -1;
    // A message the size limit lets through is fetched whole now: the fetch
    // that follows then needs no exchange with the server, and the header
    // costs no TOP of its own.
    const Result<qint64> size = s->size(number);
    if (size && size.value() <= m_maxMessageBytes) {
        if (fetch(handle, s, number) < 0)
            return -1;
        fillHeaderTexts(m_fetched.summary, m_fetched.headerBlock, subject, date, from, header);
        return 0;
    }
    if (!size && s->broken())
        return failed(size.error());
    QByteArray top;
    if (const Status got = s->top(number, top); !got)
        return failed(got.error());
    const mime::SplitMessage split = mime::splitMessage(top);
    fillHeaderTexts(mime::summariseHeader(split.header), split.header, subject, date, from, header);
    return 0;
}

int NetMailLayer::NMailPop3GetMailSize(int handle, int number)
{
    Pop3Session *s = session(handle);
    if (!s)
        return -1;
    const Result<qint64> size = s->size(number);
    if (!size)
        return failed(size.error());
    return int(qMin<qint64>(size.value(), std::numeric_limits<int>::max() - 1));
}

void NetMailLayer::forgetFetched()
{
    m_fetched = Fetched();
    m_lastMessage = nullptr;
    m_lastHeaderOut.clear();
}

void NetMailLayer::dropLastMessage()
{
    forgetFetched();
    m_lastFile.reset();
    m_lastBuffer.close();
    m_lastBytes = QByteArray();
}

int NetMailLayer::fetch(int handle, Pop3Session *s, int number)
{
    if (m_fetched.handle == handle && m_fetched.number == number)
        return m_fetched.outcome ? 0 : failed(m_fetched.outcome.error().message()); // fetched already, or refused already
    forgetFetched();
    m_fetched.handle = handle;
    m_fetched.number = number;
    // The message goes into memory as it arrives, and moves to a private
    // file (created new, readable by the user only; one serves the whole
    // session) once it outgrows kInMemoryLargest.
    m_lastBuffer.close();
    m_lastBytes.resize(0); // keeps its room for the next message
    QString fileError;
    SpillingSink sink(m_lastBytes, kInMemoryLargest, [&]() -> QFileDevice * {
        if (!m_lastFile) {
            auto file = std::make_unique<QTemporaryFile>(
                QDir(QDir::tempPath()).filePath(QString::fromLatin1(kReceiveFilePattern)));
            if (!file->open()) {
                fileError = QStringLiteral("受信したメールを置く一時ファイルを作れません。(%1)").arg(file->errorString());
                return nullptr;
            }
            m_lastFile = std::move(file);
        }
        if (!m_lastFile->seek(0) || !m_lastFile->resize(0)) {
            fileError = QStringLiteral("受信したメールを一時ファイルに書き込めません。(%1)").arg(m_lastFile->errorString());
            return nullptr;
        }
        return m_lastFile.get();
    });
    sink.open(QIODevice::WriteOnly);
    const auto refused = [&](const QString &text) {
        m_fetched.outcome = Error(text);
        // A broken session is asked again, to fail at once; a refusal stays.
        if (s->broken())
            m_fetched = Fetched();
        return failed(text);
    };
    if (const Status got = s->retrieve(number, sink, m_maxMessageBytes); !got) {
        if (!fileError.isEmpty()) {
            m_fetched = Fetched(); // the next call tries again
            return failed(fileError);
        }
        return refused(s->tooLarge() ? tooLargeText(m_maxMessageBytes) : got.error().message());
    }
    QIODevice *message = &m_lastBuffer;
    if (sink.spilled()) {
        message = m_lastFile.get();
        if (!m_lastFile->flush())
            return refused(QStringLiteral("受信したメールを一時ファイルから読めません。(%1)").arg(m_lastFile->errorString()));
    } else {
        m_lastBuffer.open(QIODevice::ReadOnly);
    }
    if (!message->seek(0))
        return refused(QStringLiteral("受信したメールを一時ファイルから読めません。(%1)").arg(message->errorString()));
    m_lastMessage = message;
    QIODevice &file = *message;
    // The header block is read whole (it is needed for the summary).
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (line == "\r\n" || line == "\n" || line == "\r")
            break;
        m_fetched.headerBlock += line;
    }
    m_fetched.bodyOffset = file.pos();
    m_fetched.summary = mime::summariseHeader(m_fetched.headerBlock);
    m_fetched.outcome = {};
    return 0;
}

int NetMailLayer::NMailPop3GetMail(int handle, int number, QString &subject, QString &date, QString &from,
                                   QString &header, QString &body, int bodySize, int, int)
{
    Pop3Session *s = session(handle);
    if (!s)
        return -1;
    if (fetch(handle, s, number) < 0)
        return -1;
    fillHeaderTexts(m_fetched.summary, m_fetched.headerBlock, subject, date, from, header);
    // The body goes into the caller's buffer one byte per character.
    if (!m_lastMessage->seek(m_fetched.bodyOffset))
        return failed(QStringLiteral("受信したメールを一時ファイルから読めません。(%1)").arg(m_lastMessage->errorString()));
    body = rawTextOf(*m_lastMessage, bodySize - 1);
    m_lastHeaderOut = header;
    return 0;
}

int NetMailLayer::NMailPop3DeleteMail(int handle, int number)
{
    Pop3Session *s = session(handle);
    if (!s)
        return -1;
    const Status marked = s->remove(number);
    return marked ? 0 : failed(marked.error());
}

int NetMailLayer::NMailPop3UniqueIds(int handle, QStringList &ids)
{
    ids.clear();
    Pop3Session *s = session(handle);
    if (!s)
        return -1;
    QHash<int, QByteArray> byNumber;
    const Result<Pop3Session::UniqueIds> listed = s->uniqueIds(byNumber);
    if (!listed)
        return failed(listed.error());
    switch (listed.value()) {
    case Pop3Session::UniqueIds::Unsupported:
        return 1;
    case Pop3Session::UniqueIds::Listed:
        break;
    }
    int last = 0;
    for (auto it = byNumber.cbegin(); it != byNumber.cend(); ++it)
        last = qMax(last, it.key());
    for (int n = 1; n <= last; ++n)
        ids.append(QString::fromLatin1(byNumber.value(n)));
    return 0;
}

int NetMailLayer::NMailPop3Close(int handle)
{
    const auto it = m_sessions.find(handle);
    if (it == m_sessions.end())
        return failed(QStringLiteral("POP3の接続がありません。(接続番号 %1)").arg(handle));
    std::unique_ptr<Pop3Session> s = std::move(it->second);
    m_sessions.erase(it);
    dropLastMessage();
    if (s->broken())
        return -1; // the error text of the failure stays
    const Status quit = s->quit();
    return quit ? 0 : failed(quit.error());
}

int NetMailLayer::NMailPop3Abandon(int handle)
{
    const auto it = m_sessions.find(handle);
    if (it == m_sessions.end())
        return failed(QStringLiteral("POP3の接続がありません。(接続番号 %1)").arg(handle));
    std::unique_ptr<Pop3Session> s = std::move(it->second);
    m_sessions.erase(it);
    dropLastMessage();
    const Status abandoned = s->abandon();
    return abandoned ? 0 : failed(abandoned.error());
}

int NetMailLayer::NMailAttachmentFileFirst(int, const QString &, const QString &, const QString &,
                                           const QString &header, QString &body, const QString &attachFolder,
                                           const QString &, QString &source, int)
{
    // The fetched message itself when the caller hands back the header that
    // came with it, else the source text the caller gives.
    QIODevice *fetched = header == m_lastHeaderOut ? m_lastMessage : nullptr;
    const bool fetchedInMemory = fetched == &m_lastBuffer;
    QByteArray raw;
    if (!fetched)
        raw = !source.isEmpty() ? mime::rawTextBytes(source) : mime::rawTextBytes(header + QStringLiteral("\r\n") + body);
    // The raw body the caller holds is no longer needed: let it go before
    // the message is parsed.
    body = QString();

    mime::MessageContent content = !fetched          ? mime::parseMessage(raw)
                                   : fetchedInMemory ? mime::parseMessage(m_lastBytes)
                                                     : mime::parseMessageFile(*m_lastFile);
    mime::PartialStore partials(attachFolder);
    QByteArray partialId;
    if (content.isPartial) {
        const mime::PartialPiece piece = content.piece;
        QBuffer rawPiece(&raw);
        QIODevice &pieceBytes = fetched ? *fetched : rawPiece;
        if (!pieceBytes.isOpen())
            pieceBytes.open(QIODevice::ReadOnly);
        // Until the message is whole, the piece's own text is what is shown.
        const auto showPiece = [&] {
            pieceBytes.seek(0);
            const QString text = rawTextOf(pieceBytes, mime::kMaxTextBytes, true);
            body = toCrLf(mime::decodeGuessed(text.toLatin1()));
        };
        pieceBytes.seek(0);
        if (const Status kept = partials.keep(piece.id, piece.number, piece.total, piece.sender, pieceBytes); !kept) {
            showPiece();
            return failed(QStringLiteral("分割されたメールの一部を保存できません。(%1)").arg(kept.error().message()), -6);
        }
        QTemporaryFile whole(QDir(QDir::tempPath()).filePath(QString::fromLatin1(kReceiveFilePattern)));
        if (!whole.open())
            return failed(QStringLiteral("分割されたメールを組み立てる一時ファイルを作れません。(%1)").arg(whole.errorString()), -5);
        const Result<bool> completed = partials.complete(piece.id, whole, m_maxMessageBytes);
        if (!completed || !completed.value() || !whole.flush()) {
            showPiece();
            if (!completed) {
                partials.drop(piece.id);
                return failed(
                    QStringLiteral("分割されたメールを組み立てられません。(%1)").arg(completed.error().message()), -6);
            }
            return failed(QStringLiteral("分割されたメールの %1 番目を受け取りました。残りが揃うまで展開できません。")
                              .arg(piece.number),
                          -6);
        }
        partialId = piece.id;
        content = mime::parseMessageFile(whole);
    }
    raw = QByteArray();

    body = content.text;
    if (content.attachmentsLeftOut > 0)
        body = QStringLiteral("（添付ファイルが多すぎるため、最初の%1個だけを添付フォルダに展開しました。残りの%2個は展開していません。）\r\n")
                   .arg(mime::kMaxAttachments)
                   .arg(content.attachmentsLeftOut)
               + body;
    QStringList problems;
    int written = 0;
    for (mime::Attachment &a : content.attachments) {
        if (const Result<QString> path = mime::writeNewFile(attachFolder, a.name, a.data, &m_nextFreeNumbers); !path)
            problems << path.error().message();
        else
            ++written;
        a.data = QByteArray(); // written: its memory goes back at once
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

QByteArray NetMailLayer::lastFetchedMessage() const
{
    if (m_lastMessage == &m_lastBuffer)
        return m_lastBytes; // shared, not copied
    if (!m_lastMessage || !m_lastMessage->seek(0))
        return {};
    return m_lastMessage->readAll();
}

int NetMailLayer::NMailGetMessage(int, QString &text, int &size)
{
    fill(text, m_lastError, size);
    size = int(text.size());
    return size;
}

void NetMailLayer::setCancelCheck(std::function<bool()> check)
{
    m_cancelCheck = std::move(check);
}

void NetMailLayer::setOptions(const MailOptions &options)
{
    m_mailOptions = options;
}

int NetMailLayer::NMailSmtpSendMail(const QString &server, const QString &to, const QString &cc,
                                    const QString &bcc, const QString &from, const QString &subject,
                                    const QString &body, const QString &extraHeader,
                                    const QString &attachments, int)
{
    if (!m_smtp)
        m_smtp = std::make_unique<SmtpSender>();
    SmtpSender &sender = *m_smtp;
    sender.setAccount(m_mailOptions.smtpAccount);
    sender.setConnection(m_mailOptions.smtp, m_mailOptions.memoryIni);
    sender.setTrustedCaFile(m_smtpCaFile);
    SmtpLimits limits = m_smtpLimits;
    if (m_mailOptions.smtp.timeoutSeconds > 0)
        limits.connectSeconds = limits.responseSeconds = limits.stallSeconds = m_mailOptions.smtp.timeoutSeconds;
    sender.setLimits(limits);
    // The transfer asks whatever check is in force at the moment it waits.
    sender.setCancelCheck([this] { return m_cancelCheck && m_cancelCheck(); });

    OutgoingMail mail;
    mail.from = from;
    mail.to = to;
    mail.cc = cc;
    mail.bcc = bcc;
    mail.subject = subject;
    mail.body = body;
    mail.extraHeader = extraHeader;
    mail.attachmentPaths = splitAttachmentPaths(attachments);
    const Status sent = sender.send(server, mail);
    return sent ? 0 : failed(sent.error().message());
}

} // namespace kestra
