// The real POP3 mailbox against a scripted POP3 server on a loopback socket:
// silence, a drop in the middle of a message, garbage and endless lines, a
// refused STLS and a greeting without APOP timestamp. No call may hang, and
// after a broken exchange nothing more is sent (above all no DELE).
#include "mime/MessageExpansion.h"
#include "pop3/Pop3Mailbox.h"
#include "pop3/Pop3Session.h"
#include "net/ServerSecurity.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <functional>
#include <mutex>

using namespace kestra;

namespace {

// A one-connection POP3 server run by a script on its own thread (the layer
// under test blocks the test's thread while it waits).
class ScriptedServer : public QThread
{
public:
    using Script = std::function<void(ScriptedServer &, QTcpSocket &)>;

    explicit ScriptedServer(Script script) : m_script(std::move(script))
    {
        // Bound here, so the port is known before the client connects.
        m_listener = std::make_unique<QTcpServer>();
        if (!m_listener->listen(QHostAddress::LocalHost, 0))
            qFatal("cannot listen");
        m_port = m_listener->serverPort();
        m_listener->moveToThread(this);
        start();
    }
    ~ScriptedServer() override
    {
        m_stop = true;
        wait();
    }

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

    // Lines the client sent, in order.
    QList<QByteArray> received() const
    {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    bool receivedCommand(const QByteArray &prefix) const
    {
        for (const QByteArray &line : received()) {
            if (line.startsWith(prefix))
                return true;
        }
        return false;
    }

    void say(QTcpSocket &s, const QByteArray &text)
    {
        s.write(text);
        s.flush();
        s.waitForBytesWritten(2000);
    }
    // Waits for the next command line; empty when the client has gone.
    QByteArray expect(QTcpSocket &s)
    {
        for (int i = 0; i < 200 && !m_stop; ++i) {
            if (s.canReadLine()) {
                QByteArray line = s.readLine().trimmed();
                std::lock_guard lock(m_mutex);
                m_received.append(line);
                return line;
            }
            if (s.state() != QAbstractSocket::ConnectedState)
                return {};
            s.waitForReadyRead(50);
        }
        return {};
    }
    // Keeps the connection open, saying nothing, until the client goes or the test ends.
    void stayQuiet(QTcpSocket &s)
    {
        while (!m_stop && s.state() == QAbstractSocket::ConnectedState) {
            s.waitForReadyRead(50);
            s.readAll();
        }
    }
    // Answers the usual log-in: CAPA without STLS, USER, PASS, STAT with
    // `count`, and for a non-empty maildrop the size table (100 bytes each
    // unless `list` gives the whole reply to LIST) and CAPA again, with
    // PIPELINING when `pipelining`.
    void loginWith(QTcpSocket &s, int count, QByteArray list = {}, bool pipelining = false)
    {
        say(s, "+OK ready <1.2@test>\r\n");
        expect(s); // CAPA
        say(s, "+OK\r\nUSER\r\nTOP\r\n.\r\n");
        expect(s); // USER
        say(s, "+OK\r\n");
        expect(s); // PASS
        say(s, "+OK\r\n");
        expect(s); // STAT
        say(s, "+OK " + QByteArray::number(count) + " 100\r\n");
        if (count == 0)
            return;
        expect(s); // LIST
        if (list.isEmpty()) {
            list = "+OK\r\n";
            for (int n = 1; n <= count; ++n)
                list += QByteArray::number(n) + " 100\r\n";
            list += ".\r\n";
        }
        say(s, list);
        expect(s); // CAPA
        say(s, pipelining ? "+OK\r\nUSER\r\nPIPELINING\r\n.\r\n" : "+OK\r\nUSER\r\n.\r\n");
    }

protected:
    void run() override
    {
        if (!m_listener->waitForNewConnection(10000))
            return;
        QTcpSocket *s = m_listener->nextPendingConnection();
        m_script(*this, *s);
        s->close();
        delete s;
        m_listener.reset();
    }

private:
    Script m_script;
    std::unique_ptr<QTcpServer> m_listener;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    QList<QByteArray> m_received;
};

// Drives a Pop3Mailbox as the receive run does, with short waits: keeps the
// text of the last failure and makes the last fetched message readable. The
// scripted servers offer no STLS: the settings file the mailbox is handed
// says the user allowed the password in clear there, unless told otherwise.
class Driver
{
public:
    explicit Driver(int maxMiB = 32) : m_maxBytes(qint64(maxMiB) * 1024 * 1024) {}
    QString error;
    QString subject; // of the last message fetched, decoded
    QString body;    // its readable text
    int attachments = 0;
    bool withSettingsFile = true;

