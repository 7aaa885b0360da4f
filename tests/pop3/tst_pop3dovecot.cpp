// The real POP3 mailbox against the test Dovecot server: log-in both ways, plain
// with STLS and TLS from the start, certificate checks, refusals with the
// server's reason, and fetching and deleting in server order.
#include "mime/MessageExpansion.h"
#include "pop3/Pop3Mailbox.h"
#include "pop3/Pop3Session.h"
#include "servers/DovecotBox.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace kestra;
using kestra::test::DovecotBox;

namespace {

QByteArray mail(int n, const QByteArray &extra = {})
{
    return "From: =?UTF-8?B?" + QStringLiteral("送信者%1").arg(n).toUtf8().toBase64() + "?= <sender" + QByteArray::number(n)
           + "@example.jp>\r\nSubject: =?UTF-8?B?" + QStringLiteral("件名%1").arg(n).toUtf8().toBase64()
           + "?=\r\nDate: Tue, 8 Dec 2026 10:0" + QByteArray::number(n)
           + ":00 +0900\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n" + extra
           + "\r\n" + QStringLiteral("本文%1\r\n.先頭のドット\r\n").arg(n).toUtf8();
}

// The account of the test mailbox at `server`.
MailboxAccount account(const DovecotBox &box, const QString &server, bool apop, const QString &password = {})
{
    MailboxAccount a;
    a.server = server;
    a.id = box.user();
    a.password = password.isEmpty() ? box.password() : password;
    a.apop = apop;
    return a;
}

QString message(const Status &status)
{
    return status ? QString() : status.error().message();
}

} // namespace

class TestPop3Dovecot : public QObject
{
    Q_OBJECT

    DovecotBox m_box{QStringLiteral(KESTRA_DOVECOT_DIR), QStringLiteral("layer")};

    std::unique_ptr<Pop3Mailbox> trustingMailbox()
    {
        Pop3MailboxSetup setup;
        setup.transport.connectTimeoutMs = setup.transport.readTimeoutMs = 10000;
        setup.transport.extraCaCertificates = QSslCertificate::fromPath(m_box.caFile(), QSsl::Pem);
        return std::make_unique<Pop3Mailbox>(setup);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_box.running(), "the Dovecot fixture is not running"); }
    void init() { m_box.clear(); }

    void fetchesAndDeletesInServerOrder_data();
    void fetchesAndDeletesInServerOrder();
    void plainConnectionUpgradesWithStls();
    void untrustedCertificateIsAnError_data();
    void untrustedCertificateIsAnError();
    void wrongPasswordGivesServersReason_data();
    void wrongPasswordGivesServersReason();
    void noServerFailsToConnect();
    void rawBodyAndAttachmentsOfFetchedMail();
    void unfinishedSessionDeletesNothing();
    void abandonedSessionDeletesNothing();
};

void TestPop3Dovecot::fetchesAndDeletesInServerOrder_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("apop");
    const QString plain = QStringLiteral("127.0.0.1:%1").arg(m_box.plainPort());
    QTest::newRow("host:port, USER/PASS") << plain << false;
    QTest::newRow("host:port, APOP") << plain << true;
    QTest::newRow("pop3:// URL, APOP") << QStringLiteral("pop3://127.0.0.1:%1").arg(m_box.plainPort()) << true;
    QTest::newRow("pop3s, USER/PASS") << QStringLiteral("pop3s://127.0.0.1:%1").arg(m_box.tlsPort()) << false;
    QTest::newRow("pop3s, APOP") << QStringLiteral("pop3s://localhost:%1").arg(m_box.tlsPort()) << true;
}

