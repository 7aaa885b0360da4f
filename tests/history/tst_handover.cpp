// "返事を出す" and "アドレス帳登録": handing the shown mail to the reply window or
// its sender to the address book, in place of the history window.
#include "HistoryFixtures.h"

#include "addressbook/FriendForm.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "compose/BackForm.h"
#include "storage/RecordFile.h"
#include "support/FindControl.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

using namespace kestra;
using kestra::test::findControl;

class TestHandOver : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_folder;
    std::unique_ptr<test::FakePrompt> m_prompt;
    std::unique_ptr<QWidget> m_main;

    TyakuForm *openWith(qint16 mode, const QList<MailRecord> &records)
    {
        const StoreKind &kind = mode == 1 ? stores::received : stores::sent;
        test::writeBytes(m_folder->dataFile(QString::fromUtf16(kind.fileName)), test::storeBytes(records));
        openHistoryWindow(mode);
        return loadedForm<TyakuForm>();
    }

    static void unloadAll()
    {
        unloadForm<BackForm>();
        unloadForm<FriendForm>();
        test::unloadHistory();
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
        m_main = std::make_unique<QWidget>();
        mainWindowSlot() = m_main.get();
    }
    void cleanup()
    {
        unloadAll();
        QCOMPARE(m_prompt->unexpected(), 0);
        m_main.reset();
        m_prompt.reset();
        m_folder.reset();
    }

    void replyTakesTheHistoryWindowsPlace()
    {
        MailRecord answered = test::mail(QStringLiteral("Re: 打ち合わせ"), QStringLiteral("  hanako@example.jp "),
                                         QStringLiteral("Tue, 8 Dec 2026"), QStringLiteral("  会議は三時です。\r\n  "));
        TyakuForm *history = openWith(1, {test::receivedMail(1), answered});
        history->move(120, 80);
        test::pressRow(findControl<HistoryListBox>(history, "List1"), 1);
        const QStringList linesBefore = test::listLines(findControl<HistoryListBox>(history, "List1"));
        history->Command4_Click();
        BackForm *reply = loadedForm<BackForm>();
        QVERIFY(reply);
        QCOMPARE(findControl<QLineEdit>(reply, "SubjectText")->text(),
            QStringLiteral("Re:  Re: 打ち合わせ")); // added every time
        // The boxes hold the trimmed record fields; the reply trims them again.
        QCOMPARE(findControl<QLineEdit>(reply, "ToText")->text(), QStringLiteral("hanako@example.jp"));
        QCOMPARE(
            findControl<QTextEdit>(reply, "BodyText")->toPlainText(), QStringLiteral("会議は三時です。\n"));
        QVERIFY(reply->isVisible());
        QCOMPARE(reply->pos(), QPoint(120, 80));
        QVERIFY(!history->isVisible());
        QCOMPARE(loadedForm<TyakuForm>(), history); // hidden, not unloaded
        QCOMPARE(test::listLines(findControl<HistoryListBox>(history, "List1")), linesBefore);
        QVERIFY(m_prompt->shown().isEmpty());
    }

    void senderWithBlanksIsTrimmedForTheReplyOnly()
    {
        TyakuForm *history = openWith(1, {test::receivedMail(1)});
        test::pressRow(findControl<HistoryListBox>(history, "List1"), 0);
        findControl<QLineEdit>(history, "Text8")->setText(QStringLiteral("  taro@example.jp  "));
        history->Command4_Click();
        QCOMPARE(findControl<QLineEdit>(loadedForm<BackForm>(), "ToText")->text(),
            QStringLiteral("taro@example.jp"));

        openHistoryWindow(1);
        test::pressRow(findControl<HistoryListBox>(history, "List1"), 0);
        findControl<QLineEdit>(history, "Text8")->setText(QStringLiteral("  taro@example.jp  "));
        history->Command3_Click();
        FriendForm *book = loadedForm<FriendForm>();
        QVERIFY(book);
        QCOMPARE(findControl<QLineEdit>(book, "Text4")->text(), QStringLiteral("  taro@example.jp  "));
        QVERIFY(book->isVisible());
        QVERIFY(!history->isVisible());
    }

    void sentHistoryRefusesBoth()
    {
        TyakuForm *history = openWith(2, {test::receivedMail(1)});
        test::pressRow(findControl<HistoryListBox>(history, "List1"), 0);
        history->Command4_Click();
        history->Command3_Click();
        QCOMPARE(m_prompt->texts(), (QStringList{QStringLiteral("自分宛となっています。"),
                                                 QStringLiteral("自分宛となっています。")}));
        QCOMPARE(m_prompt->shown().first().title, appTitle());
        QCOMPARE(m_prompt->shown().first().icon, PromptIcon::None);
        QCOMPARE(loadedForm<BackForm>(), nullptr);
        QCOMPARE(loadedForm<FriendForm>(), nullptr);
    }

    void noSelectionRefusesBoth()
    {
        TyakuForm *history = openWith(1, {test::receivedMail(1), test::receivedMail(2)});
        history->Command4_Click();
        history->Command3_Click();
        QCOMPARE(m_prompt->texts(), (QStringList{QStringLiteral("データが選択されていません。"),
                                                 QStringLiteral("データが選択されていません。")}));
        QCOMPARE(loadedForm<BackForm>(), nullptr);
        QVERIFY(history->isVisible());
    }

    // A reply stopped with "送信中止" and a new reply: the new one starts
    // without the earlier reply's attachments.
    void newReplyStartsWithoutAttachments()
    {
        TyakuForm *history = openWith(1, {test::receivedMail(1), test::receivedMail(2)});
        test::pressRow(findControl<HistoryListBox>(history, "List1"), 0);
        history->Command4_Click();
        BackForm *reply = loadedForm<BackForm>();
        m_prompt->answerFile(QStringLiteral("/tmp/plan.pdf"));
        reply->AttachCommand_Click();
        reply->Command3_Click(); // 送信中止: hidden, back to the main window
        QVERIFY(!reply->isVisible());

        openHistoryWindow(1);
        test::pressRow(findControl<HistoryListBox>(history, "List1"), 1);
        history->Command4_Click();
        QCOMPARE(loadedForm<BackForm>(), reply);
        QCOMPARE(findControl<QLineEdit>(reply, "SubjectText")->text(), QStringLiteral("Re:  件名2"));
        QCOMPARE(findControl<QLineEdit>(reply, "ToText")->text(), QStringLiteral("sender2@example.com"));
        QCOMPARE(findControl<QLineEdit>(reply, "AttachText")->text(), QString());
        QCOMPARE(findControl<QListWidget>(reply, "List2")->count(), 0);
        QVERIFY(findControl<QPushButton>(reply, "AttachCommand")->isEnabled()
            && findControl<QPushButton>(reply, "Command9")->isEnabled()
            && findControl<QPushButton>(reply, "Command10")->isEnabled());
    }

    void replyUsesTheMailClickedLast()
    {
        TyakuForm *history = openWith(1, {test::receivedMail(1), test::receivedMail(2)});
        test::pressRow(findControl<HistoryListBox>(history, "List1"), 0);
        findControl<HistoryListBox>(history, "List1")
            ->setCurrentRow(1); // moved with the keyboard: nothing is read
        history->Command4_Click();
        QCOMPARE(findControl<QLineEdit>(loadedForm<BackForm>(), "SubjectText")->text(),
            QStringLiteral("Re:  件名1"));
    }
};

QTEST_MAIN(TestHandOver)
#include "tst_handover.moc"
