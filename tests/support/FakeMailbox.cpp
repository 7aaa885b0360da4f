#include "support/FakeMailbox.h"

#include "net/ServerSecurity.h"

#include <algorithm>

namespace kestra {

QByteArray FakeMailbox::Message::bytes() const
{
    if (!raw.isEmpty())
        return raw;
    return "From: " + from.toUtf8() + "\r\nSubject: =?UTF-8?B?" + subject.toUtf8().toBase64() + "?=\r\nDate: "
           + date.toUtf8() + "\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n" + body.toUtf8();
}

class FakeMailbox::Session final : public MailboxSession
{
public:
    Session(FakeMailbox &box, SecurityPrompt *prompt) : m_box(box), m_prompt(prompt) {}

    void setCancelCheck(std::function<bool()> check) override { m_cancelCheck = std::move(check); }

    Status open(const MailboxAccount &account) override
    {
        m_box.m_account = account;
        m_box.m_broken = false;
        m_box.m_loggedIn = false;
        m_box.m_removed.clear();
        if (auto failed = call(QStringLiteral("open"), account.server + u'|'
                                   + QString::number(account.maxMessageBytes / (1024 * 1024))))
            return *failed;
        if (m_prompt && !m_box.question.isEmpty() && !m_prompt->ask(m_box.question, QStringLiteral("エラー"), true))
            return Error::answered();
        m_box.m_open = true;
        return {};
    }
    Result<int> login() override
    {
        const MailboxAccount &a = m_box.m_account;
        if (auto failed = call(QStringLiteral("login"),
                QStringList{a.id, a.password, a.apop ? QStringLiteral("apop") : QStringLiteral("user")}.join(u'|')))
            return *failed;
        if (!m_box.expectedId.isEmpty() && (a.id != m_box.expectedId || a.password != m_box.expectedPassword))
            return Error(QStringLiteral("ログインを拒否しました。"));
        m_box.m_loggedIn = true;
        return int(m_box.mailbox.size());
    }
    Result<MailboxListing> list(bool uniqueIds) override
    {
        if (auto failed = call(QStringLiteral("list"), uniqueIds ? QStringLiteral("uidl") : QString()))
            return *failed;
        MailboxListing listing;
        listing.hasUniqueIds = uniqueIds && m_box.uniqueIds;
        for (int n = 1; n <= m_box.mailbox.size(); ++n) {
            const Message &m = m_box.mailbox.at(n - 1);
            listing.entries.append({n, m.size >= 0 ? m.size : m.bytes().size(),
                                    listing.hasUniqueIds ? m.uniqueId : QByteArray()});
        }
        return listing;
    }
    Result<QByteArray> header(int number) override
    {
        if (auto failed = call(QStringLiteral("header"), QString::number(number)))
            return *failed;
        const QByteArray bytes = message(number).bytes();
        const qsizetype end = bytes.indexOf("\r\n\r\n");
        return end < 0 ? bytes : bytes.left(end + 4);
    }
    Result<RawMessage> fetch(int number) override
    {
        if (auto failed = call(QStringLiteral("fetch"), QString::number(number)))
            return *failed;
        const Message &m = message(number);
        const qint64 size = m.size >= 0 ? m.size : m.bytes().size();
        if (size > m_box.m_account.maxMessageBytes)
            return Error(QStringLiteral("メールが受信できる大きさ (%1 MB) を超えています。")
                             .arg(m_box.m_account.maxMessageBytes / (1024 * 1024)));
        return RawMessage(m.bytes());
    }
    Status remove(int number) override
    {
        if (auto failed = call(QStringLiteral("remove"), QString::number(number)))
            return *failed;
        if (!m_box.m_removed.contains(number))
            m_box.m_removed.append(number);
        return {};
    }
    Status close() override
    {
        const std::optional<Error> failed = call(QStringLiteral("close"), QString());
        const bool commits = !failed && m_box.m_open;
        m_box.m_open = false;
        if (commits) {
            // Removals take effect now, as with QUIT.
            std::sort(m_box.m_removed.begin(), m_box.m_removed.end(), std::greater<int>());
            for (int n : std::as_const(m_box.m_removed))
                m_box.mailbox.removeAt(n - 1);
        }
        m_box.m_removed.clear();
        return failed ? Status(*failed) : Status();
    }
    Status abandon() override
    {
        const std::optional<Error> failed = call(QStringLiteral("abandon"), QString());
        m_box.m_open = false;
        m_box.m_removed.clear();
        return failed ? Status(*failed) : Status();
    }
    bool broken() const override { return m_box.m_broken; }

private:
    std::optional<Error> call(const QString &name, const QString &args)
    {
        std::optional<Error> failed = m_box.record(name, args);
        // A call that waits ends when the caller cancels.
        if (!failed && m_cancelCheck && m_cancelCheck() && name != QLatin1String("close")
            && name != QLatin1String("abandon")) {
            m_box.m_broken = true;
            failed = Error::canceled(QStringLiteral("中止しました。"));
        }
        return failed;
    }
    const Message &message(int number) const { return m_box.mailbox.at(number - 1); }

    FakeMailbox &m_box;
    SecurityPrompt *m_prompt;
    std::function<bool()> m_cancelCheck;
};

void FakeMailbox::failCall(const QString &name, int occurrence, const QString &text, bool breaks)
{
    m_failures[name].append({occurrence, text.isEmpty() ? errorText : text, breaks});
}

std::optional<Error> FakeMailbox::record(const QString &name, const QString &args)
{
    m_calls.append({name, args});
    if (onCall)
        onCall(name);
    if (m_broken && name != QLatin1String("close") && name != QLatin1String("abandon"))
        return Error(QStringLiteral("接続が切れています。"));
    const int n = count(name);
    for (const Failure &f : std::as_const(m_failures[name])) {
        if (f.occurrence == 0 || f.occurrence == n) {
            if (f.breaks)
                m_broken = true;
            return Error(f.text);
        }
    }
    return std::nullopt;
}

QStringList FakeMailbox::callNames() const
{
    QStringList names;
    for (const Call &c : m_calls)
        names << c.name;
    return names;
}

int FakeMailbox::count(const QString &name) const
{
    return int(std::count_if(m_calls.cbegin(), m_calls.cend(), [&](const Call &c) { return c.name == name; }));
}

std::unique_ptr<MailboxSession> FakeMailbox::session(SecurityPrompt *prompt)
{
    return std::make_unique<Session>(*this, prompt);
}

MailPorts FakeMailbox::ports()
{
    MailPorts ports;
    ports.mailbox = [this](const MailOptions &, SecurityPrompt *prompt) { return session(prompt); };
    return ports;
}

} // namespace kestra
