// The receive run on its own, without a window: the calls it makes, what it
// stores, its progress, and where a cancel or a failing store leaves the
// server and the store. Against a fake mailbox, and the cancels against the
// test Dovecot server with the real POP3 mailbox.
#include "common/AppState.h"
#include "common/Paths.h"
#include "pop3/Pop3Mailbox.h"
#include "runs/ReceiveRun.h"
#include "servers/DovecotBox.h"
#include "storage/Originals.h"
#include "storage/RecordFile.h"
#include "support/FakeMailbox.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace kestra;

namespace {

FakeMailbox::Message scripted(int n)
{
    FakeMailbox::Message m;
    m.subject = QStringLiteral("件名%1").arg(n);
    m.date = QStringLiteral("Tue, 8 Dec 2026 10:0%1:00 +0900").arg(n);
    m.from = QStringLiteral("sender%1@example.jp").arg(n);
    m.body = QStringLiteral("本文%1\r\n").arg(n);
    return m;
}

QByteArray plainMail(int n)
{
    return "From: <sender" + QByteArray::number(n) + "@example.jp>\r\nSubject: =?UTF-8?B?"
           + QStringLiteral("件名%1").arg(n).toUtf8().toBase64()
           + "?=\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\nbody\r\n";
}

// Records what the run reports: "n/N" before each fetch with the number of
// fetches made by then, and each message as it is about to be stored.
class Recorder final : public ReceiveObserver
{
public:
    explicit Recorder(FakeMailbox &box) : m_box(box) {}
    QStringList events;
    std::function<void(int n)> atProgress;
    void checking() override { events << QStringLiteral("checking"); }
    void progress(int n, int count) override
    {
        events << QStringLiteral("%1/%2 after %3").arg(n).arg(count).arg(m_box.count(QStringLiteral("fetch")));
        if (atProgress)
            atProgress(n);
    }
    void fetched(int, const ReceivedMail &mail) override { events << mail.subject; }

private:
    FakeMailbox &m_box;
};

} // namespace

