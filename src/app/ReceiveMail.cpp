#include "app/ReceiveMail.h"

#include "app/AutoCheck.h"
#include "app/MainForm.h"
#include "app/SecurityPrompt.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "common/UserPrompt.h"
#include "common/WorkerThread.h"
#include "history/HistoryListBox.h"
#include "history/TyakuForm.h"
#include "mime/MimeMessage.h"
#include "runs/ReceiveRun.h"
#include "common/FormPlacement.h"
#include "settings/MailOptionsInForce.h"
#include "settings/IdPassForm.h"
#include "storage/FetchedUidls.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/Settings.h"
#include "storage/StoreGuard.h"

#include <QDir>
#include <QEventLoop>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QTextEdit>

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

void showNotice(UserPrompt &boxes, const ReceiveNotice &notice)
{
    switch (notice.kind) {
    case ReceiveNotice::Kind::LibraryError:
        boxes.info(notice.text, QStringLiteral("エラー"), PromptIcon::None);
        break;
    case ReceiveNotice::Kind::SplitIncomplete:
        boxes.info(notice.text, appTitle());
        break;
    case ReceiveNotice::Kind::StoreError:
        boxes.info(QStringLiteral("受信したメールを保存できません。このメールと残りのメールはサーバーに残してあります。\r\n")
                          + notice.text,
                      appTitle(), PromptIcon::Critical);
        break;
    case ReceiveNotice::Kind::Information:
        boxes.info(notice.text, appTitle(), PromptIcon::Information);
        break;
    case ReceiveNotice::Kind::SyncError:
        boxes.info(QStringLiteral("受信したメールをディスクに書き込めません。今回受信したメールはすべてサーバーに残してあります。\r\n")
                          + notice.text,
                      appTitle(), PromptIcon::Critical);
        break;
    }
}

// The progress dialog stands in front of the window the user is in, which
// may be a window kept on top of the main window.
QWidget *dialogParent(MainForm &main)
{
    QWidget *front = frontWindow();
    return front ? front : &main;
}

// The dialog of a 受信 by hand: application-modal, shown at once, kept open
// until the run has ended, whatever its figures say.
void setUpProgress(QProgressDialog &dialog)
{
    dialog.setObjectName(QStringLiteral("ReceiveProgress"));
    dialog.setWindowTitle(appTitle());
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
}

// Carries the run's progress from the worker thread into the dialog.
class DialogObserver final : public ReceiveObserver
{
public:
    DialogObserver(QProgressDialog &dialog, MainForm &main)
        : m_main(main)
        // At most one update waits for the window at a time, and it shows the
        // latest figures: a fast run does not queue a repaint per message.
        , m_latest(&dialog, [&dialog](int n, int count) {
            dialog.setMaximum(count);
            dialog.setLabelText(progressLabel(n, count));
            dialog.setValue(n - 1);
        })
    {
    }

    void checking() override
    {
        QMetaObject::invokeMethod(&m_main, [main = &m_main] {
            main->showStatus(QStringLiteral("メールのチェックをしています。"));
        }, Qt::QueuedConnection);
    }
    void progress(int n, int count) override { m_latest.post(n, count); }

private:
    MainForm &m_main;
    LatestProgress m_latest;
};

// The record of the mail shown in the history window's boxes.
MailRecord historyBoxesRecord()
{
    TyakuForm *history = form<TyakuForm>();
    MailRecord record;
    const MailFields shown = history->boxes();
    record.Subject = trimBlanks(shown.subject);
    record.Header2 = trimBlanks(shown.address);
    record.Header3 = trimBlanks(shown.date);
    record.Body = trimBlanks(toCrLf(shown.body));
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
    history->showInBoxes({mail.date, mail.from, mail.subject, mail.body});
}

const QString &newMailIndicator()
{
    static const QString text = QStringLiteral("新着メール有り。");
    return text;
}

QString indicatorAfter(const ReceiveResult &result)
{
    // A run without an account never looked at the mailbox: it cannot say "no mail".
    return result.unseen >= 1        ? newMailIndicator()
           : result.accountMissing ? QStringLiteral("IDとパスワードが未設定です。")
           : result.unchecked      ? QStringLiteral("受信できませんでした。")
                                   : QStringLiteral("新着メール無し。");
}

namespace {

bool receivesOverImap()
{
    return !appState().appFolder.isEmpty() && readServerConnection(appPaths().extraIni(), MailProtocol::Imap).receiving;
}

} // namespace

QString receiveServer()
{
    return receivesOverImap() ? readServerConnection(appPaths().extraIni(), MailProtocol::Imap).server
                              : appState().settings.pop3Server;
}

std::optional<ReceiveInputs> receiveInputs(const StoreFaults &faults)
{
    const SharedSettings &settings = appState().settings;
    const QString server = receiveServer();
    if (server.isEmpty())
        return std::nullopt;
    ReceiveInputs inputs;
    inputs.server = server;
    inputs.apop = settings.apop != 0;
    // The ID and password confirmed in the account window during this run,
    // else the saved ones, read afresh at every run. They become the ones in
    // force once the server answered.
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
    // IMAP always leaves the mail on the server; the fetched-id journal
    // keeps its "<UIDVALIDITY>.<UID>" ids as it keeps POP3's UIDLs.
    if (receivesOverImap())
        inputs.options.leaveOnServer = true;
    inputs.fetchedListPath = appPaths().fetchedListFile();
    inputs.extraIniPath = appPaths().extraIni();
    inputs.faults = faults;
    return inputs;
}

