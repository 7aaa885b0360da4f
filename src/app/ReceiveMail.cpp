#include "app/ReceiveMail.h"

#include "app/MainForm.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "common/UserPrompt.h"
#include "history/HistoryListBox.h"
#include "history/TyakuForm.h"
#include "mail/MailLayer.h"
#include "mail/MimeMessage.h"
#include "settings/FormPlacement.h"
#include "settings/IdPassForm.h"
#include "storage/Originals.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/Settings.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QTextEdit>

namespace kestra {

namespace {

ReceiveProgressHook &progressHook()
{
    static ReceiveProgressHook hook;
    return hook;
}

QString progressLabel(int n, int count)
{
    return QStringLiteral("メールを受信しています。（%1 / %2）").arg(n).arg(count);
}

const QString &attachmentNotice()
{
    static const QString text = QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");
    return text;
}

QString receivedStorePath()
{
    return appPaths().dataFile(QString::fromUtf16(stores::received.fileName));
}

// The texts the library hands out hold raw message bytes one per character;
// other text is taken as UTF-8.
QByteArray textBytes(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return text.toUtf8();
    }
    return text.toLatin1();
}

// The library's last error text, cut at its NUL.
QString libraryError(MailLayer &library)
{
    QString text(MailLayer::kMessageBufferSize, QLatin1Char(' '));
    int size = MailLayer::kMessageBufferSize;
    library.NMailGetMessage(0, text, size);
    return cutAtNul(text);
}

// The library's last error text in the receiving error box. An empty text
// follows a question the user answered No: nothing to add.
void showLibraryErrorText(const QString &text)
{
    if (!trimBlanks(text).isEmpty())
        prompt().info(text, QStringLiteral("エラー"), PromptIcon::None);
}

void showLibraryError(MailLayer &library)
{
    showLibraryErrorText(libraryError(library));
}

// A message this run left on the server, and why.
struct StayedMessage {
    int number;
    QString subject;
    QString from;
    QString reason;
};

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

void showStoreError(const StorageError &error)
{
    prompt().info(QStringLiteral("受信したメールを保存できません。このメールと残りのメールはサーバーに残してあります。\r\n")
                      + error.message(),
                  appTitle(), PromptIcon::Critical);
}

// What of a body the store can keep: the record's body field holds
// MailRecord::kBodyChars characters at most, after the leading blanks that are
// trimmed away. The window shows no more than that, so a huge message does not
// become a huge document in the editor.
QString storableBody(QString body)
{
    qsizetype lead = 0;
    while (lead < body.size() && body[lead] == u' ')
        ++lead;
    body.truncate(lead + MailRecord::kBodyWidth);
    return body;
}

} // namespace

void setReceiveProgressHook(ReceiveProgressHook hook)
{
    progressHook() = std::move(hook);
}

