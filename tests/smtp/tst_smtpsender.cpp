// SMTP sending: server names, the message as built, and sessions against the
// real test servers (STARTTLS, smtps, plain, AUTH, refusals, no server).

#include "settings/MailOptionsInForce.h"
#include "servers/ParsedMail.h"
#include "servers/SmtpTestServer.h"

#include "common/AppState.h"
#include "common/Paths.h"
#include "settings/MailOptionsInForce.h"
#include "smtp/SmtpSender.h"
#include "storage/Settings.h"
#include "support/SmtpPorts.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <functional>
#include <mutex>

using namespace kestra;
namespace smtp = kestra::test::smtp;

namespace {

QByteArray allBytes()
{
    QByteArray b;
    for (int round = 0; round < 40; ++round)
        for (int i = 0; i < 256; ++i)
            b.append(char(i));
    return b;
}

OutgoingMail simpleMail(const QString &to)
{
    OutgoingMail m;
    m.from = QStringLiteral("sender@example.test");
    m.to = to;
    m.subject = QStringLiteral("テスト");
    m.body = QStringLiteral("本文です。\r\n");
    return m;
}

// A sender to `server` that trusts the test servers' authority, with waits
// bounded by a few seconds, logging in as the test user.
SmtpSetup testSetup(const QString &server, const QString &password = QString::fromLatin1(smtp::kPassword))
{
    SmtpSetup setup;
    setup.server = server;
    setup.trustedCaFile = smtp::caFile();
    setup.limits.connectSeconds = setup.limits.responseSeconds = setup.limits.stallSeconds = 5;
    setup.limits.totalSeconds = 30;
    if (!password.isEmpty())
        setup.account = {QString::fromLatin1(smtp::kUser), password};
    return setup;
}

// A scripted SMTP server on a loopback port, on its own thread (the sender
// blocks the test's thread): each connection is handed to the script.
class ScriptedSmtp : public QThread
{
public:
    using Script = std::function<void(ScriptedSmtp &, QTcpSocket &)>;

    explicit ScriptedSmtp(Script script) : m_script(std::move(script))
    {
        m_listener = std::make_unique<QTcpServer>();
        if (!m_listener->listen(QHostAddress::LocalHost, 0))
            qFatal("cannot listen");
        m_port = m_listener->serverPort();
        m_listener->moveToThread(this);
        start();
    }
    ~ScriptedSmtp() override
    {
        m_stop = true;
        wait();
    }

