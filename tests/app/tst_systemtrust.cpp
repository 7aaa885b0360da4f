// Receiving and sending with the test servers' authority reached the way a
// real one is: through the system's trust store (tests/servers/system_trust.sh
// runs this test in a mount namespace whose /etc/ssl/certs holds it), with the
// settings typed into the settings windows and the mail ports the program
// installs at start. Nothing is injected.

#include "app/MainForm.h"
#include "app/ReceiveMail.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "compose/WriteForm.h"
#include "app/NetworkMailPorts.h"
#include "settings/MailOptionsInForce.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/Settings.h"
#include "support/TestSupport.h"

#include "servers/DovecotBox.h"
#include "servers/SmtpTestServer.h"
#include "support/FindControl.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

using namespace kestra;
using kestra::test::findControl;
namespace smtp = kestra::test::smtp;

namespace {

// Types `text` into `box` as a user does: a click into it, select all, keys.
void typeInto(QLineEdit *box, const QString &text)
{
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), box);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(QApplication::focusWidget(), text);
}

QStringList receivedSubjects()
{
    QStringList subjects;
    (void)scanRecords(appPaths().dataFile(QString::fromUtf16(names::receivedStore)), MailRecord::kLength,
        [&](qint64, const QByteArray &bytes) {
            subjects.append(trimBlanks(MailRecord::decode(bytes).Subject));
            return true;
        });
    return subjects;
}

QByteArray message(const QString &subject)
{
    return "From: sender@example.jp\r\nTo: trust@maildir.test\r\nSubject: =?UTF-8?B?" + subject.toUtf8().toBase64()
        + "?=\r\nDate: Tue, 8 Dec 2026 10:00:00 +0900\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n"
        + QStringLiteral("本文です。\r\n").toUtf8();
}

} // namespace

class TestSystemTrust : public QObject
{
    Q_OBJECT

    test::DovecotBox m_box { QStringLiteral(KESTRA_DOVECOT_DIR), QStringLiteral("trust") };
    std::unique_ptr<test::TempAppFolder> m_app;
    std::unique_ptr<test::FakePrompt> m_prompts;

    // The server settings and the account as the user enters them in the
    // windows; kestra.ini is then read back as start-up reads it.
    // With `pop3sPort`, POP3 is set to SSL/TLS on that port in the window's
    // connection settings (the server name then carries no port).
    void configure(const QString &smtpServer, const QString &pop3Server, int pop3sPort = 0)
    {
        OptionForm *options = form<OptionForm>();
        options->show();
        QVERIFY(QTest::qWaitForWindowExposed(options));
        typeInto(findControl<QLineEdit>(options, "SmtpText"), smtpServer);
        typeInto(findControl<QLineEdit>(options, "Pop3Text"), pop3Server);
        typeInto(findControl<QLineEdit>(options, "MailText"), QStringLiteral("trust@example.test"));
        if (pop3sPort) {
            // From the unset choice, past STARTTLS.
            findControl<QComboBox>(options, "Pop3Security")->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
            QCOMPARE(
                findControl<QComboBox>(options, "Pop3Security")->currentText(), QStringLiteral("SSL/TLS"));
            QCOMPARE(findControl<QLineEdit>(options, "Pop3Port")->text(), QStringLiteral("995"));
            typeInto(findControl<QLineEdit>(options, "Pop3Port"), QString::number(pop3sPort));
        }
        QTest::mouseClick(findControl<QPushButton>(options, "OkCommand"), Qt::LeftButton);
        QVERIFY(!loadedForm<OptionForm>());

        IdPassForm *account = form<IdPassForm>();
        account->show();
        QVERIFY(QTest::qWaitForWindowExposed(account));
        typeInto(findControl<QLineEdit>(account, "IdText"), m_box.user());
        typeInto(findControl<QLineEdit>(account, "PassText"), m_box.password());
        QTest::mouseClick(findControl<QCheckBox>(account, "Check1"), Qt::LeftButton);
        QVERIFY(findControl<QCheckBox>(account, "Check1")->isChecked());
        QTest::mouseClick(findControl<QPushButton>(account, "OKCommand"), Qt::LeftButton);
        QVERIFY(!loadedForm<IdPassForm>());

        appState().settings = SharedSettings();
        QVERIFY(readKestraIni(appPaths().kestraIni(), appState().settings));
    }

    void send(const QString &to, const QString &subject)
    {
        WriteForm *w = form<WriteForm>();
        w->show();
        w->setToText(to);
        findControl<QLineEdit>(w, "SubjectText")->setText(subject);
        w->setBodyText(QStringLiteral("システムの信頼で送ります。"));
        findControl<QPushButton>(w, "Command1")->click();
    }

