#include "common/AppState.h"
#include "common/Forms.h"
#include "common/FormPlacement.h"
#include "common/Paths.h"
#include "common/Twips.h"
#include "settings/BrowserOptionForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "storage/Cp932.h"
#include "storage/Settings.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QWindow>
#include <QtTest>

using namespace kestra;
using kestra::test::FakePrompt;
using kestra::test::findControl;
using kestra::test::readBytes;
using kestra::test::TempAppFolder;
using kestra::test::writeBytes;

namespace {

// Lets deferred deletions of unloaded windows run.
void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

QByteArray sjis(const QString &text)
{
    return cp932::encode(text);
}

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void chooserShowsWindowsWithoutBlocking();
    void windowsOpenedOverTheServerSettingsStandInFront();
    void windowsAreCreatedAfreshAfterUnloading();

    void optionFormShowsSharedValues_data();
    void optionFormShowsSharedValues();
    void optionFormLayoutAndKeys();
    void optionEnterPressesTheFocusedDefault_data();
    void optionEnterPressesTheFocusedDefault();
    void chooserClosesOnEscape();
    void optionCancelLeavesValuesAndFile_data();
    void optionCancelLeavesValuesAndFile();
    void optionOkWritesFourLines_data();
    void optionOkWritesFourLines();
    void connectionChoicesGoToTheirOwnFile_data();
    void connectionChoicesGoToTheirOwnFile();
    void receiveOptionsStayOffUntilChosen();
    void imapAccountIsWrittenAndReadBack();
    void optionWriteFailureIsReported();
    void lineBreaksNeverReachTheFiles();

    void idPassLoadReadsFile();
    void idPassSaveSwitchStartsClear();
    void idPassOkWithSaveWritesAll();
    void idPassOkWithoutSaveWritesOnlyName3();
    void idPassKeys_data();
    void idPassKeys();
    void idPassPasswordBox();
    void idPassWriteFailureIsReported();
    void idPassUnsavableCharacterIsWarned();
};

void SettingsTest::cleanup()
{
    unloadForm<SetForm>();
    unloadForm<OptionForm>();
    unloadForm<IdPassForm>();
    settle();
}

void SettingsTest::chooserShowsWindowsWithoutBlocking()
{
    TempAppFolder folder;
    FakePrompt prompts;
    SetForm *chooser = form<SetForm>();
    chooser->show();
    QCOMPARE(chooser->windowTitle(), QStringLiteral("設定"));
    QCOMPARE(findControl<QPushButton>(chooser, "Command1")->text(), QStringLiteral("ID/PASS"));
    QCOMPARE(findControl<QPushButton>(chooser, "Command2")->text(), QStringLiteral("POPサーバー"));
    QVERIFY(findControl<QPushButton>(chooser, "Command1")->x()
        < findControl<QPushButton>(chooser, "Command2")->x());

    QVERIFY(!loadedForm<IdPassForm>());
    findControl<QPushButton>(chooser, "Command1")->click();
    QVERIFY(loadedForm<IdPassForm>());
    QVERIFY(loadedForm<IdPassForm>()->isVisible());
    findControl<QPushButton>(chooser, "Command2")->click();
    QVERIFY(loadedForm<OptionForm>());
    QVERIFY(loadedForm<OptionForm>()->isVisible());

    // All three stay open side by side, none of them modal.
    QVERIFY(chooser->isVisible());
    QVERIFY(!chooser->isModal());
    QVERIFY(!loadedForm<IdPassForm>()->isModal());
    QVERIFY(!loadedForm<OptionForm>()->isModal());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QCOMPARE(prompts.shown().size(), 0);
}

// The server settings window is kept on top of the others: the chooser and
// the account window shown while it is up are its transients, which the window
// manager keeps above it.
void SettingsTest::windowsOpenedOverTheServerSettingsStandInFront()
{
    TempAppFolder folder;
    FakePrompt prompts;
    OptionForm *settings = form<OptionForm>();
    showInFront(settings);
    QVERIFY(QTest::qWaitForWindowExposed(settings));
    SetForm *chooser = form<SetForm>();
    showInFront(chooser);
    QCOMPARE(chooser->windowHandle()->transientParent(), settings->windowHandle());
    findControl<QPushButton>(chooser, "Command1")->click();
    QCOMPARE(loadedForm<IdPassForm>()->windowHandle()->transientParent(), settings->windowHandle());
    QVERIFY(settings->windowFlags() & Qt::WindowStaysOnTopHint);
}

