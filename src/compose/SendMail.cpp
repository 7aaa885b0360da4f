#include "compose/SendMail.h"

#include "settings/MailOptionsInForce.h"
#include "common/Text.h"
#include "common/UserPrompt.h"
#include "common/WorkerThread.h"
#include "compose/Greetings.h"
#include "settings/MailOptionsInForce.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QProgressDialog>

namespace kestra {

namespace {

QString progressLabel(int n, int count)
{
    return QStringLiteral("メールを送信しています。（%1 / %2）").arg(n).arg(count);
}

// Carries the send's progress from the worker thread into the dialog, the
// latest mail only: the window does not take the processor from the send
// with a repaint per mail.
class DialogObserver final : public BulkSendObserver
{
public:
    explicit DialogObserver(QProgressDialog &dialog)
        : m_latest(&dialog, [&dialog](int n, int count) {
            dialog.setLabelText(progressLabel(n, count));
            dialog.setValue(n - 1);
        })
    {
    }
    void progress(int n, int count) override { m_latest.post(n, count); }

private:
    LatestProgress m_latest;
};

} // namespace

QString sendErrorTitle()
{
    return QStringLiteral("送信エラー");
}

QString sendStoppedText()
{
    return QStringLiteral("送信を中止しました。");
}

BulkSendResult sendWithProgress(const BulkSendInputs &inputs, QWidget *parent, const QString &title)
{
    // The server settings in force, read here: the sender reads no
    // program-wide state on the worker thread.
    const std::unique_ptr<MailSender> sender = mailPorts().sender(inputs.server, mailOptionsInForce());
    BulkSendInputs in = inputs;
    in.addFortune = withFortune;

    const int count = int(inputs.recipients.size());
    QProgressDialog progress(progressLabel(0, count), QStringLiteral("キャンセル"), 0, count, parent);
    progress.setObjectName(QStringLiteral("BulkProgress"));
    progress.setWindowTitle(title);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    DialogObserver observer(progress);
    BulkSend send(*sender, in, &observer);
    QObject::connect(&progress, &QProgressDialog::canceled, &progress, [&send] { send.cancel(); });
    progress.show();
    BulkSendResult result;
    {
        const MailBusy busy; // the automatic check waits while mail goes out
        runOnWorkerThread([&] { result = send.run(); });
    }
    // Progress still on its way to the dialog goes with it.
    QCoreApplication::removePostedEvents(&progress, QEvent::MetaCall);
    progress.hide();
    return result;
}

Status sendOneMessage(const QString &to, const QString &subject, const QString &body,
    const QString &attachments, QWidget *parent, const QString &title)
{
    const SharedSettings &s = appState().settings;
    BulkSendInputs inputs;
    inputs.server = s.smtpServer;
    inputs.from = s.mailAddress;
    inputs.recipients = QStringList { to };
    inputs.subject = subject;
    inputs.body = body;
    inputs.attachments = attachments;
    const BulkSendResult result = sendWithProgress(inputs, parent, title);
    if (result.stopped) {
        prompt().info(sendStoppedText(), title, PromptIcon::Information);
        return Error::canceled(sendStoppedText());
    }
    if (result.sent == 1)
        return {};
    // After a question the user answered No there is nothing to add.
    const Error error = result.lastError.value_or(Error::answered());
    if (!error.is(Error::Kind::Answered))
        prompt().info(error.message(), sendErrorTitle());
    return error;
}

} // namespace kestra