    quint16 port() const { return m_port; }
    bool stopping() const { return m_stop; }
    QList<QByteArray> received() const
    {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    // The next line from the client; empty when it has gone.
    QByteArray expect(QTcpSocket &s)
    {
        while (!m_stop) {
            if (s.canReadLine()) {
                const QByteArray line = s.readLine().trimmed();
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
    static void say(QTcpSocket &s, const QByteArray &text)
    {
        s.write(text);
        s.flush();
        s.waitForBytesWritten(2000);
    }

protected:
    void run() override
    {
        while (!m_stop) {
            if (!m_listener->waitForNewConnection(50))
                continue;
            std::unique_ptr<QTcpSocket> s(m_listener->nextPendingConnection());
            m_script(*this, *s);
            s->abort();
        }
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

// How a scripted server behaves beyond answering whole mail transactions
// (it never offers STARTTLS).
struct Conversation {
    // Offered in EHLO; the server then answers nothing of MAIL FROM until
    // the whole group up to DATA is in, so a client that waits for each
    // answer gets none.
    bool pipelining = false;
    // After this many mails the server hangs up at the next command ...
    int mailsBeforeHangUp = -1;
    bool sayClosing = false; // ... after a 421, else without a word
};

// The answer to RCPT TO: local parts starting with "refuse" are refused.
QByteArray rcptAnswer(const QByteArray &line, int &accepted)
{
    if (line.toLower().contains("<refuse"))
        return "550 5.1.1 no such user\r\n";
    ++accepted;
    return "250 ok\r\n";
}

// Reads a message to its "." line; false when the client went away first.
bool readMessage(ScriptedSmtp &srv, QTcpSocket &s)
{
    // The message has blank lines of its own: only "." or a client gone ends it.
    for (QByteArray body = srv.expect(s); body != "."; body = srv.expect(s)) {
        if (body.isEmpty() && (srv.stopping() || s.state() != QAbstractSocket::ConnectedState))
            return false;
    }
    return true;
}

void conversation(ScriptedSmtp &srv, QTcpSocket &s, const Conversation &c = {})
{
    int mails = 0;
    int accepted = 0; // recipients of the transaction
    srv.say(s, "220 plain.test ESMTP\r\n");
    for (QByteArray line = srv.expect(s); !line.isEmpty(); line = srv.expect(s)) {
        if (mails == c.mailsBeforeHangUp) {
            if (c.sayClosing)
                srv.say(s, "421 4.4.2 plain.test idle too long\r\n");
            return;
        }
        const QByteArray verb = line.left(4).toUpper();
        if (verb == "EHLO") {
            srv.say(s, QByteArray("250-plain.test\r\n") + (c.pipelining ? "250-PIPELINING\r\n" : "") + "250 8BITMIME\r\n");
        } else if (verb == "MAIL" && c.pipelining) {
            accepted = 0;
            const bool refused = line.toLower().contains("<refuse");
            QByteArray answers = refused ? "550 5.7.1 sender refused\r\n" : "250 ok\r\n";
            for (QByteArray next = srv.expect(s); next.toUpper() != "DATA"; next = srv.expect(s)) {
                if (next.isEmpty())
                    return;
                answers += refused ? "503 5.5.1 MAIL first\r\n" : rcptAnswer(next, accepted);
            }
            srv.say(s, answers + (accepted ? "354 go on\r\n" : "503 5.5.1 no valid recipients\r\n"));
            if (accepted && !readMessage(srv, s))
                return;
            if (accepted) {
                srv.say(s, "250 queued\r\n");
                ++mails;
            }
        } else if (verb == "MAIL" || verb == "RSET") {
            accepted = 0;
            srv.say(s, line.toLower().contains("<refuse") ? "550 5.7.1 sender refused\r\n" : "250 ok\r\n");
        } else if (verb == "RCPT") {
            srv.say(s, rcptAnswer(line, accepted));
        } else if (verb == "DATA" && !accepted) {
            srv.say(s, "503 5.5.1 no valid recipients\r\n");
        } else if (verb == "DATA") {
            srv.say(s, "354 go on\r\n");
            if (!readMessage(srv, s))
                return;
            srv.say(s, "250 queued\r\n");
            ++mails;
        } else if (verb == "QUIT") {
            srv.say(s, "221 bye\r\n");
            return;
        } else {
            srv.say(s, "250 ok\r\n");
        }
    }
}

// A sender to a scripted server: no STARTTLS try, waits of a few seconds.
SmtpSetup scriptedSetup(quint16 port)
{
    SmtpSetup setup;
    setup.server = QStringLiteral("127.0.0.1:%1").arg(port);
    setup.connection.security = Security::None;
    setup.limits.connectSeconds = setup.limits.responseSeconds = setup.limits.stallSeconds = 5;
    return setup;
}

QString message(const Status &status)
{
    return status.ok() ? QString() : status.error().message();
}

} // namespace

class TestSmtpSender : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void serverNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("host") << "mail.example.test" << true << false << "mail.example.test" << 25;
        QTest::newRow("host:port") << " 127.0.0.1:2525 " << true << false << "127.0.0.1" << 2525;
        QTest::newRow("smtp url") << "smtp://mail.example.test" << true << false << "mail.example.test" << 25;
        QTest::newRow("smtp url port")
            << "SMTP://mail.example.test:587/" << true << false << "mail.example.test" << 587;
        QTest::newRow("smtps url") << "smtps://mail.example.test" << true << true << "mail.example.test"
                                   << 465;
        QTest::newRow("smtps url port") << "smtps://127.0.0.1:21227" << true << true << "127.0.0.1" << 21227;
        QTest::newRow("ipv6 port") << "[::1]:2525" << true << false << "::1" << 2525;
        QTest::newRow("ipv6 bare") << "::1" << true << false << "::1" << 25;
        QTest::newRow("empty") << "   " << false << false << "" << 0;
        QTest::newRow("other scheme") << "http://mail.example.test" << false << false << "" << 0;
        QTest::newRow("port zero") << "mail.example.test:0" << false << false << "" << 0;
        QTest::newRow("port too big") << "mail.example.test:70000" << false << false << "" << 0;
        QTest::newRow("port not a number") << "mail.example.test:smtp" << false << false << "" << 0;
        QTest::newRow("credentials") << "smtp://user:pw@mail.example.test" << false << false << "" << 0;
        QTest::newRow("path") << "smtp://mail.example.test/x" << false << false << "" << 0;
        QTest::newRow("blank inside") << "mail example" << false << false << "" << 0;
    }
    void serverNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, ok);
        const Result<SmtpServerAddress> parsed = parseSmtpServer(name);
        QCOMPARE(parsed.ok(), ok);
        if (!ok) {
            QVERIFY(!parsed.error().message().isEmpty());
            return;
        }
        const SmtpServerAddress &a = parsed.value();
        QFETCH(bool, tls);
        QFETCH(QString, host);
        QFETCH(int, port);
        QCOMPARE(a.implicitTls, tls);
        QCOMPARE(a.host, host);
        QCOMPARE(a.port, port);
    }

    void attachmentList()
    {
        QCOMPARE(splitAttachmentPaths(QString()), QStringList());
        QCOMPARE(splitAttachmentPaths(QStringLiteral("/a/b.txt,/c d/e.pdf,")),
            (QStringList { QStringLiteral("/a/b.txt"), QStringLiteral("/c d/e.pdf") }));
    }

    // The charset of the body follows what its characters need.
    void bodyCharset_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("charset");
        QTest::newRow("ascii") << "Hello\r\n"
                               << "ISO-2022-JP";
        QTest::newRow("kanji and kana") << "いつもお世話になっております。\r\n漢字カナ"
                                        << "ISO-2022-JP";
        QTest::newRow("circled digit") << "番号①です"
                                       << "UTF-8";
        QTest::newRow("half-width kana") << "ｶﾀｶﾅ"
                                         << "UTF-8";
        QTest::newRow("emoji") << "晴れ☀️"
                               << "UTF-8";
    }
    void bodyCharset()
    {
        QFETCH(QString, body);
        QFETCH(QString, charset);
        OutgoingMail m = simpleMail(QStringLiteral("a@example.test"));
        m.body = body;
        const Result<BuiltMessage> builtResult = buildMessage(m, QDateTime::currentDateTime());
        QVERIFY2(builtResult.ok(), qPrintable(builtResult.ok() ? QString() : builtResult.error().message()));
        const BuiltMessage &built = builtResult.value();
        QCOMPARE(built.bodyCharset, charset);
        const test::ParsedMail parsed = test::parseMail(built.source);
        QVERIFY(parsed.ok);
        QCOMPARE(parsed.bodyCharset.toUpper(), charset);
        QVERIFY2(test::sameBody(parsed.body, body), qPrintable(parsed.body));
        // Nothing but 7-bit bytes travels.
        for (char c : built.source)
            QVERIFY(uchar(c) < 0x80);
    }