void SettingsTest::windowsAreCreatedAfreshAfterUnloading()
{
    TempAppFolder folder;
    FakePrompt prompts;
    appState().settings.smtpServer = QStringLiteral("smtp.one");
    QPointer<OptionForm> first = form<OptionForm>();
    QCOMPARE(form<OptionForm>(), first.data()); // one instance while loaded
    findControl<QLineEdit>(first, "SmtpText")->setText(QStringLiteral("typed but cancelled"));
    findControl<QPushButton>(first, "CancelCommand")->click();
    QVERIFY(!loadedForm<OptionForm>());
    settle();
    QVERIFY(first.isNull());

    appState().settings.smtpServer = QStringLiteral("smtp.two");
    OptionForm *second = form<OptionForm>();
    QCOMPARE(
        findControl<QLineEdit>(second, "SmtpText")->text(), QStringLiteral("smtp.two")); // its load ran again

    // Closing by the window's close box unloads it too.
    QPointer<OptionForm> guard = second;
    second->show();
    second->close();
    settle();
    QVERIFY(guard.isNull());
    QVERIFY(!loadedForm<OptionForm>());
}

void SettingsTest::optionFormShowsSharedValues_data()
{
    QTest::addColumn<int>("apop");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("APOP off") << 0 << false;
    QTest::newRow("APOP on") << 1 << true;
}

void SettingsTest::optionFormShowsSharedValues()
{
    QFETCH(int, apop);
    QFETCH(bool, ticked);
    TempAppFolder folder;
    SharedSettings &s = appState().settings;
    s.smtpServer = QStringLiteral("smtp.example.jp");
    s.pop3Server = QStringLiteral(" pop.example.jp ");
    s.mailAddress = QStringLiteral("山田@example.jp");
    s.apop = qint16(apop);
    OptionForm *w = form<OptionForm>();
    QCOMPARE(findControl<QLineEdit>(w, "SmtpText")->text(), s.smtpServer);
    QCOMPARE(findControl<QLineEdit>(w, "Pop3Text")->text(), s.pop3Server); // blanks kept
    QCOMPARE(findControl<QLineEdit>(w, "MailText")->text(), s.mailAddress);
    QCOMPARE(findControl<QCheckBox>(w, "ApopCheck")->isChecked(), ticked);
}

void SettingsTest::optionFormLayoutAndKeys()
{
    TempAppFolder folder;
    OptionForm *w = form<OptionForm>();
    QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(w->windowFlags() & Qt::WindowMinimizeButtonHint));
    QCOMPARE(w->windowTitle(), QStringLiteral("サーバー設定"));
    // It opens at least at its design size, larger where its texts need it, and
    // can be made larger but not smaller than its texts.
    QVERIFY(pxToTwips(w->width()) >= OptionForm::kClientWidth);
    QVERIFY(pxToTwips(w->height()) >= OptionForm::kClientHeight);

    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(w->focusWidget(), findControl<QLineEdit>(w, "MailText"));
    QVERIFY(w->minimumSize().width() > 0 && w->minimumSize().width() <= w->width());
    QVERIFY(w->maximumSize().width() > w->width());
    QVERIFY(findControl<QPushButton>(w, "OkCommand")->isDefault());

    // Tab walks MailText, 中止, 設定, APOP, POP3, SMTP.
    const QList<QWidget *> order
        = { findControl<QLineEdit>(w, "MailText"), findControl<QPushButton>(w, "CancelCommand"),
              findControl<QPushButton>(w, "OkCommand"), findControl<QCheckBox>(w, "ApopCheck"),
              findControl<QLineEdit>(w, "Pop3Text"), findControl<QLineEdit>(w, "SmtpText") };
    QWidget *at = findControl<QLineEdit>(w, "MailText");
    for (int i = 1; i < order.size(); ++i) {
        at = at->nextInFocusChain();
        while (!(at->focusPolicy() & Qt::TabFocus))
            at = at->nextInFocusChain();
        QCOMPARE(at, order[i]);
    }

    // Buttons side by side, "設定" on the left.
    QCOMPARE(
        findControl<QPushButton>(w, "OkCommand")->y(), findControl<QPushButton>(w, "CancelCommand")->y());
    QVERIFY(
        findControl<QPushButton>(w, "OkCommand")->x() < findControl<QPushButton>(w, "CancelCommand")->x());
    QCOMPARE(findControl<QLineEdit>(w, "SmtpText")->maxLength(), 32767); // no limit of its own
}

// Enter where the user types presses 設定, as in a dialog; Enter on 中止 cancels.
void SettingsTest::optionEnterPressesTheFocusedDefault_data()
{
    QTest::addColumn<QString>("focused");
    QTest::addColumn<bool>("saves");
    QTest::newRow("mail address box") << QStringLiteral("MailText") << true;
    QTest::newRow("APOP check box") << QStringLiteral("ApopCheck") << true;
    QTest::newRow("security choice") << QStringLiteral("SmtpSecurity") << true;
    QTest::newRow("minutes box") << QStringLiteral("CheckMinutesText") << true;
    QTest::newRow("中止 button") << QStringLiteral("CancelCommand") << false;
}

