#pragma once

#include "mail/MailLayer.h"
#include "mail/SmtpSender.h"

namespace kestra::test {

// A mail layer whose send is the real SMTP sender; receiving is not offered.
// For end-to-end tests and benchmarks of the windows that send.
class SmtpOnlyLayer final : public MailLayer
{
public:
    SmtpOnlyLayer() { setMailLayer(this); }
    ~SmtpOnlyLayer() override { setMailLayer(nullptr); }

    int NMailInitializeWinSock() override { return 0; }
    int NMailSetOption(int, int) override { return 0; }
    int NMailEndWinSock() override { return 0; }
    int NMailPop3Connect(const QString &) override { return -1; }
    int NMailPop3Authenticate(int, const QString &, const QString &, int) override { return -1; }
    int NMailPop3GetMailStatus(int, int, QString &, QString &, QString &, QString &, int) override { return -1; }
    int NMailPop3GetMailSize(int, int) override { return -1; }
    int NMailPop3GetMail(int, int, QString &, QString &, QString &, QString &, QString &, int, int, int) override
    {
        return -1;
    }
    int NMailPop3DeleteMail(int, int) override { return -1; }
    int NMailPop3Close(int) override { return 0; }
    int NMailAttachmentFileFirst(int, const QString &, const QString &, const QString &, const QString &,
                                 QString &, const QString &, const QString &, QString &, int) override
    {
        return 0;
    }
    int NMailAttachmentFileClose(int) override { return 0; }
    int NMailGetMessage(int, QString &text, int &size) override
    {
        text = m_lastError.left(kMessageBufferSize - 1);
        size = int(text.size());
        return 0;
    }
    int NMailSmtpSendMail(const QString &server, const QString &to, const QString &cc, const QString &bcc,
                          const QString &from, const QString &subject, const QString &body,
                          const QString &extraHeader, const QString &attachments, int) override
    {
        return smtpSendMail(server, to, cc, bcc, from, subject, body, extraHeader, attachments, m_lastError);
    }

private:
    QString m_lastError;
};

} // namespace kestra::test
