// The automatic check: due by the clock, held back while mail is being sent
// or received, no message box during its run, new mail announced.
#include "app/AutoCheck.h"
#include "app/MainForm.h"
#include "common/AppState.h"
#include "common/Paths.h"
#include "settings/MailOptionsInForce.h"
#include "support/FakeMailbox.h"
#include "storage/Settings.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QtTest>

using namespace kestra;
using kestra::test::findControl;

namespace {

struct RecordingNotifier final : Notifier {
    QStringList *notes;
    QString *status;
    RecordingNotifier(QStringList *n, QString *s) : notes(n), status(s) {}
    void setStatus(const QString &text) override { *status = text; }
    void notify(const QString &, const QString &text) override { notes->append(text); }
};

FakeMailbox::Message message(int n)
{
    FakeMailbox::Message m;
    m.subject = QStringLiteral("件名%1").arg(n);
    m.from = QStringLiteral("sender%1@example.jp").arg(n);
    m.body = QStringLiteral("本文\r\n");
    return m;
}

} // namespace

class TestAutoCheck : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_folder;
    std::unique_ptr<test::FakePrompt> m_prompt;
    std::unique_ptr<test::FixedClock> m_clock;
    std::unique_ptr<FakeMailbox> m_server;
    std::unique_ptr<MainForm> m_main;
    AutoCheck *m_check = nullptr;
    QStringList m_notes;
    QString m_status;
    const QDateTime m_start{QDate(2026, 12, 8), QTime(9, 0), Qt::UTC};

    void every(int minutes)
    {
        ReceiveOptions o;
        o.checkEveryMinutes = minutes;
        QVERIFY(writeReceiveOptions(appPaths().extraIni(), o));
    }
    void at(int minutes) { atSecond(minutes * 60); }
    // A tick at `seconds` after the start; a run it starts is waited for.
    void atSecond(int seconds)
    {
        m_clock->set(m_start.addSecs(seconds));
        m_check->tick();
        QTRY_VERIFY(!m_check->running());
    }
    int runs() const { return m_server->count(QStringLiteral("open")); }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
        m_clock = std::make_unique<test::FixedClock>(m_start);
        m_server = std::make_unique<FakeMailbox>();
        installMailPorts(m_server->ports());
        m_main = std::make_unique<MainForm>();
        appState().settings.pop3Server = QStringLiteral("pop.example.jp");
        QVERIFY(writeIdPass(appPaths().idPassIni(), IdPass{QStringLiteral("user"), QStringLiteral("secret")}, true));
        m_notes.clear();
        m_status.clear();
        m_check = new AutoCheck(*m_main, [this](std::function<void()>) {
            return std::make_unique<RecordingNotifier>(&m_notes, &m_status);
        });
    }
    void cleanup()
    {
        installMailPorts({});
        m_main.reset();
        test::closeAllWindows();
        QCOMPARE(m_prompt->unexpected(), 0);
        m_server.reset();
        m_clock.reset();
        m_prompt.reset();
        m_folder.reset();
    }

    // Off by default: a day of ticks receives nothing and makes no tray icon.
    void offByDefault()
    {
        for (int m = 0; m <= 24 * 60; m += 60)
            at(m);
        QCOMPARE(runs(), 0);
        QVERIFY(!m_check->notifier());
    }

    // Every 10 minutes by the clock; a due run waits while a mail is being
    // sent; new mail is announced with its first senders and the tray shows
    // the indicator.
    void runsWhenDueAndNotBusy()
    {
        every(10);
        at(0);
        QVERIFY(m_check->notifier());
        for (int n = 1; n <= 4; ++n)
            m_server->mailbox.append(message(n));
        at(9);
        QCOMPARE(runs(), 0);
        {
            const MailBusy sending;
            at(10);
            QCOMPARE(runs(), 0);
        }
        at(11);
        QCOMPARE(runs(), 1);
        QCOMPARE(m_notes, QStringList{QStringLiteral("新着メール 4 通\nsender1@example.jp、sender2@example.jp、"
                                                     "sender3@example.jp ほか")});
        QCOMPARE(m_status, QStringLiteral("新着メール有り。"));
        at(20);
        QCOMPARE(runs(), 1);
        at(21);
        QCOMPARE(runs(), 2);
        QCOMPARE(m_notes.size(), 1); // nothing new, nothing announced
        QVERIFY(m_prompt->shown().isEmpty());
    }

    // "Every minute" means every minute although the timer's ticks come a
    // little early or late: the interval counts from the last run.
    void intervalHoldsWithEarlyAndLateTicks()
    {
        every(1);
        atSecond(0);
        atSecond(30);
        QCOMPARE(runs(), 0);
        atSecond(58); // two seconds early
        QCOMPARE(runs(), 1);
        atSecond(100);
        QCOMPARE(runs(), 1);
        atSecond(117); // one second early on the last run
        QCOMPARE(runs(), 2);
        atSecond(190); // thirteen seconds late
        QCOMPARE(runs(), 3);
        atSecond(240); // ten seconds early: not yet
        QCOMPARE(runs(), 3);
        atSecond(250);
        QCOMPARE(runs(), 4);
    }

    // A failing run shows no box; the indicator says so and a click on it
    // shows what happened.
    void errorsWaitForAClick()
    {
        every(5);
        at(0);
        m_server->failCall(QStringLiteral("open"), 0, QStringLiteral("サーバーに接続できません"));
        at(5);
        QCOMPARE(runs(), 1);
        QVERIFY(m_prompt->shown().isEmpty());
        QCOMPARE(findControl<QLineEdit>(m_main, "Text3")->text(),
            QStringLiteral("自動受信でエラーがありました。（クリックで表示）"));
        QCOMPARE(m_status, findControl<QLineEdit>(m_main, "Text3")->text());

        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        m_prompt->answer(PromptAnswer::Ok);
        test::clickOn(findControl<QLineEdit>(m_main, "Text3"));
        QTRY_COMPARE(m_prompt->texts(), QStringList{QStringLiteral("サーバーに接続できません")});
    }

    // The tray shows the program's picture, marked while new mail waits.
    void trayIconShowsNewMail()
    {
        const auto picture = [](const QIcon &icon) { return icon.pixmap(32).toImage(); };
        TrayNotifier tray([] {});
        QVERIFY(!tray.icon().isNull());
        QVERIFY(!picture(tray.icon()).isNull());
        const QImage plain = picture(tray.icon());
        tray.setStatus(QStringLiteral("新着メール有り。"));
        QVERIFY(picture(tray.icon()) != plain);
        tray.setStatus(QStringLiteral("新着メール無し。"));
        QCOMPARE(picture(tray.icon()), plain);
    }
};

QTEST_MAIN(TestAutoCheck)
#include "tst_autocheck.moc"
