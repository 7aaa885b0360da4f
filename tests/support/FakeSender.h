#pragma once

#include "mail/MailPorts.h"
#include "settings/MailOptionsInForce.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

#include <functional>

namespace kestra::test {

// A sender for tests that records every mail and answers from a rule: by
// default a mail to an empty recipient or to an address in `refused` fails
// with a text naming it; failSend() makes chosen sends fail with a text of
// their own. Installed as the program's ports while it lives (their
// mailbox fails, as the compose windows never receive).
class FakeSender final
{
public:
    // One send: the sender's server and the mail, its attachments joined by ",".
    struct Call {
        QString server, to, cc, bcc, from, subject, body, extraHeader, attachments;
    };

    FakeSender() { installMailPorts(ports()); }
    ~FakeSender() { installMailPorts({}); }
    FakeSender(const FakeSender &) = delete;
    FakeSender &operator=(const FakeSender &) = delete;

    QList<Call> calls;
    QSet<QString> refused;
    // The `occurrence`-th send (from 1; 0 = every one) fails with `text`.
    void failSend(int occurrence, const QString &text) { m_failures.insert(occurrence, text); }
    // Called with the number of each send (from 1) as it is made, on the
    // sending thread: window tests look at the progress dialog from here.
    std::function<void(int n)> onSend;
    // The cancel check of the last sender handed out, as the run set it.
    std::function<bool()> cancelCheck;

    std::unique_ptr<MailSender> sender(const QString &server)
    {
        return std::make_unique<Port>(*this, server);
    }
    MailPorts ports()
    {
        MailPorts ports;
        ports.sender = [this](const QString &server, const MailOptions &) { return sender(server); };
        return ports;
    }

private:
    class Port final : public MailSender
    {
    public:
        Port(FakeSender &fake, QString server) : m_fake(fake), m_server(std::move(server)) {}
        void setCancelCheck(std::function<bool()> check) override { m_fake.cancelCheck = std::move(check); }
        Status send(const OutgoingMail &mail) override
        {
            m_fake.calls.append({m_server, mail.to, mail.cc, mail.bcc, mail.from, mail.subject, mail.body,
                                 mail.extraHeader, mail.attachmentPaths.join(u',')});
            const int n = int(m_fake.calls.size());
            if (m_fake.onSend)
                m_fake.onSend(n);
            if (m_fake.cancelCheck && m_fake.cancelCheck())
                return Error::canceled(QStringLiteral("送信を中止しました。"));
            if (m_fake.m_failures.contains(n) || m_fake.m_failures.contains(0))
                return Error(m_fake.m_failures.value(n, m_fake.m_failures.value(0)));
            if (mail.to.trimmed().isEmpty())
                return Error(QStringLiteral("宛先が指定されていません。"));
            if (m_fake.refused.contains(mail.to))
                return Error(QStringLiteral("宛先「%1」はサーバーに受け付けられませんでした。").arg(mail.to));
            return {};
        }

    private:
        FakeSender &m_fake;
        QString m_server;
    };

    QMap<int, QString> m_failures;
};

} // namespace kestra::test