class TestReceiveRun : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeMailbox> m_server;
    std::unique_ptr<MailboxSession> m_session;

    ReceiveInputs inputs() const
    {
        ReceiveInputs in;
        in.server = QStringLiteral("pop.example.jp");
        in.id = QStringLiteral("user");
        in.password = QStringLiteral("secret");
        in.storePath = appPaths().dataFile(QString::fromUtf16(stores::received.fileName));
        in.attachFolder = appPaths().attachFolder() + u'/';
        return in;
    }
    QStringList storedSubjects() const
    {
        QStringList subjects;
        if (!scanRecords(inputs().storePath, MailRecord::kLength, [&](qint64, const QByteArray &bytes) {
                QString s = MailRecord::decode(bytes).Subject;
                while (s.endsWith(u' '))
                    s.chop(1);
                subjects << s;
                return true;
            }))
            qWarning("cannot read the store");
        return subjects;
    }
    void storeOld()
    {
        MailRecord old;
        old.Subject = QStringLiteral("以前のメール");
        QVERIFY(appendRecord(inputs().storePath, MailRecord::kLength, old.encode()));
    }
    int originalCount() const
    {
        return int(QDir(originals::folderIn(appPaths().dataFolder())).entryList(QDir::Files).size());
    }
    // Inputs that leave the mail on the server, deleting it after `days` (0: never).
    ReceiveInputs keepInputs(int days = 0) const
    {
        ReceiveInputs in = inputs();
        in.options.leaveOnServer = true;
        in.options.deleteAfterDays = days;
        in.fetchedListPath = appPaths().fetchedListFile();
        in.extraIniPath = appPaths().extraIni();
        return in;
    }
    // One run in a session of its own, as each 受信 has.
    ReceiveResult runOnce(const ReceiveInputs &in)
    {
        const std::unique_ptr<MailboxSession> session = m_server->session();
        return ReceiveRun(*session, in).run();
    }
    void giveIds()
    {
        for (int n = 0; n < m_server->mailbox.size(); ++n)
            m_server->mailbox[n].uniqueId = "id" + QByteArray::number(n + 1);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        resetAppState();
        appState().appFolder = m_dir->path();
        QVERIFY(appPaths().ensureFolders().ok());
        m_server = std::make_unique<FakeMailbox>();
        for (int n = 1; n <= 3; ++n)
            m_server->mailbox.append(scripted(n));
        m_session = m_server->session();
    }
    void cleanup()
    {
        m_session.reset();
        m_server.reset();
        resetAppState();
        m_dir.reset();
    }

    void runsTheCallsInOrderAndStoresEachMessage()
    {
        storeOld();
        Recorder recorder(*m_server);
        ReceiveInputs in = inputs();
        in.apop = true;
        ReceiveRun run(*m_session, in, &recorder);
        const ReceiveResult result = run.run();

        QStringList expected{QStringLiteral("open"), QStringLiteral("login"), QStringLiteral("list")};
        for (int n = 1; n <= 3; ++n)
            expected << QStringLiteral("fetch") << QStringLiteral("remove");
        expected << QStringLiteral("close");
        QCOMPARE(m_server->callNames(), expected);
        QCOMPARE(m_server->calls().at(0).args, QStringLiteral("pop.example.jp|32")); // the default size limit
        QCOMPARE(m_server->calls().at(1).args, QStringLiteral("user|secret|apop"));
        QCOMPARE(recorder.events, (QStringList{QStringLiteral("checking"), QStringLiteral("1/3 after 0"), QStringLiteral("件名1"),
                                               QStringLiteral("2/3 after 1"), QStringLiteral("件名2"),
                                               QStringLiteral("3/3 after 2"), QStringLiteral("件名3")}));
        QCOMPARE(storedSubjects(), (QStringList{QStringLiteral("以前のメール"), QStringLiteral("件名1"),
                                                QStringLiteral("件名2"), QStringLiteral("件名3")}));
        QVERIFY(m_server->mailbox.isEmpty());
        QCOMPARE(result.count, 3);
        QCOMPARE(result.received, 3);
        QVERIFY(result.notices.isEmpty() && result.stayed.isEmpty() && !result.canceled);
        QCOMPARE(result.last->subject, QStringLiteral("件名3"));
        QCOMPARE(originalCount(), 3);
    }

    void missingAccountOnlyConnects()
    {
        ReceiveInputs in = inputs();
        in.password.clear();
        const ReceiveResult result = ReceiveRun(*m_session, in).run();
        QVERIFY(result.connected && result.accountMissing);
        QCOMPARE(m_server->callNames(), (QStringList{QStringLiteral("open"), QStringLiteral("close")}));
    }

    // Canceled while connecting or logging in: no box, the mailbox counts as
    // not looked at, and nothing is fetched.
    void cancelBeforeTheLogIn_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("last");
        QTest::newRow("connect") << QStringLiteral("open") << QStringLiteral("open");
        QTest::newRow("log-in") << QStringLiteral("login") << QStringLiteral("abandon");
    }
    void cancelBeforeTheLogIn()
    {
        QFETCH(QString, call);
        QFETCH(QString, last);
        ReceiveRun run(*m_session, inputs());
        m_server->onCall = [&](const QString &name) {
            if (name == call)
                run.cancel();
        };
        const ReceiveResult result = run.run();
        QVERIFY(result.canceled && result.unchecked);
        QVERIFY(result.notices.isEmpty());
        QCOMPARE(result.count, 0);
        QCOMPARE(m_server->callNames().last(), last);
        QCOMPARE(m_server->count(QStringLiteral("fetch")), 0);
        QCOMPARE(m_server->mailbox.size(), 3);
    }

    // A cancel seen before message `at`: the ones before are stored and
    // deleted with a normal close, the rest were never fetched.
    void cancelBetweenTwoMessages_data()
    {
        QTest::addColumn<int>("at");
        QTest::newRow("before the first") << 1;
        QTest::newRow("before the second") << 2;
        QTest::newRow("before the last") << 3;
    }
    void cancelBetweenTwoMessages()
    {
        QFETCH(int, at);
        storeOld();
        Recorder recorder(*m_server);
        ReceiveRun run(*m_session, inputs(), &recorder);
        recorder.atProgress = [&](int n) {
            if (n == at)
                run.cancel();
        };
        const ReceiveResult result = run.run();
        const int stored = at - 1;
        QVERIFY(result.canceled);
        QCOMPARE(result.received, stored);
        QCOMPARE(m_server->count(QStringLiteral("fetch")), stored);
        QCOMPARE(m_server->callNames().last(), QStringLiteral("close"));
        QCOMPARE(m_server->mailbox.size(), 3 - stored);
        QCOMPARE(storedSubjects().size(), 1 + stored);
        QVERIFY(result.notices.isEmpty());
    }

    // A cancel while a call waits for the server leaves the session out of
    // step: nothing can be committed, so the run's records go again and
    // everything stays on the server, to be received once by the next run.
    void cancelDuringACallTakesTheRunBack()
    {
        storeOld();
        const QByteArray before = [&] {
            QFile f(inputs().storePath);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        ReceiveRun run(*m_session, inputs());
        m_server->onCall = [&](const QString &name) {
            if (name == QLatin1String("fetch") && m_server->count(name) == 3)
                run.cancel();
        };
        const ReceiveResult result = run.run();
        QVERIFY(result.canceled);
        QCOMPARE(result.received, 0);
        QVERIFY(result.notices.isEmpty());
        QCOMPARE(m_server->callNames().last(), QStringLiteral("abandon"));
        QCOMPARE(m_server->count(QStringLiteral("close")), 0);
        QCOMPARE(m_server->mailbox.size(), 3);
        QFile f(inputs().storePath);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
        QCOMPARE(originalCount(), 0);

        // The next run takes all three, once.
        m_server->onCall = {};
        QCOMPARE(ReceiveRun(*m_session, inputs()).run().received, 3);
        QCOMPARE(storedSubjects(), (QStringList{QStringLiteral("以前のメール"), QStringLiteral("件名1"),
                                                QStringLiteral("件名2"), QStringLiteral("件名3")}));
    }

    // Originals are written in place under their names. A kill while one was
    // written leaves part of it and no record; the message is still on the
    // server, and when it comes again its original is written whole. A cancel
    // in a call takes back only the originals the run created.
    void cutShortOriginalIsMadeWholeWhenItsMessageComesAgain()
    {
        QCOMPARE(ReceiveRun(*m_session, inputs()).run().received, 3);
        const QString folder = originals::folderIn(appPaths().dataFolder());
        QByteArray records[3];
        QByteArray whole[3];
        for (int n = 1; n <= 3; ++n) {
            RecordFile store(inputs().storePath, MailRecord::kLength);
            QVERIFY(store.openReadOnly().ok());
            QVERIFY(store.read(n, records[n - 1]).ok());
            whole[n - 1] = test::readBytes(originals::originalFor(folder, records[n - 1]));
            QVERIFY(whole[n - 1].size() > 20);
        }
        // The kill: record 1 stored, message 2's original half written, nothing of 3.
        QVERIFY(QFile::resize(inputs().storePath, MailRecord::kLength));
        const QString second = originals::originalFor(folder, records[1]);
        QVERIFY(QFile::resize(second, whole[1].size() / 2));
        QVERIFY(QFile::remove(originals::originalFor(folder, records[2])));
        m_server->mailbox = {scripted(2), scripted(3)};

        ReceiveRun canceled(*m_session, inputs());
        int fetches = 0;
        m_server->onCall = [&](const QString &name) {
            if (name == QLatin1String("fetch") && ++fetches == 2)
                canceled.cancel();
        };
        QVERIFY(canceled.run().canceled);
        QCOMPARE(storedSubjects(), QStringList{QStringLiteral("件名1")});
        QCOMPARE(test::readBytes(second), whole[1]); // replaced whole, and kept: the run did not create it
        QCOMPARE(originalCount(), 2);

        m_server->onCall = {};
        QCOMPARE(ReceiveRun(*m_session, inputs()).run().received, 2);
        QCOMPARE(storedSubjects(), (QStringList{QStringLiteral("件名1"), QStringLiteral("件名2"), QStringLiteral("件名3")}));
        for (int n = 1; n <= 3; ++n)
            QCOMPARE(test::readBytes(originals::originalFor(folder, records[n - 1])), whole[n - 1]);
        QCOMPARE(originalCount(), 3);
    }

    // A store write that fails stops the run; what was written before is
    // flushed once and only those messages are deleted.
    void failedWriteFlushesWhatCameBefore()
    {
        int syncs = 0;
        ReceiveInputs in = inputs();
        in.faults.sync = [&](const QString &) {
            ++syncs;
            return true;
        };
        Recorder recorder(*m_server);
        // The second message finds a store full to the last record number.
        recorder.atProgress = [&](int n) {
            if (n == 2) {
                QFile store(inputs().storePath);
                QVERIFY(store.open(QIODevice::ReadWrite));
                QVERIFY(store.resize(qint64(32767) * MailRecord::kLength));
            }
        };
        const ReceiveResult result = ReceiveRun(*m_session, in, &recorder).run();
        QCOMPARE(syncs, 1);
        QCOMPARE(result.notices.size(), 1);
        QCOMPARE(result.notices[0].kind, ReceiveNotice::Kind::StoreError);
        QCOMPARE(m_server->count(QStringLiteral("remove")), 1);
        QCOMPARE(m_server->callNames().last(), QStringLiteral("close"));
        QCOMPARE(m_server->mailbox.size(), 2);
        QCOMPARE(m_server->mailbox.first().subject, QStringLiteral("件名2"));
    }

    // An original that cannot be written stops the run before its record:
    // that message and the rest stay on the server, no half-written original
    // is left, and every stored record has its original.
    void failedOriginalKeepsTheMessageOnTheServer()
    {
        ReceiveInputs in = inputs();
        int writes = 0;
        in.faults.originalWrite = [&](const QString &) { return ++writes < 2; };
        const ReceiveResult result = ReceiveRun(*m_session, in).run();
        QCOMPARE(result.notices.size(), 1);
        QCOMPARE(result.notices[0].kind, ReceiveNotice::Kind::StoreError);
        QCOMPARE(result.received, 1);
        QCOMPARE(storedSubjects(), QStringList{QStringLiteral("件名1")});
        QCOMPARE(originalCount(), 1);
        QCOMPARE(m_server->callNames().last(), QStringLiteral("close"));
        QCOMPARE(m_server->mailbox.size(), 2);
        QCOMPARE(m_server->mailbox.first().subject, QStringLiteral("件名2"));
    }

    // --- leaving the mail on the server ---

    // A run that cannot tell the mail it kept from new mail fetches nothing
    // and deletes nothing, and says so: ids refused by a server that gave
    // them before, a listing where a message has none, a fetched list that
    // cannot be read. The first run keeps all three; new mail then arrives.
    void unsureRunLeavesTheMailboxAlone_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("ids refused") << QStringLiteral("refused");
        QTest::newRow("an id missing") << QStringLiteral("missing");
        QTest::newRow("list unreadable") << QStringLiteral("unreadable");
    }
    void unsureRunLeavesTheMailboxAlone()
    {
        QFETCH(QString, fault);
        giveIds();
        const ReceiveInputs in = keepInputs(1);
        ReceiveResult result = runOnce(in);
        QCOMPARE(result.received, 3);
        QCOMPARE(m_server->count(QStringLiteral("remove")), 0);

        m_server->mailbox.append(scripted(4));
        m_server->mailbox.last().uniqueId = "id4";
        if (fault == u"refused") {
            m_server->uniqueIds = false;
        } else if (fault == u"missing") {
            m_server->mailbox[3].uniqueId.clear();
        } else {
            QVERIFY(QFile::remove(in.fetchedListPath));
            QVERIFY(QDir().mkdir(in.fetchedListPath));
        }
        // Even kept mail that is due stays: the run cannot tell which it is.
        test::FixedClock clock(QDateTime::currentDateTimeUtc().addDays(2));
        const qsizetype callsBefore = m_server->calls().size();
        result = runOnce(in);
        const QStringList calls = m_server->callNames().mid(callsBefore);
        QCOMPARE(calls, (QStringList{QStringLiteral("open"), QStringLiteral("login"), QStringLiteral("list"),
                                     QStringLiteral("close")}));
        QCOMPARE(m_server->mailbox.size(), 4);
        QCOMPARE(storedSubjects().size(), 3);
        QCOMPARE(result.received, 0);
        QVERIFY(result.unchecked); // "受信できませんでした。", not "新着メール有り。"
        QCOMPARE(result.unseen, 0);
        QCOMPARE(result.notices.size(), 1);
        QCOMPARE(result.notices[0].kind, ReceiveNotice::Kind::Information);
        QVERIFY2(result.notices[0].text.contains(QStringLiteral("メールはすべてサーバーに残します")),
                 qPrintable(result.notices[0].text));
    }

    // A server that never gave ids is received from the old way, also after
    // another server did: stored, then deleted, with the notice once.
    void aServerWithoutIdsStoresAndDeletes()
    {
        setUniqueIdServer(appPaths().extraIni(), QStringLiteral("other.example.jp"));
        m_server->uniqueIds = false;
        const ReceiveResult first = runOnce(keepInputs());
        QCOMPARE(first.received, 3);
        QCOMPARE(m_server->count(QStringLiteral("remove")), 3);
        QVERIFY(m_server->mailbox.isEmpty());
        QCOMPARE(first.notices.size(), 1);
        QVERIFY(first.notices[0].text.contains(QStringLiteral("対応していない")));

        m_server->mailbox.append(scripted(4));
        const ReceiveResult second = runOnce(keepInputs());
        QCOMPARE(second.received, 1);
        QVERIFY(second.notices.isEmpty());
        QVERIFY(m_server->mailbox.isEmpty());
    }

    // Two messages with the same id are two messages: both are stored once,
    // neither is deleted, and each goes when it is due.
    void aSharedIdKeepsBothMessages()
    {
        m_server->mailbox[0].uniqueId = "same";
        m_server->mailbox[1].uniqueId = "same";
        m_server->mailbox[2].uniqueId = "other";
        const QDateTime start(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC);
        test::FixedClock clock(start);
        const ReceiveResult first = runOnce(keepInputs(2));
        QCOMPARE(first.received, 3);
        QCOMPARE(first.unseen, 3);
        QCOMPARE(storedSubjects(), (QStringList{QStringLiteral("件名1"), QStringLiteral("件名2"), QStringLiteral("件名3")}));
        QCOMPARE(m_server->count(QStringLiteral("remove")), 0);

        clock.set(start.addDays(1));
        const ReceiveResult second = runOnce(keepInputs(2));
        QCOMPARE(second.unseen, 0);
        QCOMPARE(second.received, 0);
        QCOMPARE(m_server->count(QStringLiteral("fetch")), 3);
        QCOMPARE(m_server->mailbox.size(), 3);

        clock.set(start.addDays(2));
        (void)runOnce(keepInputs(2));
        QVERIFY(m_server->mailbox.isEmpty());
        QCOMPARE(storedSubjects().size(), 3);
    }

    // --- the real POP3 mailbox and the test Dovecot server ---

    // Cancels against the real mailbox: what was stored is deleted, the rest
    // stays, and the next run takes the rest in order, none lost, none twice.
    // Dovecot pipelines, so the mark of a fetched message is held back until
    // the end and a cancel right after a fetch is seen between two messages.
    void dovecotCancels_data()
    {
        QTest::addColumn<bool>("afterFetch");
        QTest::addColumn<int>("received");
        QTest::newRow("between two messages") << false << 3;
        QTest::newRow("right after a fetch") << true << 4;
    }
    void dovecotCancels()
    {
        QFETCH(bool, afterFetch);
        QFETCH(int, received);
        test::DovecotBox box{QStringLiteral(KESTRA_DOVECOT_DIR), QStringLiteral("engine")};
        QVERIFY2(box.running(), "the Dovecot fixture is not running");
        box.clear();
        for (int n = 1; n <= 10; ++n)
            box.put(plainMail(n));
        Pop3MailboxSetup setup;
        setup.transport.connectTimeoutMs = setup.transport.readTimeoutMs = 10000;
        setup.transport.extraCaCertificates = QSslCertificate::fromPath(box.caFile(), QSsl::Pem);
        Pop3Mailbox mailbox(setup);
        ReceiveInputs in = inputs();
        in.server = box.plainServer();
        in.id = box.user();
        in.password = box.password();

        struct Canceler final : ReceiveObserver {
            ReceiveRun *run = nullptr;
            bool afterFetch = false;
            void progress(int n, int) override
            {
                if (!afterFetch && n == 4)
                    run->cancel();
            }
            void fetched(int n, const ReceivedMail &) override
            {
                if (afterFetch && n == 4)
                    run->cancel();
            }
        } canceler;
        canceler.afterFetch = afterFetch;
        ReceiveRun run(mailbox, in, &canceler);
        canceler.run = &run;
        const ReceiveResult result = run.run();
        QVERIFY(result.canceled);
        QVERIFY2(result.notices.isEmpty(), qPrintable(result.notices.value(0).text));
        QCOMPARE(result.received, received);
        QCOMPARE(storedSubjects().size(), received);
        QTRY_COMPARE(box.count(), 10 - received);

        const ReceiveResult next = ReceiveRun(mailbox, in).run();
        QCOMPARE(next.received, 10 - received);
        const QStringList subjects = storedSubjects();
        QCOMPARE(subjects.size(), 10);
        for (int n = 1; n <= 10; ++n)
            QCOMPARE(subjects[n - 1], QStringLiteral("件名%1").arg(n));
        QCOMPARE(originalCount(), 10);
        QTRY_COMPARE(box.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestReceiveRun)
#include "tst_receiverun.moc"