    void messageHeaders()
    {
        OutgoingMail m = simpleMail(QStringLiteral("one@example.test, Two <two@example.test>"));
        m.cc = QStringLiteral("three@example.test");
        m.bcc = QStringLiteral("hidden@example.test");
        m.subject = QStringLiteral("会議の件について（再送）");
        const QDateTime when(QDate(2026, 12, 8), QTime(10, 20, 30));
        const Result<BuiltMessage> builtResult = buildMessage(m, when);
        QVERIFY2(builtResult.ok(), qPrintable(builtResult.ok() ? QString() : builtResult.error().message()));
        const BuiltMessage &built = builtResult.value();
        QCOMPARE(built.envelopeFrom, QByteArray("sender@example.test"));
        QCOMPARE(built.recipients,
            (QList<QByteArray> {
                "one@example.test", "two@example.test", "three@example.test", "hidden@example.test" }));
        const test::ParsedMail parsed = test::parseMail(built.source);
        QCOMPARE(parsed.subject, m.subject);
        QVERIFY2(parsed.rawSubject.startsWith("=?ISO-2022-JP?B?"), parsed.rawSubject.constData());
        QCOMPARE(parsed.to,
            (QStringList { QStringLiteral("one@example.test"), QStringLiteral("two@example.test") }));
        QCOMPARE(parsed.cc, QStringList { QStringLiteral("three@example.test") });
        QCOMPARE(parsed.from, QStringLiteral("sender@example.test"));
        QVERIFY(!built.source.contains("hidden@example.test"));
        QCOMPARE(parsed.header("MIME-Version"), QByteArray("1.0"));
        QVERIFY(parsed.header("Message-Id").endsWith("@example.test>"));
        const QDateTime date
            = QDateTime::fromString(QString::fromLatin1(parsed.header("Date")), Qt::RFC2822Date);
        QCOMPARE(date, when);
        // Every line ends in CR LF.
        QVERIFY(!built.source.contains(QByteArray("\r\r")));
        QCOMPARE(built.source.count('\n'), built.source.count("\r\n"));
    }

    // A subject that ISO-2022-JP cannot hold goes out as UTF-8 words; a line
    // break typed into it cannot start a header of its own.
    void subjectEdgeCases()
    {
        OutgoingMail m = simpleMail(QStringLiteral("a@example.test"));
        m.subject = QStringLiteral("①のお知らせ\r\nBcc: victim@example.test");
        const Result<BuiltMessage> builtResult = buildMessage(m, QDateTime::currentDateTime());
        QVERIFY(builtResult.ok());
        const BuiltMessage &built = builtResult.value();
        const test::ParsedMail parsed = test::parseMail(built.source);
        QCOMPARE(parsed.subject, QStringLiteral("①のお知らせ Bcc: victim@example.test"));
        QVERIFY(parsed.header("Bcc").isEmpty());
        QVERIFY(parsed.rawSubject.toLower().startsWith("=?utf-8?"));

        // A long subject is split into several words on folded lines, no
        // character cut in two, and reads back whole.
        m.subject = QStringLiteral("【ご案内】") + QString(50, QChar(0x6F22))
            + QStringLiteral(" and ASCII text 123 ") + QString(30, QChar(0x304B));
        const Result<BuiltMessage> longResult = buildMessage(m, QDateTime::currentDateTime());
        QVERIFY(longResult.ok());
        const BuiltMessage &longOne = longResult.value();
        const test::ParsedMail back = test::parseMail(longOne.source);
        QCOMPARE(back.subject, m.subject);
        for (const QByteArray &line : longOne.source.left(longOne.source.indexOf("\r\n\r\n")).split('\n'))
            QVERIFY2(line.size() <= 90, line.constData());
        QVERIFY(back.rawSubject.count("=?ISO-2022-JP?B?") > 3);
    }

    // A long line of Japanese text does not fit SMTP's line limit in 7 bit.
    void longLineBody()
    {
        OutgoingMail m = simpleMail(QStringLiteral("a@example.test"));
        m.body = QString(600, QChar(0x3042)) + QStringLiteral("\r\n次の行");
        const Result<BuiltMessage> builtResult = buildMessage(m, QDateTime::currentDateTime());
        QVERIFY(builtResult.ok());
        const BuiltMessage &built = builtResult.value();
        for (const QByteArray &line : built.source.split('\n'))
            QVERIFY(line.size() <= 999);
        const test::ParsedMail parsed = test::parseMail(built.source);
        QVERIFY2(test::sameBody(parsed.body, m.body), qPrintable(parsed.body));
    }

    // Lone LF and CR become CR LF; text survives.
    void lineEndsNormalised()
    {
        OutgoingMail m = simpleMail(QStringLiteral("a@example.test"));
        m.body = QStringLiteral("一\n二\r三\r\n四");
        const Result<BuiltMessage> built = buildMessage(m, QDateTime::currentDateTime());
        QVERIFY(built.ok());
        QVERIFY(test::sameBody(test::parseMail(built.value().source).body, QStringLiteral("一\r\n二\r\n三\r\n四")));
    }

