#include "pop3/Pop3Mailbox.h"

#include <QDir>

namespace kestra {

namespace {

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

Pop3Mailbox::Pop3Mailbox(Pop3MailboxSetup setup) : m_setup(std::move(setup)) {}
Pop3Mailbox::~Pop3Mailbox() = default;

Error Pop3Mailbox::noSession() const
{
    return Error(QStringLiteral("POP3の接続がありません。"));
}

Error Pop3Mailbox::failed(Error error)
{
    if (m_session && m_session->broken())
        m_lastError = error;
    return error;
}

bool Pop3Mailbox::broken() const
{
    return !m_session || m_session->broken();
}

Status Pop3Mailbox::open(const MailboxAccount &account)
{
    m_account = account;
    m_session.reset();
    const QString &ini = m_setup.memoryIni;
    const ServerConnection &settings = m_setup.connection;
    // A name that cannot be read fails in the session's open(), with its reason.
    const Result<Pop3Address> resolved = resolvePop3Address(account.server, settings.security, settings.port);
    const Pop3Address address = resolved ? resolved.value() : Pop3Address();
    const ServerMemory memory(ini, MailProtocol::Pop3, address.host, address.port);

    Pop3Options options = m_setup.transport;
    // The session asks whatever check is in force at the moment it waits.
    options.cancelRequested = [this] { return m_cancelCheck && m_cancelCheck(); };
    applyConnection(options, settings);
    SecurityPrompt *prompt = m_setup.prompt;
    applyServerMemory(options, memory, ini, prompt, QStringLiteral("POP3"));

    auto s = std::make_unique<Pop3Session>(options);
    Status opened = s->open(account.server);
    // A certificate the system does not know: the user may trust exactly
    // this one for this server, and the connection is made again with it.
    if (!opened && opened.error().is(Error::Kind::CertificateRejected) && !ini.isEmpty() && prompt) {
        if (!securityQuestions::trustCertificate(prompt, memory, QStringLiteral("POP3"), s->rejectedCertificate(),
                s->certificateErrors(), address.host, QStringLiteral("エラー")))
            // The question said it all; unasked, the rejection itself is the news.
            return prompt->attended() ? Status(Error::answered()) : opened;
        options.trustedFingerprint = memory.trustedFingerprint();
        // The user has seen its dates: an expired one holds for this session only.
        options.trustedOutOfDate = true;
        s = std::make_unique<Pop3Session>(options);
        opened = s->open(account.server);
    }
    if (!opened)
        return opened;
    if (!ini.isEmpty() && s->encrypted())
        memory.rememberTls();
    m_session = std::move(s);
    return {};
}

Result<int> Pop3Mailbox::login()
{
    if (!m_session)
        return noSession();
    const Result<int> count = m_session->login(m_account.id, m_account.password, m_account.apop);
    if (!count)
        return failed(count.error());
    m_count = count.value();
    return count;
}

Result<MailboxListing> Pop3Mailbox::list(bool uniqueIds)
{
    if (!m_session)
        return noSession();
    MailboxListing listing;
    for (int n = 1; n <= m_count; ++n) {
        const Result<qint64> size = m_session->size(n);
        // A size the server will not tell is left unknown; the fetch still
        // keeps to the limit.
        if (!size && m_session->broken())
            return failed(size.error());
        listing.entries.append({n, size ? size.value() : -1, {}});
    }
    if (!uniqueIds || m_count == 0)
        return listing;
    QHash<int, QByteArray> byNumber;
    const Result<Pop3Session::UniqueIds> listed = m_session->uniqueIds(byNumber);
    if (!listed)
        return failed(listed.error());
    listing.hasUniqueIds = listed.value() == Pop3Session::UniqueIds::Listed;
    for (MailboxEntry &entry : listing.entries)
        entry.uniqueId = byNumber.value(entry.number);
    return listing;
}

Result<QByteArray> Pop3Mailbox::header(int number)
{
    if (!m_session)
        return noSession();
    QByteArray top;
    if (const Status got = m_session->top(number, top); !got)
        return failed(got.error());
    return top;
}

Result<RawMessage> Pop3Mailbox::fetch(int number)
{
    if (!m_session)
        return noSession();
    QByteArray bytes;
    QString fileError;
    SpillingSink sink(bytes, kInMemoryLargest, [&]() -> QFileDevice * {
        if (!m_file) {
            auto file = std::make_shared<QTemporaryFile>(
                QDir(QDir::tempPath()).filePath(QString::fromLatin1(kReceiveFilePattern)));
            if (!file->open()) {
                fileError = QStringLiteral("受信したメールを置く一時ファイルを作れません。(%1)").arg(file->errorString());
                return nullptr;
            }
            m_file = std::move(file);
        }
        if (!m_file->seek(0) || !m_file->resize(0)) {
            fileError = QStringLiteral("受信したメールを一時ファイルに書き込めません。(%1)").arg(m_file->errorString());
            return nullptr;
        }
        return m_file.get();
    });
    sink.open(QIODevice::WriteOnly);
    const qint64 limit = m_account.maxMessageBytes;
    if (const Status got = m_session->retrieve(number, sink, limit); !got) {
        if (!fileError.isEmpty())
            return Error(fileError);
        return failed(m_session->tooLarge() ? Error(tooLargeText(limit)) : got.error());
    }
    if (!sink.spilled())
        return RawMessage(std::move(bytes));
    if (!m_file->flush() || !m_file->seek(0))
        return Error(QStringLiteral("受信したメールを一時ファイルから読めません。(%1)").arg(m_file->errorString()));
    return RawMessage(std::static_pointer_cast<QFile>(m_file));
}

Status Pop3Mailbox::remove(int number)
{
    if (!m_session)
        return noSession();
    const Status marked = m_session->remove(number);
    return marked ? marked : Status(failed(marked.error()));
}

Status Pop3Mailbox::close()
{
    std::unique_ptr<Pop3Session> s = std::move(m_session);
    m_file.reset();
    if (!s)
        return noSession();
    if (s->broken())
        return m_lastError; // the failure that broke it
    return s->quit();
}

Status Pop3Mailbox::abandon()
{
    std::unique_ptr<Pop3Session> s = std::move(m_session);
    m_file.reset();
    if (!s)
        return noSession();
    return s->abandon();
}

} // namespace kestra
