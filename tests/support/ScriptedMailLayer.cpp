#include "support/ScriptedMailLayer.h"

#include <algorithm>

namespace kestra {

namespace {
constexpr int kHandle = 7;
}

ScriptedMailLayer::ScriptedMailLayer() = default;
ScriptedMailLayer::~ScriptedMailLayer() = default;

void ScriptedMailLayer::failCall(const QString &name, int occurrence, int result, const QString &text)
{
    m_failures[name].append({occurrence, result});
    m_failureTexts[name] = text.isEmpty() ? errorText : text;
}

QStringList ScriptedMailLayer::callNames() const
{
    QStringList names;
    for (const Call &c : m_calls)
        names << c.name;
    return names;
}

int ScriptedMailLayer::count(const QString &name) const
{
    return int(std::count_if(m_calls.cbegin(), m_calls.cend(), [&](const Call &c) { return c.name == name; }));
}

bool ScriptedMailLayer::record(const QString &name, const QString &args, int &result)
{
    m_calls.append({name, args});
    if (onCall)
        onCall(name);
    // A call that talks to the server notices a cancel as a real one would
    // while waiting: it fails, and the session is out of step.
    if (m_cancelCheck && m_cancelCheck() && (name.startsWith(QLatin1String("Pop3")) || name == QLatin1String("SmtpSendMail"))
        && name != QLatin1String("Pop3Close") && name != QLatin1String("Pop3Abandon")) {
        result = -1;
        m_lastError = QStringLiteral("中止しました。");
        return true;
    }
    const int n = count(name);
    for (const auto &[occurrence, value] : m_failures.value(name)) {
        if (occurrence == 0 || occurrence == n) {
            result = value;
            m_lastError = m_failureTexts.value(name);
            return true;
        }
    }
    return false;
}

const ScriptedMailLayer::Message *ScriptedMailLayer::message(int number) const
{
    if (number < 1 || number > mailbox.size())
        return nullptr;
    return &mailbox[number - 1];
}

int ScriptedMailLayer::NMailInitializeWinSock()
{
    int r = 0;
    record(QStringLiteral("InitializeWinSock"), {}, r);
    return r;
}

int ScriptedMailLayer::NMailSetOption(int option, int value)
{
    int r = 0;
    record(QStringLiteral("SetOption"), QStringLiteral("%1|%2").arg(option).arg(value), r);
    return r;
}

int ScriptedMailLayer::NMailEndWinSock()
{
    int r = 0;
    record(QStringLiteral("EndWinSock"), {}, r);
    return r;
}

int ScriptedMailLayer::NMailPop3Connect(const QString &server)
{
    int r = kHandle;
    if (record(QStringLiteral("Pop3Connect"), server, r))
        return r;
    m_open = true;
    m_deleted.clear();
    return kHandle;
}

int ScriptedMailLayer::NMailPop3Authenticate(int handle, const QString &id, const QString &password, int apop)
{
    int r = 0;
    if (record(QStringLiteral("Pop3Authenticate"), QStringLiteral("%1|%2|%3|%4").arg(handle).arg(id, password).arg(apop), r))
        return r;
    if (!expectedId.isEmpty() && (id != expectedId || password != expectedPassword)) {
        m_lastError = errorText;
        return -1;
    }
    return int(mailbox.size());
}

namespace {
// The four header texts of a message, as they fit the caller's buffers.
void fillHeaders(const ScriptedMailLayer::Message &m, QString &subject, QString &date, QString &from,
                 QString &header)
{
    const int width = MailLayer::kHeaderBufferSize - 1;
    subject = m.subject.left(width);
    date = m.date.left(width);
    from = m.from.left(width);
    header = m.header.left(width);
}
} // namespace

int ScriptedMailLayer::NMailPop3GetMailStatus(int handle, int number, QString &subject, QString &date,
                                              QString &from, QString &header, int)
{
    int r = 0;
    if (record(QStringLiteral("Pop3GetMailStatus"), QStringLiteral("%1|%2").arg(handle).arg(number), r))
        return r;
    const Message *m = message(number);
    if (!m) {
        m_lastError = errorText;
        return -1;
    }
    fillHeaders(*m, subject, date, from, header);
    return 0;
}

int ScriptedMailLayer::NMailPop3GetMailSize(int handle, int number)
{
    int r = 0;
    if (record(QStringLiteral("Pop3GetMailSize"), QStringLiteral("%1|%2").arg(handle).arg(number), r))
        return r;
    const Message *m = message(number);
    if (!m) {
        m_lastError = errorText;
        return -1;
    }
    return m->size >= 0 ? m->size : int(m->body.size());
}

int ScriptedMailLayer::NMailPop3GetMail(int handle, int number, QString &subject, QString &date, QString &from,
                                        QString &header, QString &body, int bodySize, int, int)
{
    int r = 0;
    m_lastFetched = nullptr;
    if (record(QStringLiteral("Pop3GetMail"), QStringLiteral("%1|%2|%3").arg(handle).arg(number).arg(bodySize), r))
        return r;
    const Message *m = message(number);
    if (!m) {
        m_lastError = errorText;
        return -1;
    }
    fillHeaders(*m, subject, date, from, header);
    body = m->body.left(qMax(0, bodySize - 1));
    m_lastFetched = m;
    return 0;
}

int ScriptedMailLayer::NMailPop3DeleteMail(int handle, int number)
{
    int r = 0;
    if (record(QStringLiteral("Pop3DeleteMail"), QStringLiteral("%1|%2").arg(handle).arg(number), r))
        return r;
    if (!message(number)) {
        m_lastError = errorText;
        return -1;
    }
    if (!m_deleted.contains(number))
        m_deleted.append(number);
    return 0;
}

int ScriptedMailLayer::NMailPop3Close(int handle)
{
    int r = 0;
    if (record(QStringLiteral("Pop3Close"), QString::number(handle), r))
        return r;
    m_open = false;
    // Deletions take effect when the session ends, from the back so numbers stay valid.
    std::sort(m_deleted.begin(), m_deleted.end(), std::greater<int>());
    for (int number : std::as_const(m_deleted))
        mailbox.removeAt(number - 1);
    m_deleted.clear();
    m_lastFetched = nullptr;
    return 0;
}

int ScriptedMailLayer::NMailPop3Abandon(int handle)
{
    int r = 0;
    const bool failed = record(QStringLiteral("Pop3Abandon"), QString::number(handle), r);
    // The session ends without its deletions, even when the reset "failed":
    // the connection is dropped without QUIT. The mailbox stays as it was.
    m_open = false;
    m_deleted.clear();
    m_lastFetched = nullptr;
    return failed ? r : 0;
}

int ScriptedMailLayer::NMailAttachmentFileFirst(int, const QString &subject, const QString &, const QString &,
                                                const QString &, QString &body, const QString &attachFolder,
                                                const QString &tempFile, QString &source, int)
{
    int r = 0;
    if (record(QStringLiteral("AttachmentFileFirst"),
               QStringLiteral("%1|%2|%3|%4").arg(subject, attachFolder, tempFile, source), r))
        return r;
    if (!m_lastFetched)
        return 0;
    if (!m_lastFetched->expandedBody.isEmpty())
        body = m_lastFetched->expandedBody;
    if (m_lastFetched->expandResult < 0)
        m_lastError = errorText;
    return m_lastFetched->expandResult;
}

int ScriptedMailLayer::NMailAttachmentFileClose(int)
{
    int r = 0;
    record(QStringLiteral("AttachmentFileClose"), {}, r);
    return r;
}

int ScriptedMailLayer::NMailGetMessage(int, QString &text, int &size)
{
    int r = 0;
    record(QStringLiteral("GetMessage"), {}, r);
    text = m_lastError.left(qMax(0, size - 1));
    size = int(text.size());
    return size;
}

int ScriptedMailLayer::NMailSmtpSendMail(const QString &server, const QString &to, const QString &, const QString &,
                                         const QString &from, const QString &subject, const QString &body,
                                         const QString &, const QString &attachments, int)
{
    int r = 0;
    if (record(QStringLiteral("SmtpSendMail"), QStringLiteral("%1|%2|%3|%4").arg(server, to, from, subject), r))
        return r;
    m_sent.append({server, to, from, subject, body, attachments});
    return 0;
}

} // namespace kestra