    bool open(const QString &server, bool apop = false)
    {
        Pop3MailboxSetup setup;
        setup.transport.connectTimeoutMs = 2000;
        setup.transport.readTimeoutMs = 400;
        if (withSettingsFile) {
            setup.memoryIni = m_folder.filePath(QStringLiteral("kestra2.ini"));
            const Pop3Address address = parsePop3Address(server).value();
            ServerMemory(setup.memoryIni, MailProtocol::Pop3, address.host, address.port).rememberPlainAnswer(true);
        }
        m_box = std::make_unique<Pop3Mailbox>(setup);
        return keep(m_box->open({server, QStringLiteral("u"), QStringLiteral("p"), apop, m_maxBytes}));
    }
    int login()
    {
        const Result<int> count = m_box->login();
        return count ? count.value() : failed(count.error());
    }
    Result<MailboxListing> list(bool uniqueIds) { return m_box->list(uniqueIds); }
    int fetch(int n)
    {
        m_last = RawMessage();
        Result<RawMessage> fetched = m_box->fetch(n);
        if (!fetched)
            return failed(fetched.error());
        m_last = fetched.value();
        const Result<mime::ExpandedMail> expanded = mime::expandMessage(m_last, m_folder.path() + u'/', m_maxBytes);
        if (!expanded)
            return failed(expanded.error());
        subject = expanded.value().subject;
        body = expanded.value().body;
        attachments = expanded.value().attachmentsWritten;
        return 0;
    }
    QByteArray lastMessage() const { return m_last.readAll(); }
    int remove(int n) { return keep(m_box->remove(n)) ? 0 : -1; }
    int close()
    {
        m_last = RawMessage();
        return keep(m_box->close()) ? 0 : -1;
    }
    int abandon()
    {
        m_last = RawMessage();
        return keep(m_box->abandon()) ? 0 : -1;
    }

private:
    int failed(const Error &e)
    {
        error = e.message();
        return -1;
    }
    bool keep(const Status &status)
    {
        if (!status)
            error = status.error().message();
        return status.ok();
    }

    qint64 m_maxBytes;
    std::unique_ptr<Pop3Mailbox> m_box;
    RawMessage m_last;
    QTemporaryDir m_folder;
};

} // namespace

class TestPop3Faults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void serverNames_data();
    void serverNames();
    void silentServerTimesOut();
    void silenceInTheMiddleOfRetr();
    void tricklingAnswerMeetsTheCommandBound();
    void cancelEndsASilentWait();
    void dropInTheMiddleOfRetr();
    void garbageReply_data();
    void garbageReply();
    void endlessLine_data();
    void endlessLine();
    void refusedStlsIsNoFallback();
    void apopWithoutTimestamp();
    void apopChallengeMustBeAMsgId_data();
    void apopChallengeMustBeAMsgId();
    void messageOverTheLimitIsSkippedWholeAndLeavesNoFile();
    void refusedRetrKeepsSession();
    void pipelinedSession_data();
    void pipelinedSession();
    void sizeTable_data();
    void sizeTable();
    void uniqueIdTable();
    void noSettingsFileNoPlainPassword();
    void capabilityFlood_data();
    void capabilityFlood();
    void giantTables_data();
    void giantTables();
};

void TestPop3Faults::serverNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("valid");
    QTest::newRow("host") << "mail.example.jp" << "mail.example.jp" << 110 << false << true;
    QTest::newRow("host:port") << "127.0.0.1:2110" << "127.0.0.1" << 2110 << false << true;
    QTest::newRow("blanks around") << "  127.0.0.1  " << "127.0.0.1" << 110 << false << true;
    QTest::newRow("pop3 url") << "pop3://localhost:1110" << "localhost" << 1110 << false << true;
    QTest::newRow("pop3s url") << "POP3S://localhost" << "localhost" << 995 << true << true;
    QTest::newRow("pop3s url with port and slash") << "pop3s://localhost:1995/" << "localhost" << 1995 << true << true;
    QTest::newRow("ipv6 with port") << "[::1]:2110" << "::1" << 2110 << false << true;
    QTest::newRow("ipv6 bare") << "::1" << "::1" << 110 << false << true;
    QTest::newRow("other scheme") << "imap://localhost" << "" << 0 << false << false;
    QTest::newRow("bad port") << "localhost:http" << "" << 0 << false << false;
    QTest::newRow("port out of range") << "localhost:70000" << "" << 0 << false << false;
    QTest::newRow("empty") << "" << "" << 0 << false << false;
    QTest::newRow("blank inside") << "mail example" << "" << 0 << false << false;
    QTest::newRow("path") << "pop3://localhost/inbox" << "" << 0 << false << false;
    QTest::newRow("credentials") << "pop3://user@localhost" << "" << 0 << false << false;
    QTest::newRow("smtp scheme") << "smtp://localhost" << "" << 0 << false << false;
}

void TestPop3Faults::serverNames()
{
    QFETCH(QString, name);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(bool, tls);
    QFETCH(bool, valid);
    const Result<Pop3Address> parsed = parsePop3Address(name);
    QCOMPARE(parsed.ok(), valid);
    if (!valid)
        return;
    const Pop3Address &a = parsed.value();
    QCOMPARE(a.host, host);
    QCOMPARE(int(a.port), port);
    QCOMPARE(a.implicitTls, tls);
}

void TestPop3Faults::silentServerTimesOut()
{
    ScriptedServer server([](ScriptedServer &srv, QTcpSocket &s) { srv.stayQuiet(s); });
    Driver box;
    QVERIFY(!box.open(server.address()));
    QVERIFY2(box.error.contains(QStringLiteral("応答がありません")), qPrintable(box.error));
}

