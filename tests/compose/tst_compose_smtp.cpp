// The compose window sending through the real SMTP sender to the test
// servers: what arrives is read back and compared with what was typed.

#include "servers/ParsedMail.h"
#include "servers/SmtpTestServer.h"

#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "compose/Greetings.h"
#include "compose/WriteForm.h"
#include "support/SmtpPorts.h"
#include "smtp/SmtpSender.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

using namespace kestra;
using kestra::test::findControl;
namespace smtp = kestra::test::smtp;

namespace {

QString dataPath(const char16_t *name)
{
    return appPaths().dataFile(QString::fromUtf16(name));
}

int sentRecordCount()
{
    int n = 0;
    const Status s
        = scanRecords(dataPath(names::sentStore), MailRecord::kLength, [&](qint64, const QByteArray &) {
              ++n;
              return true;
          });
    return s ? n : -1;
}

} // namespace

class TestComposeSmtp : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::TempAppFolder> m_app;
    std::unique_ptr<test::FakePrompt> m_prompt;

    WriteForm *openForm(const QString &to, const QString &subject, const QString &body)
    {
        WriteForm *w = form<WriteForm>();
        w->show();
        w->setToText(to);
        findControl<QLineEdit>(w, "SubjectText")->setText(subject);
        w->setBodyText(body);
        return w;
    }

