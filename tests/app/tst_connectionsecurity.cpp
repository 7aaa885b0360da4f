// Connection security as the user meets it, through "受信" and the shared send:
// failures that name the server and what to do, certificates the system does
// not know (trusted for one server after the question, asked again when the
// certificate changes), the question before a password goes in clear, and a
// man in the middle who deletes STLS / STARTTLS from the server's answers.
// The man in the middle and the strange certificates come from
// tests/servers/mail_proxy.py in front of the test servers.

#include "app/AutoCheck.h"
#include "app/MainForm.h"
#include "app/ReceiveMail.h"
#include "common/AppState.h"
#include "common/Paths.h"
#include "compose/SendMail.h"
#include "app/NetworkMailPorts.h"
#include "settings/MailOptionsInForce.h"
#include "net/ServerSecurity.h"
#include "smtp/SmtpSender.h"
#include "storage/Settings.h"
#include "support/TestSupport.h"

#include "servers/DovecotBox.h"
#include "servers/SmtpTestServer.h"
#include "support/FindControl.h"

#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QPlainTextEdit>
#include <QtTest>

using namespace kestra;
using kestra::test::findControl;
namespace smtp = kestra::test::smtp;

namespace {

// mail_proxy.py in front of a test server on 127.0.0.1:target.
class Proxy
{
public:
    Proxy(int target, QStringList options, int port = 0)
    {
        m_log = QDir::temp().filePath(QStringLiteral("kestra-proxy-%1.log").arg(QUuid::createUuid().toString(QUuid::Id128)));
        QStringList args{QStringLiteral(KESTRA_SERVERS_DIR "/mail_proxy.py"), QStringLiteral("--target"),
                         QString::number(target), QStringLiteral("--log"), m_log};
        if (port)
            args << QStringLiteral("--port") << QString::number(port);
        m_process.start(QStringLiteral("/usr/bin/python3"), args + options);
        if (!m_process.waitForReadyRead(10000))
            qFatal("the proxy did not start: %s", m_process.readAllStandardError().constData());
        m_port = m_process.readLine().trimmed().toInt();
    }
    ~Proxy()
    {
        m_process.kill();
        m_process.waitForFinished();
        QFile::remove(m_log);
    }
    int port() const { return m_port; }
    QByteArray log() const
    {
        QFile f(m_log);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QProcess m_process;
    QString m_log;
    int m_port = 0;
};

// A certificate and key for the proxy: signed by the test Dovecot's authority
// or by itself, for `san`, valid in the given period (openssl's yyyymmddHHMMSSZ).
struct Certificate {
    QString cert;
    QString key;
};
Certificate makeCertificate(const QString &folder, const QString &name, const QString &caDir, const QString &san,
                            const QString &from = QStringLiteral("20200101000000Z"),
                            const QString &until = QStringLiteral("20991231000000Z"))
{
    const QString d = folder + u'/' + name;
    QDir().mkpath(d);
    QFile(d + QStringLiteral("/index.txt")).open(QIODevice::WriteOnly);
    test::writeBytes(d + QStringLiteral("/serial"), QUuid::createUuid().toRfc4122().toHex().left(16) + '\n');
    test::writeBytes(d + QStringLiteral("/ca.cnf"),
                     "[ca]\ndefault_ca = c\n[c]\ndatabase = " + d.toUtf8() + "/index.txt\nserial = " + d.toUtf8()
                         + "/serial\nnew_certs_dir = " + d.toUtf8()
                         + "\ndefault_md = sha256\npolicy = p\ncopy_extensions = copy\n[p]\ncommonName = supplied\n");
    const auto run = [](const QStringList &args) {
        QProcess p;
        p.start(QStringLiteral("openssl"), args);
        if (!p.waitForFinished(30000) || p.exitCode() != 0)
            qFatal("openssl %s failed: %s", qPrintable(args.join(u' ')), p.readAllStandardError().constData());
    };
    Certificate c{d + QStringLiteral("/cert.pem"), d + QStringLiteral("/key.pem")};
    run({QStringLiteral("req"), QStringLiteral("-new"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
         QStringLiteral("-nodes"), QStringLiteral("-subj"), QStringLiteral("/CN=") + name, QStringLiteral("-addext"),
         QStringLiteral("subjectAltName=") + san, QStringLiteral("-keyout"), c.key, QStringLiteral("-out"),
         d + QStringLiteral("/req.csr")});
    QStringList sign{QStringLiteral("ca"), QStringLiteral("-batch"), QStringLiteral("-config"), d + QStringLiteral("/ca.cnf"),
                     QStringLiteral("-in"), d + QStringLiteral("/req.csr"), QStringLiteral("-out"), c.cert,
                     QStringLiteral("-startdate"), from, QStringLiteral("-enddate"), until};
    if (caDir.isEmpty())
        sign << QStringLiteral("-selfsign") << QStringLiteral("-keyfile") << c.key;
    else
        sign << QStringLiteral("-cert") << caDir + QStringLiteral("/ca.crt") << QStringLiteral("-keyfile")
             << caDir + QStringLiteral("/ca.key");
    run(sign);
    return c;
}

} // namespace

class TestConnectionSecurity : public QObject
{
    Q_OBJECT