void TestPop3Faults::silenceInTheMiddleOfRetr()
{
    ScriptedServer server([](ScriptedServer &srv, QTcpSocket &s) {
        srv.loginWith(s, 1);
        srv.expect(s); // RETR 1
        srv.say(s, "+OK\r\nSubject: x\r\n\r\nfirst half");
        srv.stayQuiet(s);
    });
    Driver box;
    const bool h = box.open(server.address());
    QVERIFY2(h, qPrintable(box.error));
    QCOMPARE(box.login(), 1);
    QCOMPARE(box.fetch(1), -1);
    QVERIFY2(box.error.contains(QStringLiteral("RETR")), qPrintable(box.error));
    // The session is finished: no delete is sent after a failed fetch.
    QVERIFY(box.remove(1) < 0);
    box.close();
    QVERIFY(!server.receivedCommand("DELE"));
}

// A byte now and then, each well within the read bound: the bound of the
// whole command ends it.
void TestPop3Faults::tricklingAnswerMeetsTheCommandBound()
{
    ScriptedServer server([](ScriptedServer &srv, QTcpSocket &s) {
        srv.loginWith(s, 1);
        srv.expect(s); // RETR 1
        srv.say(s, "+OK\r\n");
        for (int i = 0; i < 100 && s.state() == QAbstractSocket::ConnectedState; ++i) {
            srv.say(s, "x");
            QThread::msleep(100);
        }
    });
    Pop3Options options;
    options.readTimeoutMs = 400;
    options.commandTimeoutMs = 1500;
    Pop3Session session(options);
    const Status opened = session.open(server.address());
    QVERIFY2(opened, qPrintable(opened ? QString() : opened.error().message()));
    const Result<int> count = session.login(QStringLiteral("u"), QStringLiteral("p"), false);
    QVERIFY(count);
    QCOMPARE(count.value(), 1);
    QBuffer sink;
    QVERIFY(sink.open(QIODevice::WriteOnly));
    const Status got = session.retrieve(1, sink, 1 << 20);
    QVERIFY(!got);
    QVERIFY(session.broken());
    const QString text = got.error().message();
    QVERIFY2(text.contains(QStringLiteral("応答が遅すぎる")) && text.contains(QStringLiteral("RETR")), qPrintable(text));
    QVERIFY(!session.canceled());
}

// A cancel ends a wait the read bound would let go on for long; the session
// is then finished and sends nothing more.
void TestPop3Faults::cancelEndsASilentWait()
{
    ScriptedServer server([](ScriptedServer &srv, QTcpSocket &s) {
        srv.loginWith(s, 1);
        srv.expect(s); // RETR 1
        srv.stayQuiet(s);
    });
    QElapsedTimer waiting;
    Pop3Options options;
    options.readTimeoutMs = 60000;
    options.cancelRequested = [&] { return waiting.isValid() && waiting.elapsed() > 300; };
    Pop3Session session(options);
    const Status opened = session.open(server.address());
    QVERIFY2(opened, qPrintable(opened ? QString() : opened.error().message()));
    const Result<int> count = session.login(QStringLiteral("u"), QStringLiteral("p"), false);
    QVERIFY(count);
    QCOMPARE(count.value(), 1);
    QBuffer sink;
    QVERIFY(sink.open(QIODevice::WriteOnly));
    waiting.start();
    const Status got = session.retrieve(1, sink, 1 << 20);
    QVERIFY(!got);
    QVERIFY(got.error().is(Error::Kind::Canceled));
    QVERIFY(session.canceled());
    QVERIFY(session.broken());
    QVERIFY(!session.remove(1));
    QVERIFY(!session.quit());
    QVERIFY(!server.receivedCommand("DELE"));
    QVERIFY(!server.receivedCommand("QUIT"));
}

void TestPop3Faults::dropInTheMiddleOfRetr()
{
    ScriptedServer server([](ScriptedServer &srv, QTcpSocket &s) {
        srv.loginWith(s, 2);
        srv.expect(s); // RETR 1
        srv.say(s, "+OK\r\nSubject: one\r\n\r\nwhole\r\n.\r\n");
        srv.expect(s); // RETR 2
        srv.say(s, "+OK\r\nSubject: two\r\n\r\nhalf of it");
        // and the connection drops
    });
    Driver box;
    QVERIFY2(box.open(server.address()), qPrintable(box.error));
    QCOMPARE(box.login(), 2);
    QCOMPARE(box.fetch(1), 0);
    QCOMPARE(box.subject, QStringLiteral("one"));
    QCOMPARE(box.fetch(2), -1);
    QVERIFY2(box.error.contains(QStringLiteral("接続が切れました")), qPrintable(box.error));
    QVERIFY(box.remove(2) < 0);
    QVERIFY(box.close() < 0);
    // The error text still tells what went wrong first.
    QVERIFY(box.error.contains(QStringLiteral("接続が切れました")));
    server.wait();
    QVERIFY(!server.receivedCommand("DELE"));
}