    void invalidInput_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("attachment");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no recipient") << "me@example.test"
                                      << "  "
                                      << ""
                                      << "宛先が指定されていません。";
        QTest::newRow("recipient without domain") << "me@example.test"
                                                  << "nobody"
                                                  << ""
                                                  << "nobody";
        QTest::newRow("no own address") << ""
                                        << "a@example.test"
                                        << ""
                                        << "差出人";
        QTest::newRow("bad own address") << "me at example"
                                         << "a@example.test"
                                         << ""
                                         << "差出人";
        QTest::newRow("missing attachment") << "me@example.test"
                                            << "a@example.test"
                                            << "/nonexistent/file.txt"
                                            << "/nonexistent/file.txt";
        QTest::newRow("folder as attachment") << "me@example.test"
                                              << "a@example.test"
                                              << "/tmp"
                                              << "/tmp";
    }
    void invalidInput()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, attachment);
        QFETCH(QString, expected);
        OutgoingMail m = simpleMail(to);
        m.from = from;
        if (!attachment.isEmpty())
            m.attachmentPaths = { attachment };
        const Result<BuiltMessage> built = buildMessage(m, QDateTime::currentDateTime());
        QVERIFY(!built.ok());
        QVERIFY2(built.error().message().contains(expected), qPrintable(built.error().message()));
    }

    // STARTTLS, AUTH with the saved account, Japanese subject and body, two
    // attachments with Japanese names, byte for byte.
    void sendOverStartTls()
    {
        QTemporaryDir dir;
        const QString binPath = dir.filePath(QStringLiteral("資料 データ.bin"));
        const QString pdfPath = dir.filePath(QStringLiteral("report.pdf"));
        test::writeBytes(binPath, allBytes());
        test::writeBytes(pdfPath, QByteArray("%PDF-1.4\r\n%\xe2\xe3\xcf\xd3\r\n"));

        const QString to = smtp::uniqueAddress();
        OutgoingMail m = simpleMail(to + QStringLiteral(",") + smtp::uniqueAddress(QStringLiteral("second")));
        m.subject = QStringLiteral("見積書の送付について");
        m.body = QStringLiteral("山田様\r\n\r\nいつもお世話になっております。\r\n見積書をお送りします。");
        m.attachmentPaths = { binPath, pdfPath };

        SmtpSender sender(testSetup(smtp::server(smtp::Kind::StartTls)));
        const Status sent = sender.send(m);
        QVERIFY2(sent.ok(), qPrintable(sent.ok() ? QString() : sent.error().message()));
        QVERIFY(sender.lastSessionEncrypted());

        const QList<smtp::Received> got = smtp::receivedFor(to);
        QCOMPARE(got.size(), 1);
        QVERIFY(got[0].tls);
        QCOMPARE(got[0].user, QString::fromLatin1(smtp::kUser));
        QCOMPARE(got[0].mailFrom, QStringLiteral("sender@example.test"));
        QCOMPARE(got[0].rcptTos.size(), 2);
        const test::ParsedMail parsed = test::parseMail(got[0].source);
        QVERIFY(parsed.ok);
        QCOMPARE(parsed.subject, m.subject);
        QVERIFY2(test::sameBody(parsed.body, m.body), qPrintable(parsed.body));
        QCOMPARE(parsed.bodyCharset.toUpper(), QStringLiteral("ISO-2022-JP"));
        QCOMPARE(parsed.attachments.size(), 2);
        QCOMPARE(parsed.attachments[0].fileName, QStringLiteral("資料 データ.bin"));
        QCOMPARE(parsed.attachments[0].bytes, allBytes());
        QCOMPARE(parsed.attachments[0].encoding.toLower(), QStringLiteral("base64"));
        QCOMPARE(parsed.attachments[0].contentType, QStringLiteral("application/octet-stream"));
        // Both spellings of the name: RFC 2231 in the disposition, RFC 2047 in the type.
        QVERIFY2(parsed.attachments[0].rawDisposition.contains("filename*=UTF-8''"),
            parsed.attachments[0].rawDisposition.constData());
        QVERIFY2(parsed.attachments[0].rawContentType.contains("name=\"=?UTF-8?b?")
                || parsed.attachments[0].rawContentType.contains("name=\"=?utf-8?b?"),
            parsed.attachments[0].rawContentType.constData());
        QCOMPARE(parsed.attachments[1].fileName, QStringLiteral("report.pdf"));
        QCOMPARE(parsed.attachments[1].contentType, QStringLiteral("application/pdf"));
        QCOMPARE(parsed.attachments[1].bytes, test::readBytes(pdfPath));
    }

    // The same sender keeps going: a second mail right after the first, over
    // the same connection (the server sees one client port).
    void secondMailOnSameSender()
    {
        SmtpSender sender(testSetup(smtp::server(smtp::Kind::StartTls)));
        const QString a = smtp::uniqueAddress(), b = smtp::uniqueAddress();
        QVERIFY(sender.send(simpleMail(a)).ok());
        QVERIFY(sender.send(simpleMail(b)).ok());
        QCOMPARE(smtp::receivedFor(a).size(), 1);
        QCOMPARE(smtp::receivedFor(b).size(), 1);
        QVERIFY(smtp::receivedFor(a)[0].clientPort != 0);
        QCOMPARE(smtp::receivedFor(b)[0].clientPort, smtp::receivedFor(a)[0].clientPort);
    }

    // A run reads each attachment once, at the first mail that carries it:
    // every recipient gets the file as it was then, whatever happens to it
    // during the run; a file first named by a later mail is read then.
    void attachmentsAreReadOncePerSender()
    {
        QTemporaryDir dir;
        const QString first = dir.filePath(QStringLiteral("案内.pdf"));
        const QString later = dir.filePath(QStringLiteral("地図.bin"));
        test::writeBytes(first, allBytes());
        SmtpSender sender(testSetup(smtp::server(smtp::Kind::StartTls)));
        const QString a = smtp::uniqueAddress(), b = smtp::uniqueAddress(), c = smtp::uniqueAddress();
        OutgoingMail m = simpleMail(a);
        m.attachmentPaths = { first };
        QVERIFY(sender.send(m).ok());
        test::writeBytes(first, "changed during the run");
        test::writeBytes(later, "read when first named");
        m.to = b;
        QVERIFY(sender.send(m).ok());
        QVERIFY(QFile::remove(first));
        m.to = c;
        m.attachmentPaths = { first, later };
        QVERIFY(sender.send(m).ok());
        for (const QString &to : { a, b, c }) {
            const QList<smtp::Received> got = smtp::receivedFor(to);
            QCOMPARE(got.size(), 1);
            const test::ParsedMail parsed = test::parseMail(got[0].source);
            QVERIFY(parsed.ok);
            QCOMPARE(parsed.attachments.size(), to == c ? 2 : 1);
            QCOMPARE(parsed.attachments[0].fileName, QStringLiteral("案内.pdf"));
            QCOMPARE(parsed.attachments[0].contentType, QStringLiteral("application/pdf"));
            QCOMPARE(parsed.attachments[0].bytes, allBytes());
        }
        QCOMPARE(test::parseMail(smtp::receivedFor(c)[0].source).attachments[1].bytes, QByteArray("read when first named"));
        // A new sender reads the files afresh: the one now missing fails its mail.
        SmtpSender next(testSetup(smtp::server(smtp::Kind::StartTls)));
        const Status missing = next.send(m);
        QVERIFY(!missing.ok());
        QVERIFY2(missing.error().message().contains(QStringLiteral("ファイルがありません")), qPrintable(missing.error().message()));
    }

    // A refused recipient fails that mail only: the next one goes out.
    void refusedRecipientDoesNotStopTheNextMail()
    {
        SmtpSender sender(testSetup(smtp::server(smtp::Kind::StartTls)));
        const QString refused = smtp::uniqueAddress(QStringLiteral("refuse")), next = smtp::uniqueAddress();
        const Status first = sender.send(simpleMail(refused));
        QVERIFY(!first.ok());
        QVERIFY2(first.error().message().contains(refused), qPrintable(first.error().message()));
        QVERIFY(sender.send(simpleMail(next)).ok());
        QCOMPARE(smtp::receivedFor(next).size(), 1);
    }

    // The server dropped the kept connection between two mails, silently or
    // saying 421 first: the second goes out over a new connection, once, and
    // the third keeps that one.
    void droppedConnectionReconnectsOnce_data()
    {
        QTest::addColumn<bool>("pipelining");
        QTest::addColumn<bool>("sayClosing");
        QTest::newRow("silent") << false << false;
        QTest::newRow("421") << false << true;
        QTest::newRow("pipelining, silent") << true << false;
        QTest::newRow("pipelining, 421") << true << true;
    }
    void droppedConnectionReconnectsOnce()
    {
        QFETCH(bool, pipelining);
        QFETCH(bool, sayClosing);
        std::atomic_int connections{0};
        ScriptedSmtp srv([&](ScriptedSmtp &srv, QTcpSocket &s) {
            conversation(srv, s, {pipelining, ++connections == 1 ? 1 : -1, sayClosing});
        });
        SmtpSender sender(scriptedSetup(srv.port()));
        for (int i = 1; i <= 3; ++i) {
            const Status sent = sender.send(simpleMail(QStringLiteral("to%1@example.test").arg(i)));
            QVERIFY2(sent.ok(), qPrintable(message(sent)));
        }
        QCOMPARE(connections.load(), 2);
        QCOMPARE(srv.received().count("DATA"), 3);
        QCOMPARE(srv.received().count("."), 3);
    }

    // A mail whose sender or recipient the server refused fails with the
    // server's reply; the next one goes over the same connection, after RSET
    // (a pipelined group is read to its end first, so that the answers stay
    // in step). A clean end of DATA needs no RSET. With PIPELINING, a group
    // in which the server took some recipients and said go on to DATA is
    // ended by dropping the connection: no empty message reaches anyone.
    void refusedTransactionThenNextMail_data()
    {
        QTest::addColumn<bool>("pipelining");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("connections");
        const QString from = QStringLiteral("sender@example.test");
        const QString refusedFrom = QStringLiteral("refuse-me@example.test");
        const QString recipient = QStringLiteral("宛先「refuse-a@example.test」はサーバーに受け付けられませんでした。\r\nサーバーの応答: 550 5.1.1 no such user");
        const QString sender = QStringLiteral("差出人「refuse-me@example.test」はサーバーに受け付けられませんでした。\r\nサーバーの応答: 550 5.7.1 sender refused");
        QTest::newRow("one by one") << false << from << "refuse-a@example.test" << recipient << 1;
        QTest::newRow("one by one, one of two refused") << false << from << "ok@example.test, refuse-a@example.test" << recipient << 1;
        QTest::newRow("one by one, sender refused") << false << refusedFrom << "ok@example.test" << sender << 1;
        QTest::newRow("pipelining") << true << from << "refuse-a@example.test" << recipient << 1;
        QTest::newRow("pipelining, one of two refused") << true << from << "ok@example.test, refuse-a@example.test" << recipient << 2;
        QTest::newRow("pipelining, sender refused") << true << refusedFrom << "ok@example.test, b@example.test" << sender << 1;
    }
    void refusedTransactionThenNextMail()
    {
        QFETCH(bool, pipelining);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, expected);
        QFETCH(int, connections);
        std::atomic_int opened{0};
        ScriptedSmtp srv([&](ScriptedSmtp &srv, QTcpSocket &s) {
            ++opened;
            conversation(srv, s, {pipelining});
        });
        SmtpSender sender(scriptedSetup(srv.port()));
        OutgoingMail refusedMail = simpleMail(to);
        refusedMail.from = from;
        const Status refused = sender.send(refusedMail);
        QVERIFY(!refused.ok());
        QVERIFY2(message(refused).contains(expected), qPrintable(message(refused)));
        for (const char *next : {"b@example.test", "c@example.test"}) {
            const Status sent = sender.send(simpleMail(QString::fromLatin1(next)));
            QVERIFY2(sent.ok(), qPrintable(message(sent)));
        }
        QCOMPARE(opened.load(), connections);
        const QList<QByteArray> lines = srv.received();
        QCOMPARE(lines.count("."), 2); // only the two good mails were completed
        QCOMPARE(lines.count("RSET"), connections == 1 ? 1 : 0);
        if (connections == 1)
            QVERIFY(lines.indexOf("RSET") < lines.indexOf("MAIL FROM:<sender@example.test>", lines.indexOf("RSET")));
    }

    // A message line that starts with a dot reaches the server whole: the
    // dot doubled on the way, and a line of one dot does not end the DATA.
    void dotLinesArriveWhole()
    {
        SmtpSender sender(testSetup(smtp::server(smtp::Kind::StartTls)));
        const QString to = smtp::uniqueAddress();
        OutgoingMail m = simpleMail(to);
        m.body = QStringLiteral(".first\r\n.\r\n..two\r\nend\r\n");
        const Status sent = sender.send(m);
        QVERIFY2(sent.ok(), qPrintable(message(sent)));
        const QList<smtp::Received> got = smtp::receivedFor(to);
        QCOMPARE(got.size(), 1);
        QVERIFY2(test::sameBody(test::parseMail(got[0].source).body, m.body), got[0].source.constData());
    }

    // A server that sends one endless line, or endless lines of one reply:
    // the sender stops at its bounds with a clear text, long before any
    // time limit.
    void hostileReplies_data()
    {
        QTest::addColumn<bool>("endlessLine");
        QTest::addColumn<QString>("expected");
        QTest::newRow("endless greeting line") << true << "応答の1行が長すぎる";
        QTest::newRow("endless EHLO lines") << false << "行を超えました";
    }
    void hostileReplies()
    {
        QFETCH(bool, endlessLine);
        QFETCH(QString, expected);
        ScriptedSmtp srv([endlessLine](ScriptedSmtp &srv, QTcpSocket &s) {
            srv.say(s, endlessLine ? "220 " : "220 hostile.test\r\n");
            if (!endlessLine && srv.expect(s).isEmpty())
                return;
            const QByteArray flood = endlessLine ? QByteArray(8192, 'x') : QByteArray("250-AUTH PLAIN\r\n").repeated(512);
            while (!srv.stopping() && s.state() == QAbstractSocket::ConnectedState) {
                s.write(flood);
                s.waitForBytesWritten(100);
            }
        });
        SmtpSetup setup = scriptedSetup(srv.port());
        setup.limits.responseSeconds = setup.limits.stallSeconds = 600;
        setup.limits.totalSeconds = 1200;
        SmtpSender sender(setup);
        const Status sent = sender.send(simpleMail(QStringLiteral("a@example.test")));
        QVERIFY(!sent.ok());
        QVERIFY2(message(sent).contains(expected), qPrintable(message(sent)));
    }

    // Whatever a server (or someone in between) sends in clear after its
    // go-ahead to STARTTLS is no answer within the encrypted session: the
    // session after the handshake is unaffected by it.
    void repliesBeforeTlsAreDiscarded()
    {
        std::atomic<int> ehlos{0};
        ScriptedSmtp srv([&](ScriptedSmtp &srv, QTcpSocket &plain) {
            srv.say(plain, "220 tls.test ESMTP\r\n");
            srv.expect(plain);
            srv.say(plain, "250-tls.test\r\n250 STARTTLS\r\n");
            if (srv.expect(plain) != "STARTTLS")
                return;
            srv.say(plain, "220 go ahead\r\n250 injected\r\n");
            QSslSocket s;
            s.setSocketDescriptor(plain.socketDescriptor());
            s.setLocalCertificate(smtp::folder() + QStringLiteral("/server.pem"));
            s.setPrivateKey(smtp::folder() + QStringLiteral("/server.key"));
            s.startServerEncryption();
            if (!s.waitForEncrypted(5000))
                return;
            for (QByteArray line = srv.expect(s); !line.isEmpty(); line = srv.expect(s)) {
                const QByteArray verb = line.left(4).toUpper();
                if (verb == "EHLO") {
                    ++ehlos;
                    srv.say(s, "250-tls.test\r\n250 8BITMIME\r\n");
                } else if (verb == "DATA") {
                    srv.say(s, "354 go on\r\n");
                    if (!readMessage(srv, s))
                        return;
                    srv.say(s, "250 queued\r\n");
                } else if (verb == "QUIT") {
                    return srv.say(s, "221 bye\r\n");
                } else {
                    srv.say(s, "250 ok\r\n");
                }
            }
        });
        SmtpSetup setup = scriptedSetup(srv.port());
        setup.connection.security = Security::StartTls;
        setup.trustedCaFile = smtp::caFile();
        SmtpSender sender(setup);
        const Status sent = sender.send(simpleMail(QStringLiteral("a@example.test")));
        QVERIFY2(sent.ok(), qPrintable(message(sent)));
        QVERIFY(sender.lastSessionEncrypted());
        QCOMPARE(ehlos.load(), 1);
        QCOMPARE(srv.received().count("."), 1);
    }

    // The compose window makes the sender on its thread, sends on one worker
    // thread per run and destroys it on its own again: the connection goes
    // from run to run and the sender says QUIT at the end, without a warning.
    void connectionCrossesThreadsAndQuits()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        std::atomic_int connections{0};
        ScriptedSmtp srv([&](ScriptedSmtp &srv, QTcpSocket &s) {
            ++connections;
            conversation(srv, s, {true});
        });
        auto sender = std::make_unique<SmtpSender>(scriptedSetup(srv.port()));
        // Finished, the threads are still there while the sender goes on.
        std::vector<std::unique_ptr<QThread>> workers;
        for (int run = 1; run <= 2; ++run) {
            Status sent;
            workers.emplace_back(
                QThread::create([&] { sent = sender->send(simpleMail(QStringLiteral("run%1@example.test").arg(run))); }));
            workers.back()->start();
            QVERIFY(workers.back()->wait(20000));
            QVERIFY2(sent.ok(), qPrintable(message(sent)));
        }
        sender.reset();
        QCOMPARE(connections.load(), 1);
        QCOMPARE(srv.received().count("."), 2);
        QCOMPARE(srv.received().value(srv.received().size() - 1), QByteArray("QUIT"));
    }

    // Log-in over a connection the user chose to leave plain: the strongest
    // mechanism the server offers of CRAM-MD5, PLAIN and LOGIN, each as the
    // server expects it (the CRAM-MD5 case is the worked example of its RFC).
    void authMechanisms_data()
    {
        QTest::addColumn<QByteArray>("offered");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::newRow("cram-md5 first") << QByteArray("LOGIN PLAIN CRAM-MD5")
                                        << QList<QByteArray>{"AUTH CRAM-MD5", "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw"};
        QTest::newRow("plain") << QByteArray("LOGIN PLAIN") << QList<QByteArray>{"AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm"};
        QTest::newRow("login") << QByteArray("LOGIN")
                               << QList<QByteArray>{"AUTH LOGIN", "dGlt", "dGFuc3RhYWZ0YW5zdGFhZg=="};
    }
    void authMechanisms()
    {
        QFETCH(QByteArray, offered);
        QFETCH(QList<QByteArray>, expected);
        ScriptedSmtp srv([offered](ScriptedSmtp &srv, QTcpSocket &s) {
            srv.say(s, "220 auth.test\r\n");
            srv.expect(s);
            srv.say(s, "250-auth.test\r\n250 AUTH " + offered + "\r\n");
            for (QByteArray line = srv.expect(s); !line.isEmpty(); line = srv.expect(s)) {
                if (line == "AUTH CRAM-MD5")
                    srv.say(s, "334 " + QByteArray("<1896.697170952@postoffice.reston.mci.net>").toBase64() + "\r\n");
                else if (line == "AUTH LOGIN" || line == "dGlt")
                    srv.say(s, "334 go on\r\n");
                else if (line.startsWith("MAIL"))
                    return srv.say(s, "451 enough\r\n");
                else
                    srv.say(s, "235 welcome\r\n");
            }
        });
        SmtpSetup setup = scriptedSetup(srv.port());
        setup.account = {QStringLiteral("tim"), QStringLiteral("tanstaaftanstaaf")};
        SmtpSender sender(setup);
        const Status sent = sender.send(simpleMail(QStringLiteral("a@example.test")));
        QVERIFY(!sent.ok());
        QVERIFY2(message(sent).contains(QStringLiteral("451 enough")), qPrintable(message(sent)));
        const QList<QByteArray> lines = srv.received();
        QCOMPARE(lines.mid(1, expected.size()), expected);
        QVERIFY(lines.value(expected.size() + 1).startsWith("MAIL FROM:"));
    }

    void sendOverSmtps()
    {
        SmtpSender sender(testSetup(QStringLiteral("smtps://127.0.0.1:%1").arg(smtp::port(smtp::Kind::Smtps))));
        const QString to = smtp::uniqueAddress();
        const Status sent = sender.send(simpleMail(to));
        QVERIFY2(sent.ok(), qPrintable(sent.ok() ? QString() : sent.error().message()));
        const QList<smtp::Received> got = smtp::receivedFor(to);
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].port, smtp::port(smtp::Kind::Smtps));
        QCOMPARE(test::parseMail(got[0].source).body, QStringLiteral("本文です。\r\n"));
    }

    // A server that never offers STARTTLS gets a plain session (and no login).
    void plainServerWithoutStartTls()
    {
        SmtpSender sender(testSetup(QStringLiteral("smtp://127.0.0.1:%1").arg(smtp::port(smtp::Kind::Plain))));
        const QString to = smtp::uniqueAddress();
        const Status sent = sender.send(simpleMail(to));
        QVERIFY2(sent.ok(), qPrintable(sent.ok() ? QString() : sent.error().message()));
        QVERIFY(!sender.lastSessionEncrypted());
        const QList<smtp::Received> got = smtp::receivedFor(to);
        QCOMPARE(got.size(), 1);
        QVERIFY(!got[0].tls);
        QVERIFY(got[0].user.isEmpty());
    }

    // Failures: each is reported with a readable text and nothing arrives.
    void failures_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("trustCa");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("recipientPrefix");
        QTest::addColumn<QString>("expected");
        const QString startTls = smtp::server(smtp::Kind::StartTls);
        const QString pw = QString::fromLatin1(smtp::kPassword);
        QTest::newRow("recipient refused") << startTls << true << pw << "refuse"
                                           << "受け付けられませんでした";
        QTest::newRow("no server") << QStringLiteral("127.0.0.1:%1").arg(smtp::closedPort()) << true << pw
                                   << "to"
                                   << "接続できません";
        QTest::newRow("untrusted certificate") << startTls << false << pw << "to"
                                               << "証明書";
        QTest::newRow("untrusted certificate smtps")
            << QStringLiteral("smtps://127.0.0.1:%1").arg(smtp::port(smtp::Kind::Smtps)) << false << pw
            << "to"
            << "証明書";
        QTest::newRow("starttls refused") << smtp::server(smtp::Kind::DenyTls) << true << pw << "to"
                                          << "STARTTLS";
        QTest::newRow("wrong password") << startTls << true << "wrong"
                                        << "to"
                                        << "認証に失敗";
        QTest::newRow("no account") << startTls << true << ""
                                    << "to"
                                    << "認証を求めています";
        QTest::newRow("bad server name") << "smtp://" << true << pw << "to"
                                         << "SMTPサーバー名";
    }
    void failures()
    {
        QFETCH(QString, server);
        QFETCH(bool, trustCa);
        QFETCH(QString, password);
        QFETCH(QString, recipientPrefix);
        QFETCH(QString, expected);
        SmtpSetup setup = testSetup(server, password);
        if (!trustCa)
            setup.trustedCaFile.clear();
        SmtpSender sender(setup);
        const QString to = smtp::uniqueAddress(recipientPrefix);
        const Status sent = sender.send(simpleMail(to));
        QVERIFY(!sent.ok());
        QVERIFY2(sent.error().message().contains(expected), qPrintable(sent.error().message()));
        // Only a certificate that failed the check leads to the trust question.
        QCOMPARE(sent.error().is(Error::Kind::CertificateRejected), expected == QStringLiteral("証明書"));
        QCOMPARE(smtp::receivedFor(to).size(), 0);
    }

    // A server that accepts the connection and then says nothing: the wait ends
    // at the response limit instead of hanging, or at once when it is canceled.
    void silentServer_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("response limit") << false;
        QTest::newRow("canceled") << true;
    }
    void silentServer()
    {
        QFETCH(bool, cancel);
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        SmtpSetup setup;
        setup.server = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
        setup.limits.connectSeconds = setup.limits.responseSeconds = setup.limits.stallSeconds = cancel ? 60 : 2;
        setup.limits.totalSeconds = cancel ? 120 : 10;
        SmtpSender sender(setup);
        QElapsedTimer waiting;
        waiting.start();
        if (cancel)
            sender.setCancelCheck([&] { return waiting.elapsed() > 300; });
        const Status sent = sender.send(simpleMail(smtp::uniqueAddress()));
        QVERIFY(!sent.ok());
        QVERIFY2(sent.error().message().contains(cancel ? QStringLiteral("送信を中止しました") : QStringLiteral("時間内に応答しません")),
                 qPrintable(sent.error().message()));
        QCOMPARE(sent.error().is(Error::Kind::Canceled), cancel);
    }

    // The certificate probe (behind the trust question) under a server that
    // trickles its greeting a byte at a time, each well within any read
    // bound: the probe's one bound ends it, and a cancel ends it at once,
    // long before the server is done.
    void probeOfATricklingServer_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("bound") << false;
        QTest::newRow("canceled") << true;
    }
    void probeOfATricklingServer()
    {
        QFETCH(bool, cancel);
        std::atomic<bool> finished{false};
        ScriptedSmtp server([&](ScriptedSmtp &srv, QTcpSocket &s) {
            const QByteArray greeting = QByteArray("220-").repeated(300) + "220 ready\r\n";
            for (const char c : greeting) {
                if (srv.stopping() || s.state() != QAbstractSocket::ConnectedState)
                    return;
                srv.say(s, QByteArray(1, c));
                s.waitForReadyRead(100);
            }
            finished = true;
        });
        SmtpServerAddress address;
        address.host = QStringLiteral("127.0.0.1");
        address.port = server.port();
        QElapsedTimer waiting;
        waiting.start();
        const SmtpCertificateProbe probe = probeSmtpCertificate(address, cancel ? 600000 : 1500, QString(),
            [&] { return cancel && waiting.elapsed() > 300; });
        QVERIFY(probe.certificate.isNull());
        QCOMPARE(probe.canceled, cancel);
        QCOMPARE(probe.timedOut, !cancel);
        QVERIFY(!finished);
    }

    // A server that offered STARTTLS before (kestra2.ini remembers it) and
    // no longer does gets nothing in clear, with or without an SMTP log-in:
    // the user is told why.
    void strippedStartTlsGetsNoMail_data()
    {
        QTest::addColumn<bool>("login");
        QTest::newRow("no log-in") << false;
        QTest::newRow("log-in") << true;
    }
    void strippedStartTlsGetsNoMail()
    {
        QFETCH(bool, login);
        ScriptedSmtp server([](ScriptedSmtp &srv, QTcpSocket &s) { conversation(srv, s); });
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("kestra2.ini"));
        ServerMemory(ini, MailProtocol::Smtp, QStringLiteral("127.0.0.1"), server.port()).rememberTls();
        SmtpSetup setup = testSetup(QStringLiteral("127.0.0.1:%1").arg(server.port()),
                                    login ? QStringLiteral("secret") : QString());
        setup.memoryIni = ini;
        SmtpSender sender(setup);
        const Status sent = sender.send(simpleMail(QStringLiteral("a@example.test")));
        QVERIFY(!sent.ok());
        QVERIFY2(sent.error().message().contains(QStringLiteral("以前は暗号化通信に対応していました")),
            qPrintable(sent.error().message()));
        const QList<QByteArray> lines = server.received();
        for (const QByteArray &line : lines) {
            const QByteArray verb = line.left(4).toUpper();
            QVERIFY2(verb != "DATA" && verb != "MAIL" && verb != "AUTH", line.constData());
        }
    }

    // The sender the ports make sends with the account it was handed, read
    // beforehand from the settings in force: the ID/password file's, then the
    // ID of this run, then the SMTP log-in of the server settings window. A
    // change of the program's state after the options were handed in does
    // not reach it.
    void portsSendWithTheOptionsHandedIn()
    {
        test::TempAppFolder app;
        QVERIFY(writeIdPass(appPaths().idPassIni(),
            { QString::fromLatin1(smtp::kUser), QString::fromLatin1(smtp::kPassword) }, true));
        SmtpLimits limits = testSetup(QString()).limits;
        test::installSmtpPorts(limits);
        const auto send = [](const MailOptions &options, const QString &to) {
            OutgoingMail mail = simpleMail(to);
            mail.from = QStringLiteral("me@example.test");
            return mailPorts().sender(smtp::server(smtp::Kind::StartTls), options)->send(mail);
        };
        const MailOptions saved = mailOptionsInForce();
        appState().settings.pop3Id = QStringLiteral("someone-else");
        appState().settings.pop3Password = QStringLiteral("x");
        const QString to = smtp::uniqueAddress();
        QVERIFY(send(saved, to).ok());
        QCOMPARE(smtp::receivedFor(to).value(0).user, QString::fromLatin1(smtp::kUser));

        const Status refused = send(mailOptionsInForce(), smtp::uniqueAddress()); // the ID in force for this run wins
        QVERIFY(!refused.ok());
        QVERIFY2(refused.error().message().contains(QStringLiteral("認証に失敗")), qPrintable(refused.error().message()));

        ServerConnection own;
        own.user = QString::fromLatin1(smtp::kUser);
        own.password = QString::fromLatin1(smtp::kPassword);
        QVERIFY(writeServerConnection(appPaths().extraIni(), MailProtocol::Smtp, own).ok());
        const QString third = smtp::uniqueAddress();
        QVERIFY(send(mailOptionsInForce(), third).ok());
        QCOMPARE(smtp::receivedFor(third).value(0).user, QString::fromLatin1(smtp::kUser));
        installMailPorts({});
    }
};

QTEST_GUILESS_MAIN(TestSmtpSender)
#include "tst_smtpsender.moc"
