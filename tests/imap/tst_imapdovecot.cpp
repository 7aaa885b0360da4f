// The receive run over the real IMAP mailbox against the test Dovecot: each
// message fetched once over several runs and left on the server marked
// \Seen, a renumbered INBOX told once and not fetched again, deletion with
// the history taking exactly that message, and a STARTTLS an attacker
// stripped refused before any password goes out.
#include "imap/ImapMailbox.h"
#include "imap/ImapPush.h"
#include "runs/ReceiveRun.h"
#include "servers/DovecotBox.h"
#include "storage/FetchedUidls.h"
#include "storage/Records.h"
#include "storage/Settings.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace kestra;

namespace {

QByteArray mail(const QByteArray &subject)
{
    return "From: <sender@example.jp>\r\nSubject: " + subject + "\r\nDate: Tue, 8 Dec 2026 10:00:00 +0900\r\n"
           "Content-Type: text/plain; charset=UTF-8\r\n\r\nbody of " + subject + "\r\n";
}

// One installation's data folder, receiving from the test Dovecot's "imap" account.
class Account
{
public:
    explicit Account(test::DovecotBox &box) : m_box(box) { QDir(m_dir.path()).mkpath(QStringLiteral("attach")); }

    QString ini() const { return m_dir.filePath(QStringLiteral("kestra2.ini")); }
    QString store() const { return m_dir.filePath(QStringLiteral("kstdata2.data")); }
    qint64 records() const { return QFileInfo(store()).size() / MailRecord::kLength; }

    ImapMailboxSetup setup(Security security = Security::StartTls) const
    {
        ImapMailboxSetup s;
        s.transport.connectTimeoutMs = s.transport.readTimeoutMs = 10000;
        s.transport.extraCaCertificates = QSslCertificate::fromPath(m_box.caFile(), QSsl::Pem);
        s.connection.security = security;
        s.memoryIni = ini();
        return s;
    }
    ReceiveResult receive(Security security = Security::StartTls, int port = 0)
    {
        ImapMailbox mailbox(setup(security));
        ReceiveInputs in;
        in.server = QStringLiteral("127.0.0.1:%1").arg(port ? port : security == Security::Tls ? m_box.imapsPort() : m_box.imapPort());
        in.id = m_box.user();
        in.password = m_box.password();
        in.storePath = store();
        in.attachFolder = m_dir.filePath(QStringLiteral("attach")) + u'/';
        in.options = readReceiveOptions(ini());
        in.options.leaveOnServer = true; // what 受信 gives an IMAP account
        in.fetchedListPath = m_dir.filePath(QStringLiteral("fetched-uidls.txt"));
        in.extraIniPath = ini();
        return ReceiveRun(mailbox, in).run();
    }
    QString fetchedList() const { return m_dir.filePath(QStringLiteral("fetched-uidls.txt")); }

private:
    test::DovecotBox &m_box;
    QTemporaryDir m_dir;
};

// The Maildir files whose flags (after ":2,") hold `flag`.
int flagged(const test::DovecotBox &box, char flag)
{
    int n = 0;
    for (const QString &name : QDir(box.maildir() + QStringLiteral("/cur")).entryList(QDir::Files))
        n += name.section(QStringLiteral(":2,"), 1).contains(QLatin1Char(flag)) ? 1 : 0;
    return n;
}

QString errors(const ReceiveResult &r)
{
    QStringList texts;
    for (const ReceiveNotice &n : r.notices)
        texts << n.text;
    return texts.join(u'\n');
}

} // namespace

class TestImapDovecot : public QObject
{
    Q_OBJECT

    test::DovecotBox m_box{QStringLiteral(KESTRA_DOVECOT_DIR), QStringLiteral("imap")};

private Q_SLOTS:
    void init()
    {
        QVERIFY2(m_box.running() && m_box.imapPort() != 0, "the Dovecot fixture is not running with IMAP");
        m_box.clear();
    }