void TestPop3Faults::garbageReply_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("connects");
    QTest::newRow("garbage greeting") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << QByteArray() << false;
    QTest::newRow("binary greeting") << QByteArray("\x00\xff\xfe\r\n", 5) << QByteArray() << false;
    QTest::newRow("garbage reply to USER") << QByteArray("+OK hi\r\n") << QByteArray("HELLO WORLD\r\n") << true;
    QTest::newRow("STAT without a number") << QByteArray("+OK hi\r\n") << QByteArray("+OK\r\n") << true;
}

void TestPop3Faults::garbageReply()
{
    QFETCH(QByteArray, greeting);
    QFETCH(QByteArray, reply);
    QFETCH(bool, connects);
    ScriptedServer server([&](ScriptedServer &srv, QTcpSocket &s) {
        srv.say(s, greeting);
        if (reply.isEmpty()) {
            srv.stayQuiet(s);
            return;
        }
        srv.expect(s); // CAPA
        srv.say(s, "-ERR no\r\n");
        srv.expect(s); // USER
        if (reply.startsWith("+OK")) {
            srv.say(s, "+OK\r\n");
            srv.expect(s); // PASS
            srv.say(s, "+OK\r\n");
            srv.expect(s); // STAT
        }
        srv.say(s, reply);
        srv.stayQuiet(s);
    });
    Driver box;
    const bool h = box.open(server.address());
    if (!connects) {
        QVERIFY(!h);
        QVERIFY2(box.error.contains(QStringLiteral("理解できません")), qPrintable(box.error));
        return;
    }
    QVERIFY(h);
    QVERIFY(box.login() < 0);
    QVERIFY2(box.error.contains(QStringLiteral("理解できません")), qPrintable(box.error));
    box.close();
}

void TestPop3Faults::endlessLine_data()
{
    QTest::addColumn<bool>("inMessage");
    QTest::newRow("status line") << false;
    QTest::newRow("inside a message") << true;
}

void TestPop3Faults::endlessLine()
{
    QFETCH(bool, inMessage);
    ScriptedServer server([&](ScriptedServer &srv, QTcpSocket &s) {
        if (inMessage) {
            srv.loginWith(s, 1);
            srv.expect(s); // RETR 1
            srv.say(s, "+OK\r\n");
        }
        // Bytes without a line end until the client gives up (at most 64 MB).
        const QByteArray chunk(64 * 1024, 'A');
        for (int i = 0; i < 1024 && s.state() == QAbstractSocket::ConnectedState; ++i) {
            s.write(chunk);
            if (!s.waitForBytesWritten(2000))
                break;
        }
    });
    Driver box;
    const bool h = box.open(server.address());
    if (!inMessage) {
        QVERIFY(!h);
    } else {
        QVERIFY(h);
        QCOMPARE(box.login(), 1);
        QCOMPARE(box.fetch(1), -1);
        box.close();
    }
    QVERIFY2(box.error.contains(QStringLiteral("長すぎます")), qPrintable(box.error));
}

void TestPop3Faults::refusedStlsIsNoFallback()
{
    ScriptedServer server([](ScriptedServer &srv, QTcpSocket &s) {
        srv.say(s, "+OK ready\r\n");
        srv.expect(s); // CAPA
        srv.say(s, "+OK\r\nSTLS\r\nUSER\r\n.\r\n");
        srv.expect(s); // STLS
        srv.say(s, "-ERR TLS not available today\r\n");
        srv.expect(s); // anything that would follow
    });
    Driver box;
    QVERIFY(!box.open(server.address()));
    QVERIFY2(box.error.contains(QStringLiteral("TLS not available today")), qPrintable(box.error));
    server.wait();
    QVERIFY(!server.receivedCommand("USER"));
    QVERIFY(!server.receivedCommand("PASS"));
}

void TestPop3Faults::apopWithoutTimestamp()
{
    ScriptedServer server([](ScriptedServer &srv, QTcpSocket &s) {
        srv.say(s, "+OK ready\r\n");
        srv.expect(s); // CAPA
        srv.say(s, "-ERR\r\n");
        srv.expect(s); // QUIT, or nothing
        srv.say(s, "+OK bye\r\n");
    });
    Driver box;
    const bool h = box.open(server.address(), true); // APOP asked for
    QVERIFY(h);
    QVERIFY(box.login() < 0);
    QVERIFY2(box.error.contains(QStringLiteral("タイムスタンプ")), qPrintable(box.error));
    QCOMPARE(box.close(), 0);
    server.wait();
    QVERIFY(!server.receivedCommand("APOP"));
    QVERIFY(!server.receivedCommand("USER"));
}