void ReceiveMail(MainForm &main)
{
    // An automatic run under way finishes (or is stopped) first: one run at a
    // time talks to the server and appends to the store.
    if (AutoCheck *check = main.findChild<AutoCheck *>(); check && check->running()) {
        QProgressDialog waiting(QStringLiteral("メールのチェックをしています。"), QStringLiteral("キャンセル"), 0, 0,
                                dialogParent(main));
        setUpProgress(waiting);
        QEventLoop loop;
        QObject::connect(check, &AutoCheck::runFinished, &loop, &QEventLoop::quit);
        bool canceled = false;
        QObject::connect(&waiting, &QProgressDialog::canceled, check, [&] {
            canceled = true;
            check->cancel();
        });
        waiting.show();
        if (check->running())
            loop.exec();
        waiting.hide();
        if (canceled) {
            main.showStatus(QStringLiteral("受信を中止しました。"));
            return;
        }
    }

    const MailBusy busy; // the automatic check waits while this runs
    // 1. Without a server nothing is contacted.
    const std::optional<ReceiveInputs> inputs = receiveInputs(main.storeFaults());
    if (!inputs) {
        main.setMailIndicator(indicatorAfter({}));
        return;
    }

    // Application-modal for the whole run: no other window acts while the
    // run goes on. The run itself goes on a worker thread, so the windows
    // repaint, the clock ticks and the cancel button is taken at any moment.
    QProgressDialog progress(QStringLiteral("メールのチェックをしています。"), QStringLiteral("キャンセル"), 0, 0,
                             dialogParent(main));
    setUpProgress(progress);
    DialogObserver observer(progress, main);
    // The server settings in force, read here: the session reads no
    // program-wide state on the worker thread.
    const std::unique_ptr<MailboxSession> mailbox = mailPorts().mailbox(mailOptionsInForce(), &boxSecurityPrompt());
    ReceiveRun run(*mailbox, *inputs, &observer);
    QObject::connect(&progress, &QProgressDialog::canceled, &progress, [&run] { run.cancel(); });
    progress.show();
    ReceiveResult result;
    {
        // Compaction of the store waits for the run (see StoreHold).
        const StoreHold hold(inputs->storePath);
        runOnWorkerThread([&] { result = run.run(); });
    }
    // Progress still on its way to the dialog goes with it.
    QCoreApplication::removePostedEvents(&progress, QEvent::MetaCall);
    progress.hide();
    showReceiveResult(main, *inputs, result, ReceiveFor::User, prompt());
}

void showReceiveResult(MainForm &main, const ReceiveInputs &inputs, const ReceiveResult &result, ReceiveFor who,
                       UserPrompt &boxes)
{
    const bool user = who == ReceiveFor::User;
    SharedSettings &settings = appState().settings;
    // The status text, the account, the history's boxes: the user's own run only.
    if (user && result.contacted)
        main.showStatus(result.declined ? QStringLiteral("メールのチェックを中止しました。")
                                        : QStringLiteral("メールのチェックをしています。"));
    if (result.connected) {
        settings.pop3Id = inputs.id;
        settings.pop3Password = inputs.password;
        if (user) {
            IdPassForm *account = form<IdPassForm>();
            account->showAccount(settings.pop3Id, settings.pop3Password);
            if (result.accountMissing)
                showInFront(account);
            else
                form<TyakuForm>(); // the history window holds the received mail, loaded hidden
        }
    }
    if (user && result.last) {
        showInHistoryBoxes(*result.last);
    }
    for (const ReceiveNotice &notice : std::as_const(result.notices))
        showNotice(boxes, notice);
    // An open history lists what its store holds after the run. The user's
    // run lists it afresh; an automatic one only adds the new mail below,
    // keeping the selection, the shown mail and what was typed in it.
    const auto listInHistory = [&] {
        TyakuForm *history = loadedForm<TyakuForm>();
        if (!history)
            return;
        if (user && history->isVisible())
            history->refresh();
        else if (!user && result.received > 0 && appState().historyMode == 1)
            history->ListNewMail();
    };
    if (result.syncFailed) {
        if (user)
            main.showStatus(QStringLiteral("受信したメールを保存できませんでした。メールはサーバーに残してあります。"));
        listInHistory();
        main.setMailIndicator(indicatorAfter(result));
        return;
    }
    if (user && result.canceled)
        main.showStatus(result.count == 0
                                     ? QStringLiteral("受信を中止しました。")
                                     : QStringLiteral("受信を中止しました。%1通を受信しました。残りの%2通はサーバーに残してあります。")
                                           .arg(result.received)
                                           .arg(result.count - result.received));
    if (!result.stayed.isEmpty()) {
        QString text = stayedMessagesText(result.stayed);
        if (result.tooLarge > 0)
            text += QStringLiteral("\r\n\r\n大きすぎるメールを受信するには、設定ファイル kestra2.ini の [receive] maxMessageMiB を大きくしてください。");
        boxes.info(text, appTitle(), PromptIcon::Exclamation);
    }
    listInHistory();
    main.setMailIndicator(indicatorAfter(result));
}

} // namespace kestra
