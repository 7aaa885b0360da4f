#include "app/ReceiveMail.h"

#include "app/MainForm.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "common/UserPrompt.h"
#include "common/WorkerThread.h"
#include "history/HistoryListBox.h"
#include "history/TyakuForm.h"
#include "mail/MailLayer.h"
#include "mail/MimeMessage.h"
#include "mail/ReceiveRun.h"
#include "common/FormPlacement.h"
#include "settings/IdPassForm.h"
#include "storage/FetchedUidls.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/Settings.h"

#include <QDir>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QTextEdit>

#include <atomic>

namespace kestra {

namespace {

QString progressLabel(int n, int count)
{
    return QStringLiteral("メールを受信しています。（%1 / %2）").arg(n).arg(count);
}

QString receivedStorePath()
{
    return appPaths().dataFile(QString::fromUtf16(stores::received.fileName));
}

// The one box at the end of a run that lists the messages left on the server.
QString stayedMessagesText(const QList<StayedMessage> &stayed)
{
    constexpr int kListed = 20;
    QString text = QStringLiteral("次のメールは受信できなかったため、サーバーに残してあります。"
                                  "原因を取り除いてから、もう一度「受信」を押して下さい。\r\n");
    for (int i = 0; i < stayed.size() && i < kListed; ++i) {
        const StayedMessage &m = stayed.at(i);
        const QString subject = trimBlanks(m.subject);
        text += QStringLiteral("\r\n・%1通目　%2　%3\r\n　%4")
                    .arg(m.number)
                    .arg(subject.isEmpty() ? QStringLiteral("（件名なし）") : subject, trimBlanks(m.from), m.reason);
    }
    if (stayed.size() > kListed)
        text += QStringLiteral("\r\nほか%1通").arg(stayed.size() - kListed);
    return text;
}

void showNotice(const ReceiveNotice &notice)
{
    switch (notice.kind) {
    case ReceiveNotice::Kind::LibraryError:
        prompt().info(notice.text, QStringLiteral("エラー"), PromptIcon::None);
        break;
    case ReceiveNotice::Kind::SplitIncomplete:
        prompt().info(notice.text, appTitle());
        break;
    case ReceiveNotice::Kind::StoreError:
        prompt().info(QStringLiteral("受信したメールを保存できません。このメールと残りのメールはサーバーに残してあります。\r\n")
                          + notice.text,
                      appTitle(), PromptIcon::Critical);
        break;
    case ReceiveNotice::Kind::Information:
        prompt().info(notice.text, appTitle(), PromptIcon::Information);
        break;
    case ReceiveNotice::Kind::SyncError:
        prompt().info(QStringLiteral("受信したメールをディスクに書き込めません。今回受信したメールはすべてサーバーに残してあります。\r\n")
                          + notice.text,
                      appTitle(), PromptIcon::Critical);
        break;
    }
}

// Carries the run's progress from the worker thread into the dialog.
class DialogObserver final : public ReceiveObserver
{
public:
    DialogObserver(QProgressDialog &dialog, MainForm &main) : m_dialog(dialog), m_main(main) {}

