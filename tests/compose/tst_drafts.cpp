// Drafts of the compose and reply windows: what was typed survives a kill of
// the program and is offered back at the next start; sending or throwing the
// mail away removes it.
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "compose/BackForm.h"
#include "compose/DraftKeeper.h"
#include "compose/WriteForm.h"
#include "support/FakeSender.h"
#include "storage/Settings.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <cstdio>

using namespace kestra;
using kestra::test::findControl;

namespace {

const QString kTo = QStringLiteral("you@example.test");
const QString kBody = QStringLiteral("長い手紙の途中です。\r\n二行目");

void typeInto(QWidget *control, const QString &text)
{
    control->setFocus(Qt::MouseFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), control);
    test::typeText(text);
}

// The child process: opens the compose window in FOLDER, types into it as a
// user would, says "saved" once the draft is on the disk and waits to be killed.
int runChild(const QString &folder)
{
    appState().appFolder = folder;
    if (!writeKeepDrafts(appPaths().extraIni(), true))
        return 4;
    WriteForm *w = form<WriteForm>();
    w->drafts()->setInterval(20);
    w->show();
    w->activateWindow();
    if (!QTest::qWaitForWindowActive(w))
        return 3;
    typeInto(findControl<QPlainTextEdit>(w, "ToText"), kTo);
    typeInto(findControl<QPlainTextEdit>(w, "BodyText"), QStringLiteral("長い手紙の途中です。"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    test::typeText(QStringLiteral("二行目"));
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const auto read = DraftFile(appPaths().draftsFile()).readAll();
        if (read && read.value().value(QStringLiteral("WriteForm")).body == kBody) {
            std::printf("saved\n");
            std::fflush(stdout);
            poll.stop();
        }
    });
    poll.start(10);
    return QApplication::exec();
}

} // namespace