    void eachMessageOnceOverThreeRuns_data()
    {
        QTest::addColumn<Security>("security");
        QTest::newRow("STARTTLS") << Security::StartTls;
        QTest::newRow("SSL/TLS") << Security::Tls;
    }
    void eachMessageOnceOverThreeRuns()
    {
        QFETCH(Security, security);
        Account account(m_box);
        for (int n = 1; n <= 70; ++n) // more than one range
            m_box.put(mail("first " + QByteArray::number(n)));
        ReceiveResult r = account.receive(security);
        QVERIFY2(r.notices.isEmpty(), qPrintable(errors(r)));
        QCOMPARE(r.received, 70);
        QCOMPARE(r.unseen, 70);
        QCOMPARE(r.last->subject, QStringLiteral("first 70"));
        m_box.put(mail("second 1"));
        m_box.put(mail("second 2"));
        r = account.receive(security);
        QCOMPARE(r.received, 2);
        QCOMPARE(r.unseen, 2);
        QCOMPARE(r.last->subject, QStringLiteral("second 2"));
        r = account.receive(security);
        QCOMPARE(r.received, 0);
        QCOMPARE(r.unseen, 0);
        QVERIFY(r.notices.isEmpty());
        QCOMPARE(account.records(), 72);
        // Left on the server, read.
        QCOMPARE(m_box.count(), 72);
        QCOMPARE(flagged(m_box, 'S'), 72);
        QCOMPARE(flagged(m_box, 'T'), 0);
        // The server offered TLS: a plain answer later is an attack.
        const ServerAddress at = resolveImapAddress(QStringLiteral("127.0.0.1:%1").arg(security == Security::Tls ? m_box.imapsPort() : m_box.imapPort()),
                                                    security, 0).value();
        QVERIFY(ServerMemory(account.ini(), MailProtocol::Imap, at.host, at.port).tlsSeen());
    }

    void renumberedInboxIsToldOnce()
    {
        Account account(m_box);
        m_box.put(mail("old 1"));
        m_box.put(mail("old 2"));
        QCOMPARE(account.receive().received, 2);
        // The server forgets its numbering (a restored backup, a new server):
        // the same messages come back under a new UIDVALIDITY.
        QThread::msleep(1100);
        m_box.clear();
        m_box.put(mail("old 1"));
        m_box.put(mail("old 2"));
        ReceiveResult r = account.receive();
        QCOMPARE(r.received, 0);
        QVERIFY2(errors(r).contains(QStringLiteral("UIDVALIDITY")), qPrintable(errors(r)));
        QVERIFY(errors(r).contains(QStringLiteral("2 通")));
        r = account.receive();
        QCOMPARE(r.received, 0);
        QVERIFY(r.notices.isEmpty());
        m_box.put(mail("new"));
        r = account.receive();
        QCOMPARE(r.received, 1);
        QCOMPARE(r.last->subject, QStringLiteral("new"));
        QCOMPARE(account.records(), 3);
    }

    void deletionWithTheHistoryTakesThatMessageOnly()
    {
        Account account(m_box);
        ReceiveOptions options;
        options.leaveOnServer = true;
        options.deleteWithHistory = true;
        QVERIFY(writeReceiveOptions(account.ini(), options));
        m_box.put(mail("A"));
        m_box.put(mail("B"));
        QCOMPARE(account.receive().received, 2);
        // Another client marks its own message deleted and has not expunged yet.
        m_box.put(mail("C"));
        {
            ImapSession other(account.setup().transport);
            QVERIFY(other.open(QStringLiteral("127.0.0.1:%1").arg(m_box.imapPort())));
            QVERIFY(other.login(m_box.user(), m_box.password()));
            QVERIFY(other.command("SELECT INBOX"));
            QVERIFY(other.command("STORE 3 +FLAGS (\\Deleted)"));
            QVERIFY(other.logout());
        }
        // "A" is deleted in the history.
        QVERIFY(askServerDeletion(account.store(), {1}, account.ini(), account.fetchedList()));
        const ReceiveResult r = account.receive();
        QVERIFY2(r.notices.isEmpty(), qPrintable(errors(r)));
        QCOMPARE(r.received, 0); // C is the other client's deletion, not new mail
        QCOMPARE(m_box.count(), 2);
        QCOMPARE(flagged(m_box, 'T'), 1); // C, still waiting for its own client
        const QStringList left = QDir(m_box.maildir() + QStringLiteral("/cur")).entryList(QDir::Files);
        QByteArray bodies;
        for (const QString &name : left) {
            QFile f(m_box.maildir() + QStringLiteral("/cur/") + name);
            QVERIFY(f.open(QIODevice::ReadOnly));
            bodies += f.readAll();
        }
        QVERIFY(!bodies.contains("Subject: A\r\n"));
        QVERIFY(bodies.contains("Subject: B\r\n") && bodies.contains("Subject: C\r\n"));
    }