private Q_SLOTS:
    void init()
    {
        m_prompt.reset();
        m_app.reset();
        m_app = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
        test::installSmtpPorts(test::shortSmtpLimits());
        SharedSettings &s = appState().settings;
        s.smtpServer = smtp::server(smtp::Kind::StartTls);
        s.mailAddress = QStringLiteral("me@example.test");
        s.pop3Id = QString::fromLatin1(smtp::kUser);
        s.pop3Password = QString::fromLatin1(smtp::kPassword);
        appState().clockText = QStringLiteral("2026/12/08 10:20:30");
    }

    void cleanup()
    {
        unloadForm<WriteForm>();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const int unexpected = m_prompt->unexpected();
        installMailPorts({});
        m_prompt.reset();
        m_app.reset();
        QCOMPARE(unexpected, 0);
    }

    // A Japanese mail with two attachments picked in turn arrives whole.
    void mailWithAttachments()
    {
        QByteArray binary;
        for (int i = 0; i < 3000; ++i)
            binary.append(char((i * 7) & 0xFF));
        const QString first = m_app->path() + QStringLiteral("/写真 一枚目.jpg");
        const QString second = m_app->path() + QStringLiteral("/notes.txt");
        test::writeBytes(first, binary);
        test::writeBytes(second, QByteArray("line one\r\nline two\r\n"));

        const QString to = smtp::uniqueAddress();
        const QString subject = QStringLiteral("週末の打ち合わせについて");
        const QString body
            = QStringLiteral("田中様\r\n\r\nいつもお世話になっております。\r\n資料を二点お送りします。");
        WriteForm *w = openForm(to, subject, body);
        m_prompt->answerFile(first);
        findControl<QPushButton>(w, "AttachCommand")->click();
        m_prompt->answerFile(second);
        findControl<QPushButton>(w, "Command9")->click();
        findControl<QPushButton>(w, "Command1")->click();
        QVERIFY2(m_prompt->shown().size() == 2, qPrintable(m_prompt->texts().join(QLatin1Char('\n'))));

        const QList<smtp::Received> got = smtp::receivedFor(to);
        QCOMPARE(got.size(), 1);
        QVERIFY(got[0].tls);
        QCOMPARE(got[0].user, QString::fromLatin1(smtp::kUser));
        const test::ParsedMail mail = test::parseMail(got[0].source);
        QCOMPARE(mail.subject, subject);
        QVERIFY2(test::sameBody(mail.body, body), qPrintable(mail.body));
        QCOMPARE(mail.from, QStringLiteral("me@example.test"));
        QCOMPARE(mail.attachments.size(), 2);
        QCOMPARE(mail.attachments[0].fileName, QStringLiteral("写真 一枚目.jpg"));
        QCOMPARE(mail.attachments[0].contentType, QStringLiteral("image/jpeg"));
        QCOMPARE(mail.attachments[0].bytes, binary);
        QCOMPARE(mail.attachments[1].fileName, QStringLiteral("notes.txt"));
        QCOMPARE(mail.attachments[1].bytes, QByteArray("line one\r\nline two\r\n"));
        QCOMPARE(sentRecordCount(), 1);
        QVERIFY(!loadedForm<WriteForm>());
    }

    void fortuneArrives()
    {
        const QString to = smtp::uniqueAddress();
        WriteForm *w = openForm(to, QStringLiteral("占い"), QStringLiteral("一行だけ"));
        findControl<QCheckBox>(w, "Check1")->setChecked(true);
        w->setRandomSource([] { return 0.7f; }); // k = 9
        findControl<QPushButton>(w, "Command1")->click();
        const QList<smtp::Received> got = smtp::receivedFor(to);
        QCOMPARE(got.size(), 1);
        const QString expected = withFortune(QStringLiteral("一行だけ"), 9);
        QVERIFY2(test::sameBody(test::parseMail(got[0].source).body, expected),
            qPrintable(test::parseMail(got[0].source).body));
    }

    void bulkToThreeAddresses()
    {
        const QStringList addresses = { smtp::uniqueAddress(), smtp::uniqueAddress(), smtp::uniqueAddress() };
        QByteArray book;
        for (int i = 0; i < 3; ++i) {
            AddressRecord r;
            r.Name = QStringLiteral("宛先%1").arg(i + 1);
            r.Address = addresses[i];
            book += r.encode();
        }
        test::writeBytes(dataPath(names::addressBook), book);
        WriteForm *w = openForm(QString(), QStringLiteral("一斉のお知らせ"), QStringLiteral("皆様へ"));
        findControl<QPushButton>(w, "Command4")->click();
        findControl<QRadioButton>(w, "Option2")->click();
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(w, "Command1")->click();
        for (const QString &a : addresses) {
            const QList<smtp::Received> got = smtp::receivedFor(a);
            QCOMPARE(got.size(), 1);
            QCOMPARE(got[0].rcptTos, QStringList { a });
            QCOMPARE(test::parseMail(got[0].source).to, QStringList { a });
        }
        QCOMPARE(sentRecordCount(), 3);
        QCOMPARE(m_prompt->shown().size(), 1); // the question before the run
        QVERIFY(!loadedForm<WriteForm>());
    }

    // A bulk run where mails fail (the server stopped, or one recipient
    // refused): one box lists each failed address, the window stays with the
    // mail, and only mails that went out are recorded.
    void bulkWithFailures_data()
    {
        QTest::addColumn<bool>("serverDown");
        QTest::newRow("server stopped") << true;
        QTest::newRow("one recipient refused") << false;
    }
    void bulkWithFailures()
    {
        QFETCH(bool, serverDown);
        const QStringList addresses
            = { smtp::uniqueAddress(), smtp::uniqueAddress(QStringLiteral("refuse")), smtp::uniqueAddress() };
        QByteArray book;
        for (const QString &a : addresses) {
            AddressRecord r;
            r.Name = a.left(8);
            r.Address = a;
            book += r.encode();
        }
        test::writeBytes(dataPath(names::addressBook), book);
        if (serverDown)
            appState().settings.smtpServer = QStringLiteral("127.0.0.1:%1").arg(smtp::closedPort());
        m_prompt->setAutoAnswer(true);
        WriteForm *w = openForm(QString(), QStringLiteral("一斉のお知らせ"), QStringLiteral("大事な本文"));
        findControl<QPushButton>(w, "Command4")->click();
        findControl<QRadioButton>(w, "Option2")->click();
        findControl<QPushButton>(w, "Command1")->click();

        QCOMPARE(m_prompt->shown().size(), 2);
        const test::ShownPrompt box = m_prompt->shown().at(1);
        QCOMPARE(box.title, QStringLiteral("送信エラー"));
        const QStringList failed = serverDown ? addresses : QStringList { addresses[1] };
        QCOMPARE(box.text.count(QStringLiteral("\r\n")), failed.size());
        for (const QString &a : addresses) {
            QCOMPARE(box.text.contains(a), failed.contains(a));
            QCOMPARE(smtp::receivedFor(a).size(), failed.contains(a) ? 0 : 1);
        }
        QCOMPARE(sentRecordCount(), int(addresses.size() - failed.size()));
        QCOMPARE(loadedForm<WriteForm>(), w);
        QCOMPARE(findControl<QLineEdit>(w, "SubjectText")->text(), QStringLiteral("一斉のお知らせ"));
        QCOMPARE(w->bodyText(), QStringLiteral("大事な本文"));
    }

    void refusedRecipient()
    {
        m_prompt->setAutoAnswer(true);
        const QString to = smtp::uniqueAddress(QStringLiteral("refuse"));
        WriteForm *w = openForm(to, QStringLiteral("件名"), QStringLiteral("本文"));
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown()[0].title, QStringLiteral("送信エラー"));
        QVERIFY2(m_prompt->shown()[0].text.contains(to), qPrintable(m_prompt->shown()[0].text));
        QCOMPARE(smtp::receivedFor(to).size(), 0);
        QCOMPARE(sentRecordCount(), 0);
        QCOMPARE(loadedForm<WriteForm>(), w);
        QCOMPARE(w->toText(), to);
    }

    void noServer()
    {
        m_prompt->setAutoAnswer(true);
        appState().settings.smtpServer = QStringLiteral("127.0.0.1:%1").arg(smtp::closedPort());
        WriteForm *w = openForm(smtp::uniqueAddress(), QStringLiteral("件名"), QStringLiteral("本文"));
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(m_prompt->shown().size(), 1);
        QVERIFY2(m_prompt->shown()[0].text.contains(QStringLiteral("接続できません")),
            qPrintable(m_prompt->shown()[0].text));
        QCOMPARE(sentRecordCount(), 0);
        QCOMPARE(loadedForm<WriteForm>(), w);
    }

    // An attachment that went away after it was picked: nothing is sent.
    void unreadableAttachment()
    {
        m_prompt->setAutoAnswer(true);
        const QString to = smtp::uniqueAddress();
        WriteForm *w = openForm(to, QStringLiteral("件名"), QStringLiteral("本文"));
        m_prompt->answerFile(m_app->path() + QStringLiteral("/消えたファイル.doc"));
        findControl<QPushButton>(w, "AttachCommand")->click();
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(m_prompt->shown().size(), 2);
        QVERIFY(m_prompt->shown()[1].text.contains(QStringLiteral("消えたファイル.doc")));
        QCOMPARE(smtp::receivedFor(to).size(), 0);
        QCOMPARE(sentRecordCount(), 0);
    }
};

QTEST_MAIN(TestComposeSmtp)
#include "tst_compose_smtp.moc"