    void checking() override
    {
        QMetaObject::invokeMethod(&m_main, [main = &m_main] {
            main->Text1->setPlainText(QStringLiteral("メールのチェックをしています。"));
        }, Qt::QueuedConnection);
    }
    void progress(int n, int count) override
    {
        m_n.store(n);
        m_count.store(count);
        // At most one update waits for the window at a time, and it shows the
        // latest figures: a fast run does not queue a repaint per message.
        if (m_pending.exchange(true))
            return;
        QMetaObject::invokeMethod(&m_dialog, [this] {
            m_pending.store(false);
            const int n = m_n.load();
            const int count = m_count.load();
            m_dialog.setMaximum(count);
            m_dialog.setLabelText(progressLabel(n, count));
            m_dialog.setValue(n - 1);
        }, Qt::QueuedConnection);
    }

private:
    QProgressDialog &m_dialog;
    MainForm &m_main;
    std::atomic<bool> m_pending{false};
    std::atomic<int> m_n{0};
    std::atomic<int> m_count{0};
};

// The record of the mail shown in the history window's boxes.
MailRecord historyBoxesRecord()
{
    TyakuForm *history = form<TyakuForm>();
    MailRecord record;
    record.Subject = trimBlanks(history->Text9->text());
    record.Header2 = trimBlanks(history->Text8->text());
    record.Header3 = trimBlanks(history->Text7->text());
    record.Body = trimBlanks(toCrLf(history->rtfEd->toPlainText()));
    record.LineEnd = QStringLiteral("\r\n");
    record.Live = 1;
    return record;
}

} // namespace

Status StoreReceivedMail(qint16 recordNumber)
{
    // writeRecordAt flushes the record to the disk before it returns.
    return writeRecordAt(receivedStorePath(), MailRecord::kLength, recordNumber, historyBoxesRecord().encode());
}

void showInHistoryBoxes(const ReceivedMail &mail)
{
    TyakuForm *history = form<TyakuForm>();
    history->Text9->setText(mail.subject);
    history->Text7->setText(mail.date);
    history->Text8->setText(mail.from);
    history->rtfEd->setPlainText(mail.body);
}

void ReceiveMail(MainForm &main)
{
    const MailBusy busy; // the automatic check waits while this runs
    SharedSettings &settings = appState().settings;
    const auto finish = [&](const ReceiveResult &result) {
        main.Text3->setText(result.unseen >= 1 ? QStringLiteral("新着メール有り。")
                            : result.unchecked ? QStringLiteral("受信できませんでした。")
                                               : QStringLiteral("新着メール無し。"));
    };
    // 1. Without a server nothing is contacted.
    if (settings.pop3Server.isEmpty()) {
        finish({});
        return;
    }

    // 3. The ID and password: those confirmed in the account window during
    // this run, else the saved ones, read afresh at every run. They become
    // the ones in force once the server answered.
    ReceiveInputs inputs;
    inputs.server = settings.pop3Server;
    inputs.apop = settings.apop != 0;
    if (settings.accountConfirmed) {
        inputs.id = settings.pop3Id;
        inputs.password = settings.pop3Password;
    } else {
        const IdPass saved = readIdPass(appPaths().idPassIni());
        inputs.id = saved.id.left(255);
        inputs.password = saved.password.left(255);
    }
    // The size limit, read at every run like the account.
    inputs.maxMessageMiB = readMaxMessageMiB(appPaths().extraIni());
    inputs.storePath = receivedStorePath();
    inputs.attachFolder = QDir(appPaths().attachFolder()).absolutePath() + u'/';
    inputs.options = readReceiveOptions(appPaths().extraIni());
    inputs.fetchedListPath = FetchedUidls::defaultPath();
    inputs.extraIniPath = appPaths().extraIni();
    inputs.faults = main.storeFaults();

    // Application-modal for the whole run: the history window must not
    // delete or compact the store while records are being appended to it,
    // and no other window acts while the run goes on. The run itself goes on
    // a worker thread, so the windows repaint, the clock ticks and the cancel
    // button is taken at any moment.
    QProgressDialog progress(QStringLiteral("メールのチェックをしています。"), QStringLiteral("キャンセル"), 0, 0, &main);
    progress.setObjectName(QStringLiteral("ReceiveProgress"));
    progress.setWindowTitle(appTitle());
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    DialogObserver observer(progress, main);
    // The server settings in force, read here: the layer reads no program-wide
    // state on the worker thread.
    mailLayer().setOptions(mailOptionsInForce());
    ReceiveRun run(mailLayer(), inputs, &observer);
    QObject::connect(&progress, &QProgressDialog::canceled, &progress, [&run] { run.cancel(); });
    progress.show();
    ReceiveResult result;
    runOnWorkerThread([&] { result = run.run(); });
    // Progress still on its way to the dialog goes with it.
    QCoreApplication::removePostedEvents(&progress, QEvent::MetaCall);
    progress.hide();

    // 2. Mirrored into the windows: the status text, the account, the history's boxes.
    if (result.contacted)
        main.Text1->setPlainText(QStringLiteral("メールのチェックをしています。"));
    if (result.connected) {
        settings.pop3Id = inputs.id;
        settings.pop3Password = inputs.password;
        IdPassForm *account = form<IdPassForm>();
        account->IdText->setText(settings.pop3Id);
        account->PassText->setText(settings.pop3Password);
        if (result.accountMissing)
            showInFront(account);
        else
            form<TyakuForm>(); // the history window holds the received mail, loaded hidden
    }
    if (result.last) {
        main.Text2->clear(); // scratch of the attachment mark; the clock refills it
        showInHistoryBoxes(*result.last);
    }
    for (const ReceiveNotice &notice : std::as_const(result.notices))
        showNotice(notice);
    // An open history lists exactly what its store holds after the run.
    const auto refillHistory = [] {
        if (TyakuForm *history = loadedForm<TyakuForm>(); history && history->isVisible())
            history->FillHistoryList();
    };
    if (result.syncFailed) {
        main.Text1->setPlainText(QStringLiteral("受信したメールを保存できませんでした。メールはサーバーに残してあります。"));
        refillHistory();
        finish(result);
        return;
    }
    if (result.canceled)
        main.Text1->setPlainText(result.count == 0
                                     ? QStringLiteral("受信を中止しました。")
                                     : QStringLiteral("受信を中止しました。%1通を受信しました。残りの%2通はサーバーに残してあります。")
                                           .arg(result.received)
                                           .arg(result.count - result.received));
    if (!result.stayed.isEmpty()) {
        QString text = stayedMessagesText(result.stayed);
        if (result.tooLarge > 0)
            text += QStringLiteral("\r\n\r\n大きすぎるメールを受信するには、設定ファイル kestra2.ini の [receive] maxMessageMiB を大きくしてください。");
        prompt().info(text, appTitle(), PromptIcon::Exclamation);
    }
    refillHistory();
    finish(result);
}

} // namespace kestra
