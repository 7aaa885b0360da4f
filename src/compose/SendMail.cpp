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

#include <atomic>

namespace kestra {

namespace {

QString progressLabel(int n, int count)
{
    return QStringLiteral("メールを送信しています。（%1 / %2）").arg(n).arg(count);
}

// Carries the send's progress from the worker thread into the dialog. Mails
// go out faster than a dialog repaints: at most one update waits for the
// dialog at a time and shows the latest mail, so the window does not take
// the processor from the send with a repaint per mail.
class DialogObserver final : public BulkSendObserver
{
public:
    DialogObserver(QProgressDialog &dialog, int count) : m_dialog(dialog), m_count(count) {}
    void progress(int n, int) override
    {
        m_latest.store(n);
        if (m_updateQueued.exchange(true))
            return;
        QMetaObject::invokeMethod(&m_dialog, [this] {
            m_updateQueued.store(false);
            const int latest = m_latest.load();
            m_dialog.setLabelText(progressLabel(latest, m_count));
            m_dialog.setValue(latest - 1);
        }, Qt::QueuedConnection);
    }

private:
    QProgressDialog &m_dialog;
    const int m_count;
    std::atomic<int> m_latest{0};
    std::atomic<bool> m_updateQueued{false};
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
    DialogObserver observer(progress, count);
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