namespace {

// The record of the mail shown in the history window's boxes.
MailRecord historyBoxesRecord()
{
    TyakuForm *history = form<TyakuForm>();
    MailRecord record;
    record.Subject = trimBlanks(history->Text9->text());
    record.Header2 = trimBlanks(history->Text8->text());
    record.Header3 = trimBlanks(history->Text7->text());
    record.Body = trimBlanks(mime::withCrLf(history->rtfEd->toPlainText()));
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

void ReceiveMail(MainForm &main)
{
    MailLayer &library = mailLayer();
    SharedSettings &settings = appState().settings;
    int count = 0; // messages the server reported; 0 when no log-in took place
    int received = 0; // stored and marked for deletion on the server
    int tooLarge = 0; // over the size limit, left on the server
    bool cancelled = false;
    QList<StayedMessage> stayed; // left on the server, told once at the end
    bool unchecked = false; // the mailbox could not be looked at: no word on new mail
    // The received store, open for the whole run. Records are handed to the
    // system as they come but put on the disk once, before the session ends:
    // the server deletes only when it is told QUIT, so a message marked for
    // deletion whose record never reached the disk is still on the server.
    RecordFile store(receivedStorePath(), MailRecord::kLength);

    // An open history lists exactly what its store holds after the run.
    const auto refillHistory = [] {
        if (TyakuForm *history = loadedForm<TyakuForm>(); history && history->isVisible())
            history->FillHistoryList();
    };
    auto finish = [&] {
        main.Text3->setText(count >= 1 ? QStringLiteral("新着メール有り。")
                            : unchecked ? QStringLiteral("受信できませんでした。")
                                        : QStringLiteral("新着メール無し。"));
    };

    // 1-2. Connect.
    if (settings.pop3Server.isEmpty()) {
        finish();
        return;
    }
    // The size limit, read at every run like the account; the library
    // enforces it too, for a server that reports one size and sends more.
    const int limitMiB = readMaxMessageMiB(appPaths().extraIni());
    const qint64 limit = qint64(limitMiB) * 1024 * 1024;
    library.NMailSetOption(MailLayer::kOptionMaxMessageMiB, limitMiB);
    const int handle = library.NMailPop3Connect(settings.pop3Server);
    main.Text1->setPlainText(QStringLiteral("メールのチェックをしています。"));
    if (handle == -1) {
        showLibraryError(library);
        unchecked = true;
        finish();
        return;
    }

    [&] {
        // 3-4. ID and password: those confirmed in the account window during
        // this run, else the saved ones, read afresh at every run.
        if (!settings.accountConfirmed) {
            const IdPass saved = readIdPass(appPaths().idPassIni());
            settings.pop3Id = saved.id.left(255);
            settings.pop3Password = saved.password.left(255);
        }
        IdPassForm *account = form<IdPassForm>();
        account->IdText->setText(settings.pop3Id);
        account->PassText->setText(settings.pop3Password);
        if (settings.pop3Id.isEmpty() || settings.pop3Password.isEmpty()) {
            showInFront(account);
            return;
        }

        // 5-7. Log in. The history window's boxes are the working fields of
        // each message; its list is refilled from the store after the run.
        TyakuForm *history = form<TyakuForm>();
        const int result = library.NMailPop3Authenticate(handle, settings.pop3Id, settings.pop3Password,
                                                         settings.apop != 0 ? -1 : 0);
        if (result == 0)
            return;
        if (result < 0) {
            showLibraryError(library);
            unchecked = true;
            return;
        }
        count = result;

        const QString attachFolder = QDir(appPaths().attachFolder()).absolutePath() + u'/';
        const QString storePath = receivedStorePath();

        // Application-modal, not only over the main window: the history
        // window must not delete or compact the store while records are
        // being appended to it. Setting the value repaints the windows and
        // takes a press of the cancel button.
        QProgressDialog progress(progressLabel(0, count), QStringLiteral("キャンセル"), 0, count, &main);
        progress.setObjectName(QStringLiteral("ReceiveProgress"));
        progress.setWindowTitle(appTitle());
        progress.setWindowModality(Qt::ApplicationModal);
        progress.setMinimumDuration(0);
        progress.setAutoClose(false);
        progress.setAutoReset(false);
        progress.show();

        // 8-16. Each message in server order.
        for (int n = 1; n <= count; ++n) {
            progress.setLabelText(progressLabel(n, count));
            progress.setValue(n - 1);
            if (progressHook())
                progressHook()(progress, n, count);
            // Between two messages: everything before n is stored and marked
            // for deletion, nothing of n onwards has been touched.
            if (progress.wasCanceled()) {
                cancelled = true;
                return;
            }
            QString subject(MailLayer::kHeaderBufferSize, QLatin1Char(' '));
            QString date(MailLayer::kHeaderBufferSize, QLatin1Char(' '));
            QString from(MailLayer::kHeaderBufferSize, QLatin1Char(' '));
            QString header(MailLayer::kHeaderBufferSize, QLatin1Char(' '));
            library.NMailPop3GetMailStatus(handle, n, subject, date, from, header, 0);
            const auto leaveOnServer = [&](const QString &reason) {
                stayed.append({n, cutAtNul(subject), cutAtNul(from), reason});
            };
            // A message the server refuses stays there and the run goes on
            // with the next one. When the connection itself is gone (the size
            // of the same message can no longer be asked) the run stops.
            const auto refused = [&] {
                const QString reason = libraryError(library);
                if (library.NMailPop3GetMailSize(handle, n) < 0) {
                    showLibraryErrorText(reason);
                    return false;
                }
                leaveOnServer(reason);
                return true;
            };
            const int size = library.NMailPop3GetMailSize(handle, n);
            if (size < 0) {
                if (refused())
                    continue;
                return;
            }
            // A message over the size limit is not fetched; it stays on the server.
            if (size > limit) {
                ++tooLarge;
                leaveOnServer(QStringLiteral("%1 MB を超えているため受信しませんでした").arg(limitMiB));
                continue;
            }
            // The body buffer is sized by the reported size, but not filled in
            // advance: a server claiming gigabytes must not make us allocate them.
            QString body;
            // A message that could not be fetched whole is neither stored nor deleted.
            if (library.NMailPop3GetMail(handle, n, subject, date, from, header, body, size + 1, 0, 0) < 0) {
                if (refused())
                    continue;
                return;
            }
            const QString fetchedBody = body; // shared, not copied: for a layer that keeps no original
            subject = cutAtNul(subject);
            date = cutAtNul(date);
            from = cutAtNul(from);
            header = cutAtNul(header);
            body = cutAtNul(body);

            // 10. Attachment mark (the clock's hidden text served as scratch for it).
            const bool attachmentMark = body.contains(QStringLiteral("attachment"));
            main.Text2->clear();

            // 11-12. Attachment expansion. The library works on the message it
            // fetched; no copy of it goes through a file.
            QString source;
            const int expanded = library.NMailAttachmentFileFirst(0, subject, date, from, header, body, attachFolder,
                                                                  QString(), source, 0);
            library.NMailAttachmentFileClose(0);
            // The message as the server sent it, kept beside its record.
            QByteArray original = library.lastFetchedMessage();
            if (original.isEmpty())
                original = textBytes(header + QStringLiteral("\r\n") + cutAtNul(fetchedBody));
            if (expanded == -5) {
                // An attachment (or a piece of a split message) that could not
                // be written: the message stays on the server, to be received
                // once the cause is gone.
                leaveOnServer(QStringLiteral("添付ファイルをオープンできません\r\n　") + libraryError(library));
                continue;
            }
            if (expanded == -6)
                prompt().info(QStringLiteral("分割されたメールが全て揃っていません"), appTitle());

            // 13. The history window's boxes hold the message.
            history->Text9->setText(subject);
            history->Text7->setText(date);
            history->Text8->setText(from);
            QString shown = storableBody(cutAtNul(body));
            body = QString();
            if (attachmentMark)
                shown += QStringLiteral("\r\n") + attachmentNotice();
            history->rtfEd->setPlainText(shown);

            // 14. Store it; a store that cannot take it ends the run before the delete.
            if (!store.isOpen()) {
                // A record torn by an earlier run that was killed in the middle
                // of writing goes first; its message is still on the server.
                Status opened = store.open();
                if (opened)
                    opened = store.dropTornTail();
                if (!opened) {
                    showStoreError(opened.error());
                    return;
                }
            }
            const Result<qint16> number = AppendRecordNumber(storePath, MailRecord::kLength);
            if (!number) {
                showStoreError(number.error());
                return;
            }
            // The original first: every record on the disk has its original.
            const QByteArray record = historyBoxesRecord().encode();
            if (const Status kept = originals::writeOriginal(record, original, false); !kept) {
                showStoreError(kept.error());
                return;
            }
            if (const Status stored = store.write(number.value(), record, false); !stored) {
                showStoreError(stored.error());
                return;
            }

            // 15. Only now is it deleted on the server.
            library.NMailPop3DeleteMail(handle, n);
            ++received;
        }
        progress.setValue(count);
    }();

    // 17-18. Closing the session commits the deletions of the stored
    // messages, so they must be on the disk first. When they cannot be put
    // there the session ends without QUIT: every message stays on the server,
    // and the next run receives again what this one could not keep.
    if (received > 0) {
        Status synced = store.sync();
        if (synced)
            synced = originals::syncFolder();
        if (!synced) {
            library.NMailPop3Abandon(handle);
            store.close();
            prompt().info(QStringLiteral("受信したメールをディスクに書き込めません。今回受信したメールはすべてサーバーに残してあります。\r\n")
                              + synced.error().message(),
                          appTitle(), PromptIcon::Critical);
            main.Text1->setPlainText(QStringLiteral("受信したメールを保存できませんでした。メールはサーバーに残してあります。"));
            refillHistory();
            finish();
            return;
        }
    }
    store.close();
    library.NMailPop3Close(handle);
    if (cancelled)
        main.Text1->setPlainText(QStringLiteral("受信を中止しました。%1通を受信しました。残りの%2通はサーバーに残してあります。")
                                     .arg(received)
                                     .arg(count - received));
    if (!stayed.isEmpty()) {
        QString text = stayedMessagesText(stayed);
        if (tooLarge > 0)
            text += QStringLiteral("\r\n\r\n大きすぎるメールを受信するには、設定ファイル kestra2.ini の [receive] maxMessageMiB を大きくしてください。");
        prompt().info(text, appTitle(), PromptIcon::Exclamation);
    }
    refillHistory();
    finish();
}

} // namespace kestra