void SettingsTest::optionEnterPressesTheFocusedDefault()
{
    QFETCH(QString, focused);
    QFETCH(bool, saves);
    TempAppFolder folder;
    FakePrompt prompts;
    OptionForm *w = form<OptionForm>();
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    findControl<QLineEdit>(w, "Pop3Text")->setText(QStringLiteral("pop.example.jp"));
    findControl<QWidget>(w, focused.toLatin1().constData())->setFocus();
    QCOMPARE(QApplication::focusWidget()->objectName(), focused);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    settle();
    QVERIFY(!loadedForm<OptionForm>());
    QCOMPARE(QFile::exists(appPaths().kestraIni()), saves);
    QCOMPARE(appState().settings.pop3Server, saves ? QStringLiteral("pop.example.jp") : QString());
    QCOMPARE(prompts.shown().size(), 0);
}

// Esc closes the chooser and the browser settings like their close box (the
// browser settings keep what they had, like キャンセル).
void SettingsTest::chooserClosesOnEscape()
{
    TempAppFolder folder;
    FakePrompt prompts;
    const auto pressEscape = [](QWidget *window, QWidget *focused) {
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        focused->setFocus();
        QCOMPARE(QApplication::focusWidget(), focused);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        settle();
    };
    pressEscape(form<SetForm>(), findControl<QPushButton>(form<SetForm>(), "Command2"));
    QVERIFY(!loadedForm<SetForm>());
    BrowserOptionForm *browser = form<BrowserOptionForm>();
    pressEscape(browser, browser->findChild<QLineEdit *>());
    QVERIFY(!loadedForm<BrowserOptionForm>());
    QVERIFY(!QFile::exists(appPaths().extraIni()));
    QCOMPARE(prompts.shown().size(), 0);
}

void SettingsTest::optionCancelLeavesValuesAndFile_data()
{
    QTest::addColumn<bool>("byEscape");
    QTest::newRow("中止 button") << false;
    QTest::newRow("Esc key") << true;
}

void SettingsTest::optionCancelLeavesValuesAndFile()
{
    QFETCH(bool, byEscape);
    TempAppFolder folder;
    FakePrompt prompts;
    const QByteArray before = "SMTP=old.smtp\r\nPOP3=old.pop\r\nMAIL=a@b\r\nAPOP=0\r\nextra line\r\n";
    writeBytes(appPaths().kestraIni(), before);
    QVERIFY(readKestraIni(appPaths().kestraIni(), appState().settings).ok());

    OptionForm *w = form<OptionForm>();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    findControl<QLineEdit>(w, "SmtpText")->setText(QStringLiteral("new.smtp"));
    findControl<QLineEdit>(w, "Pop3Text")->setText(QStringLiteral("new.pop"));
    findControl<QCheckBox>(w, "ApopCheck")->setChecked(true);
    if (byEscape)
        QTest::keyClick(findControl<QLineEdit>(w, "MailText"), Qt::Key_Escape);
    else
        findControl<QPushButton>(w, "CancelCommand")->click();

    QVERIFY(!loadedForm<OptionForm>());
    QCOMPARE(readBytes(appPaths().kestraIni()), before);
    QCOMPARE(appState().settings.smtpServer, QStringLiteral("old.smtp"));
    QCOMPARE(appState().settings.pop3Server, QStringLiteral("old.pop"));
    QCOMPARE(appState().settings.apop, qint16(0));
    QCOMPARE(prompts.shown().size(), 0);
}

void SettingsTest::optionOkWritesFourLines_data()
{
    QTest::addColumn<bool>("apop");
    QTest::addColumn<QByteArray>("apopLine");
    QTest::newRow("APOP ticked") << true << QByteArray("APOP=1\r\n");
    QTest::newRow("APOP clear") << false << QByteArray("APOP=0\r\n");
}

