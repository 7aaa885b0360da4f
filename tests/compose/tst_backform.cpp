// The reply window: layout, attachments, pasting above the answered mail,
// sending through the sender and the way back to the main window.
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Twips.h"
#include "compose/BackForm.h"
#include "support/FakeSender.h"
#include "storage/StoreBuffers.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

using namespace kestra;
using kestra::test::findControl;

class TestBackForm : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_folder;
    std::unique_ptr<test::FakePrompt> m_prompt;
    std::unique_ptr<test::FakeSender> m_sender;
    std::unique_ptr<QWidget> m_main;

    static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

private slots:
    void init()
    {
        m_folder = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
        m_sender = std::make_unique<test::FakeSender>();
        m_main = std::make_unique<QWidget>();
        mainWindowSlot() = m_main.get();
        appState().settings.smtpServer = QStringLiteral("smtp.example.jp");
        appState().settings.mailAddress = QStringLiteral("me@example.jp");
    }
    void cleanup()
    {
        unloadForm<BackForm>();
        flushDeletes();
        QCOMPARE(m_prompt->unexpected(), 0);
        m_main.reset();
        m_sender.reset();
        m_prompt.reset();
        m_folder.reset();
    }

    void loadsWithTheDesignLayout()
    {
        BackForm *w = form<BackForm>();
        QCOMPARE(w->windowTitle(), QStringLiteral("返事を書く"));
        QCOMPARE(findControl<QPushButton>(w, "Command1")->text(), QStringLiteral("ホーム"));
        QCOMPARE(findControl<QPushButton>(w, "Command2")->text(), QStringLiteral("送信"));
        QCOMPARE(findControl<QPushButton>(w, "Command3")->text(), QStringLiteral("送信中止"));
        QCOMPARE(findControl<QPushButton>(w, "Command4")->text(), QStringLiteral("本文に貼付"));
        QCOMPARE(findControl<QPushButton>(w, "AttachCommand")->text(), QStringLiteral("添付"));
        QCOMPARE(findControl<QLabel>(w, "Label1")->x(), twipsToPx(-120)); // cut off at the left
        QCOMPARE(findControl<QLabel>(w, "Label3")->text(), QStringLiteral("添付File"));
        QVERIFY(!findControl<QListWidget>(w, "List2")->isVisibleTo(w));
        QVERIFY(findControl<QPushButton>(w, "AttachCommand")->isEnabled()
            && findControl<QPushButton>(w, "Command9")->isEnabled()
            && findControl<QPushButton>(w, "Command10")->isEnabled());
        QCOMPARE(
            findControl<QPushButton>(w, "Command10")->palette().color(QPalette::Button), QColor(255, 0, 0));
        QVERIFY(w->testAttribute(Qt::WA_DeleteOnClose));
    }

    void widerWindowWidensTheFields()
    {
        BackForm *w = form<BackForm>();
        w->resize(twipsToPx(7080), twipsToPx(7065));
        w->Form_Resize();
        const int toWidth = findControl<QLineEdit>(w, "ToText")->width();
        const int bodyWidth = findControl<QTextEdit>(w, "BodyText")->width();
        const int attachWidth = findControl<QLineEdit>(w, "AttachText")->width();
        const int attachLeft = findControl<QPushButton>(w, "AttachCommand")->x();
        w->resize(twipsToPx(14160), twipsToPx(7065));
        w->Form_Resize();
        QVERIFY(qAbs(findControl<QLineEdit>(w, "ToText")->width() - 2 * toWidth) <= 1);
        QVERIFY(qAbs(findControl<QLineEdit>(w, "SubjectText")->width() - 2 * toWidth) <= 1);
        QVERIFY(qAbs(findControl<QTextEdit>(w, "BodyText")->width() - 2 * bodyWidth) <= 1);
        QVERIFY(qAbs(findControl<QLineEdit>(w, "AttachText")->width() - 2 * attachWidth) <= 1);
        // The buttons move right with the attachment box, by as much as it grew.
        QVERIFY(qAbs((findControl<QPushButton>(w, "AttachCommand")->x() - attachLeft)
                    - (findControl<QLineEdit>(w, "AttachText")->width() - attachWidth))
            <= 1);
        QCOMPARE(
            findControl<QPushButton>(w, "Command9")->x() - findControl<QPushButton>(w, "AttachCommand")->x(),
            twipsToPx(2060 + 7080 * 0.8) - twipsToPx(1240 + 7080 * 0.8));
        QCOMPARE(findControl<QTextEdit>(w, "BodyText")->height(), twipsToPx(7065 * 0.74));
        QCOMPARE(findControl<QListWidget>(w, "List2")->width(), twipsToPx(3975));
    }

    void attachmentsAreJoinedInPickOrder()
    {
        BackForm *w = form<BackForm>();
        m_prompt->answerFile(QStringLiteral("/tmp/a.txt"));
        w->AttachCommand_Click();
        QVERIFY(!findControl<QPushButton>(w, "AttachCommand")->isEnabled());
        m_prompt->answerFile(QStringLiteral("/tmp/b.pdf"));
        w->Command9_Click();
        QCOMPARE(findControl<QLineEdit>(w, "AttachText")->text(), QStringLiteral("/tmp/a.txt,/tmp/b.pdf"));
        QCOMPARE(findControl<QListWidget>(w, "List2")->count(), 2);
        QVERIFY(findControl<QListWidget>(w, "List2")->isVisibleTo(w));
        m_prompt->answerFile(QString()); // cancelled: nothing added
        w->Command9_Click();
        QCOMPARE(findControl<QLineEdit>(w, "AttachText")->text(), QStringLiteral("/tmp/a.txt,/tmp/b.pdf"));
        w->Command10_Click();
        QVERIFY(findControl<QLineEdit>(w, "AttachText")->text().isEmpty());
        QCOMPARE(findControl<QListWidget>(w, "List2")->count(), 0);
        QVERIFY(!findControl<QListWidget>(w, "List2")->isVisibleTo(w));
        QVERIFY(findControl<QPushButton>(w, "AttachCommand")->isEnabled()
            && !findControl<QPushButton>(w, "Command9")->isEnabled()
            && !findControl<QPushButton>(w, "Command10")->isEnabled());
    }

    void everyButtonStaysReachableWhileTheListShows_data()
    {
        QTest::addColumn<int>("widthTwips");
        QTest::newRow("design size") << 7080;
        QTest::newRow("wider") << 11000;
    }
    void everyButtonStaysReachableWhileTheListShows()
    {
        QFETCH(int, widthTwips);
        BackForm *w = form<BackForm>();
        w->resize(twipsToPx(widthTwips), twipsToPx(7065));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        test::clickOn(
            findControl<QPushButton>(w, "Command9")); // enabled from the start, but no path yet: no dialog
        QVERIFY(findControl<QListWidget>(w, "List2")->isVisibleTo(w));
        QCOMPARE(m_prompt->shown().size(), 0);
        for (QPushButton *b : { findControl<QPushButton>(w, "Command1"),
                 findControl<QPushButton>(w, "Command2"), findControl<QPushButton>(w, "Command3"),
                 findControl<QPushButton>(w, "Command4"), findControl<QPushButton>(w, "AttachCommand"),
                 findControl<QPushButton>(w, "Command9"), findControl<QPushButton>(w, "Command10") })
            QVERIFY2(w->childAt(test::centreIn(b)) == b, qPrintable(b->text()));
        // A click on "添付" reaches the button and opens the file dialog.
        m_prompt->answerFile(QStringLiteral("/tmp/a.txt"));
        test::clickOn(findControl<QPushButton>(w, "AttachCommand"));
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(findControl<QLineEdit>(w, "AttachText")->text(), QStringLiteral("/tmp/a.txt"));
        QCOMPARE(findControl<QListWidget>(w, "List2")->count(), 1);
    }

    // The clipboard text goes in at the cursor and Ctrl+Z takes it back; at
    // the start of a new reply the answered mail stays below it. What the user
    // wrote and the clipboard stay; an empty clipboard changes nothing.
    void pastingInsertsAtTheCursor()
    {
        BackForm *w = form<BackForm>();
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        w->prepareReply(
            QStringLiteral("a@example.jp"), QStringLiteral("Re:  件名"), QStringLiteral("元のメール本文"));
        QApplication::clipboard()->setText(QStringLiteral("ご返事です"));
        w->Command4_Click();
        const QString once = QStringLiteral("ご返事です\n\n\n\n元のメール本文");
        QCOMPARE(findControl<QTextEdit>(w, "BodyText")->toPlainText(), once);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("ご返事です"));

        findControl<QTextEdit>(w, "BodyText")->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End, Qt::ControlModifier);
        w->Command4_Click();
        QCOMPARE(findControl<QTextEdit>(w, "BodyText")->toPlainText(), once + QStringLiteral("ご返事です"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(findControl<QTextEdit>(w, "BodyText")->toPlainText(), once);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(findControl<QTextEdit>(w, "BodyText")->toPlainText(), QStringLiteral("元のメール本文"));

        QApplication::clipboard()->clear();
        w->Command4_Click();
        QCOMPARE(findControl<QTextEdit>(w, "BodyText")->toPlainText(), QStringLiteral("元のメール本文"));
        QCOMPARE(replyPasteSeparator(), QString::fromUtf16(u"\r\n\r\n\r\n\r"));
    }

    void sendingHandsThePlainTextToTheSenderAndUnloads()
    {
        BackForm *w = form<BackForm>();
        findControl<QLineEdit>(w, "ToText")->setText(QStringLiteral(" taro@example.jp"));
        findControl<QLineEdit>(w, "SubjectText")->setText(QStringLiteral("Re:  件名"));
        findControl<QTextEdit>(w, "BodyText")->setPlainText(QStringLiteral("本文\n二行目"));
        findControl<QLineEdit>(w, "AttachText")->setText(QStringLiteral("/tmp/a.txt"));
        QPointer<BackForm> watch(w);
        w->Command2_Click();
        QCOMPARE(m_sender->calls.size(), 1);
        const test::FakeSender::Call &mail = m_sender->calls.first();
        QCOMPARE(mail.to, QStringLiteral(" taro@example.jp")); // as typed
        QCOMPARE(mail.subject, QStringLiteral("Re:  件名"));
        QVERIFY(mail.body.startsWith(QStringLiteral("本文")) && mail.body.contains(QStringLiteral("二行目")));
        QCOMPARE(mail.attachments, QStringLiteral("/tmp/a.txt"));
        QCOMPARE(mail.from, QStringLiteral("me@example.jp"));
        QCOMPARE(mail.server, QStringLiteral("smtp.example.jp"));
        QCOMPARE(loadedForm<BackForm>(), nullptr);
        flushDeletes();
        QVERIFY(watch.isNull());
        QVERIFY(!QFileInfo::exists(m_folder->dataFile(QStringLiteral("kstdata5.data")))
                || QFileInfo(m_folder->dataFile(QStringLiteral("kstdata5.data"))).size() == 0); // no sent record
    }

    void aRefusedReplyKeepsTheWindowAndItsText()
    {
        m_sender->failSend(0, QStringLiteral("550 宛先が見つかりません"));
        BackForm *w = form<BackForm>();
        findControl<QLineEdit>(w, "ToText")->clear(); // a cleared recipient still goes to the sender
        findControl<QLineEdit>(w, "SubjectText")->setText(QStringLiteral("Re:  件名"));
        findControl<QTextEdit>(w, "BodyText")->setPlainText(QStringLiteral("大事な返事"));
        w->show();
        m_prompt->answer(PromptAnswer::Ok);
        w->Command2_Click();
        QCOMPARE(int(m_sender->calls.size()), 1);
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown().first().title, QStringLiteral("送信エラー"));
        QVERIFY(m_prompt->shown().first().text.contains(QStringLiteral("550 宛先が見つかりません")));
        QCOMPARE(loadedForm<BackForm>(), w);
        QVERIFY(w->isVisible());
        QCOMPARE(findControl<QTextEdit>(w, "BodyText")->toPlainText(), QStringLiteral("大事な返事"));
        QCOMPARE(findControl<QLineEdit>(w, "SubjectText")->text(), QStringLiteral("Re:  件名"));
    }

    void homeUnloadsAndStopHidesKeepingTheContents()
    {
        BackForm *w = form<BackForm>();
        w->move(200, 150);
        w->show();
        findControl<QLineEdit>(w, "AttachText")->setText(QStringLiteral("/tmp/a.txt"));
        w->Command3_Click();
        QCOMPARE(loadedForm<BackForm>(), w);
        QVERIFY(!w->isVisible());
        QVERIFY(m_main->isVisible());
        QCOMPARE(m_main->pos(), w->pos());
        QCOMPARE(findControl<QLineEdit>(w, "AttachText")->text(), QStringLiteral("/tmp/a.txt"));
        w->Command1_Click();
        QCOMPARE(loadedForm<BackForm>(), nullptr);
        QCOMPARE(int(m_sender->calls.size()), 0);
    }
};

QTEST_MAIN(TestBackForm)
#include "tst_backform.moc"