void TestPop3Faults::apopChallengeMustBeAMsgId_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QByteArray>("challenge");
    QTest::newRow("msg-id") << QByteArray("+OK ready <1896.697170952@dbc.mtview.ca.us>")
                            << QByteArray("<1896.697170952@dbc.mtview.ca.us>");
    QTest::newRow("no at") << QByteArray("+OK <1896.697170952>") << QByteArray();
    QTest::newRow("blank inside") << QByteArray("+OK <a b@c>") << QByteArray();
    QTest::newRow("control byte") << QByteArray("+OK <a\x01@c>") << QByteArray();
    QTest::newRow("8-bit byte") << QByteArray("+OK <a\xE3\x81\x82@c>") << QByteArray();
    QTest::newRow("nested opener") << QByteArray("+OK <<a@c>") << QByteArray();
    QTest::newRow("no close") << QByteArray("+OK <a@c") << QByteArray();
    QTest::newRow("256 long") << "+OK <" + QByteArray(249, 'a') + "@c.jp>" << "<" + QByteArray(249, 'a') + "@c.jp>";
    QTest::newRow("257 long") << "+OK <" + QByteArray(251, 'a') + "@c.jp>" << QByteArray();
}

void TestPop3Faults::apopChallengeMustBeAMsgId()
{
    QFETCH(QByteArray, greeting);
    QFETCH(QByteArray, challenge);
    QCOMPARE(apopTimestamp(greeting), challenge);
}