void SettingsTest::optionOkWritesFourLines()
{
    QFETCH(bool, apop);
    QFETCH(QByteArray, apopLine);
    TempAppFolder folder;
    FakePrompt prompts;
    appState().settings.apop = apop ? 0 : 1; // the tick, not the old value, decides

    OptionForm *w = form<OptionForm>();
    findControl<QLineEdit>(w, "SmtpText")->setText(QStringLiteral(" smtp.example.jp "));
    findControl<QLineEdit>(w, "Pop3Text")->setText(QString()); // empty names are accepted as they are
    findControl<QLineEdit>(w, "MailText")->setText(QStringLiteral("太郎@example.jp"));
    findControl<QCheckBox>(w, "ApopCheck")->setChecked(apop);
    findControl<QPushButton>(w, "OkCommand")->click();

    const QByteArray expected = "SMTP= smtp.example.jp \r\nPOP3=\r\nMAIL=" + sjis(QStringLiteral("太郎"))
        + "@example.jp\r\n" + apopLine;
    QCOMPARE(readBytes(appPaths().kestraIni()), expected);
    const SharedSettings &s = appState().settings;
    QCOMPARE(s.smtpServer, QStringLiteral(" smtp.example.jp "));
    QCOMPARE(s.pop3Server, QString());
    QCOMPARE(s.mailAddress, QStringLiteral("太郎@example.jp"));
    QCOMPARE(s.apop, qint16(apop ? 1 : 0));
    QVERIFY(!loadedForm<OptionForm>());
    QCOMPARE(prompts.shown().size(), 0);

    // What was written reads back to the same values.
    SharedSettings reread;
    QVERIFY(readKestraIni(appPaths().kestraIni(), reread).ok());
    QCOMPARE(reread.smtpServer, s.smtpServer);
    QCOMPARE(reread.mailAddress, s.mailAddress);
    QCOMPARE(reread.apop, s.apop);
}