    test::DovecotBox m_box{QStringLiteral(KESTRA_DOVECOT_DIR), QStringLiteral("other")};
    QTemporaryDir m_certs;
    std::unique_ptr<test::TempAppFolder> m_app;
    std::unique_ptr<test::FakePrompt> m_prompts;
    std::unique_ptr<MainForm> m_main;

    void choose(MailProtocol protocol, Security security, int timeoutSeconds = 0)
    {
        ServerConnection c;
        c.security = security;
        QVERIFY(writeServerConnection(appPaths().extraIni(), protocol, c).ok());
        if (timeoutSeconds) {
            QSettings ini(appPaths().extraIni(), QSettings::IniFormat);
            ini.setValue(QStringLiteral("%1/timeout").arg(protocol == MailProtocol::Pop3 ? u"pop3" : u"smtp"), timeoutSeconds);
        }
    }

    // "受信" against `server`; gives the texts of the boxes shown.
    QStringList receive(const QString &server)
    {
        m_prompts->clear();
        appState().settings.pop3Server = server;
        m_main->Command4_Click();
        return m_prompts->texts();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_box.running(), "the Dovecot fixture is not running"); }

    void init()
    {
        m_box.clear();
        m_app = std::make_unique<test::TempAppFolder>();
        m_prompts = std::make_unique<test::FakePrompt>();
        NetworkLimits limits;
        limits.pop3.extraCaCertificates = QSslCertificate::fromPath(m_box.caFile(), QSsl::Pem);
        limits.smtpCaFile = smtp::caFile();
        installMailPorts(networkMailPorts(limits));
        QVERIFY(writeIdPass(appPaths().idPassIni(), IdPass{m_box.user(), m_box.password()}, true));
        m_main = std::make_unique<MainForm>();
    }

    void cleanup()
    {
        QCOMPARE(m_prompts->unexpected(), 0);
        QCOMPARE(m_prompts->pendingAnswers(), 0);
        m_main.reset();
        installMailPorts({});
        m_prompts.reset();
        m_app.reset();
    }

    // Each failure: one box titled "エラー" naming the server, the reason and
    // what to do; the indicator does not claim an empty mailbox.
    void receiveFailures_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("expected");
        QTest::newRow("name not found") << QStringLiteral("nohost.invalid") << QStringLiteral("POP3サーバー「nohost.invalid」が見つかりません。");
        QTest::newRow("port refused") << QStringLiteral("127.0.0.1:%1").arg(smtp::closedPort())
                                      << QStringLiteral("接続を断られました");
        QTest::newRow("server silent") << QString() << QStringLiteral("から応答がありません");
    }
    void receiveFailures()
    {
        QFETCH(QString, server);
        QFETCH(QString, expected);
        QTcpServer silent; // accepts (the system does) and never says a word
        if (server.isEmpty()) {
            QVERIFY(silent.listen(QHostAddress::LocalHost));
            server = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
        }
        choose(MailProtocol::Pop3, Security::Unset, 1);
        m_box.put("Subject: kept\r\n\r\nbody\r\n");
        m_prompts->answer(PromptAnswer::Ok);
        const QStringList boxes = receive(server);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(m_prompts->shown()[0].title, QStringLiteral("エラー"));
        QVERIFY2(boxes[0].contains(expected) && boxes[0].contains(QStringLiteral("「設定」")), qPrintable(boxes[0]));
        QCOMPARE(findControl<QLineEdit>(m_main, "Text3")->text(), QStringLiteral("受信できませんでした。"));
        QCOMPARE(m_box.count(), 1);
    }

