// Drafts of the compose and reply windows: what was typed survives a kill of
// the program, a close and another window, and is offered back at the next
// start and by 新規作成; sending or throwing the mail away removes it.
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
#include <QPointer>
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

// The kept drafts of one window kind, oldest key first.
QList<Draft> keptOfKind(const QMap<QString, Draft> &all, const QString &kind)
{
    QList<Draft> out;
    for (auto it = all.begin(); it != all.end(); ++it) {
        if (draftKind(it.key()) == kind)
            out.append(it.value());
    }
    return out;
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
        if (read && read.value().value(w->drafts()->name()).body == kBody) {
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

        m_prompt->answerChoice(0);
        offerDraftRestore();
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown().first().kind, test::ShownPrompt::Kind::Choice);
        QCOMPARE(m_prompt->shown().first().items, QStringList{QStringLiteral("新規作成・送信：長い手紙の途中です。")});
        WriteForm *w = loadedForm<WriteForm>();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->toText(), kTo);
        QCOMPARE(w->bodyText(), kBody);
    }

    // Without the option the windows work as they always did: a closed
    // window's text goes without a question, and the next start offers nothing.
    void noDraftsUnlessChosen()
    {
        QVERIFY(writeKeepDrafts(appPaths().extraIni(), false));
        WriteForm *w = form<WriteForm>();
        w->setToText(kTo);
        w->setBodyText(kBody);
        w->drafts()->save();
        QVERIFY(w->close()); // the frame's ×: nothing asked
        flushDeletes();
        QVERIFY(!loadedForm<WriteForm>());
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
        QCOMPARE(kept().value(w->drafts()->name()).body, w->draft().body);
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
        QCOMPARE(kept().value(w->drafts()->name()).body, w->draft().body);
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

    // An unload by the program keeps the draft (quitting loses nothing); クリア
    // and a sent mail remove it; a start where the user opens none keeps it.
    void composeDraftLifetime()
    {
        WriteForm *w = form<WriteForm>();
        w->setToText(kTo);
        findControl<QLineEdit>(w, "SubjectText")->setText(QStringLiteral("件名"));
        findControl<QLineEdit>(w, "AttachText")->setText(QStringLiteral("/tmp/a.txt,/tmp/b.txt"));
        unloadForm<WriteForm>();
        flushDeletes();
        QCOMPARE(kept().values(),
                 QList<Draft>{(Draft{kTo, QStringLiteral("件名"), QString(), QStringLiteral("/tmp/a.txt,/tmp/b.txt")})});

        m_prompt->answerChoice(0);
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
        m_prompt->answerChoice(-1);
        offerDraftRestore();
        QVERIFY(!loadedForm<WriteForm>());
        QCOMPARE(keptOfKind(kept(), QStringLiteral("WriteForm")).value(0).body, kBody);
    }

    // Two compose windows one after the other, typed into as a user does:
    // each text is its own draft, neither written over by the other, and
    // 新規作成 asks which one to open or a new mail.
    void eachComposeWindowKeepsItsOwnDraft()
    {
        const QStringList texts = {QStringLiteral("first letter"), QStringLiteral("second letter")};
        for (int i = 0; i < texts.size(); ++i) {
            if (i > 0)
                m_prompt->answerChoice(i); // the line after the drafts: a new mail
            newMailOrDraft();
            WriteForm *w = loadedForm<WriteForm>();
            QVERIFY(w && w->isVisible());
            QCOMPARE(w->bodyText(), QString());
            w->drafts()->setInterval(10);
            w->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(w));
            findControl<QPlainTextEdit>(w, "BodyText")->setFocus(Qt::MouseFocusReason);
            QTest::keyClicks(QApplication::focusWidget(), texts.at(i));
            // The timer keeps the text while the window is open, under its own key.
            QTRY_VERIFY(kept().values().contains(Draft{{}, {}, texts.at(i), {}}));
            QCOMPARE(kept().size(), i + 1);
            m_prompt->answerSave(SaveAnswer::Save);
            findControl<QPushButton>(w, "Command3")->click();
            flushDeletes();
            QVERIFY(!loadedForm<WriteForm>());
        }
        QCOMPARE(keptOfKind(kept(), QStringLiteral("WriteForm")),
                 (QList<Draft>{Draft{{}, {}, texts.at(0), {}}, Draft{{}, {}, texts.at(1), {}}}));

        m_prompt->clear();
        m_prompt->answerChoice(0);
        newMailOrDraft();
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown().first().items,
                 (QStringList{QStringLiteral("新規作成・送信：first letter"),
                              QStringLiteral("新規作成・送信：second letter"), QStringLiteral("（新しいメールを書く）")}));
        WriteForm *w = loadedForm<WriteForm>();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->bodyText(), texts.at(0));
        // Further typing goes to the opened draft, not to a third one.
        w->setBodyText(QStringLiteral("first letter, longer"));
        QVERIFY(w->drafts()->save());
        QCOMPARE(kept().size(), 2);
        QVERIFY(kept().values().contains(Draft{{}, {}, QStringLiteral("first letter, longer"), {}}));
        // The window on the screen is only brought to the front: nothing asked.
        newMailOrDraft();
        QCOMPARE(m_prompt->shown().size(), 1);
        // キャンセル of the choice opens nothing.
        m_prompt->answerSave(SaveAnswer::Save);
        QVERIFY(w->close());
        flushDeletes();
        m_prompt->answerChoice(-1);
        newMailOrDraft();
        QVERIFY(!loadedForm<WriteForm>() || !loadedForm<WriteForm>()->isVisible());
    }

    // Every way out of a window with text asks 保存 / 破棄 / キャンセル, and each
    // answer does what it says; the kept draft was already on the disk.
    void closingAsksWhatToDoWithTheText_data()
    {
        QTest::addColumn<bool>("reply");
        QTest::addColumn<QString>("way"); // a button's name, or "x" for the frame's ×
        QTest::addColumn<SaveAnswer>("answer");
        const QList<std::pair<const char *, SaveAnswer>> answers
            = {{"保存", SaveAnswer::Save}, {"破棄", SaveAnswer::Discard}, {"キャンセル", SaveAnswer::Cancel}};
        const QList<std::tuple<const char *, bool, QString>> ways
            = {{"compose ×", false, QStringLiteral("x")}, {"compose 送信中止", false, QStringLiteral("Command3")},
               {"compose ホーム", false, QStringLiteral("Command8")}, {"reply ×", true, QStringLiteral("x")},
               {"reply ホーム", true, QStringLiteral("Command1")}};
        for (const auto &[name, reply, way] : ways) {
            for (const auto &[label, answer] : answers)
                QTest::addRow("%s %s", name, label) << reply << way << answer;
        }
    }
    void closingAsksWhatToDoWithTheText()
    {
        QFETCH(bool, reply);
        QFETCH(QString, way);
        QFETCH(SaveAnswer, answer);
        QPointer<QWidget> w = reply ? static_cast<QWidget *>(form<BackForm>()) : form<WriteForm>();
        if (reply)
            form<BackForm>()->prepareReply(kTo, QStringLiteral("Re:  件名"), QStringLiteral("> 元のメール"));
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QWidget *body = reply ? static_cast<QWidget *>(findControl<QTextEdit>(w, "BodyText"))
                              : findControl<QPlainTextEdit>(w, "BodyText");
        body->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(QApplication::focusWidget(), "my answer ");
        DraftKeeper *keeper = reply ? form<BackForm>()->drafts() : form<WriteForm>()->drafts();
        QVERIFY(keeper->save());
        const Draft typed = kept().value(keeper->name());
        QVERIFY(typed.body.startsWith(QStringLiteral("my answer ")));

        m_prompt->answerSave(answer);
        if (way == QLatin1String("x"))
            w->close();
        else
            findControl<QPushButton>(w, qPrintable(way))->click();
        flushDeletes();
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown().first().kind, test::ShownPrompt::Kind::SaveQuestion);
        QCOMPARE(m_prompt->shown().first().title, reply ? BackForm::caption() : WriteForm::caption());
        const bool open = !w.isNull();
        QCOMPARE(open, answer == SaveAnswer::Cancel);
        if (open) {
            QCOMPARE(reply ? static_cast<QWidget *>(loadedForm<BackForm>()) : loadedForm<WriteForm>(), w.data());
            QVERIFY(w->isVisible());
            QCOMPARE(reply ? findControl<QTextEdit>(w, "BodyText")->toPlainText()
                           : findControl<QPlainTextEdit>(w, "BodyText")->toPlainText(),
                     typed.body);
        }
        QCOMPARE(kept().values(), answer == SaveAnswer::Discard ? QList<Draft>() : QList<Draft>{typed});
    }

    // A reply window given another mail to answer keeps the reply it held as
    // a draft of its own, and a file written before windows had keys of their
    // own is offered too, each in the window of its kind.
    void anotherReplyAndAnOldFileLoseNothing()
    {
        BackForm *reply = form<BackForm>();
        reply->prepareReply(kTo, QStringLiteral("Re:  一通目"), QStringLiteral("> 一通目"));
        findControl<QTextEdit>(reply, "BodyText")->setPlainText(QStringLiteral("一通目への返事"));
        reply->prepareReply(kTo, QStringLiteral("Re:  二通目"), QStringLiteral("> 二通目"));
        QCOMPARE(kept().values(), QList<Draft>{(Draft{kTo, QStringLiteral("Re:  一通目"), QStringLiteral("一通目への返事"), {}})});
        unloadForm<BackForm>();
        flushDeletes();

        test::writeBytes(appPaths().draftsFile(),
                         QStringLiteral("{\"BackForm\":{\"attachments\":\"\",\"body\":\"古い返事\",\"subject\":\"Re: 古い\","
                                        "\"to\":\"old@example.jp\"},\"WriteForm\":{\"attachments\":\"\",\"body\":\"古い手紙\","
                                        "\"subject\":\"\",\"to\":\"\"}}")
                             .toUtf8());
        m_prompt->answerChoice(0);
        offerDraftRestore();
        QCOMPARE(m_prompt->shown().first().items,
                 (QStringList{QStringLiteral("返事を書く：Re: 古い"), QStringLiteral("新規作成・送信：古い手紙")}));
        reply = loadedForm<BackForm>();
        QVERIFY(reply && reply->isVisible());
        QCOMPARE(reply->draft(), (Draft{QStringLiteral("old@example.jp"), QStringLiteral("Re: 古い"), QStringLiteral("古い返事"), {}}));
        // The reply on the screen is not offered again; the other one opens in the compose window.
        m_prompt->answerChoice(0);
        newMailOrDraft();
        QCOMPARE(m_prompt->shown().last().items,
                 (QStringList{QStringLiteral("新規作成・送信：古い手紙"), QStringLiteral("（新しいメールを書く）")}));
        QCOMPARE(loadedForm<WriteForm>()->bodyText(), QStringLiteral("古い手紙"));
        // Sent, the old draft goes under its old key.
        m_prompt->setAutoAnswer(true);
        findControl<QPushButton>(reply, "Command2")->click();
        flushDeletes();
        QCOMPARE(kept().keys(), QStringList{QStringLiteral("WriteForm")});
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
        QCOMPARE(kept().value(w->drafts()->name()).body, QStringLiteral("お返事です。\n> 元のメール"));

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