// Settings of an earlier version: kestra.ini keeps its four lines byte for
// byte, and "STARTTLS when offered" stays until the user picks a choice. A
// choice goes to kestra2.ini only, with the usual port of the choice.
// The receiving options start off; an OK that changes none of them writes
// none, one that ticks them stores them in kestra2.ini, never in kestra.ini.
void SettingsTest::receiveOptionsStayOffUntilChosen()
{
    TempAppFolder folder;
    FakePrompt prompts;
    OptionForm *w = form<OptionForm>();
    QVERIFY(!findControl<QCheckBox>(w, "KeepCheck")->isChecked());
    QVERIFY(!findControl<QLineEdit>(w, "DeleteDaysText")->isEnabled());
    QCOMPARE(findControl<QLineEdit>(w, "CheckMinutesText")->text(), QStringLiteral("0"));
    QVERIFY(!findControl<QCheckBox>(w, "DraftsCheck")->isChecked());
    findControl<QPushButton>(w, "OkCommand")->click();
    QVERIFY(!QSettings(appPaths().extraIni(), QSettings::IniFormat).contains(QStringLiteral("receive/leaveOnServer")));
    QVERIFY(!QSettings(appPaths().extraIni(), QSettings::IniFormat).contains(QStringLiteral("compose/keepDrafts")));

    w = form<OptionForm>();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QTest::mouseClick(findControl<QCheckBox>(w, "KeepCheck"), Qt::LeftButton, {},
        QPoint(5, findControl<QCheckBox>(w, "KeepCheck")->height() / 2));
    QVERIFY(findControl<QLineEdit>(w, "DeleteDaysText")->isEnabled());
    findControl<QLineEdit>(w, "DeleteDaysText")->setFocus();
    QCOMPARE(QApplication::focusWidget(), findControl<QLineEdit>(w, "DeleteDaysText"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("14"));
    findControl<QCheckBox>(w, "HistoryDeleteCheck")->setChecked(true);
    findControl<QLineEdit>(w, "CheckMinutesText")->selectAll();
    findControl<QLineEdit>(w, "CheckMinutesText")->setFocus();
    QCOMPARE(QApplication::focusWidget(), findControl<QLineEdit>(w, "CheckMinutesText"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("10"));
    QTest::mouseClick(findControl<QCheckBox>(w, "DraftsCheck"), Qt::LeftButton, {},
        QPoint(5, findControl<QCheckBox>(w, "DraftsCheck")->height() / 2));
    findControl<QPushButton>(w, "OkCommand")->click();
    QVERIFY(readKeepDrafts(appPaths().extraIni()));
    const ReceiveOptions o = readReceiveOptions(appPaths().extraIni());
    QVERIFY(o.leaveOnServer && o.deleteWithHistory);
    QCOMPARE(o.deleteAfterDays, 14);
    QCOMPARE(o.checkEveryMinutes, 10);
    QCOMPARE(readBytes(appPaths().kestraIni()).count('\n'), 4);
    QCOMPARE(QFile::permissions(appPaths().extraIni()) & 0x0077, QFileDevice::Permissions());
    QCOMPARE(prompts.shown().size(), 0);
}

void SettingsTest::imapAccountIsWrittenAndReadBack()
{
    TempAppFolder folder;
    FakePrompt prompts;
    OptionForm *w = form<OptionForm>();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    // POP3 until chosen: the IMAP rows wait, and OK writes no [imap].
    QCOMPARE(findControl<QComboBox>(w, "ReceiveProtocol")->currentText(), QStringLiteral("POP3"));
    QVERIFY(!findControl<QLineEdit>(w, "ImapText")->isEnabled());
    QCOMPARE(findControl<QLineEdit>(w, "ImapPort")->text(), QStringLiteral("143"));
    findControl<QPushButton>(w, "OkCommand")->click();
    QVERIFY(!QSettings(appPaths().extraIni(), QSettings::IniFormat).childGroups().contains(QStringLiteral("imap")));

    w = form<OptionForm>();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    findControl<QComboBox>(w, "ReceiveProtocol")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(findControl<QComboBox>(w, "ReceiveProtocol")->currentText(), QStringLiteral("IMAP"));
    // IMAP leaves the mail on the server: the switch is on and fixed.
    QVERIFY(findControl<QCheckBox>(w, "KeepCheck")->isChecked());
    QVERIFY(!findControl<QCheckBox>(w, "KeepCheck")->isEnabled());
    findControl<QLineEdit>(w, "ImapText")->setFocus();
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("imap.example.jp"));
    findControl<QComboBox>(w, "ImapSecurity")->setFocus();
    // Past the unset choice ("STARTTLS（可能なら）") and STARTTLS to SSL/TLS.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(findControl<QComboBox>(w, "ImapSecurity")->currentText(), QStringLiteral("SSL/TLS"));
    QCOMPARE(findControl<QLineEdit>(w, "ImapPort")->text(), QStringLiteral("993"));
    findControl<QPushButton>(w, "OkCommand")->click();
    QVERIFY(!loadedForm<OptionForm>());

    const ServerConnection imap = readServerConnection(appPaths().extraIni(), MailProtocol::Imap);
    QVERIFY(imap.receiving);
    QCOMPARE(imap.server, QStringLiteral("imap.example.jp"));
    QCOMPARE(imap.security, Security::Tls);
    QCOMPARE(imap.port, 0);
    QVERIFY(readReceiveOptions(appPaths().extraIni()).leaveOnServer);

    // Read back: a port of one's own stays; going back to POP3 frees the switch.
    OptionForm *again = form<OptionForm>();
    QCOMPARE(findControl<QComboBox>(again, "ReceiveProtocol")->currentText(), QStringLiteral("IMAP"));
    QCOMPARE(findControl<QLineEdit>(again, "ImapText")->text(), QStringLiteral("imap.example.jp"));
    QCOMPARE(findControl<QComboBox>(again, "ImapSecurity")->currentText(), QStringLiteral("SSL/TLS"));
    findControl<QLineEdit>(again, "ImapPort")->setText(QStringLiteral("10993"));
    findControl<QComboBox>(again, "ReceiveProtocol")->setCurrentIndex(0);
    QVERIFY(findControl<QCheckBox>(again, "KeepCheck")->isEnabled());
    findControl<QPushButton>(again, "OkCommand")->click();
    const ServerConnection back = readServerConnection(appPaths().extraIni(), MailProtocol::Imap);
    QVERIFY(!back.receiving);
    QCOMPARE(back.port, 10993);
    QCOMPARE(back.server, QStringLiteral("imap.example.jp"));
    QCOMPARE(prompts.shown().size(), 0);
}

void SettingsTest::connectionChoicesGoToTheirOwnFile_data()
{
    QTest::addColumn<int>("downKeys"); // presses of the down key in the POP3 box; 0 = untouched
    QTest::addColumn<QString>("security");
    QTest::addColumn<QString>("port");
    QTest::newRow("untouched") << 0 << QString() << QStringLiteral("110");
    QTest::newRow("STARTTLS") << 1 << QStringLiteral("starttls") << QStringLiteral("110");
    QTest::newRow("SSL/TLS") << 2 << QStringLiteral("tls") << QStringLiteral("995");
    QTest::newRow("none") << 3 << QStringLiteral("none") << QStringLiteral("110");
}

void SettingsTest::connectionChoicesGoToTheirOwnFile()
{
    QFETCH(int, downKeys);
    QFETCH(QString, security);
    QFETCH(QString, port);
    TempAppFolder folder;
    FakePrompt prompts;
    const QByteArray before = "SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=me@example.jp\r\nAPOP=1\r\n";
    writeBytes(appPaths().kestraIni(), before);
    QVERIFY(readKestraIni(appPaths().kestraIni(), appState().settings).ok());

    OptionForm *w = form<OptionForm>();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    // Nothing chosen yet: STARTTLS where the server offers it, on the usual port.
    QCOMPARE(findControl<QComboBox>(w, "Pop3Security")->currentText(), QStringLiteral("STARTTLS（可能なら）"));
    QCOMPARE(findControl<QLineEdit>(w, "Pop3Port")->text(), QStringLiteral("110"));
    QCOMPARE(findControl<QComboBox>(w, "SmtpSecurity")->currentText(), QStringLiteral("STARTTLS（可能なら）"));
    QCOMPARE(findControl<QLineEdit>(w, "SmtpPort")->text(), QStringLiteral("25"));
    findControl<QComboBox>(w, "Pop3Security")->setFocus();
    for (int i = 0; i < downKeys; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(findControl<QLineEdit>(w, "Pop3Port")->text(), port);
    const QString shown = findControl<QComboBox>(w, "Pop3Security")->currentText();
    QTest::mouseClick(findControl<QPushButton>(w, "OkCommand"), Qt::LeftButton);
    QVERIFY(!loadedForm<OptionForm>());

    QCOMPARE(readBytes(appPaths().kestraIni()), before);
    QSettings extra(appPaths().extraIni(), QSettings::IniFormat);
    QCOMPARE(extra.value(QStringLiteral("pop3/security")).toString(), security);
    QCOMPARE(extra.value(QStringLiteral("pop3/port")).toInt(), 0); // the usual port follows the choice
    QCOMPARE(extra.value(QStringLiteral("smtp/security")).toString(), QString());
    QCOMPARE(prompts.shown().size(), 0);

    // The next load shows what was stored.
    OptionForm *again = form<OptionForm>();
    QCOMPARE(findControl<QLineEdit>(again, "Pop3Port")->text(), port);
    QCOMPARE(findControl<QComboBox>(again, "Pop3Security")->currentText(), shown);
    QCOMPARE(findControl<QComboBox>(again, "SmtpSecurity")->currentText(), QStringLiteral("STARTTLS（可能なら）"));
    unloadForm<OptionForm>();
}

void SettingsTest::optionWriteFailureIsReported()
{
    TempAppFolder folder;
    FakePrompt prompts;
    // A folder in the place of the file makes every write fail.
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("kestra.ini")));
    OptionForm *w = form<OptionForm>();
    findControl<QLineEdit>(w, "Pop3Text")->setText(QStringLiteral("pop.example.jp"));
    findControl<QPushButton>(w, "OkCommand")->click();

    QCOMPARE(prompts.shown().size(), 1);
    QVERIFY(prompts.shown().first().text.contains(QStringLiteral("kestra.ini")));
    QCOMPARE(prompts.shown().first().title, appTitle());
    QCOMPARE(prompts.unexpected(), 0);
    // The window stays with what was typed, so the user can retry or cancel.
    QCOMPARE(loadedForm<OptionForm>(), w);
    QCOMPARE(findControl<QLineEdit>(w, "Pop3Text")->text(), QStringLiteral("pop.example.jp"));
}

