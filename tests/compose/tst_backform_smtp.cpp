// The reply window sending through the real SMTP sender to the test server.
#include "servers/ParsedMail.h"
#include "servers/SmtpTestServer.h"

#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "compose/BackForm.h"
#include "support/SmtpPorts.h"
#include "smtp/SmtpSender.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTcpServer>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

using namespace kestra;
using kestra::test::findControl;
namespace smtp = kestra::test::smtp;

class TestBackFormSmtp : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_app;
    std::unique_ptr<test::FakePrompt> m_prompt;

    BackForm *reply(const QString &to, const QString &subject, const QString &body)
    {
        BackForm *w = form<BackForm>();
        w->show();
        findControl<QLineEdit>(w, "ToText")->setText(to);
        findControl<QLineEdit>(w, "SubjectText")->setText(subject);
        findControl<QTextEdit>(w, "BodyText")->setPlainText(body);
        return w;
    }

private Q_SLOTS:
    void init()
    {
        m_app = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
        test::installSmtpPorts(test::shortSmtpLimits());
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
        installMailPorts({});
        m_prompt.reset();
        m_app.reset();
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
        QCOMPARE(findControl<QTextEdit>(w, "BodyText")->toPlainText(), QStringLiteral("消えては困る返事"));
        QCOMPARE(findControl<QLineEdit>(w, "ToText")->text(), to);
    }

    // A server that takes the connection and then says nothing, with limits
    // of a minute: "キャンセル" in the progress dialog, clicked while the
    // transfer waits, ends the send long before any limit. Nothing is sent or
    // stored, the box says the send was stopped, and the reply stays.
    void cancelWhileTheServerIsSilent()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        appState().settings.smtpServer = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
        SmtpLimits patient;
        patient.connectSeconds = patient.responseSeconds = patient.stallSeconds = 60;
        patient.totalSeconds = 120;
        test::installSmtpPorts(patient);
        m_prompt->setAutoAnswer(true);
        BackForm *w = reply(smtp::uniqueAddress(), QStringLiteral("Re:  件名"), QStringLiteral("消えては困る返事"));

        // Looked at from the event loop that runs while the mail goes out.
        QElapsedTimer sinceCancel;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &poll, [&] {
            auto *dialog = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
            if (sinceCancel.isValid() || !dialog || !dialog->isVisible() || !silent.hasPendingConnections())
                return;
            sinceCancel.start();
            QTest::mouseClick(dialog->findChild<QPushButton *>(), Qt::LeftButton);
        });
        poll.start(20);
        QTest::mouseClick(findControl<QPushButton>(w, "Command2"), Qt::LeftButton);
        const qint64 afterCancel = sinceCancel.isValid() ? sinceCancel.elapsed() : -1;
        poll.stop();

        QVERIFY2(afterCancel >= 0, "the send ended before the dialog's cancel was clicked");
        QVERIFY2(afterCancel < patient.responseSeconds * 1000 / 2, qPrintable(QString::number(afterCancel)));
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown()[0].text, QStringLiteral("送信を中止しました。"));
        QCOMPARE(m_prompt->shown()[0].title, QStringLiteral("返事を書く"));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(loadedForm<BackForm>(), w);
        QCOMPARE(findControl<QTextEdit>(w, "BodyText")->toPlainText(), QStringLiteral("消えては困る返事"));
        const QFileInfo sent(appPaths().dataFile(QString::fromUtf16(names::sentStore)));
        QVERIFY(!sent.exists() || sent.size() == 0);
    }
};

QTEST_MAIN(TestBackFormSmtp)
#include "tst_backform_smtp.moc"
