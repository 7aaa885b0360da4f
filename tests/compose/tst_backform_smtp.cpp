// The reply window sending through the real SMTP sender to the test server.
#include "servers/ParsedMail.h"
#include "servers/SmtpTestServer.h"

#include "common/AppState.h"
#include "common/Forms.h"
#include "compose/BackForm.h"
#include "mail/NetMailLayer.h"
#include "mail/SmtpSender.h"
#include "support/TestSupport.h"

#include <QLineEdit>
#include <QTextEdit>
#include <QtTest>

using namespace kestra;
namespace smtp = kestra::test::smtp;

class TestBackFormSmtp : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_app;
    std::unique_ptr<test::FakePrompt> m_prompt;
    std::unique_ptr<NetMailLayer> m_layer;

    BackForm *reply(const QString &to, const QString &subject, const QString &body)
    {
        BackForm *w = form<BackForm>();
        w->show();
        w->ToText->setText(to);
        w->SubjectText->setText(subject);
        w->BodyText->setPlainText(body);
        return w;
    }

private Q_SLOTS:
    void init()
    {
        m_app = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
        m_layer = std::make_unique<NetMailLayer>();
        setMailLayer(m_layer.get());
        setSmtpTrustedCaFile(smtp::caFile());
        SmtpLimits limits;
        limits.connectSeconds = limits.responseSeconds = limits.stallSeconds = 5;
        limits.totalSeconds = 30;
        setSmtpDefaultLimits(limits);
        SharedSettings &s = appState().settings;
        s.smtpServer = smtp::server(smtp::Kind::StartTls);
        s.mailAddress = QStringLiteral("me@example.test");
        s.pop3Id = QString::fromLatin1(smtp::kUser);
        s.pop3Password = QString::fromLatin1(smtp::kPassword);
    }

    void cleanup()
    {
        unloadForm<BackForm>();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const int unexpected = m_prompt->unexpected();
        setMailLayer(nullptr);
        m_layer.reset();
        m_prompt.reset();
        m_app.reset();
        setSmtpTrustedCaFile(QString());
        QCOMPARE(unexpected, 0);
    }

    void replyArrivesWithItsSubjectAndBody()
    {
        const QString to = smtp::uniqueAddress();
        const QString subject = QStringLiteral("Re:  会議の件");
        const QString body = QStringLiteral("承知しました。\n\n三時に伺います。");
        BackForm *w = reply(to, subject, body);
        w->Command2_Click();
        QVERIFY2(m_prompt->shown().isEmpty(), qPrintable(m_prompt->texts().join(u'\n')));
        const QList<smtp::Received> got = smtp::receivedFor(to);
        QCOMPARE(got.size(), 1);
        const test::ParsedMail mail = test::parseMail(got[0].source);
        QCOMPARE(mail.subject, subject);
        // Line ends go out as CR LF whatever the box holds.
        QString wire = body;
        wire.replace(u'\n', QStringLiteral("\r\n"));
        QVERIFY2(test::sameBody(mail.body, wire), qPrintable(mail.body));
        QCOMPARE(mail.from, QStringLiteral("me@example.test"));
        QCOMPARE(loadedForm<BackForm>(), nullptr);
    }

    void refusedReplyStaysOpenWithItsText()
    {
        m_prompt->setAutoAnswer(true);
        const QString to = smtp::uniqueAddress(QStringLiteral("refuse"));
        BackForm *w = reply(to, QStringLiteral("Re:  件名"), QStringLiteral("消えては困る返事"));
        w->Command2_Click();
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown()[0].title, QStringLiteral("送信エラー"));
        QVERIFY2(m_prompt->shown()[0].text.contains(to), qPrintable(m_prompt->shown()[0].text));
        QCOMPARE(smtp::receivedFor(to).size(), 0);
        QCOMPARE(loadedForm<BackForm>(), w);
        QCOMPARE(w->BodyText->toPlainText(), QStringLiteral("消えては困る返事"));
        QCOMPARE(w->ToText->text(), to);
    }
};

QTEST_MAIN(TestBackFormSmtp)
#include "tst_backform_smtp.moc"