void TestPop3Dovecot::fetchesAndDeletesInServerOrder()
{
    QFETCH(QString, server);
    QFETCH(bool, apop);
    for (int n = 1; n <= 3; ++n)
        m_box.put(mail(n));

    auto box = trustingMailbox();
    const Status opened = box->open(account(m_box, server, apop));
    QVERIFY2(opened, qPrintable(message(opened)));
    const Result<int> count = box->login();
    QVERIFY(count);
    QCOMPARE(count.value(), 3);
    const Result<MailboxListing> listing = box->list(true);
    QVERIFY(listing);
    QCOMPARE(listing.value().entries.size(), 3);
    QVERIFY(listing.value().hasUniqueIds);
    for (int n = 1; n <= 3; ++n) {
        const MailboxEntry &entry = listing.value().entries.at(n - 1);
        QCOMPARE(entry.number, n);
        QCOMPARE(entry.size, qint64(mail(n).size()));
        QVERIFY(!entry.uniqueId.isEmpty());
        const Result<QByteArray> header = box->header(n);
        QVERIFY(header);
        QVERIFY(header.value().startsWith("From: "));
        const Result<RawMessage> fetched = box->fetch(n);
        QVERIFY(fetched);
        // Dot-stuffed lines arrive unstuffed: the bytes are the message as stored.
        QCOMPARE(fetched.value().readAll(), mail(n));
        QTemporaryDir folder;
        const Result<mime::ExpandedMail> expanded = mime::expandMessage(fetched.value(), folder.path() + u'/', 1 << 20);
        QVERIFY(expanded);
        QCOMPARE(expanded.value().subject, QStringLiteral("件名%1").arg(n));
        QCOMPARE(expanded.value().from, QStringLiteral("sender%1@example.jp").arg(n));
        QCOMPARE(expanded.value().date, QStringLiteral("Tue, 8 Dec 2026 10:0%1:00 +0900").arg(n));
        QCOMPARE(expanded.value().body, QStringLiteral("本文%1\r\n.先頭のドット\r\n").arg(n));
        QCOMPARE(expanded.value().attachmentsWritten, 0);
        QVERIFY(box->remove(n));
    }
    QCOMPARE(m_box.count(), 3); // deletions take effect at the end of the session
    QVERIFY(box->close());
    QTRY_COMPARE(m_box.count(), 0);
}

void TestPop3Dovecot::plainConnectionUpgradesWithStls()
{
    Pop3Options options;
    options.extraCaCertificates = QSslCertificate::fromPath(m_box.caFile());
    Pop3Session session(options);
    const Status opened = session.open(m_box.plainServer());
    QVERIFY2(opened, qPrintable(opened ? QString() : opened.error().message()));
    QVERIFY(session.encrypted());
    const Result<int> count = session.login(m_box.user(), m_box.password(), false);
    QVERIFY(count);
    QCOMPARE(count.value(), 0);
    QVERIFY(session.quit());
}

void TestPop3Dovecot::untrustedCertificateIsAnError_data()
{
    QTest::addColumn<QString>("server");
    QTest::newRow("STLS") << QStringLiteral("127.0.0.1:%1").arg(m_box.plainPort());
    QTest::newRow("pop3s") << QStringLiteral("pop3s://127.0.0.1:%1").arg(m_box.tlsPort());
}

void TestPop3Dovecot::untrustedCertificateIsAnError()
{
    QFETCH(QString, server);
    m_box.put(mail(1));
    Pop3MailboxSetup setup; // trusts the system's authorities only
    setup.transport.connectTimeoutMs = setup.transport.readTimeoutMs = 10000;
    Pop3Mailbox box(setup);
    const Status opened = box.open(account(m_box, server, false));
    QVERIFY(!opened);
    QVERIFY(opened.error().is(Error::Kind::CertificateRejected));
    const QString text = opened.error().message();
    QVERIFY2(text.contains(QStringLiteral("証明書を確認できない")) && text.contains(QStringLiteral("発行者がこのコンピューターで信頼されていません")),
             qPrintable(text));
    QCOMPARE(m_box.count(), 1);
}

void TestPop3Dovecot::wrongPasswordGivesServersReason_data()
{
    QTest::addColumn<bool>("apop");
    QTest::newRow("USER/PASS") << false;
    QTest::newRow("APOP") << true;
}