// A message longer than the limit is read to its end and thrown away: the
// session goes on with the next message, and no file of it stays behind.
void TestPop3Faults::messageOverTheLimitIsSkippedWholeAndLeavesNoFile()
{
    QTemporaryDir temp;
    const QByteArray oldTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    const QByteArray line = QByteArray(998, 'x') + "\r\n";
    // 5.3 MB: over the limit of 5 MiB; 4.3 MB: under it, but too large to be
    // held in memory, so it goes through the private file.
    const auto message = [&](const QByteArray &subject, int lines) {
        QByteArray m = "Subject: " + subject + "\r\n\r\n";
        for (int i = 0; i < lines; ++i)
            m += line;
        return m;
    };
    const QByteArray large = message("large", 4300);
    ScriptedServer server([&](ScriptedServer &srv, QTcpSocket &s) {
        srv.loginWith(s, 3);
        srv.expect(s); // RETR 1
        srv.say(s, "+OK\r\n" + message("big", 5300) + ".\r\n");
        srv.expect(s); // RETR 2
        srv.say(s, "+OK\r\nSubject: small\r\n\r\nbody\r\n.\r\n");
        srv.expect(s); // RETR 3
        srv.say(s, "+OK\r\n" + large + ".\r\n");
        srv.expect(s); // QUIT
        srv.say(s, "+OK\r\n");
    });
    Driver box(5);
    QVERIFY2(box.open(server.address()), qPrintable(box.error));
    QCOMPARE(box.login(), 3);
    QCOMPARE(box.fetch(1), -1);
    QVERIFY2(box.error.contains(QStringLiteral("(5 MB)")), qPrintable(box.error));
    QCOMPARE(box.fetch(2), 0);
    QCOMPARE(box.subject, QStringLiteral("small"));
    QCOMPARE(box.body, QStringLiteral("body\r\n"));
    QCOMPARE(box.attachments, 0);
    QCOMPARE(box.lastMessage(), QByteArray("Subject: small\r\n\r\nbody\r\n"));
    QCOMPARE(box.fetch(3), 0);
    QCOMPARE(box.subject, QStringLiteral("large"));
    QVERIFY(box.body.startsWith(QString::fromLatin1(line)));
    QCOMPARE(box.lastMessage(), large);
    // Until the session ends the message's file is private (where the system
    // allows, it has no name at all); then it is gone.
    for (const QFileInfo &waiting : QDir(temp.path()).entryInfoList(QDir::Files | QDir::Hidden))
        QCOMPARE(waiting.permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
    QCOMPARE(box.close(), 0);
    QCOMPARE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList());

    // Those a crash left behind are removed at the next start; other files
    // stay, names that only begin or end like them too.
    const QStringList leftovers{QStringLiteral("kestra-receive-Ab12Cd.eml"), QStringLiteral("KESTRA-RECEIVE-zz.EML")};
    const QStringList others{QStringLiteral("kestra-other.eml"), QStringLiteral("kestra-receive-Ab12Cd.eml.part"),
                             QStringLiteral("kestra-receive.eml"), QStringLiteral("my-kestra-receive-Ab12Cd.eml")};
    for (const QString &name : leftovers + others) {
        QFile file(temp.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QCOMPARE(removeReceiveLeftovers(), 2);
    QStringList kept = QDir(temp.path()).entryList(QDir::Files);
    kept.sort();
    QStringList expected = others;
    expected.sort();
    QCOMPARE(kept, expected);
    if (oldTemp.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", oldTemp);
}

void TestPop3Faults::refusedRetrKeepsSession()
{
    ScriptedServer server([](ScriptedServer &srv, QTcpSocket &s) {
        srv.loginWith(s, 2);
        srv.expect(s); // RETR 1
        srv.say(s, "-ERR [SYS/TEMP] message is locked\r\n");
        srv.expect(s); // RETR 2
        srv.say(s, "+OK\r\nSubject: two\r\n\r\n..dot\r\n.\r\n");
        srv.expect(s); // QUIT
        srv.say(s, "+OK\r\n");
    });
    Driver box;
    QVERIFY2(box.open(server.address()), qPrintable(box.error));
    QCOMPARE(box.login(), 2);
    QCOMPARE(box.fetch(1), -1);
    QVERIFY2(box.error.contains(QStringLiteral("message is locked")), qPrintable(box.error));
    QCOMPARE(box.fetch(2), 0);
    QCOMPARE(box.body, QStringLiteral(".dot\r\n"));
    QCOMPARE(box.close(), 0);
}

void TestPop3Faults::sizeTable_data()
{
    QTest::addColumn<QByteArray>("list");       // the reply to LIST after log-in
    QTest::addColumn<QList<int>>("sizes");      // what GetMailSize gives for 1..n
    QTest::addColumn<QList<QByteArray>>("asked"); // LIST n commands sent afterwards
    QTest::newRow("one table") << QByteArray("+OK\r\n1 120\r\n2 4500\r\n.\r\n") << QList<int>{120, 4500}
                               << QList<QByteArray>{};
    QTest::newRow("unreadable line") << QByteArray("+OK 3 messages\r\n1 120\r\n2 lots\r\n3 4500\r\n9 1\r\n.\r\n")
                                     << QList<int>{120, 702, 4500} << QList<QByteArray>{"LIST 2"};
    QTest::newRow("table shorter than STAT") << QByteArray("+OK\r\n1 50\r\n.\r\n") << QList<int>{50, 702}
                                             << QList<QByteArray>{"LIST 2"};
    QTest::newRow("refused") << QByteArray("-ERR not now\r\n") << QList<int>{701, 702}
                             << QList<QByteArray>{"LIST 1", "LIST 2"};
}

void TestPop3Faults::sizeTable()
{
    QFETCH(QByteArray, list);
    QFETCH(QList<int>, sizes);
    QFETCH(QList<QByteArray>, asked);
    // Message n is 700 + n bytes when asked for alone.
    ScriptedServer server([&](ScriptedServer &srv, QTcpSocket &s) {
        srv.loginWith(s, int(sizes.size()), list);
        for (QByteArray line = srv.expect(s); !line.isEmpty(); line = srv.expect(s)) {
            if (line == "QUIT") {
                srv.say(s, "+OK\r\n");
                break;
            }
            const QByteArray n = line.mid(5);
            srv.say(s, "+OK " + n + ' ' + QByteArray::number(700 + n.toInt()) + "\r\n");
        }
    });
    Driver box;
    QVERIFY2(box.open(server.address()), qPrintable(box.error));
    QCOMPARE(box.login(), int(sizes.size()));
    const Result<MailboxListing> listing = box.list(false);
    QVERIFY(listing);
    QCOMPARE(listing.value().entries.size(), sizes.size());
    for (int n = 1; n <= sizes.size(); ++n)
        QCOMPARE(listing.value().entries.at(n - 1).size, qint64(sizes[n - 1]));
    QCOMPARE(box.close(), 0);
    server.wait();
    QList<QByteArray> sent = server.received();
    QCOMPARE(sent.count("LIST"), 1);
    sent.removeIf([](const QByteArray &line) { return !line.startsWith("LIST "); });
    QCOMPARE(sent, asked);
}

void TestPop3Faults::pipelinedSession_data()
{
    QTest::addColumn<int>("fetched");
    QTest::addColumn<bool>("abandon");
    QTest::addColumn<int>("skipped"); // a message left alone, as one kept on the server is
    QTest::addColumn<QList<QByteArray>>("sent"); // after the log-in
    QTest::newRow("closed") << 3 << false << 0
                            << QList<QByteArray>{"RETR 1", "RETR 2", "RETR 3", "DELE 1", "DELE 3", "QUIT"};
    // The answer for message 2 arrives between those of 1 and 3 and is read away.
    QTest::newRow("second skipped") << 3 << false << 2
                                    << QList<QByteArray>{"RETR 1", "RETR 2", "RETR 3", "DELE 1", "DELE 3", "QUIT"};
    QTest::newRow("abandoned") << 3 << true << 0 << QList<QByteArray>{"RETR 1", "RETR 2", "RETR 3", "RSET"};
    // The RETRs of messages 2 and 3 went ahead; their answers are read away first.
    QTest::newRow("stopped after one") << 1 << false << 0
                                       << QList<QByteArray>{"RETR 1", "RETR 2", "RETR 3", "DELE 1", "QUIT"};
}

// A server with PIPELINING: a fetch asks for the next message ahead, and the deletion marks go together just before QUIT. A refused mark
// is told at the close; an abandoned session sends no mark at all.
void TestPop3Faults::pipelinedSession()
{
    QFETCH(int, fetched);
    QFETCH(bool, abandon);
    QFETCH(int, skipped);
    QFETCH(QList<QByteArray>, sent);
    ScriptedServer server([](ScriptedServer &srv, QTcpSocket &s) {
        srv.loginWith(s, 3, {}, true);
        for (QByteArray line = srv.expect(s); !line.isEmpty(); line = srv.expect(s)) {
            if (line.startsWith("RETR "))
                srv.say(s, "+OK\r\nSubject: m" + line.mid(5) + "\r\n\r\nbody\r\n.\r\n");
            else
                srv.say(s, line == "DELE 3" ? "-ERR already gone\r\n" : "+OK\r\n");
            if (line == "QUIT" || line == "RSET")
                break;
        }
    });
    Driver box;
    QVERIFY2(box.open(server.address()), qPrintable(box.error));
    QCOMPARE(box.login(), 3);
    for (int n = 1; n <= fetched; ++n) {
        if (n == skipped)
            continue;
        const QString expected = QStringLiteral("m%1").arg(n);
        QCOMPARE(box.fetch(n), 0);
        QCOMPARE(box.subject, expected);
        QCOMPARE(box.body, QStringLiteral("body\r\n"));
        QCOMPARE(box.lastMessage(), "Subject: " + expected.toLatin1() + "\r\n\r\nbody\r\n");
    }
    QCOMPARE(box.remove(1), 0);
    if (fetched == 3)
        QCOMPARE(box.remove(3), 0);
    if (abandon) {
        QCOMPARE(box.abandon(), 0);
    } else if (fetched == 3) {
        QCOMPARE(box.close(), -1);
        QVERIFY2(box.error.contains(QStringLiteral("3 番")) && box.error.contains(QStringLiteral("already gone")),
                 qPrintable(box.error));
    } else {
        QCOMPARE(box.close(), 0);
    }
    server.wait();
    QCOMPARE(server.received().mid(6), sent); // after CAPA USER PASS STAT LIST CAPA
}

// UIDL: ids that are not printable ASCII, and numbers beyond the count, are
// left out; a server without the command leaves the session usable.
void TestPop3Faults::uniqueIdTable()
{
    for (const bool supported : {true, false}) {
        ScriptedServer server([&](ScriptedServer &srv, QTcpSocket &s) {
            srv.loginWith(s, 3, "+OK\r\n1 1\r\n2 1\r\n3 1\r\n.\r\n");
            for (QByteArray line = srv.expect(s); !line.isEmpty(); line = srv.expect(s)) {
                if (line == "QUIT") {
                    srv.say(s, "+OK\r\n");
                    break;
                }
                if (!supported)
                    srv.say(s, "-ERR unknown command\r\n");
                else
                    srv.say(s, "+OK\r\n1 abc\r\n2 two words\r\n3 \x01" "bad\r\n99999 big\r\n.\r\n");
            }
        });
        Driver box;
        QVERIFY2(box.open(server.address()), qPrintable(box.error));
        QCOMPARE(box.login(), 3);
        const Result<MailboxListing> listing = box.list(true);
        QVERIFY(listing);
        QCOMPARE(listing.value().hasUniqueIds, supported);
        QList<QByteArray> ids;
        for (const MailboxEntry &entry : listing.value().entries)
            ids << entry.uniqueId;
        QCOMPARE(ids, supported ? (QList<QByteArray>{"abc", {}, {}}) : (QList<QByteArray>{{}, {}, {}}));
        QCOMPARE(box.close(), 0);
        server.wait();
    }
}

// Without a settings file nobody chose plain text for the server: a server
// without STLS gets no USER and no PASS.
void TestPop3Faults::noSettingsFileNoPlainPassword()
{
    ScriptedServer server([](ScriptedServer &srv, QTcpSocket &s) {
        srv.say(s, "+OK ready\r\n");
        srv.expect(s); // CAPA
        srv.say(s, "+OK\r\nUSER\r\n.\r\n");
        srv.expect(s);
    });
    Driver box;
    box.withSettingsFile = false;
    QVERIFY(!box.open(server.address()));
    QVERIFY2(box.error.contains(QStringLiteral("パスワードは送っていません")), qPrintable(box.error));
    server.wait();
    QCOMPARE(server.received(), QList<QByteArray>{"CAPA"});
}

// A CAPA answer far beyond what a capability list holds, before the log-in
// or after it: the session ends with a clear error once 64 KiB have come,
// instead of reading (and splitting) all of it.
void TestPop3Faults::capabilityFlood_data()
{
    QTest::addColumn<bool>("afterLogin");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("empty lines before log-in") << false << QByteArray("\r\n");
    QTest::newRow("names before log-in") << false << QByteArray("X-CAPABILITY-OF-NO-USE\r\n");
    QTest::newRow("empty lines after log-in") << true << QByteArray("\r\n");
}
void TestPop3Faults::capabilityFlood()
{
    QFETCH(bool, afterLogin);
    QFETCH(QByteArray, line);
    constexpr int kFloodBytes = 8 * 1024 * 1024;
    std::atomic<int> sent{0};
    ScriptedServer server([&](ScriptedServer &srv, QTcpSocket &s) {
        srv.say(s, "+OK ready\r\n");
        if (afterLogin) {
            srv.expect(s); // CAPA
            srv.say(s, "+OK\r\nUSER\r\n.\r\n");
            srv.expect(s); // USER
            srv.say(s, "+OK\r\n");
            srv.expect(s); // PASS
            srv.say(s, "+OK\r\n");
            srv.expect(s); // STAT
            srv.say(s, "+OK 1 100\r\n");
            srv.expect(s); // LIST
            srv.say(s, "+OK\r\n1 100\r\n.\r\n");
        }
        srv.expect(s); // CAPA
        srv.say(s, "+OK\r\n");
        const QByteArray block = line.repeated(64 * 1024 / line.size());
        while (sent < kFloodBytes && s.state() == QAbstractSocket::ConnectedState) {
            s.write(block);
            s.waitForBytesWritten(1000);
            sent += int(block.size());
        }
        srv.say(s, ".\r\n");
        srv.stayQuiet(s);
    });
    Driver box;
    const bool opened = box.open(server.address());
    if (afterLogin) {
        QVERIFY2(opened, qPrintable(box.error));
        QCOMPARE(box.login(), -1);
        QVERIFY(box.remove(1) < 0);
        box.close();
    } else {
        QVERIFY(!opened);
    }
    QVERIFY2(box.error.contains(QStringLiteral("CAPA の応答が 65536 バイトを超えました")), qPrintable(box.error));
    // The client went away long before the server was done.
    QVERIFY2(sent < kFloodBytes, qPrintable(QString::number(sent)));
    QVERIFY(!server.receivedCommand("DELE"));
}

// Tables of the maildrop no real server gives: a STAT count beyond a
// million, LIST and UIDL answers far longer than the count. The session ends
// with a clear error instead of building tables of that size.
void TestPop3Faults::giantTables_data()
{
    QTest::addColumn<QByteArray>("stat");
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QByteArray>("uidl");
    QTest::addColumn<QString>("expected");
    const QByteArray table = "+OK\r\n1 100\r\n2 100\r\n3 100\r\n.\r\n";
    QTest::newRow("STAT of two thousand million") << QByteArray("+OK 2000000000 100\r\n") << QByteArray() << QByteArray()
                                                  << QStringLiteral("メールの数 (2000000000 通) が多すぎる");
    QTest::newRow("LIST longer than the count")
        << QByteArray("+OK 3 300\r\n") << "+OK\r\n" + QByteArray("1 100\r\n").repeated(50000) + ".\r\n" << QByteArray()
        << QStringLiteral("LIST の応答が 1027 行を超えました");
    QTest::newRow("LIST of empty lines")
        << QByteArray("+OK 3 300\r\n") << "+OK\r\n" + QByteArray("\r\n").repeated(50000) + ".\r\n" << QByteArray()
        << QStringLiteral("LIST の応答が 1027 行を超えました");
    QTest::newRow("UIDL numbered two thousand million")
        << QByteArray("+OK 3 300\r\n") << table << "+OK\r\n" + QByteArray("2000000000 id\r\n").repeated(50000) + ".\r\n"
        << QStringLiteral("UIDL の応答が 1027 行を超えました");
    QTest::newRow("UIDL line without end")
        << QByteArray("+OK 3 300\r\n") << table << "+OK\r\n1 " + QByteArray(1024 * 1024, 'x') + "\r\n.\r\n"
        << QStringLiteral("UIDL の応答が 131456 バイトを超えました");
}
void TestPop3Faults::giantTables()
{
    QFETCH(QByteArray, stat);
    QFETCH(QByteArray, list);
    QFETCH(QByteArray, uidl);
    QFETCH(QString, expected);
    ScriptedServer server([&](ScriptedServer &srv, QTcpSocket &s) {
        srv.say(s, "+OK ready\r\n");
        srv.expect(s); // CAPA
        srv.say(s, "+OK\r\nUSER\r\n.\r\n");
        srv.expect(s); // USER
        srv.say(s, "+OK\r\n");
        srv.expect(s); // PASS
        srv.say(s, "+OK\r\n");
        srv.expect(s); // STAT
        srv.say(s, stat);
        if (list.isEmpty())
            return srv.stayQuiet(s);
        srv.expect(s); // LIST
        srv.say(s, list);
        if (uidl.isEmpty())
            return srv.stayQuiet(s);
        srv.expect(s); // CAPA
        srv.say(s, "+OK\r\nUSER\r\n.\r\n");
        srv.expect(s); // UIDL
        srv.say(s, uidl);
        srv.stayQuiet(s);
    });
    Driver box;
    QVERIFY2(box.open(server.address()), qPrintable(box.error));
    const int count = box.login();
    if (uidl.isEmpty()) {
        QCOMPARE(count, -1);
    } else {
        QCOMPARE(count, 3);
        const Result<MailboxListing> listing = box.list(true);
        QVERIFY(!listing);
        box.error = listing.error().message();
    }
    QVERIFY2(box.error.contains(expected), qPrintable(box.error));
    // The session is over: nothing more is asked of the server.
    QVERIFY(box.remove(1) < 0);
    QCOMPARE(box.close(), -1);
    QVERIFY(!server.receivedCommand("DELE"));
    QVERIFY(!server.receivedCommand("QUIT"));
}

QTEST_GUILESS_MAIN(TestPop3Faults)
#include "tst_pop3faults.moc"