void SettingsTest::lineBreaksNeverReachTheFiles()
{
    TempAppFolder folder;
    FakePrompt prompts;
    // A pasted value with a line break would otherwise add a line that sets
    // another key when the file is read again.
    OptionForm *w = form<OptionForm>();
    findControl<QLineEdit>(w, "SmtpText")->setText(QStringLiteral("smtp.x\r\nPOP3=other.pop"));
    findControl<QLineEdit>(w, "Pop3Text")->setText(QStringLiteral("pop.x\n"));
    findControl<QLineEdit>(w, "MailText")->setText(QStringLiteral("\r\nme@x"));
    findControl<QPushButton>(w, "OkCommand")->click();
    QCOMPARE(readBytes(appPaths().kestraIni()),
             QByteArray("SMTP=smtp.xPOP3=other.pop\r\nPOP3=pop.x\r\nMAIL=me@x\r\nAPOP=0\r\n"));
    QCOMPARE(appState().settings.pop3Server, QStringLiteral("pop.x"));

    IdPassForm *account = form<IdPassForm>();
    findControl<QLineEdit>(account, "IdText")->setText(QStringLiteral("user\r\nNAME2=x"));
    findControl<QLineEdit>(account, "PassText")->setText(QStringLiteral("secret\r\n"));
    findControl<QCheckBox>(account, "Check1")->setChecked(true);
    findControl<QPushButton>(account, "OKCommand")->click();
    const IdPass back = readIdPass(appPaths().idPassIni());
    QCOMPARE(back.id, QStringLiteral("userNAME2=x"));
    QCOMPARE(back.password, QStringLiteral("secret"));
    QCOMPARE(readBytes(appPaths().idPassIni()).count('\n'), 4);
}