void TestPop3Dovecot::wrongPasswordGivesServersReason()
{
    QFETCH(bool, apop);
    m_box.put(mail(1));
    auto box = trustingMailbox();
    QVERIFY(box->open(account(m_box, m_box.plainServer(), apop, QStringLiteral("wrong"))));
    const Result<int> count = box->login();
    QVERIFY(!count);
    const QString text = count.error().message();
    QVERIFY2(text.contains(QStringLiteral("ログインを断りました")) && text.contains(QStringLiteral("「ID/PASS」")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("-ERR")), qPrintable(text)); // the server's own words
    (void)box->close();
    QCOMPARE(m_box.count(), 1);
}

void TestPop3Dovecot::noServerFailsToConnect()
{
    Pop3MailboxSetup setup;
    setup.transport.connectTimeoutMs = setup.transport.readTimeoutMs = 5000;
    Pop3Mailbox box(setup);
    Status opened = box.open(account(m_box, QStringLiteral("127.0.0.1:21199"), false));
    QVERIFY2(message(opened).contains(QStringLiteral("接続を断られました")), qPrintable(message(opened)));
    opened = box.open(account(m_box, QStringLiteral("127.0.0.1:99999"), false));
    QVERIFY2(message(opened).contains(QStringLiteral("ポート番号")), qPrintable(message(opened)));
}

void TestPop3Dovecot::rawBodyAndAttachmentsOfFetchedMail()
{
    QFile f(QStringLiteral(KESTRA_MAIL_TESTDATA "/multipart_attach.eml"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    m_box.put(f.readAll());
    auto box = trustingMailbox();
    QVERIFY(box->open(account(m_box, m_box.tlsServer(), false)));
    QCOMPARE(box->login().value(), 1);
    const Result<RawMessage> fetched = box->fetch(1);
    QVERIFY(fetched);
    QTemporaryDir folder;
    const Result<mime::ExpandedMail> expanded = mime::expandMessage(fetched.value(), folder.path() + u'/', 1 << 20);
    QVERIFY(expanded);
    QCOMPARE(expanded.value().subject, QStringLiteral("資料送付"));
    // The body as sent is the raw MIME body, where the receive run looks for "attachment".
    QVERIFY(expanded.value().mentionsAttachment);
    QVERIFY(fetched.value().readAll().contains("Content-Disposition: attachment"));
    QCOMPARE(expanded.value().body, QStringLiteral("資料を添付します。"));
    QCOMPARE(expanded.value().attachmentsWritten, 5);
    QVERIFY(QFileInfo::exists(folder.filePath(QStringLiteral("報告書（最終版）.pdf"))));
    (void)box->close();
}

void TestPop3Dovecot::unfinishedSessionDeletesNothing()
{
    m_box.put(mail(1));
    m_box.put(mail(2));
    {
        auto box = trustingMailbox();
        QVERIFY(box->open(account(m_box, m_box.plainServer(), true)));
        QCOMPARE(box->login().value(), 2);
        QVERIFY(box->remove(1));
        // The mailbox goes away without QUIT, as when the connection breaks.
    }
    QTest::qWait(300);
    QCOMPARE(m_box.count(), 2);
}

void TestPop3Dovecot::abandonedSessionDeletesNothing()
{
    m_box.put(mail(1));
    m_box.put(mail(2));
    auto box = trustingMailbox();
    QVERIFY(box->open(account(m_box, m_box.plainServer(), true)));
    QCOMPARE(box->login().value(), 2);
    QVERIFY(box->remove(1));
    QVERIFY(box->remove(2));
    QVERIFY(box->abandon()); // the server confirmed RSET
    QVERIFY(!box->close());  // the session is gone
    QTest::qWait(300);
    QCOMPARE(m_box.count(), 2);

    // The same deletions closed with QUIT do take effect.
    QVERIFY(box->open(account(m_box, m_box.plainServer(), true)));
    QCOMPARE(box->login().value(), 2);
    QVERIFY(box->remove(1));
    QVERIFY(box->close());
    QTRY_COMPARE(m_box.count(), 1);
}

QTEST_GUILESS_MAIN(TestPop3Dovecot)
#include "tst_pop3dovecot.moc"
