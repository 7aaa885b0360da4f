// The IMAP response reader and FETCH parser on hand-made bytes, and the real
// IMAP mailbox against scripted hostile servers on a loopback socket: every
// bound holds, and no call waits past its deadline.
#include "imap/ImapMailbox.h"
#include "imap/ImapResponse.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <functional>

using namespace kestra;

namespace {

// A one-connection IMAP server on its own thread: greets, then answers each
// tagged command line with what `answer` gives for it ("%T" stands for the tag).
class HostileServer : public QThread
{
public:
    using Answer = std::function<QByteArray(const QByteArray &command)>;
    explicit HostileServer(Answer answer) : m_answer(std::move(answer))
    {
        m_listener = std::make_unique<QTcpServer>();
        if (!m_listener->listen(QHostAddress::LocalHost, 0))
            qFatal("cannot listen");
        m_port = m_listener->serverPort();
        m_listener->moveToThread(this);
        start();
    }
    ~HostileServer() override
    {
        m_stop = true;
        wait();
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

protected:
    void run() override
    {
        if (!m_listener->waitForNewConnection(10000))
            return;
        std::unique_ptr<QTcpSocket> s(m_listener->nextPendingConnection());
        s->write("* OK [CAPABILITY IMAP4rev1 UIDPLUS] hostile\r\n");
        while (!m_stop && s->state() == QAbstractSocket::ConnectedState) {
            if (!s->canReadLine()) {
                s->waitForReadyRead(50);
                continue;
            }
            const QByteArray line = s->readLine().trimmed();
            const qsizetype blank = line.indexOf(' ');
            QByteArray reply = m_answer(line.mid(blank + 1));
            reply.replace("%T", line.left(blank));
            for (qsizetype at = 0; at < reply.size() && !m_stop; at += 1 << 16) {
                s->write(reply.mid(at, 1 << 16));
                s->waitForBytesWritten(1000);
            }
        }
    }

private:
    Answer m_answer;
    std::unique_ptr<QTcpServer> m_listener;
    quint16 m_port = 0;
    std::atomic_bool m_stop{false};
};

// Answers the log-in and SELECT of an INBOX holding `select`'s lines, and
// FETCHes with `fetch`.
HostileServer::Answer inbox(QByteArray select, QByteArray list, QByteArray fetch = {})
{
    return [=](const QByteArray &command) -> QByteArray {
        if (command.startsWith("SELECT"))
            return select + "%T OK [READ-WRITE] done\r\n";
        if (command.startsWith("UID FETCH 1:*"))
            return list + "%T OK done\r\n";
        if (command.startsWith("UID FETCH"))
            return fetch;
        return "%T OK done\r\n";
    };
}

ImapMailbox mailboxFor(const HostileServer &server, MailboxAccount &account)
{
    account.server = server.address();
    account.id = QStringLiteral("user");
    account.password = QStringLiteral("secret");
    ImapMailboxSetup setup;
    setup.connection.security = Security::None; // plain text chosen: the bounds are what is tested
    setup.transport.connectTimeoutMs = setup.transport.readTimeoutMs = 1000;
    setup.transport.commandTimeoutMs = 3000;
    return ImapMailbox(setup);
}

} // namespace

class TestImapResponse : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void responsesAreTakenWhole_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("tag");
        QTest::addColumn<QByteArrayList>("literals");
        QTest::addColumn<int>("left"); // bytes left for the next response
        QTest::newRow("status") << QByteArray("a1 OK done\r\n* 1 EXISTS\r\n") << QByteArray("a1") << QByteArrayList{} << 12;
        QTest::newRow("bare LF") << QByteArray("* BYE\n") << QByteArray("*") << QByteArrayList{} << 0;
        QTest::newRow("literal with CR LF inside")
            << QByteArray("* 1 FETCH (BODY[] {6}\r\nA\r\nB\r\n)\r\n") << QByteArray("*") << QByteArrayList{"A\r\nB\r\n"} << 0;
        QTest::newRow("no literal beyond 64 bits")
            << QByteArray("* 1 FETCH (BODY[] {99999999999999999999}\r\n") << QByteArray("*") << QByteArrayList{} << 0;
        QTest::newRow("two literals") << QByteArray("* 1 FETCH (BODY[HEADER] {1}\r\nH BODY[] {2+}\r\nBB)\r\nx")
                                      << QByteArray("*") << QByteArrayList{"H", "BB"} << 1;
    }
    void responsesAreTakenWhole()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, tag);
        QFETCH(QByteArrayList, literals);
        QFETCH(int, left);
        // Byte by byte: nothing is taken before the response is complete.
        QByteArray in;
        ImapTaken taken;
        qsizetype fed = 0;
        for (const char c : std::as_const(bytes)) {
            in += c;
            ++fed;
            taken = takeImapResponse(in, {});
            QVERIFY(taken.error.isEmpty());
            if (taken.response)
                break;
        }
        QVERIFY(taken.response);
        QCOMPARE(taken.response->tag, tag);
        QCOMPARE(taken.response->literals, literals);
        QCOMPARE(taken.response->text.size(), literals.size() + 1);
        QVERIFY(in.isEmpty());
        QCOMPARE(int(bytes.size() - fed), left);
    }

    void boundsAreKept_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("says");
        QTest::newRow("endless line") << QByteArray(70 * 1024, 'x') << QStringLiteral("1行が");
        QTest::newRow("huge literal") << QByteArray("* 1 FETCH (BODY[] {4000000000}\r\n") << QStringLiteral("4000000000");
        QByteArray many = "* 1 FETCH (";
        for (int i = 0; i < 9; ++i)
            many += "X {1}\r\nx";
        QTest::newRow("many literals") << many + ")\r\n" << QStringLiteral("個を超える");
        QTest::newRow("no tag") << QByteArray(" OK\r\n") << QStringLiteral("タグ");
    }
    void boundsAreKept()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, says);
        const ImapTaken taken = takeImapResponse(bytes, {});
        QVERIFY(!taken.response);
        QVERIFY2(taken.error.contains(says), qPrintable(taken.error));
    }

    void fetchItemsAreRead_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("uid");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("deleted");
        QTest::newRow("listing") << QByteArray("* 3 FETCH (UID 17 RFC822.SIZE 1200 FLAGS (\\Seen))\r\n") << qint64(17) << qint64(1200)
                                 << QByteArray("-") << false;
        QTest::newRow("deleted elsewhere") << QByteArray("* 3 fetch (FLAGS (\\Seen \\Deleted) uid 9)\r\n") << qint64(9) << qint64(-1)
                                           << QByteArray("-") << true;
        QTest::newRow("body literal") << QByteArray("* 1 FETCH (UID 5 BODY[] {5}\r\nab)\"c)\r\n") << qint64(5) << qint64(-1)
                                      << QByteArray("ab)\"c") << false;
        QTest::newRow("quoted header") << QByteArray("* 1 FETCH (BODY[HEADER] \"A: \\\"q\\\"\" UID 6)\r\n") << qint64(6) << qint64(-1)
                                       << QByteArray("A: \"q\"") << false;
        QTest::newRow("NIL body") << QByteArray("* 1 FETCH (UID 7 BODY[] NIL)\r\n") << qint64(7) << qint64(-1) << QByteArray() << false;
    }
    void fetchItemsAreRead()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, uid);
        QFETCH(qint64, size);
        QFETCH(QByteArray, body);
        QFETCH(bool, deleted);
        const ImapTaken taken = takeImapResponse(bytes, {});
        QVERIFY(taken.response);
        QString why;
        const std::optional<ImapFetch> f = parseImapFetch(*taken.response, 16, &why);
        QVERIFY2(f, qPrintable(why));
        QCOMPARE(f->uid, uid);
        QCOMPARE(f->size, size);
        QCOMPARE(f->body.value_or("-"), body);
        QCOMPARE(f->deleted, deleted);
    }

    void malformedFetchIsRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("unclosed list") << QByteArray("* 1 FETCH (UID 5 FLAGS (\\Seen\r\n");
        QTest::newRow("deep nesting") << QByteArray("* 1 FETCH (X " + QByteArray(40, '(') + QByteArray(40, ')') + ")\r\n");
        QTest::newRow("UID no number") << QByteArray("* 1 FETCH (UID abc)\r\n");
        QTest::newRow("UID zero") << QByteArray("* 1 FETCH (UID 0)\r\n");
        QTest::newRow("no value") << QByteArray("* 1 FETCH (UID)\r\n");
        QTest::newRow("no list") << QByteArray("* 1 FETCH UID 5\r\n");
        QTest::newRow("unclosed bracket") << QByteArray("* 1 FETCH (BODY[ {1}\r\nx)\r\n");
    }
    void malformedFetchIsRefused()
    {
        QFETCH(QByteArray, bytes);
        const ImapTaken taken = takeImapResponse(bytes, {});
        QVERIFY(taken.response);
        QString why;
        QVERIFY(!parseImapFetch(*taken.response, 16, &why));
        QVERIFY(!why.isEmpty());
    }

    void statusCodesAndCapabilities()
    {
        QByteArray in = "* OK [UIDVALIDITY 3857529045] UIDs valid\r\n* CAPABILITY IMAP4rev1 starttls UIDPLUS\r\n"
                        "* 23 EXISTS\r\n";
        const ImapResponse validity = *takeImapResponse(in, {}).response;
        QCOMPARE(validity.status(), QByteArray("OK"));
        QCOMPARE(validity.code(), QByteArray("UIDVALIDITY 3857529045"));
        const ImapResponse capabilities = *takeImapResponse(in, {}).response;
        QCOMPARE(capabilities.capabilities(), (QList<QByteArray>{"IMAP4REV1", "STARTTLS", "UIDPLUS"}));
        const ImapResponse exists = *takeImapResponse(in, {}).response;
        QCOMPARE(exists.number(), 23);
        QCOMPARE(exists.keyword(), QByteArray("EXISTS"));
        QCOMPARE(exists.code(), QByteArray());
    }

    void uidSetsAndNames()
    {
        QCOMPARE(imapUidSet({9, 1, 2, 3, 5, 10, 11, 7}), QByteArray("1:3,5,7,9:11"));
        QCOMPARE(imapUidSet({4}), QByteArray("4"));
        QCOMPARE(imapQuoted("a\"b\\c"), QByteArray("\"a\\\"b\\\\c\""));
        QCOMPARE(resolveImapAddress(QStringLiteral("imaps://mail.example.jp"), Security::Unset, 0).value().port, 993);
        QVERIFY(resolveImapAddress(QStringLiteral("imaps://mail.example.jp"), Security::Unset, 0).value().implicitTls);
        QCOMPARE(resolveImapAddress(QStringLiteral("mail.example.jp"), Security::StartTls, 0).value().port, 143);
        QCOMPARE(resolveImapAddress(QStringLiteral("mail.example.jp"), Security::Tls, 0).value().port, 993);
        QCOMPARE(resolveImapAddress(QStringLiteral("mail.example.jp:1143"), Security::Tls, 993).value().port, 1143);
        QVERIFY(!resolveImapAddress(QStringLiteral("pop3://mail.example.jp"), Security::Unset, 0));
    }

    // Servers that would fill the memory or hold the session for ever.
    void hostileServersEndTheSession_data()
    {
        QTest::addColumn<QByteArray>("select");
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QByteArray>("fetch");
        QTest::addColumn<QString>("says");
        QTest::newRow("four thousand million messages")
            << QByteArray("* 4000000000 EXISTS\r\n") << QByteArray() << QByteArray() << QStringLiteral("多すぎる");
        QByteArray flood;
        for (int i = 0; i < 200; ++i)
            flood += "* OK [ALERT] again\r\n";
        QTest::newRow("endless untagged lines") << flood << QByteArray() << QByteArray() << QStringLiteral("多すぎる");
        // One FETCH per message and a thousand lines to spare, no more.
        QTest::newRow("listing beyond the count")
            << QByteArray("* 1 EXISTS\r\n") << QByteArray("* 1 FETCH (UID 1)\r\n").repeated(1100) << QByteArray()
            << QStringLiteral("多すぎる");
        QTest::newRow("literal that never ends")
            << QByteArray("* 1 EXISTS\r\n") << QByteArray("* 1 FETCH (UID 1 RFC822.SIZE 10)\r\n")
            << QByteArray("* 1 FETCH (UID 1 BODY[] {100}\r\nabc") << QStringLiteral("応答がありません");
        QTest::newRow("literal of 4 GB")
            << QByteArray("* 1 EXISTS\r\n") << QByteArray("* 1 FETCH (UID 1 RFC822.SIZE 10)\r\n")
            << QByteArray("* 1 FETCH (UID 1 BODY[] {4000000000}\r\n") << QStringLiteral("4000000000");
        QTest::newRow("garbage instead of a list")
            << QByteArray("* 1 EXISTS\r\n") << QByteArray("* 1 FETCH UID 1\r\n") << QByteArray() << QStringLiteral("理解できません");
    }
    void hostileServersEndTheSession()
    {
        QFETCH(QByteArray, select);
        QFETCH(QByteArray, list);
        QFETCH(QByteArray, fetch);
        QFETCH(QString, says);
        HostileServer server(inbox(select, list, fetch));
        MailboxAccount account;
        ImapMailbox mailbox = mailboxFor(server, account);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(mailbox.open(account));
        const Result<int> count = mailbox.login();
        QString error = count ? QString() : count.error().message();
        if (count) {
            QCOMPARE(count.value(), 1);
            const Result<RawMessage> got = mailbox.fetch(1);
            QVERIFY(!got);
            error = got.error().message();
        }
        QVERIFY2(error.contains(says), qPrintable(error));
        QVERIFY(mailbox.broken());
        QVERIFY(!mailbox.close());
        QVERIFY2(clock.elapsed() < 10000, "a bound was not kept");
    }
};

QTEST_GUILESS_MAIN(TestImapResponse)
#include "tst_imapresponse.moc"