void SettingsTest::idPassLoadReadsFile()
{
    TempAppFolder folder;
    IdPassForm *empty = form<IdPassForm>();
    QCOMPARE(findControl<QLineEdit>(empty, "IdText")->text(), QString());
    QCOMPARE(findControl<QLineEdit>(empty, "PassText")->text(), QString());
    unloadForm<IdPassForm>();
    settle();

    writeBytes(appPaths().idPassIni(),
               "[EXEINI]\r\nNAME=" + sjis(QStringLiteral("利用者")) + "\r\nNAME2=pa ss\r\nNAME3=1\r\n");
    IdPassForm *w = form<IdPassForm>();
    QCOMPARE(w->windowTitle(), QStringLiteral("ID,PASS"));
    QCOMPARE(findControl<QLineEdit>(w, "IdText")->text(), QStringLiteral("利用者"));
    QCOMPARE(findControl<QLineEdit>(w, "PassText")->text(), QStringLiteral("pa ss"));
}

void SettingsTest::idPassSaveSwitchStartsClear()
{
    TempAppFolder folder;
    FakePrompt prompts;
    IdPassForm *w = form<IdPassForm>();
    QVERIFY(!findControl<QCheckBox>(w, "Check1")->isChecked());
    findControl<QLineEdit>(w, "IdText")->setText(QStringLiteral("user"));
    findControl<QCheckBox>(w, "Check1")->setChecked(true);
    findControl<QPushButton>(w, "OKCommand")->click();
    settle();
    QCOMPARE(ProfileFile::read(appPaths().idPassIni(), QStringLiteral("EXEINI"), QStringLiteral("NAME3")),
             QStringLiteral("1"));

    IdPassForm *again = form<IdPassForm>();
    QVERIFY(!findControl<QCheckBox>(again, "Check1")->isChecked());
    QCOMPARE(findControl<QLineEdit>(again, "IdText")->text(), QStringLiteral("user"));
    again->show();
    QVERIFY(QTest::qWaitForWindowExposed(again));
    QCOMPARE(again->focusWidget(), findControl<QCheckBox>(again, "Check1")); // first in the tab order
}

void SettingsTest::idPassOkWithSaveWritesAll()
{
    TempAppFolder folder;
    FakePrompt prompts;
    IdPassForm *w = form<IdPassForm>();
    findControl<QLineEdit>(w, "IdText")->setText(QStringLiteral("taro"));
    findControl<QLineEdit>(w, "PassText")->setText(QStringLiteral("秘密pw"));
    findControl<QCheckBox>(w, "Check1")->setChecked(true);
    findControl<QPushButton>(w, "OKCommand")->click();
    QVERIFY(!loadedForm<IdPassForm>());
    QCOMPARE(readBytes(appPaths().idPassIni()),
             "[EXEINI]\r\nNAME=taro\r\nNAME2=" + sjis(QStringLiteral("秘密")) + "pw\r\nNAME3=1\r\n");
    const IdPass back = readIdPass(appPaths().idPassIni());
    QCOMPARE(back.id, QStringLiteral("taro"));
    QCOMPARE(back.password, QStringLiteral("秘密pw"));
    QCOMPARE(prompts.shown().size(), 0);
}

// A password with a character code page 932 has no code for is not saved as
// "?": a box says so and the window stays; unticked, it is used for this run.
void SettingsTest::idPassUnsavableCharacterIsWarned()
{
    TempAppFolder folder;
    FakePrompt prompts;
    writeBytes(appPaths().idPassIni(), "[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=1\r\n");
    IdPassForm *w = form<IdPassForm>();
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    findControl<QLineEdit>(w, "PassText")->setFocus(Qt::TabFocusReason);
    findControl<QLineEdit>(w, "PassText")->clear();
    test::typeText(QStringLiteral("pw€😀"));
    findControl<QCheckBox>(w, "Check1")->setChecked(true);
    prompts.answer(PromptAnswer::Ok);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(prompts.shown().size(), 1);
    QCOMPARE(prompts.shown()[0].text,
             QStringLiteral("パスワードに、保存できない文字があります。保存すると「?」に変わり、受信でログインできなくなります。\r\n"
                            "パスワードを確かめるか、「IDパスワードを保存する」を外して、今回の起動中だけ使って下さい。"));
    QCOMPARE(prompts.shown()[0].icon, PromptIcon::Exclamation);
    QCOMPARE(loadedForm<IdPassForm>(), w);
    QCOMPARE(QApplication::focusWidget(), findControl<QLineEdit>(w, "PassText"));
    QCOMPARE(readBytes(appPaths().idPassIni()), QByteArray("[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=1\r\n"));

    findControl<QCheckBox>(w, "Check1")->setChecked(false);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(!loadedForm<IdPassForm>());
    QCOMPARE(appState().settings.pop3Password, QStringLiteral("pw€😀"));
    QCOMPARE(appState().settings.pop3Id, QStringLiteral("old"));
    QVERIFY(appState().settings.accountConfirmed);
}