    // Certificates the check refuses: the question shows the reason and the
    // certificate's facts; "No" stores and deletes nothing.
    void refusedCertificates_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("expired") << QStringLiteral("expired") << QStringLiteral("有効期限が切れています");
        QTest::newRow("wrong host name") << QStringLiteral("other-name") << QStringLiteral("証明書はサーバー名「127.0.0.1」のものではありません");
        QTest::newRow("self-signed") << QStringLiteral("self-signed") << QStringLiteral("サーバー自身で署名された");
    }
    void refusedCertificates()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString ca = QStringLiteral(KESTRA_DOVECOT_DIR);
        const Certificate c
            = kind == QLatin1String("expired")
                  ? makeCertificate(m_certs.path(), kind, ca, QStringLiteral("IP:127.0.0.1"), QStringLiteral("20200101000000Z"), QStringLiteral("20200201000000Z"))
              : kind == QLatin1String("other-name") ? makeCertificate(m_certs.path(), kind, ca, QStringLiteral("DNS:mail.example.jp"))
                                                    : makeCertificate(m_certs.path(), kind, QString(), QStringLiteral("IP:127.0.0.1"));
        Proxy proxy(m_box.plainPort(), {QStringLiteral("--cert"), c.cert, QStringLiteral("--key"), c.key});
        m_box.put("Subject: kept\r\n\r\nbody\r\n");
        m_prompts->answer(PromptAnswer::No);
        const QStringList boxes = receive(QStringLiteral("pop3s://127.0.0.1:%1").arg(proxy.port()));
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(m_prompts->shown()[0].title, QStringLiteral("エラー"));
        QCOMPARE(m_prompts->shown()[0].buttons, PromptButtons::YesNo);
        QCOMPARE(m_prompts->shown()[0].byDefault, PromptDefault::Safe); // Enter does not trust it
        for (const QString &part : {reason, QStringLiteral("SHA-256 指紋: "), QStringLiteral("発行者: "), QStringLiteral("有効期間: "),
                                    QStringLiteral("パスワードは送っていません")})
            QVERIFY2(boxes[0].contains(part), qPrintable(boxes[0]));
        QVERIFY(!proxy.log().contains(m_box.password().toUtf8()));
        QCOMPARE(findControl<QLineEdit>(m_main, "Text3")->text(), QStringLiteral("受信できませんでした。"));
        QCOMPARE(findControl<QPlainTextEdit>(m_main, "Text1")->toPlainText(), QStringLiteral("メールのチェックを中止しました。"));
        QCOMPARE(m_box.count(), 1);
    }

    // "Yes" trusts exactly that certificate for that server: the next run
    // asks nothing; a different certificate on the same server asks again.
    void selfSignedTrustedAfterTheQuestion()
    {
        const Certificate first = makeCertificate(m_certs.path(), QStringLiteral("first"), QString(), QStringLiteral("IP:127.0.0.1"));
        const Certificate second = makeCertificate(m_certs.path(), QStringLiteral("second"), QString(), QStringLiteral("IP:127.0.0.1"));
        int port = 0;
        {
            Proxy proxy(m_box.plainPort(), {QStringLiteral("--cert"), first.cert, QStringLiteral("--key"), first.key});
            port = proxy.port();
            const QString server = QStringLiteral("pop3s://127.0.0.1:%1").arg(port);
            m_box.put("Subject: one\r\n\r\nbody\r\n");
            m_prompts->answer(PromptAnswer::Yes);
            QCOMPARE(receive(server).size(), 1);
            QCOMPARE(findControl<QLineEdit>(m_main, "Text3")->text(), QStringLiteral("新着メール有り。"));
            QTRY_COMPARE(m_box.count(), 0);
            // The trusted certificate is kept where only the owner can read or change it.
            const QFileDevice::Permissions mode = QFile::permissions(appPaths().extraIni());
            QVERIFY(mode.testFlags(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
            QVERIFY(!(mode & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther)));

            m_box.put("Subject: two\r\n\r\nbody\r\n");
            QCOMPARE(receive(server), QStringList());
            QCOMPARE(findControl<QLineEdit>(m_main, "Text3")->text(), QStringLiteral("新着メール有り。"));
        }
        Proxy changed(m_box.plainPort(), {QStringLiteral("--cert"), second.cert, QStringLiteral("--key"), second.key}, port);
        m_box.put("Subject: three\r\n\r\nbody\r\n");
        m_prompts->answer(PromptAnswer::No);
        const QStringList boxes = receive(QStringLiteral("pop3s://127.0.0.1:%1").arg(port));
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].contains(QStringLiteral("以前に信頼した証明書とは別の証明書です。")), qPrintable(boxes[0]));
        QCOMPARE(m_box.count(), 1);
    }

    // SMTP over TLS to a server with a certificate of its own: trusted after
    // the question, then used without asking; the mail goes out.
    void smtpSelfSignedTrustedAfterTheQuestion()
    {
        const Certificate own = makeCertificate(m_certs.path(), QStringLiteral("smtp-own"), QString(), QStringLiteral("IP:127.0.0.1"));
        Proxy proxy(smtp::port(smtp::Kind::Plain), {QStringLiteral("--cert"), own.cert, QStringLiteral("--key"), own.key});
        ServerConnection tls;
        tls.security = Security::Tls;
        tls.port = proxy.port();
        QVERIFY(writeServerConnection(appPaths().extraIni(), MailProtocol::Smtp, tls).ok());
        appState().settings.smtpServer = QStringLiteral("127.0.0.1");
        appState().settings.mailAddress = QStringLiteral("me@example.test");
        const QString first = smtp::uniqueAddress();
        m_prompts->answer(PromptAnswer::Yes);
        QVERIFY(sendOneMessage(first, QStringLiteral("s"), QStringLiteral("b"), QString()).ok());
        QCOMPARE(m_prompts->shown().size(), 1);
        QCOMPARE(m_prompts->shown()[0].title, QStringLiteral("送信エラー"));
        QVERIFY2(m_prompts->shown()[0].text.contains(QStringLiteral("SMTPサーバー「127.0.0.1:%1」の証明書").arg(proxy.port())),
                 qPrintable(m_prompts->shown()[0].text));
        QCOMPARE(smtp::receivedFor(first).size(), 1);

        m_prompts->clear();
        const QString second = smtp::uniqueAddress();
        QVERIFY(sendOneMessage(second, QStringLiteral("s"), QStringLiteral("b"), QString()).ok());
        QCOMPARE(m_prompts->texts(), QStringList());
        QCOMPARE(smtp::receivedFor(second).size(), 1);
    }

    // A trusted certificate holds only while it is valid: once expired, the
    // question comes again and says so. "No" receives, sends and deletes
    // nothing; "Yes" goes on for that session only, the next one asks again.
    void expiredTrustedCertificateIsAskedAgain_data()
    {
        QTest::addColumn<bool>("pop3");
        QTest::newRow("POP3") << true;
        QTest::newRow("SMTP") << false;
    }
    void expiredTrustedCertificateIsAskedAgain()
    {
        QFETCH(bool, pop3);
        const Certificate expired = makeCertificate(m_certs.path(), pop3 ? QStringLiteral("expired-pop3") : QStringLiteral("expired-smtp"),
                                                    QString(), QStringLiteral("IP:127.0.0.1"), QStringLiteral("20200101000000Z"),
                                                    QStringLiteral("20200201000000Z"));
        Proxy proxy(pop3 ? m_box.plainPort() : smtp::port(smtp::Kind::Plain), {QStringLiteral("--cert"), expired.cert, QStringLiteral("--key"), expired.key});
        // Trusted while it was valid.
        const QSslCertificate certificate = QSslCertificate::fromPath(expired.cert).value(0);
        QVERIFY(!certificate.isNull());
        ServerMemory(appPaths().extraIni(), pop3 ? MailProtocol::Pop3 : MailProtocol::Smtp, QStringLiteral("127.0.0.1"), proxy.port())
            .trust(certificate);
        if (!pop3) {
            ServerConnection tls;
            tls.security = Security::Tls;
            tls.port = proxy.port();
            QVERIFY(writeServerConnection(appPaths().extraIni(), MailProtocol::Smtp, tls).ok());
            appState().settings.smtpServer = QStringLiteral("127.0.0.1");
            appState().settings.mailAddress = QStringLiteral("me@example.test");
        }
        const QString server = QStringLiteral("pop3s://127.0.0.1:%1").arg(proxy.port());
        // One run, answering the question with `yes`: the texts shown, and whether the mail went.
        const auto run = [&](bool yes, QStringList &boxes) {
            m_prompts->answer(yes ? PromptAnswer::Yes : PromptAnswer::No);
            if (pop3) {
                m_box.put("Subject: kept\r\n\r\nbody\r\n");
                boxes = receive(server);
                return m_box.count() == 0;
            }
            m_prompts->clear();
            const QString to = smtp::uniqueAddress();
            (void)sendOneMessage(to, QStringLiteral("s"), QStringLiteral("b"), QString());
            boxes = m_prompts->texts();
            return smtp::receivedFor(to).size() == 1;
        };
        bool first = true;
        for (const bool yes : {false, true, false}) {
            QStringList boxes;
            const bool went = run(yes, boxes);
            if (std::exchange(first, false)) // nothing went over the connection the user refused
                QVERIFY(!proxy.log().contains(pop3 ? m_box.password().toUtf8() : QByteArray("MAIL FROM")));
            QCOMPARE(boxes.size(), 1);
            QVERIFY2(boxes[0].contains(QStringLiteral("以前に信頼した証明書ですが、有効期限が切れています。"))
                         && boxes[0].contains(QStringLiteral("有効期間: 2020/01/01")),
                     qPrintable(boxes[0]));
            QCOMPARE(went, yes);
            if (pop3)
                m_box.clear();
        }
    }

    // Settings of earlier versions: a server without STLS gets the question
    // once; the answer is remembered for that server.
    // An automatic run meets a question (a server without encryption, a
    // certificate nobody trusts yet): it asks nothing, remembers nothing,
    // leaves the mail on the server and says why at the indicator; the next
    // 受信 by hand asks.
    void automaticRunLeavesTheQuestionToTheUser_data()
    {
        QTest::addColumn<bool>("certificate");
        QTest::newRow("no encryption") << false;
        QTest::newRow("unknown certificate") << true;
    }
    void automaticRunLeavesTheQuestionToTheUser()
    {
        QFETCH(bool, certificate);
        const Certificate own = makeCertificate(m_certs.path(), QStringLiteral("own"), QString(), QStringLiteral("IP:127.0.0.1"));
        Proxy proxy(m_box.plainPort(), certificate ? QStringList{QStringLiteral("--cert"), own.cert, QStringLiteral("--key"), own.key}
                                                   : QStringList{QStringLiteral("--strip")});
        const QString server = (certificate ? QStringLiteral("pop3s://") : QString())
                               + QStringLiteral("127.0.0.1:%1").arg(proxy.port());
        appState().settings.pop3Server = server;
        m_box.put("Subject: one\r\n\r\nbody\r\n");
        ReceiveOptions every;
        every.checkEveryMinutes = 1;
        QVERIFY(writeReceiveOptions(appPaths().extraIni(), every));
        test::FixedClock clock(QDateTime(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC));
        auto *check = new AutoCheck(*m_main, [](std::function<void()>) { return std::unique_ptr<Notifier>(); });
        check->tick();
        clock.set(clock.now().addSecs(60));
        check->tick();
        QVERIFY(check->running());
        QTRY_VERIFY_WITH_TIMEOUT(!check->running(), 20000);

        QVERIFY2(m_prompts->shown().isEmpty(), qPrintable(m_prompts->texts().join(u'\n')));
        QCOMPARE(m_box.count(), 1);
        QVERIFY(!proxy.log().contains(m_box.password().toUtf8()));
        QCOMPARE(findControl<QLineEdit>(m_main, "Text3")->text(), QStringLiteral("自動受信でエラーがありました。（クリックで表示）"));
        QCOMPARE(check->errors().size(), 1);
        if (!certificate)
            QVERIFY2(check->errors().at(0).contains(QStringLiteral("自動受信では確かめられない")), qPrintable(check->errors().at(0)));
        const ServerMemory memory(appPaths().extraIni(), MailProtocol::Pop3, QStringLiteral("127.0.0.1"), proxy.port());
        QCOMPARE(memory.plainAnswer(), 0);
        QVERIFY(memory.trustedFingerprint().isEmpty());

        // By hand, the user is asked.
        m_prompts->answer(PromptAnswer::No);
        const QStringList asked = receive(server);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(m_prompts->shown()[0].buttons, PromptButtons::YesNo);
        QCOMPARE(m_box.count(), 1);
    }

    void plainPasswordOnlyAfterTheQuestion_data()
    {
        QTest::addColumn<bool>("allow");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void plainPasswordOnlyAfterTheQuestion()
    {
        QFETCH(bool, allow);
        Proxy proxy(m_box.plainPort(), {QStringLiteral("--strip")});
        const QString server = QStringLiteral("127.0.0.1:%1").arg(proxy.port());
        m_box.put("Subject: one\r\n\r\nbody\r\n");
        m_prompts->answer(allow ? PromptAnswer::Yes : PromptAnswer::No);
        const QStringList first = receive(server);
        QCOMPARE(first.size(), 1);
        QVERIFY2(first[0].endsWith(QStringLiteral("パスワードが暗号化されずに送られます。続けますか？")), qPrintable(first[0]));
        QCOMPARE(m_prompts->shown()[0].buttons, PromptButtons::YesNo);
        QCOMPARE(proxy.log().contains(m_box.password().toUtf8()), allow);
        QCOMPARE(m_box.count(), allow ? 0 : 1);

        // Asked once: the second run follows the answer.
        if (!allow)
            m_prompts->answer(PromptAnswer::Ok);
        const QStringList second = receive(server);
        QCOMPARE(second.size(), allow ? 0 : 1);
        if (!allow)
            QVERIFY2(second[0].contains(QStringLiteral("パスワードは送らずに接続を中止しました")), qPrintable(second[0]));
    }

    // A man in the middle deletes STLS from CAPA and STARTTLS from EHLO: with
    // STARTTLS chosen, or with a server that offered TLS before, the password
    // never goes out and the user is told.
    void manInTheMiddleGetsNoPassword_data()
    {
        QTest::addColumn<bool>("pop3");
        QTest::addColumn<bool>("chosen");
        QTest::addColumn<QString>("expected");
        QTest::newRow("POP3, STARTTLS chosen") << true << true << QStringLiteral("STARTTLS）に対応していないため");
        QTest::newRow("POP3, offered TLS before") << true << false << QStringLiteral("以前は暗号化通信に対応していました");
        QTest::newRow("SMTP, STARTTLS chosen") << false << true << QStringLiteral("STARTTLS）に対応していないため");
        QTest::newRow("SMTP, offered TLS before") << false << false << QStringLiteral("以前は暗号化通信に対応していました");
    }
    void manInTheMiddleGetsNoPassword()
    {
        QFETCH(bool, pop3);
        QFETCH(bool, chosen);
        QFETCH(QString, expected);
        const MailProtocol protocol = pop3 ? MailProtocol::Pop3 : MailProtocol::Smtp;
        const int target = pop3 ? m_box.plainPort() : smtp::port(smtp::Kind::StartTls);
        choose(protocol, chosen ? Security::StartTls : Security::Unset);
        appState().settings.smtpServer = QStringLiteral("127.0.0.1");
        appState().settings.mailAddress = QStringLiteral("me@example.test");
        ServerConnection smtpLogin;
        smtpLogin.security = chosen ? Security::StartTls : Security::Unset;
        smtpLogin.user = QString::fromLatin1(smtp::kUser);
        smtpLogin.password = QString::fromLatin1(smtp::kPassword);
        const QByteArray password = pop3 ? m_box.password().toUtf8() : smtpLogin.password.toUtf8();
        QString to;
        const auto attempt = [&](int port) {
            if (pop3)
                return receive(QStringLiteral("127.0.0.1:%1").arg(port));
            smtpLogin.port = port;
            if (!writeServerConnection(appPaths().extraIni(), MailProtocol::Smtp, smtpLogin))
                return QStringList{QStringLiteral("cannot write")};
            m_prompts->clear();
            to = smtp::uniqueAddress();
            (void)sendOneMessage(to, QStringLiteral("s"), QStringLiteral("b"), QString());
            return m_prompts->texts();
        };
        int port = 0;
        if (!chosen) {
            // The server is first met without anyone in the middle.
            Proxy honest(target, {});
            port = honest.port();
            const QStringList boxes = attempt(port);
            QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(u'\n')));
            // SMTP logs in with its own ID from the settings window, not the POP3 one.
            if (!pop3)
                QCOMPARE(smtp::receivedFor(to).value(0).user, smtpLogin.user);
            m_prompts->clear();
        }
        Proxy attacker(target, {QStringLiteral("--strip")}, port);
        m_prompts->answer(PromptAnswer::Ok);
        const QStringList boxes = attempt(attacker.port());
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(m_prompts->shown()[0].title, pop3 ? QStringLiteral("エラー") : QStringLiteral("送信エラー"));
        QVERIFY2(boxes[0].contains(expected) && boxes[0].contains(QStringLiteral("パスワードは送っていません")), qPrintable(boxes[0]));
        const QByteArray sent = attacker.log();
        QVERIFY2(!sent.contains(password), sent.constData());
        QVERIFY2(!sent.toUpper().contains("AUTH") && !sent.toUpper().contains("PASS "), sent.constData());
    }
};

QTEST_MAIN(TestConnectionSecurity)
#include "tst_connectionsecurity.moc"
