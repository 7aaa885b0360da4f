// The automatic check against the test Dovecot server while the user works
// in other windows: it takes no keys, no focus and no window from the user.
#include "app/AutoCheck.h"
#include "app/MainForm.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "compose/WriteForm.h"
#include "history/TyakuForm.h"
#include "app/NetworkMailPorts.h"
#include "settings/MailOptionsInForce.h"
#include "servers/DovecotBox.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/Settings.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QtTest>

using namespace kestra;

namespace {

struct SilentNotifier final : Notifier {
    void setStatus(const QString &) override {}
    void notify(const QString &, const QString &) override {}
};

QByteArray mail(int n)
{
    return "From: sender" + QByteArray::number(n) + "@example.jp\r\nSubject: mail " + QByteArray::number(n)
        + "\r\nDate: Tue, 8 Dec 2026 10:00:00 +0900\r\n\r\nbody " + QByteArray::number(n) + "\r\n";
}

qint64 storedCount()
{
    RecordFile store(appPaths().dataFile(QString::fromUtf16(stores::received.fileName)), MailRecord::kLength);
    return store.openReadOnly() ? store.count() : 0;
}

} // namespace

class TestBackgroundReceive : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_folder;
    std::unique_ptr<test::FakePrompt> m_prompt;
    std::unique_ptr<test::FixedClock> m_clock;
    std::unique_ptr<MainForm> m_main;
    AutoCheck *m_check = nullptr;
    test::DovecotBox m_box{QStringLiteral(KESTRA_DOVECOT_DIR), QStringLiteral("auto")};
    const QDateTime m_start{QDate(2026, 12, 8), QTime(9, 0), Qt::UTC};

    // Switches the check on and moves the clock to its first due time.
    void startAutomaticRun()
    {
        ReceiveOptions o;
        o.checkEveryMinutes = 1;
        QVERIFY(writeReceiveOptions(appPaths().extraIni(), o));
        m_check->tick();
        m_clock->set(m_start.addSecs(60));
        m_check->tick();
        QVERIFY(m_check->running());
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY2(m_box.running(), "the Dovecot fixture is not running");
        m_box.clear();
        m_folder = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
        m_clock = std::make_unique<test::FixedClock>(m_start);
        NetworkLimits limits;
        limits.pop3.connectTimeoutMs = limits.pop3.readTimeoutMs = 10000;
        limits.pop3.extraCaCertificates = QSslCertificate::fromPath(m_box.caFile(), QSsl::Pem);
        installMailPorts(networkMailPorts(limits));
        m_main = std::make_unique<MainForm>();
        appState().settings.pop3Server = m_box.tlsServer();
        QVERIFY(writeIdPass(appPaths().idPassIni(), IdPass{m_box.user(), m_box.password()}, true));
        m_check = new AutoCheck(*m_main, [](std::function<void()>) { return std::make_unique<SilentNotifier>(); });
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    }
    void cleanup()
    {
        if (m_check)
            QTRY_VERIFY(!m_check->running());
        installMailPorts({});
        m_main.reset();
        test::closeAllWindows();
        QCOMPARE(m_prompt->unexpected(), 0);
        m_clock.reset();
        m_prompt.reset();
        m_folder.reset();
    }

    // Typing in the compose window while an automatic run receives: every
    // key lands in the body, the compose window keeps the focus, the mail is
    // stored and no box is shown.
    void typingGoesOnDuringAnAutomaticRun()
    {
        constexpr int kMessages = 300;
        for (int n = 1; n <= kMessages; ++n)
            m_box.put(mail(n));
        m_main->Command3_Click();
        WriteForm *compose = form<WriteForm>();
        QVERIFY(QTest::qWaitForWindowExposed(compose));
        QApplication::setActiveWindow(compose);
        auto *body = test::findControl<QPlainTextEdit>(compose, "BodyText");
        QVERIFY(body);
        body->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), body);

        startAutomaticRun();
        QString typed;
        int chunksDuringRun = 0;
        for (int i = 0; m_check->running() || i < 3; ++i) {
            const bool during = m_check->running();
            const QString chunk = QStringLiteral("ab%1 ").arg(i);
            // Keys go to whatever has the focus now, as a keyboard's would.
            QWidget *focused = QApplication::focusWidget();
            QVERIFY(focused);
            QTest::keyClicks(focused, chunk);
            typed += chunk;
            if (during)
                ++chunksDuringRun;
            QTest::qWait(5);
            QVERIFY2(i < 20000, "the automatic run did not end");
        }
        QVERIFY2(chunksDuringRun > 0, "the run ended before anything was typed");
        QCOMPARE(body->toPlainText(), typed);
        QCOMPARE(QApplication::focusWidget(), body);
        QCOMPARE(QApplication::activeWindow(), compose);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(storedCount(), kMessages);
        QVERIFY2(m_prompt->shown().isEmpty(), qPrintable(m_prompt->texts().join(u'\n')));
        QCOMPARE(test::findControl<QLineEdit>(m_main.get(), "Text3")->text(), QStringLiteral("新着メール有り。"));
    }

    // The history window open on an older mail with notes typed in its
    // editor: an automatic run lists the new mail below and leaves the
    // selection, the shown mail and the notes as they were.
    void openHistoryKeepsItsPlace()
    {
        for (int n = 1; n <= 3; ++n)
            m_box.put(mail(n));
        m_main->Command4_Click(); // receiving by hand: three stored
        QCOMPARE(storedCount(), 3);
        openHistoryWindow(1);
        TyakuForm *history = loadedForm<TyakuForm>();
        QVERIFY(history);
        auto *list = test::findControl<QListWidget>(history, "List1");
        auto *editor = test::findControl<QTextEdit>(history, "rtfEd");
        auto *subject = test::findControl<QLineEdit>(history, "Text9");
        QVERIFY(list && editor && subject);
        QCOMPARE(list->count(), 3);
        list->setCurrentRow(0);
        history->ShowSelectedMail();
        QCOMPARE(subject->text(), QStringLiteral("mail 1"));
        QApplication::setActiveWindow(history);
        editor->setFocus();
        editor->moveCursor(QTextCursor::End);
        QTest::keyClicks(editor, QStringLiteral(" my notes"));
        const QString notes = editor->toPlainText();
        QVERIFY(notes.endsWith(QStringLiteral(" my notes")));

        m_box.put(mail(4));
        m_box.put(mail(5));
        startAutomaticRun();
        QTRY_VERIFY(!m_check->running());
        QCOMPARE(storedCount(), 5);
        QCOMPARE(list->count(), 5);
        QVERIFY(list->item(4)->text().contains(QStringLiteral("mail 5")));
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(subject->text(), QStringLiteral("mail 1"));
        QCOMPARE(editor->toPlainText(), notes);
        QCOMPARE(test::findControl<QLineEdit>(history, "Text2")->text(), QStringLiteral("5"));
        QCOMPARE(QApplication::activeWindow(), history);
        QVERIFY2(m_prompt->shown().isEmpty(), qPrintable(m_prompt->texts().join(u'\n')));

        // The new rows name their own records: the newest shows mail 5.
        list->setCurrentRow(4);
        history->ShowSelectedMail();
        QCOMPARE(subject->text(), QStringLiteral("mail 5"));
    }
};

QTEST_MAIN(TestBackgroundReceive)
#include "tst_backgroundreceive.moc"
