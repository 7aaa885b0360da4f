// The main window's buttons and start-up open the other windows.
#include "addressbook/FriendForm.h"
#include "app/MainForm.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "compose/WriteForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

using namespace kestra;
using kestra::test::FakePrompt;
using kestra::test::findControl;
using kestra::test::TempAppFolder;
using kestra::test::writeBytes;

namespace {

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace

class MainWindowsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void startupOpensServerSettingsOnlyWithoutReceiveServer_data();
    void startupOpensServerSettingsOnlyWithoutReceiveServer();
    void settingsButtonShowsChooser();
    void addressBookButtonShowsBook();
    void composeWindowLoadedHiddenAndShownByNewMail();
    void captureButton_data();
    void captureButton();
};

void MainWindowsTest::cleanup()
{
    unloadForm<SetForm>();
    unloadForm<OptionForm>();
    unloadForm<IdPassForm>();
    unloadForm<FriendForm>();
    unloadForm<WriteForm>();
    settle();
    QApplication::clipboard()->clear();
}

void MainWindowsTest::startupOpensServerSettingsOnlyWithoutReceiveServer_data()
{
    QTest::addColumn<QByteArray>("ini"); // empty: no kestra.ini at all
    QTest::addColumn<QByteArray>("extra"); // kestra2.ini; empty: none
    QTest::addColumn<bool>("opens");
    const QByteArray none;
    const QByteArray imapAccount("[imap]\nreceive=true\nserver=imap.x\n");
    QTest::newRow("no kestra.ini") << none << none << true;
    QTest::newRow("empty POP3 value") << QByteArray("SMTP=smtp.x\r\nPOP3=\r\nMAIL=a@x\r\nAPOP=0\r\n") << none << true;
    QTest::newRow("key in small letters") << QByteArray("pop3=pop.x\r\n") << none << true;
    QTest::newRow("POP3 server set") << QByteArray("SMTP=smtp.x\r\nPOP3=pop.x\r\nMAIL=a@x\r\nAPOP=1\r\n") << none
                                     << false;
    QTest::newRow("blank POP3 server") << QByteArray("POP3= \r\n") << none << false;
    // Mail comes over IMAP: its server is what counts, not the POP3 one.
    QTest::newRow("IMAP server, no POP3") << QByteArray("SMTP=smtp.x\r\nPOP3=\r\n") << imapAccount << false;
    QTest::newRow("IMAP chosen, no IMAP server")
        << QByteArray("SMTP=smtp.x\r\nPOP3=pop.x\r\n") << QByteArray("[imap]\nreceive=true\n") << true;
    QTest::newRow("IMAP server kept, POP3 chosen")
        << QByteArray("POP3=\r\n") << QByteArray("[imap]\nreceive=false\nserver=imap.x\n") << true;
}

void MainWindowsTest::startupOpensServerSettingsOnlyWithoutReceiveServer()
{
    QFETCH(QByteArray, ini);
    QFETCH(QByteArray, extra);
    QFETCH(bool, opens);
    TempAppFolder folder;
    FakePrompt prompts;
    if (!ini.isEmpty())
        writeBytes(appPaths().kestraIni(), ini);
    if (!extra.isEmpty())
        writeBytes(appPaths().extraIni(), extra);

    auto main = std::make_unique<MainForm>();
    main->Form_Load();
    OptionForm *w = loadedForm<OptionForm>();
    QCOMPARE(w != nullptr, opens);
    if (opens) {
        QVERIFY(w->isVisible());
        QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(findControl<QLineEdit>(w, "Pop3Text")->text(), appState().settings.pop3Server);
    }
    QVERIFY(main->isVisible());
    QCOMPARE(prompts.unexpected(), 0);
}

void MainWindowsTest::settingsButtonShowsChooser()
{
    TempAppFolder folder;
    FakePrompt prompts;
    auto main = std::make_unique<MainForm>();
    QVERIFY(!loadedForm<SetForm>());
    findControl<QPushButton>(main, "Command8")->click();
    SetForm *chooser = loadedForm<SetForm>();
    QVERIFY(chooser);
    QVERIFY(chooser->isVisible());
    QVERIFY(!chooser->isModal());

    // A second press brings up the same window.
    findControl<QPushButton>(main, "Command8")->click();
    QCOMPARE(loadedForm<SetForm>(), chooser);
    QVERIFY(main->isEnabled());
}

void MainWindowsTest::addressBookButtonShowsBook()
{
    TempAppFolder folder;
    FakePrompt prompts;
    auto main = std::make_unique<MainForm>();
    findControl<QPushButton>(main, "Command5")->click();
    FriendForm *book = loadedForm<FriendForm>();
    QVERIFY(book);
    QVERIFY(book->isVisible());
    QVERIFY(findControl<QLineEdit>(book, "Text4")->text().isEmpty());
    QVERIFY(!book->isModal());
    QCOMPARE(prompts.shown().size(), 0);
}

void MainWindowsTest::composeWindowLoadedHiddenAndShownByNewMail()
{
    TempAppFolder folder;
    FakePrompt prompts;
    writeBytes(appPaths().kestraIni(), "SMTP=smtp.x\r\nPOP3=pop.x\r\nMAIL=a@x\r\nAPOP=0\r\n");
    auto main = std::make_unique<MainForm>();
    QSignalSpy finished(main.get(), &MainForm::startupFinished);
    main->Form_Load();
    // The compose window is built after the first paint, not before it.
    QVERIFY(!loadedForm<WriteForm>());
    QTRY_COMPARE(finished.size(), 1);
    WriteForm *compose = loadedForm<WriteForm>();
    QVERIFY(compose);
    QVERIFY(!compose->isVisible());
    QVERIFY(!findControl<QCheckBox>(compose, "Check1")->isChecked());

    // "新規作成" shows that same window, without blocking the main window.
    findControl<QPushButton>(main, "Command3")->click();
    QCOMPARE(loadedForm<WriteForm>(), compose);
    QVERIFY(compose->isVisible());
    QVERIFY(!compose->isModal());
    QCOMPARE(prompts.unexpected(), 0);
}

void MainWindowsTest::captureButton_data()
{
    QTest::addColumn<QString>("clipboard");
    QTest::newRow("address copied") << QStringLiteral("friend@example.jp");
    QTest::newRow("nothing copied") << QString();
}

void MainWindowsTest::captureButton()
{
    QFETCH(QString, clipboard);
    TempAppFolder folder;
    FakePrompt prompts;
    if (clipboard.isEmpty())
        QApplication::clipboard()->clear();
    else
        QApplication::clipboard()->setText(clipboard);
    auto main = std::make_unique<MainForm>();
    findControl<QPushButton>(main, "Command1")->click();

    FriendForm *book = loadedForm<FriendForm>();
    if (clipboard.isEmpty()) {
        QVERIFY(!book);
        QCOMPARE(prompts.texts(),
                 QStringList{QStringLiteral("アドレスがクリップボードにコピーされていません。\r\n"
                                            "OutLookは起動していますか。\r\n"
                                            "起動後、メールアドレスを選択し、コピーを行いましたか？")});
        QCOMPARE(prompts.shown().first().title, appTitle());
    } else {
        QVERIFY(book);
        QVERIFY(book->isVisible());
        QCOMPARE(findControl<QLineEdit>(book, "Text4")->text(), clipboard);
        QVERIFY(findControl<QLineEdit>(book, "Text2")->text().isEmpty());
        QCOMPARE(prompts.shown().size(), 0);
    }
}

QTEST_MAIN(MainWindowsTest)
#include "tst_mainwindows.moc"
