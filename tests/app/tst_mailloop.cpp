// The whole way of a mail: written in the compose window, sent over SMTP,
// delivered into the test Dovecot's Maildir, and brought back by "受信" into
// the received store and the attachment folder.

#include "app/MainForm.h"
#include "app/ReceiveMail.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "compose/WriteForm.h"
#include "app/NetworkMailPorts.h"
#include "settings/MailOptionsInForce.h"
#include "smtp/SmtpSender.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/Settings.h"
#include "support/TestSupport.h"

#include "servers/DovecotBox.h"
#include "servers/SmtpTestServer.h"
#include "support/FindControl.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

using namespace kestra;
using kestra::test::findControl;
namespace smtp = kestra::test::smtp;

class TestMailLoop : public QObject
{
    Q_OBJECT

    test::DovecotBox m_box { QStringLiteral(KESTRA_DOVECOT_DIR), QStringLiteral("compose") };

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_box.running(), "the Dovecot fixture is not running"); }

    void writtenSentAndReceived()
    {
        m_box.clear();
        test::TempAppFolder app;
        test::FakePrompt prompts;
        NetworkLimits limits;
        limits.pop3.connectTimeoutMs = limits.pop3.readTimeoutMs = 10000;
        limits.pop3.extraCaCertificates = QSslCertificate::fromPath(m_box.caFile(), QSsl::Pem);
        limits.smtpCaFile = smtp::caFile();
        installMailPorts(networkMailPorts(limits));
        // One saved account for both servers: SMTP logs in with it too.
        QVERIFY(writeIdPass(appPaths().idPassIni(), IdPass { m_box.user(), m_box.password() }, true));
        SharedSettings &s = appState().settings;
        s.smtpServer = QStringLiteral("smtp://") + smtp::server(smtp::Kind::StartTls);
        s.pop3Server = QStringLiteral("127.0.0.1:%1").arg(m_box.plainPort());
        s.mailAddress = QStringLiteral("me@example.test");
        s.apop = 0;

        QByteArray binary;
        for (int i = 0; i < 5000; ++i)
            binary.append(char((i * 31 + 7) & 0xFF));
        const QString picture = app.path() + QStringLiteral("/地図.png");
        const QString notes = app.path() + QStringLiteral("/memo.txt");
        test::writeBytes(picture, binary);
        test::writeBytes(notes, QByteArray("first\r\nsecond\r\n"));

        const QString subject = QStringLiteral("【確認】来週の打ち合わせ");
        const QString body
            = QStringLiteral("佐藤様\r\n\r\n地図とメモをお送りします。\r\nよろしくお願いいたします。");
        WriteForm *w = form<WriteForm>();
        w->show();
        w->setToText(m_box.user() + QStringLiteral("@maildir.test"));
        findControl<QLineEdit>(w, "SubjectText")->setText(subject);
        w->setBodyText(body);
        prompts.answerFile(picture);
        findControl<QPushButton>(w, "AttachCommand")->click();
        prompts.answerFile(notes);
        findControl<QPushButton>(w, "Command9")->click();
        findControl<QPushButton>(w, "Command1")->click();
        QVERIFY2(prompts.shown().size() == 2, qPrintable(prompts.texts().join(QLatin1Char('\n'))));
        QCOMPARE(m_box.count(), 1);

        auto main = std::make_unique<MainForm>();
        ReceiveMail(*main);
        QCOMPARE(findControl<QLineEdit>(main, "Text3")->text(), QStringLiteral("新着メール有り。"));
        QVERIFY2(prompts.shown().size() == 2, qPrintable(prompts.texts().join(QLatin1Char('\n'))));
        QTRY_COMPARE(m_box.count(), 0);

        QList<MailRecord> received;
        QVERIFY(scanRecords(appPaths().dataFile(QString::fromUtf16(names::receivedStore)),
            MailRecord::kLength, [&](qint64, const QByteArray &bytes) {
                received.append(MailRecord::decode(bytes));
                return true;
            }));
        QCOMPARE(received.size(), 1);
        QCOMPARE(trimBlanks(received[0].Subject), subject);
        QCOMPARE(trimBlanks(received[0].Header2), QStringLiteral("me@example.test"));
        // The body comes back as written, with the notice of the expanded attachments.
        QVERIFY2(trimBlanks(received[0].Body).startsWith(body + QStringLiteral("\r\n")),
            qPrintable(received[0].Body.left(200)));
        QVERIFY(received[0].Body.contains(QStringLiteral("添付フォルダに展開しました。")));
        const QString folder = appPaths().attachFolder() + u'/';
        QCOMPARE(test::readBytes(folder + QStringLiteral("地図.png")), binary);
        QCOMPARE(test::readBytes(folder + QStringLiteral("memo.txt")), QByteArray("first\r\nsecond\r\n"));

        installMailPorts({});
        main.reset();
        test::closeAllWindows();
        QCOMPARE(prompts.unexpected(), 0);
    }
};

QTEST_MAIN(TestMailLoop)
#include "tst_mailloop.moc"
