// The real mail layer against the test Dovecot server: log-in both ways, plain
// with STLS and TLS from the start, certificate checks, refusals with the
// server's reason, and fetching and deleting in server order.
#include "mail/NetMailLayer.h"
#include "mail/Pop3Session.h"
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

QString lastError(MailLayer &layer)
{
    QString text;
    int size = MailLayer::kMessageBufferSize;
    layer.NMailGetMessage(0, text, size);
    return text;
}

} // namespace

class TestPop3Dovecot : public QObject
{
    Q_OBJECT

    DovecotBox m_box{QStringLiteral(KESTRA_DOVECOT_DIR), QStringLiteral("layer")};

    std::unique_ptr<NetMailLayer> trustingLayer()
    {
        auto layer = std::make_unique<NetMailLayer>();
        layer->setTimeouts(10000, 10000);
        layer->addTrustedCaFile(m_box.caFile());
        return layer;
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
    QTest::addColumn<int>("apop");
    const QString plain = QStringLiteral("127.0.0.1:%1").arg(m_box.plainPort());
    QTest::newRow("host:port, USER/PASS") << plain << 0;
    QTest::newRow("host:port, APOP") << plain << -1;
    QTest::newRow("pop3:// URL, APOP") << QStringLiteral("pop3://127.0.0.1:%1").arg(m_box.plainPort()) << -1;
    QTest::newRow("pop3s, USER/PASS") << QStringLiteral("pop3s://127.0.0.1:%1").arg(m_box.tlsPort()) << 0;
    QTest::newRow("pop3s, APOP") << QStringLiteral("pop3s://localhost:%1").arg(m_box.tlsPort()) << -1;
}

void TestPop3Dovecot::fetchesAndDeletesInServerOrder()
{
    QFETCH(QString, server);
    QFETCH(int, apop);
    for (int n = 1; n <= 3; ++n)
        m_box.put(mail(n));

    auto layer = trustingLayer();
    const int handle = layer->NMailPop3Connect(server);
    QVERIFY2(handle > 0, qPrintable(lastError(*layer)));
    QCOMPARE(layer->NMailPop3Authenticate(handle, m_box.user(), m_box.password(), apop), 3);
    for (int n = 1; n <= 3; ++n) {
        QString subject, date, from, header, body;
        QCOMPARE(layer->NMailPop3GetMailStatus(handle, n, subject, date, from, header, 0), 0);
        QCOMPARE(subject, QStringLiteral("件名%1").arg(n));
        const int size = layer->NMailPop3GetMailSize(handle, n);
        QCOMPARE(size, int(mail(n).size()));
        subject.clear();
        QCOMPARE(layer->NMailPop3GetMail(handle, n, subject, date, from, header, body, size + 1, 0, 0), 0);
        QCOMPARE(subject, QStringLiteral("件名%1").arg(n));
        QCOMPARE(from, QStringLiteral("sender%1@example.jp").arg(n));
        QCOMPARE(date, QStringLiteral("Tue, 8 Dec 2026 10:0%1:00 +0900").arg(n));
        QVERIFY(header.startsWith(QStringLiteral("From: ")));
        // Dot-stuffed lines arrive unstuffed.
        QString source = header + QStringLiteral("\r\n") + body;
        QVERIFY(layer->NMailAttachmentFileFirst(0, subject, date, from, header, body, QDir::tempPath() + u'/', {},
                                                source, 0)
                == 0);
        QCOMPARE(body, QStringLiteral("本文%1\r\n.先頭のドット\r\n").arg(n));
        QCOMPARE(layer->NMailPop3DeleteMail(handle, n), 0);
    }
    QCOMPARE(m_box.count(), 3); // deletions take effect at the end of the session
    QCOMPARE(layer->NMailPop3Close(handle), 0);
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
    NetMailLayer layer; // trusts the system's authorities only
    layer.setTimeouts(10000, 10000);
    QCOMPARE(layer.NMailPop3Connect(server), -1);
    const QString text = lastError(layer);
    QVERIFY2(text.contains(QStringLiteral("証明書を確認できない")) && text.contains(QStringLiteral("発行者がこのコンピューターで信頼されていません")),
             qPrintable(text));
    QCOMPARE(m_box.count(), 1);
}

void TestPop3Dovecot::wrongPasswordGivesServersReason_data()
{
    QTest::addColumn<int>("apop");
    QTest::newRow("USER/PASS") << 0;
    QTest::newRow("APOP") << -1;
}

void TestPop3Dovecot::wrongPasswordGivesServersReason()
{
    QFETCH(int, apop);
    m_box.put(mail(1));
    auto layer = trustingLayer();
    const int handle = layer->NMailPop3Connect(m_box.plainServer());
    QVERIFY(handle > 0);
    QVERIFY(layer->NMailPop3Authenticate(handle, m_box.user(), QStringLiteral("wrong"), apop) < 0);
    const QString text = lastError(*layer);
    QVERIFY2(text.contains(QStringLiteral("ログインを断りました")) && text.contains(QStringLiteral("「ID/PASS」")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("-ERR")), qPrintable(text)); // the server's own words
    layer->NMailPop3Close(handle);
    QCOMPARE(m_box.count(), 1);
}

void TestPop3Dovecot::noServerFailsToConnect()
{
    NetMailLayer layer;
    layer.setTimeouts(5000, 5000);
    QCOMPARE(layer.NMailPop3Connect(QStringLiteral("127.0.0.1:21199")), -1);
    QVERIFY2(lastError(layer).contains(QStringLiteral("接続を断られました")), qPrintable(lastError(layer)));
    QCOMPARE(layer.NMailPop3Connect(QStringLiteral("127.0.0.1:99999")), -1);
    QVERIFY2(lastError(layer).contains(QStringLiteral("ポート番号")), qPrintable(lastError(layer)));
}

void TestPop3Dovecot::rawBodyAndAttachmentsOfFetchedMail()
{
    QFile f(QStringLiteral(KESTRA_MAIL_TESTDATA "/multipart_attach.eml"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    m_box.put(f.readAll());
    auto layer = trustingLayer();
    const int handle = layer->NMailPop3Connect(m_box.tlsServer());
    QVERIFY(handle > 0);
    QCOMPARE(layer->NMailPop3Authenticate(handle, m_box.user(), m_box.password(), 0), 1);
    QString subject, date, from, header, body;
    const int size = layer->NMailPop3GetMailSize(handle, 1);
    QCOMPARE(layer->NMailPop3GetMail(handle, 1, subject, date, from, header, body, size + 1, 0, 0), 0);
    QCOMPARE(subject, QStringLiteral("資料送付"));
    // The body as fetched is the raw MIME body, where the caller looks for "attachment".
    QVERIFY(body.contains(QStringLiteral("Content-Disposition: attachment")));
    QVERIFY(body.size() < size + 1);

    // Expansion works on the fetched bytes even when the caller's source is a mangled copy.
    QTemporaryDir folder;
    QString source = QStringLiteral("garbage");
    QCOMPARE(layer->NMailAttachmentFileFirst(0, subject, date, from, header, body, folder.path() + u'/', {}, source, 0), 1);
    QCOMPARE(body, QStringLiteral("資料を添付します。"));
    QVERIFY(QFileInfo::exists(folder.filePath(QStringLiteral("報告書（最終版）.pdf"))));
    layer->NMailPop3Close(handle);
}

void TestPop3Dovecot::unfinishedSessionDeletesNothing()
{
    m_box.put(mail(1));
    m_box.put(mail(2));
    {
        auto layer = trustingLayer();
        const int handle = layer->NMailPop3Connect(m_box.plainServer());
        QCOMPARE(layer->NMailPop3Authenticate(handle, m_box.user(), m_box.password(), -1), 2);
        QCOMPARE(layer->NMailPop3DeleteMail(handle, 1), 0);
        // The layer goes away without QUIT, as when the connection breaks.
    }
    QTest::qWait(300);
    QCOMPARE(m_box.count(), 2);
}

void TestPop3Dovecot::abandonedSessionDeletesNothing()
{
    m_box.put(mail(1));
    m_box.put(mail(2));
    auto layer = trustingLayer();
    int handle = layer->NMailPop3Connect(m_box.plainServer());
    QCOMPARE(layer->NMailPop3Authenticate(handle, m_box.user(), m_box.password(), -1), 2);
    QCOMPARE(layer->NMailPop3DeleteMail(handle, 1), 0);
    QCOMPARE(layer->NMailPop3DeleteMail(handle, 2), 0);
    QCOMPARE(layer->NMailPop3Abandon(handle), 0); // the server confirmed RSET
    QCOMPARE(layer->NMailPop3Close(handle), -1);  // the session is gone
    QTest::qWait(300);
    QCOMPARE(m_box.count(), 2);

    // The same deletions closed with QUIT do take effect.
    handle = layer->NMailPop3Connect(m_box.plainServer());
    QCOMPARE(layer->NMailPop3Authenticate(handle, m_box.user(), m_box.password(), -1), 2);
    QCOMPARE(layer->NMailPop3DeleteMail(handle, 1), 0);
    QCOMPARE(layer->NMailPop3Close(handle), 0);
    QTRY_COMPARE(m_box.count(), 1);
}

QTEST_GUILESS_MAIN(TestPop3Dovecot)
#include "tst_pop3dovecot.moc"
