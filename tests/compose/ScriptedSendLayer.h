#pragma once

#include "mail/MailLayer.h"

#include <QList>
#include <QSet>
#include <QString>

#include <functional>

namespace kestra::test {

// A mail layer for window tests that records every send and answers from a
// rule: by default a mail to an empty recipient or to an address in
// `refused` fails with a text naming it. Receiving calls are not used by the
// compose window and fail.
class ScriptedSendLayer final : public MailLayer
{
public:
    struct Call {
        QString server, to, cc, bcc, from, subject, body, extraHeader, attachments;
        int flag = 0;
    };

    ScriptedSendLayer() { setMailLayer(this); }
    ~ScriptedSendLayer() override { setMailLayer(nullptr); }

    QList<Call> calls;
    QSet<QString> refused;
    // Called with the number of each send (from 1) as it is made, on the
    // sending thread: window tests look at the progress dialog from here.
    std::function<void(int n)> onSend;

    int NMailInitializeWinSock() override { return 0; }
    int NMailSetOption(int, int) override { return 0; }
    int NMailEndWinSock() override { return 0; }
    int NMailPop3Connect(const QString &) override { return -1; }
    int NMailPop3Authenticate(int, const QString &, const QString &, int) override { return -1; }
    int NMailPop3GetMailStatus(int, int, QString &, QString &, QString &, QString &, int) override
    {
        return -1;
    }
    int NMailPop3GetMailSize(int, int) override { return -1; }
    int NMailPop3GetMail(
        int, int, QString &, QString &, QString &, QString &, QString &, int, int, int) override
    {
        return -1;
    }
    int NMailPop3DeleteMail(int, int) override { return -1; }
    int NMailPop3Close(int) override { return 0; }
    int NMailPop3Abandon(int) override { return 0; }
    int NMailAttachmentFileFirst(int, const QString &, const QString &, const QString &, const QString &,
        QString &, const QString &, const QString &, QString &, int) override
    {
        return 0;
    }
    int NMailAttachmentFileClose(int) override { return 0; }

    int NMailGetMessage(int, QString &text, int &size) override
    {
        // Like a fixed buffer: the text, a NUL, and whatever stood there before.
        text = m_lastError + QChar(0) + text.mid(m_lastError.size() + 1);
        size = int(m_lastError.size());
        return 0;
    }

    int NMailSmtpSendMail(const QString &server, const QString &to, const QString &cc, const QString &bcc,
        const QString &from, const QString &subject, const QString &body, const QString &extraHeader,
        const QString &attachments, int flag) override
    {
        calls.append({ server, to, cc, bcc, from, subject, body, extraHeader, attachments, flag });
        if (onSend)
            onSend(int(calls.size()));
        if (to.trimmed().isEmpty()) {
            m_lastError = QStringLiteral("宛先が指定されていません。");
            return -1;
        }
        if (refused.contains(to)) {
            m_lastError = QStringLiteral("宛先「%1」はサーバーに受け付けられませんでした。").arg(to);
            return -1;
        }
        return 0;
    }

private:
    QString m_lastError;
};

} // namespace kestra::test