void SettingsTest::idPassOkWithoutSaveWritesOnlyName3()
{
    TempAppFolder folder;
    FakePrompt prompts;
    writeBytes(appPaths().idPassIni(), "[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=1\r\n");
    IdPassForm *w = form<IdPassForm>();
    QCOMPARE(findControl<QLineEdit>(w, "IdText")->text(), QStringLiteral("old"));
    findControl<QLineEdit>(w, "IdText")->setText(QStringLiteral("new"));
    findControl<QLineEdit>(w, "PassText")->setText(QStringLiteral("newpw"));
    findControl<QPushButton>(w, "OKCommand")->click();
    QVERIFY(!loadedForm<IdPassForm>());
    QCOMPARE(readBytes(appPaths().idPassIni()), QByteArray("[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=0\r\n"));

    // Without any file, only NAME3 appears.
    QVERIFY(QFile::remove(appPaths().idPassIni()));
    findControl<QPushButton>(form<IdPassForm>(), "OKCommand")->click();
    QCOMPARE(readBytes(appPaths().idPassIni()), QByteArray("[EXEINI]\r\nNAME3=0\r\n"));
}

void SettingsTest::idPassKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("written");
    QTest::newRow("Enter confirms") << int(Qt::Key_Return) << true;
    QTest::newRow("keypad Enter confirms") << int(Qt::Key_Enter) << true;
    QTest::newRow("Esc cancels") << int(Qt::Key_Escape) << false;
}

void SettingsTest::idPassKeys()
{
    QFETCH(int, key);
    QFETCH(bool, written);
    TempAppFolder folder;
    FakePrompt prompts;
    IdPassForm *w = form<IdPassForm>();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->activateWindow();
    findControl<QLineEdit>(w, "PassText")->setFocus();
    QCOMPARE(QApplication::focusWidget(), findControl<QLineEdit>(w, "PassText"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("pw"));
    findControl<QCheckBox>(w, "Check1")->setChecked(true);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    QVERIFY(!loadedForm<IdPassForm>());
    QCOMPARE(QFile::exists(appPaths().idPassIni()), written);
    if (written)
        QCOMPARE(readIdPass(appPaths().idPassIni()).password, QStringLiteral("pw"));
}

void SettingsTest::idPassPasswordBox()
{
    TempAppFolder folder;
    IdPassForm *w = form<IdPassForm>();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->activateWindow();
    // Typed as the user does: a click into the box, keys to whatever has the focus.
    test::clickOn(findControl<QLineEdit>(w, "PassText"));
    QCOMPARE(QApplication::focusWidget(), findControl<QLineEdit>(w, "PassText"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("pw1"));
    QCOMPARE(findControl<QLineEdit>(w, "PassText")->text(), QStringLiteral("pw1"));
    QCOMPARE(findControl<QLineEdit>(w, "PassText")->displayText(), QStringLiteral("***"));
    QCOMPARE(findControl<QLineEdit>(w, "PassText")->echoMode(), QLineEdit::Password);
    QVERIFY(!findControl<QLineEdit>(w, "PassText")->testAttribute(Qt::WA_InputMethodEnabled));
    QVERIFY(findControl<QLineEdit>(w, "PassText")->inputMethodHints() & Qt::ImhHiddenText);
    QVERIFY(findControl<QLineEdit>(w, "PassText")->inputMethodHints() & Qt::ImhSensitiveData);
    QCOMPARE(findControl<QLineEdit>(w, "IdText")->echoMode(), QLineEdit::Normal);
    QVERIFY(
        findControl<QPushButton>(w, "OKCommand")->x() < findControl<QPushButton>(w, "CancelCommand")->x());
    QCOMPARE(pxToTwips(w->width()), 2985);
    QCOMPARE(pxToTwips(w->height()), 1785);
}

void SettingsTest::idPassWriteFailureIsReported()
{
    TempAppFolder folder;
    FakePrompt prompts;
    QVERIFY(QDir(appPaths().dataFolder()).mkdir(QStringLiteral("iniIdPass.ini")));
    IdPassForm *w = form<IdPassForm>();
    findControl<QLineEdit>(w, "IdText")->setText(QStringLiteral("user"));
    findControl<QCheckBox>(w, "Check1")->setChecked(true);
    findControl<QPushButton>(w, "OKCommand")->click();
    QCOMPARE(prompts.shown().size(), 1);
    QVERIFY(prompts.shown().first().text.contains(QStringLiteral("iniIdPass.ini")));
    QCOMPARE(loadedForm<IdPassForm>(), w);
    QCOMPARE(findControl<QLineEdit>(w, "IdText")->text(), QStringLiteral("user"));
}

QTEST_MAIN(SettingsTest)
#include "tst_settingswindows.moc"