    // Two mails put on the server, then 受信 through the main window: no box,
    // the status text, both mails stored in order.
    bool receivesTwoMails(MainForm &main)
    {
        m_box.put(message(QStringLiteral("一通目")));
        m_box.put(message(QStringLiteral("二通目")));
        ReceiveMail(main);
        [&] {
            QVERIFY2(m_prompts->shown().isEmpty(), qPrintable(m_prompts->texts().join(u'\n')));
            QCOMPARE(findControl<QLineEdit>(&main, "Text3")->text(), QStringLiteral("新着メール有り。"));
            QCOMPARE(receivedSubjects(), (QStringList { QStringLiteral("一通目"), QStringLiteral("二通目") }));
        }();
        return !QTest::currentTestFailed();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_box.running(), "the Dovecot fixture is not running");
        QVERIFY2(smtp::port(smtp::Kind::StartTls) != 0, "the SMTP fixture is not running");
    }

    void init()
    {
        m_box.clear();
        m_app = std::make_unique<test::TempAppFolder>();
        m_prompts = std::make_unique<test::FakePrompt>();
        // As the program does at start: the real ports, nothing added to them.
        installMailPorts(networkMailPorts());
    }

    void cleanup()
    {
        QCOMPARE(m_prompts->unexpected(), 0);
        test::closeAllWindows();
        installMailPorts({});
        m_prompts.reset();
        m_app.reset();
    }

    void receives_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("pop3sPort");
        QTest::newRow("STLS") << QStringLiteral("127.0.0.1:%1").arg(m_box.plainPort()) << 0;
        QTest::newRow("POP3 over TLS, by name") << QStringLiteral("pop3s://localhost:%1").arg(m_box.tlsPort()) << 0;
        QTest::newRow("SSL/TLS chosen in the window") << QStringLiteral("localhost") << int(m_box.tlsPort());
    }

    void receives()
    {
        QFETCH(QString, server);
        QFETCH(int, pop3sPort);
        configure(QString(), server, pop3sPort);
        MainForm main;
        QVERIFY(receivesTwoMails(main));
        QTRY_COMPARE(m_box.count(), 0);
    }

    // IMAP chosen and its server typed into the server settings window, the
    // connection choice left as it comes (STARTTLS where offered): the mail
    // is received once and stays on the server.
    void receivesOverImap()
    {
        configure(QString(), QStringLiteral("127.0.0.1:%1").arg(m_box.plainPort()));
        OptionForm *options = form<OptionForm>();
        options->show();
        QVERIFY(QTest::qWaitForWindowExposed(options));
        findControl<QComboBox>(options, "ReceiveProtocol")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(findControl<QComboBox>(options, "ReceiveProtocol")->currentText(), QStringLiteral("IMAP"));
        typeInto(findControl<QLineEdit>(options, "ImapText"), QStringLiteral("localhost:%1").arg(m_box.imapPort()));
        QTest::mouseClick(findControl<QPushButton>(options, "OkCommand"), Qt::LeftButton);
        QVERIFY(!loadedForm<OptionForm>());

        MainForm main;
        QVERIFY(receivesTwoMails(main));
        QCOMPARE(m_box.count(), 2);
        ReceiveMail(main);
        QVERIFY2(m_prompts->shown().isEmpty(), qPrintable(m_prompts->texts().join(u'\n')));
        QCOMPARE(findControl<QLineEdit>(&main, "Text3")->text(), QStringLiteral("新着メール無し。"));
        QCOMPARE(receivedSubjects().size(), 2);
    }

    void sends_data()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("STARTTLS") << QStringLiteral("smtp://localhost:%1").arg(smtp::port(smtp::Kind::StartTls));
        QTest::newRow("SMTP over TLS") << QStringLiteral("smtps://127.0.0.1:%1").arg(smtp::port(smtp::Kind::Smtps));
    }

    void sends()
    {
        QFETCH(QString, server);
        configure(server, QStringLiteral("127.0.0.1:%1").arg(m_box.plainPort()));
        const QString to = smtp::uniqueAddress();
        send(to, QStringLiteral("信頼の確認"));
        QVERIFY2(m_prompts->shown().isEmpty(), qPrintable(m_prompts->texts().join(u'\n')));
        const QList<smtp::Received> got = smtp::receivedFor(to);
        QCOMPARE(got.size(), 1);
        QVERIFY(got[0].tls);
        QCOMPARE(got[0].user, m_box.user());
    }

    // Written, sent over STARTTLS, delivered to the Dovecot account and
    // received over STLS.
    void wholeWay()
    {
        configure(QStringLiteral("localhost:%1").arg(smtp::port(smtp::Kind::StartTls)),
            QStringLiteral("localhost:%1").arg(m_box.plainPort()));
        send(m_box.user() + QStringLiteral("@maildir.test"), QStringLiteral("一周"));
        QVERIFY2(m_prompts->shown().isEmpty(), qPrintable(m_prompts->texts().join(u'\n')));
        QTRY_COMPARE(m_box.count(), 1);

        MainForm main;
        ReceiveMail(main);
        QVERIFY2(m_prompts->shown().isEmpty(), qPrintable(m_prompts->texts().join(u'\n')));
        QCOMPARE(receivedSubjects(), QStringList { QStringLiteral("一周") });
        QTRY_COMPARE(m_box.count(), 0);
    }
};

QTEST_MAIN(TestSystemTrust)
#include "tst_systemtrust.moc"