    void pushTellsOfNewMail()
    {
        Account account(m_box);
        std::atomic_int arrived{0};
        MailboxAccount who;
        who.server = QStringLiteral("127.0.0.1:%1").arg(m_box.imapPort());
        who.id = m_box.user();
        who.password = m_box.password();
        ImapPush push(account.setup(), who, [&] { ++arrived; });
        QTRY_VERIFY_WITH_TIMEOUT(push.listening(), 10000);
        QCOMPARE(arrived.load(), 0);
        m_box.put(mail("pushed"));
        QTRY_VERIFY_WITH_TIMEOUT(arrived.load() > 0, 5000);
        const ReceiveResult r = account.receive();
        QCOMPARE(r.received, 1);
        QCOMPARE(r.last->subject, QStringLiteral("pushed"));
    }

    void strippedStartTlsIsRefused_data()
    {
        QTest::addColumn<Security>("security");
        QTest::addColumn<bool>("tlsSeen");
        QTest::addColumn<QString>("says");
        QTest::newRow("STARTTLS chosen") << Security::StartTls << false << QStringLiteral("対応していないため");
        QTest::newRow("offered before") << Security::Unset << true << QStringLiteral("以前は暗号化通信に対応");
    }
    void strippedStartTlsIsRefused()
    {
        QFETCH(Security, security);
        QFETCH(bool, tlsSeen);
        QFETCH(QString, says);
        Account account(m_box);
        const QString log = QDir::temp().filePath(QStringLiteral("kestra-imap-proxy-%1.log").arg(QCoreApplication::applicationPid()));
        QFile::remove(log);
        QProcess proxy;
        proxy.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(KESTRA_SERVERS_DIR "/mail_proxy.py"), QStringLiteral("--strip"), QStringLiteral("--target"),
                     QString::number(m_box.imapPort()), QStringLiteral("--log"), log});
        QVERIFY(proxy.waitForReadyRead(10000));
        const int port = proxy.readLine().trimmed().toInt();
        if (tlsSeen)
            ServerMemory(account.ini(), MailProtocol::Imap, QStringLiteral("127.0.0.1"), port).rememberTls();
        m_box.put(mail("secret"));
        const ReceiveResult r = account.receive(security, port);
        proxy.kill();
        proxy.waitForFinished();
        QFile sent(log);
        QVERIFY(sent.open(QIODevice::ReadOnly));
        const QByteArray said = sent.readAll();
        QFile::remove(log);
        QVERIFY(r.unchecked);
        QCOMPARE(r.received, 0);
        QVERIFY2(errors(r).contains(says), qPrintable(errors(r)));
        QVERIFY(errors(r).contains(QStringLiteral("パスワードは送っていません")));
        QVERIFY(said.contains("CAPABILITY"));
        QVERIFY(!said.contains("LOGIN"));
        QVERIFY(!said.contains(m_box.password().toUtf8()));
    }
};

QTEST_GUILESS_MAIN(TestImapDovecot)
#include "tst_imapdovecot.moc"
