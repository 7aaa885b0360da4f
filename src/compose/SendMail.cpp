#include "compose/SendMail.h"

#include "common/AppState.h"
#include "common/Text.h"
#include "common/UserPrompt.h"
#include "mail/MailLayer.h"

namespace kestra {

QString sendErrorTitle()
{
    return QStringLiteral("送信エラー");
}

SendResult sendOneMessage(const QString &to, const QString &subject, const QString &body,
    const QString &attachments, bool showErrorBox)
{
    const MailBusy busy;
    const SharedSettings &s = appState().settings;
    const int result = mailLayer().NMailSmtpSendMail(
        s.smtpServer, to, QString(), QString(), s.mailAddress, subject, body, QString(), attachments, 0);
    if (result >= 0)
        return { true, {} };

    QString text(MailLayer::kMessageBufferSize, QLatin1Char(' '));
    int size = MailLayer::kMessageBufferSize;
    mailLayer().NMailGetMessage(0, text, size);
    text = cutAtNul(text);
    // An empty text follows a question the user answered No: nothing to add.
    if (showErrorBox && !trimBlanks(text).isEmpty())
        prompt().info(text, sendErrorTitle());
    return { false, text };
}

} // namespace kestra
