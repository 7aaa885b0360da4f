// Receiving that leaves the mail on the server: each message fetched once,
// deletion after the chosen days, and the fall-back for a server without
// unique ids.
#include "app/MainForm.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "history/HistoryListBox.h"
#include "history/TyakuForm.h"
#include "app/NetworkMailPorts.h"
#include "settings/MailOptionsInForce.h"
#include "support/FakeMailbox.h"
#include "servers/DovecotBox.h"
#include "storage/FetchedUidls.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/Settings.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QPointer>
#include <QtTest>

using namespace kestra;
using kestra::test::findControl;

namespace {

QString storePath()
{
    return appPaths().dataFile(QString::fromUtf16(stores::received.fileName));
}

QStringList storedSubjects()
{
    QStringList subjects;
    if (!scanRecords(storePath(), MailRecord::kLength, [&](qint64, const QByteArray &bytes) {
            QString s = MailRecord::decodeHeaders(bytes).Subject;
            while (s.endsWith(u' '))
                s.chop(1);
            subjects.append(s);
            return true;
        }))
        qWarning("cannot read the received store");
    return subjects;
}

QByteArray mail(int n)
{
    return "From: sender" + QByteArray::number(n) + "@example.jp\r\nSubject: mail " + QByteArray::number(n)
        + "\r\nDate: Tue, 8 Dec 2026 10:00:00 +0900\r\n\r\nbody " + QByteArray::number(n) + "\r\n";
}

} // namespace

class TestLeaveOnServer : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_folder;
    std::unique_ptr<test::FakePrompt> m_prompt;
    std::unique_ptr<MainForm> m_main;
    test::DovecotBox m_box{QStringLiteral(KESTRA_DOVECOT_DIR), QStringLiteral("keep")};

    void leaveOnServer(int days, bool withHistory = false)
    {
        ReceiveOptions o;
        o.leaveOnServer = true;
        o.deleteAfterDays = days;
        o.deleteWithHistory = withHistory;
        QVERIFY(writeReceiveOptions(appPaths().extraIni(), o));
    }
    void receive()
    {
        m_main->Command4_Click();
        QVERIFY2(m_prompt->shown().isEmpty(), qPrintable(m_prompt->texts().join(u'\n')));
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY2(m_box.running(), "the Dovecot fixture is not running");
        m_box.clear();
        m_folder = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
        m_main = std::make_unique<MainForm>();
        NetworkLimits limits;
        limits.pop3.connectTimeoutMs = limits.pop3.readTimeoutMs = 10000;
        limits.pop3.extraCaCertificates = QSslCertificate::fromPath(m_box.caFile(), QSsl::Pem);
        installMailPorts(networkMailPorts(limits));
        appState().settings.pop3Server = m_box.tlsServer();
        QVERIFY(writeIdPass(appPaths().idPassIni(), IdPass{m_box.user(), m_box.password()}, true));
    }
    void cleanup()
    {
        installMailPorts({});
        m_main.reset();
        test::closeAllWindows();
        QCOMPARE(m_prompt->unexpected(), 0);
        m_prompt.reset();
        m_folder.reset();
    }

    // Three runs with mail arriving between them: each message is stored
    // once and stays on the server; a run with nothing new says so.
    void fetchesEachMessageOnceOverThreeRuns()
    {
        leaveOnServer(0);
        m_box.put(mail(1));
        m_box.put(mail(2));
        receive();
        QCOMPARE(storedSubjects(), (QStringList{QStringLiteral("mail 1"), QStringLiteral("mail 2")}));
        QCOMPARE(findControl<QLineEdit>(m_main, "Text3")->text(), QStringLiteral("新着メール有り。"));

        m_box.put(mail(3));
        receive();
        QCOMPARE(storedSubjects().size(), 3);
        QCOMPARE(storedSubjects().last(), QStringLiteral("mail 3"));

        receive();
        QCOMPARE(storedSubjects().size(), 3);
        QCOMPARE(findControl<QLineEdit>(m_main, "Text3")->text(), QStringLiteral("新着メール無し。"));
        QCOMPARE(m_box.count(), 3);
        QCOMPARE(QFile::permissions(appPaths().fetchedListFile()) & 0x0077, QFileDevice::Permissions());
    }

    // Kept mail goes on the server once it is N days old by the clock, and
    // at once when its record was deleted in the history (with that option).
    void deletesAfterDaysAndWithTheHistory()
    {
        const QDateTime start(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC);
        test::FixedClock clock(start);
        leaveOnServer(3, true);
        m_box.put(mail(1));
        m_box.put(mail(2));
        receive();
        QCOMPARE(storedSubjects().size(), 2);

        clock.set(start.addDays(1));
        m_box.put(mail(3));
        openHistoryWindow(1); // mail 2 deleted with the history window's delete button
        TyakuForm *history = form<TyakuForm>();
        const QList<QListWidgetItem *> rows = findControl<HistoryListBox>(history, "List1")
                                                  ->findItems(QStringLiteral("mail 2"), Qt::MatchContains);
        QCOMPARE(rows.size(), 1);
        rows.first()->setSelected(true);
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(history, "Command1")->click();
        QCOMPARE(findControl<HistoryListBox>(history, "List1")->count(), 1);
        m_prompt->clear();
        receive();
        QCOMPARE(storedSubjects().size(), 2);
        QTRY_COMPARE(m_box.count(), 2); // mail 2 went with the history

        clock.set(start.addDays(3).addSecs(-1));
        receive();
        QCOMPARE(m_box.count(), 2);
        clock.set(start.addDays(3));
        receive();
        QTRY_COMPARE(m_box.count(), 1); // mail 1 is three days old, mail 3 two
        clock.set(start.addDays(4));
        receive();
        QTRY_COMPARE(m_box.count(), 0);
        QCOMPARE(storedSubjects(), (QStringList{QStringLiteral("mail 1"), QStringLiteral("mail 3")}));
    }

    // A server without unique ids is received from the old way: stored, then
    // deleted; the notice comes once.
    void withoutUniqueIdsFallsBackOnce()
    {
        leaveOnServer(0);
        FakeMailbox scripted;
        scripted.uniqueIds = false;
        installMailPorts(scripted.ports());
        appState().settings.pop3Server = QStringLiteral("pop.example.jp");
        for (int run = 0; run < 2; ++run) {
            FakeMailbox::Message m;
            m.subject = QStringLiteral("件名");
            m.from = QStringLiteral("a@example.jp");
            m.body = QStringLiteral("本文\r\n");
            scripted.mailbox.append(m);
            m_prompt->setAutoAnswer(true);
            m_main->Command4_Click();
            QCOMPARE(m_prompt->shown().size(), run == 0 ? 1 : 0);
            m_prompt->clear();
        }
        QCOMPARE(scripted.count(QStringLiteral("remove")), 2);
        QCOMPARE(storedSubjects().size(), 2);
    }
};

QTEST_MAIN(TestLeaveOnServer)
#include "tst_leaveonserver.moc"