class TestDrafts : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_folder;
    std::unique_ptr<test::FakePrompt> m_prompt;
    std::unique_ptr<test::FakeSender> m_sender;

    static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    static QMap<QString, Draft> kept()
    {
        const Result<QMap<QString, Draft>> read = DraftFile(appPaths().draftsFile()).readAll();
        return read ? read.value() : QMap<QString, Draft>{{QStringLiteral("(unreadable)"), Draft{}}};
    }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<test::TempAppFolder>();
        QVERIFY(writeKeepDrafts(appPaths().extraIni(), true));
        m_prompt = std::make_unique<test::FakePrompt>();
        m_sender = std::make_unique<test::FakeSender>();
        appState().settings.smtpServer = QStringLiteral("smtp.example.jp");
        appState().settings.mailAddress = QStringLiteral("me@example.jp");
    }
    void cleanup()
    {
        unloadForm<WriteForm>();
        unloadForm<BackForm>();
        flushDeletes();
        QCOMPARE(m_prompt->unexpected(), 0);
        m_sender.reset();
        m_prompt.reset();
        m_folder.reset();
    }

    // A program killed while the compose window holds text: the next start
    // asks, and Yes opens the window with the text; the file is the owner's only.
    void killedComposeTextComesBack()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), m_folder->path()});
        QVERIFY(child.waitForStarted());
        QByteArray said;
        QTRY_VERIFY2_WITH_TIMEOUT((said += child.readAllStandardOutput()).contains("saved"),
                                  child.readAllStandardError().constData(), 20000);
        child.kill(); // SIGKILL: nothing of the program runs after it
        QVERIFY(child.waitForFinished());
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QCOMPARE(QFile::permissions(appPaths().draftsFile()) & 0x0077, QFileDevice::Permissions());

        m_prompt->answer(PromptAnswer::Yes);
        offerDraftRestore();
        QCOMPARE(m_prompt->texts(), QStringList{QStringLiteral("下書きを復元しますか？")});
        WriteForm *w = loadedForm<WriteForm>();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->toText(), kTo);
        QCOMPARE(w->bodyText(), kBody);
    }

    // Without the option the windows work as they always did: a closed
    // window's text goes, and the next start offers nothing.
    void noDraftsUnlessChosen()
    {
        QVERIFY(writeKeepDrafts(appPaths().extraIni(), false));
        WriteForm *w = form<WriteForm>();
        w->setToText(kTo);
        w->setBodyText(kBody);
        w->drafts()->save();
        unloadForm<WriteForm>();
        flushDeletes();
        QVERIFY(kept().isEmpty());
        QVERIFY(!QFile::exists(appPaths().draftsFile()));
        offerDraftRestore(); // an unexpected question would fail the test
        QVERIFY(!loadedForm<WriteForm>());
    }

    // A draft that cannot be written is told once, not at every try; once a
    // save works again, the draft is there.
    void aFailedSaveIsToldOnce()
    {
        const QString path = appPaths().draftsFile();
        QVERIFY(QDir().mkpath(path)); // a folder where the file should go
        WriteForm *w = form<WriteForm>();
        w->setBodyText(kBody);
        w->drafts()->save();
        w->setToText(kTo);
        w->drafts()->save();
        QTRY_COMPARE(m_prompt->shown().size(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(m_prompt->shown().size(), 1);
        QVERIFY2(m_prompt->shown().first().text.contains(QStringLiteral("下書きを保存できません")),
                 qPrintable(m_prompt->shown().first().text));
        QVERIFY(QDir().rmdir(path));
        w->drafts()->save();
        QCOMPARE(kept().value(QStringLiteral("WriteForm")).body, w->draft().body);
    }

    // A damaged drafts file is told at the start instead of being taken for
    // "no drafts", and the next save sets it aside rather than overwrite it.
    void aDamagedFileIsToldAndSetAside()
    {
        const QString path = appPaths().draftsFile();
        const QByteArray damaged = QStringLiteral("{\"WriteForm\":{\"to\":\"a@example.jp\",\"body\":\"途中").toUtf8();
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(damaged);
        }
        offerDraftRestore();
        QCOMPARE(m_prompt->shown().size(), 1);
        QVERIFY2(m_prompt->shown().first().text.contains(QStringLiteral("下書きを読み取れませんでした")),
                 qPrintable(m_prompt->shown().first().text));
        QVERIFY(!loadedForm<WriteForm>());

        WriteForm *w = form<WriteForm>();
        w->setBodyText(kBody);
        w->drafts()->save();
        QCOMPARE(kept().value(QStringLiteral("WriteForm")).body, w->draft().body);
        QCOMPARE(test::readBytes(path + QStringLiteral(".bad")), damaged);

        // Damaged again and again: each is set aside beside the earlier ones, none replaced.
        const QList<QByteArray> later = {"{\"WriteForm\":", "\x81\x40 not json"};
        for (const QByteArray &bytes : later) {
            test::writeBytes(path, bytes);
            QVERIFY(DraftFile(path).save(QStringLiteral("BackForm"), Draft{kTo, {}, {}, {}}));
        }
        QCOMPARE(test::readBytes(path + QStringLiteral(".bad")), damaged);
        QCOMPARE(test::readBytes(path + QStringLiteral(".bad.2")), later.at(0));
        QCOMPARE(test::readBytes(path + QStringLiteral(".bad.3")), later.at(1));
        QCOMPARE(DraftFile(path).readAll().value().value(QStringLiteral("BackForm")).to, kTo);
    }

    // Closing keeps the draft (a close by mistake loses nothing); クリア and a
    // sent mail remove it; No at the start throws it away.
    void composeDraftLifetime()
    {
        WriteForm *w = form<WriteForm>();
        w->setToText(kTo);
        findControl<QLineEdit>(w, "SubjectText")->setText(QStringLiteral("件名"));
        findControl<QLineEdit>(w, "AttachText")->setText(QStringLiteral("/tmp/a.txt,/tmp/b.txt"));
        unloadForm<WriteForm>();
        flushDeletes();
        QCOMPARE(kept().value(QStringLiteral("WriteForm")),
                 (Draft{kTo, QStringLiteral("件名"), QString(), QStringLiteral("/tmp/a.txt,/tmp/b.txt")}));

        m_prompt->answer(PromptAnswer::Yes);
        offerDraftRestore();
        w = loadedForm<WriteForm>();
        QVERIFY(w);
        QCOMPARE(findControl<QListWidget>(w, "List2")->count(), 2);
        QVERIFY(findControl<QPushButton>(w, "Command10")->isEnabled());
        findControl<QPushButton>(w, "Command11")->click();
        QVERIFY(kept().isEmpty());

        w->setToText(kTo);
        w->setBodyText(kBody);
        w->drafts()->save();
        QCOMPARE(kept().size(), 1);
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(int(m_sender->calls.size()), 1);
        flushDeletes();
        QVERIFY(kept().isEmpty());

        w = form<WriteForm>();
        w->setBodyText(kBody);
        unloadForm<WriteForm>();
        flushDeletes();
        m_prompt->answer(PromptAnswer::No);
        offerDraftRestore();
        QVERIFY(!loadedForm<WriteForm>());
        QVERIFY(kept().isEmpty());
    }

    // A new reply's quoted mail is no draft until the user writes; a sent
    // reply leaves none; a reply that did not go out keeps its draft.
    void replyDraftLifetime()
    {
        BackForm *w = form<BackForm>();
        w->prepareReply(kTo, QStringLiteral("Re:  件名"), QStringLiteral("> 元のメール"));
        w->drafts()->save();
        QVERIFY(kept().isEmpty());
        findControl<QTextEdit>(w, "BodyText")->setPlainText(QStringLiteral("お返事です。\n> 元のメール"));
        w->drafts()->save();
        QCOMPARE(kept().value(QStringLiteral("BackForm")).body, QStringLiteral("お返事です。\n> 元のメール"));

        m_sender->failSend(1, QStringLiteral("550 宛先が見つかりません"));
        m_prompt->setAutoAnswer(true);
        findControl<QPushButton>(w, "Command2")->click();
        QCOMPARE(kept().size(), 1);
        findControl<QPushButton>(w, "Command2")->click();
        flushDeletes();
        QVERIFY(!loadedForm<BackForm>());
        QVERIFY(kept().isEmpty());
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--child")
        return runChild(QString::fromLocal8Bit(argv[2]));
    TestDrafts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_drafts.moc"
