// The main window: start-up, clock, hover help, resize rules, capture message, closing.
#include "app/BrowserPane.h"
#include "app/MainForm.h"
#include "app/Startup.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Twips.h"
#include "compose/DraftKeeper.h"
#include "compose/WriteForm.h"
#include "history/TyakuForm.h"
#include "storage/Drafts.h"
#include "storage/Records.h"
#include "storage/Settings.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"
#include "web/Engine.h"
#include "web/WebPane.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTextEdit>
#include <QToolBar>
#include <QWebEngineView>
#include <QtTest>

#ifdef __GLIBC__
#include <malloc.h>
#endif

using namespace kestra;
using kestra::test::findControl;

class TestMainForm : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_folder;
    std::unique_ptr<test::FakePrompt> m_prompt;
    std::unique_ptr<test::FixedClock> m_clock;

    MainForm *start()
    {
        auto *main = new MainForm;
        main->Form_Load();
        return main;
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
        m_clock = std::make_unique<test::FixedClock>(QDateTime(QDate(2026, 12, 8), QTime(9, 5, 7)));
        // Pretend a POP3 server is configured so that start-up opens nothing else.
        test::writeBytes(appState().appFolder + QStringLiteral("/kestra.ini"),
                         "SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=me@example.jp\r\nAPOP=1\r\n");
    }
    void cleanup()
    {
        test::closeAllWindows();
        QCOMPARE(m_prompt->unexpected(), 0);
        m_prompt.reset();
        m_clock.reset();
        m_folder.reset();
    }

    void renderingIsSoftwareUnlessAskedOrSet_data()
    {
        QTest::addColumn<QByteArray>("gpu");
        QTest::addColumn<QByteArray>("userGl");
        QTest::addColumn<QByteArray>("userQuick");
        QTest::addColumn<QByteArray>("glForDisplay"); // what the display connection reads
        QTest::addColumn<bool>("software");
        QTest::newRow("default") << QByteArray() << QByteArray() << QByteArray() << QByteArray("none") << true;
        QTest::newRow("KESTRA_GPU=1") << QByteArray("1") << QByteArray() << QByteArray() << QByteArray() << false;
        QTest::newRow("KESTRA_GPU=0") << QByteArray("0") << QByteArray() << QByteArray() << QByteArray("none")
                                      << true;
        QTest::newRow("user's choice kept") << QByteArray() << QByteArray("xcb_egl") << QByteArray("rhi")
                                            << QByteArray("xcb_egl") << false;
    }
    void renderingIsSoftwareUnlessAskedOrSet()
    {
        QFETCH(QByteArray, gpu);
        QFETCH(QByteArray, userGl);
        QFETCH(QByteArray, userQuick);
        QFETCH(QByteArray, glForDisplay);
        QFETCH(bool, software);
        const char *names[] = {"KESTRA_GPU", "QT_XCB_GL_INTEGRATION", "QT_QUICK_BACKEND"};
        QByteArray saved[3];
        for (int i = 0; i < 3; ++i)
            saved[i] = qgetenv(names[i]);
        auto set = [](const char *name, const QByteArray &value) {
            if (value.isEmpty())
                qunsetenv(name);
            else
                qputenv(name, value);
        };
        set(names[0], gpu);
        set(names[1], userGl);
        set(names[2], userQuick);
        QQuickWindow::setSceneGraphBackend(QString());

        const RenderingChoice choice = chooseRendering();
        const QByteArray gotGl = qgetenv(names[1]);
        // The web library chooses its scene graph when it is loaded, after the application object.
        const bool chosenSoftware = chooseSceneGraph();
        const bool gotSoftware = QQuickWindow::sceneGraphBackend() == QLatin1String("software");
        settleRendering(choice);
        // After start-up only what the user set is left for programs started from here.
        const QByteArray inherited = qgetenv(names[1]);

        for (int i = 0; i < 3; ++i)
            set(names[i], saved[i]);
        QQuickWindow::setSceneGraphBackend(QString());
        QCOMPARE(gotGl, glForDisplay);
        QCOMPARE(gotSoftware, software);
        QCOMPARE(chosenSoftware, software);
        QCOMPARE(inherited, userGl);
    }

    void sandboxIsOffOnlyForRootOnTheEngineCommandLine()
    {
        char name[] = "kestra";
        char extra[] = "-style=fusion";
        char *argv[] = {name, extra, nullptr};
        const QByteArray saved = qgetenv("QTWEBENGINE_DISABLE_SANDBOX");
        auto texts = [](const std::vector<char *> &args) {
            QStringList out;
            for (char *a : args)
                out << (a ? QString::fromLatin1(a) : QStringLiteral("<null>"));
            return out;
        };
        qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
        const QStringList asRoot = texts(withEngineArguments(2, argv, true));
        // Nothing goes into the environment that programs started from here would inherit.
        const bool variableSet = qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX");
        const QStringList asUser = texts(withEngineArguments(2, argv, false));
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        const QStringList asRootWithVariable = texts(withEngineArguments(2, argv, true));
        // The user's own engine flags make the engine ignore its command line:
        // the switch joins those flags, which are kept.
        qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
        const QByteArray savedFlags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        const bool flagsWereSet = qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS");
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--lang=ja");
        const QStringList asRootWithFlags = texts(withEngineArguments(2, argv, true));
        const QByteArray flagsAsRoot = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "");
        withEngineArguments(2, argv, true);
        const QByteArray emptyFlagsAsRoot = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (flagsWereSet)
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", savedFlags);
        else
            qunsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (saved.isNull())
            qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
        else
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", saved);

        const QStringList plain{QStringLiteral("kestra"), QStringLiteral("-style=fusion"), QStringLiteral("<null>")};
        QCOMPARE(asRoot, (QStringList{QStringLiteral("kestra"), QStringLiteral("-style=fusion"),
                                      QStringLiteral("--webEngineArgs"), QStringLiteral("--no-sandbox"),
                                      QStringLiteral("--no-zygote"), QStringLiteral("<null>")}));
        QCOMPARE(asUser, plain);
        QCOMPARE(asRootWithVariable, plain);
        QCOMPARE(asRootWithFlags, plain);
        QCOMPARE(flagsAsRoot, QByteArray("--lang=ja --no-sandbox --no-zygote"));
        QCOMPARE(emptyFlagsAsRoot, QByteArray("--no-sandbox --no-zygote"));
        QVERIFY(!variableSet);
    }

    // A large buffer freed and made again still gets pages of its own, which
    // leave the process when it is freed; left alone, glibc carves the second
    // one from its heap, where it stays resident.
    void largeBuffersKeepPagesOfTheirOwn()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer brings its own allocator");
#elif defined(__GLIBC__)
        keepLargeBuffersApart();
        const auto mapped = [] { return ::mallinfo2().hblkhd; };
        const size_t before = mapped();
        for (int round = 1; round <= 3; ++round) {
            QByteArray buffer(1024 * 1024, 'x');
            QVERIFY2(mapped() >= before + buffer.size(), qPrintable(QStringLiteral("round %1").arg(round)));
        }
        QCOMPARE(mapped(), before);
#else
        QSKIP("glibc's allocator only");
#endif
    }

    // What receiving and the automatic check use instead of the boxes themselves.
    void statusAndMailIndicatorGoThroughTheWindow()
    {
        std::unique_ptr<MainForm> main(start());
        auto *indicator = findControl<QLineEdit>(main, "Text3");
        QSignalSpy changed(main.get(), &MainForm::mailIndicatorChanged);
        QSignalSpy clicked(main.get(), &MainForm::mailIndicatorClicked);

        main->setMailIndicator(QStringLiteral("新着メール有り。"));
        QCOMPARE(indicator->text(), QStringLiteral("新着メール有り。"));
        QCOMPARE(main->mailIndicator(), QStringLiteral("新着メール有り。"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toString(), QStringLiteral("新着メール有り。"));
        // Setting the same text again is no change.
        main->setMailIndicator(QStringLiteral("新着メール有り。"));
        QCOMPARE(changed.count(), 1);

        QTest::mouseClick(indicator, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        // A click elsewhere is not the indicator's.
        QTest::mouseClick(findControl<QPlainTextEdit>(main, "Text1")->viewport(), Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);

        main->showStatus(QStringLiteral("受信したメールを保存できませんでした。"));
        QCOMPARE(findControl<QPlainTextEdit>(main, "Text1")->toPlainText(),
            QStringLiteral("受信したメールを保存できませんでした。"));
        QCOMPARE(main->status(), QStringLiteral("受信したメールを保存できませんでした。"));
    }

    void startUpReadsSettings()
    {
        std::unique_ptr<MainForm> main(start());
        QCOMPARE(main->windowTitle(), QStringLiteral("これは便利！！　ケストラでぇいッ！　Ver 2.05"));
        QCOMPARE(appState().settings.smtpServer, QStringLiteral("smtp.example.jp"));
        QCOMPARE(appState().settings.pop3Server, QStringLiteral("pop.example.jp"));
        QCOMPARE(appState().settings.mailAddress, QStringLiteral("me@example.jp"));
        QCOMPARE(appState().settings.apop, qint16(1));
        QVERIFY(main->isVisible());
        QVERIFY(findControl<QPlainTextEdit>(main, "Text1")->toPlainText().isEmpty());
        QVERIFY(findControl<QLineEdit>(main, "Text3")->text().isEmpty());
        QCOMPARE(geometryTwips(findControl<QComboBox>(main, "cboAddress")).topLeft(),
            QPoint(45, 330)); // 50 twips is 3.33 px
        QVERIFY(m_prompt->shown().isEmpty());
        QVERIFY(!findControl<QLineEdit>(main, "Text2")->isVisible()
            && !findControl<QLineEdit>(main, "Text4")->isVisible()
            && !findControl<QPushButton>(main, "Command10")->isVisible());
        QVERIFY(findControl<QTimer>(main, "Timer1")->isActive());
        QVERIFY(!findControl<QTimer>(main, "timTimer")->isActive());
    }

    void startUpWithoutSettingsLeavesValuesEmpty()
    {
        QFile::remove(appState().appFolder + QStringLiteral("/kestra.ini"));
        std::unique_ptr<MainForm> main(start());
        QVERIFY(appState().settings.pop3Server.isEmpty());
        QCOMPARE(appState().settings.apop, qint16(0));
    }

    void startUpLoadsTheFavourites()
    {
        QByteArray file;
        for (const char *url : {"https://a.example/", "https://b.example/"}) {
            FavouriteRecord r;
            r.Url = QString::fromLatin1(url);
            file += r.encode();
        }
        test::writeBytes(m_folder->dataFile(QStringLiteral("Kstdata90.data")), file);
        std::unique_ptr<MainForm> main(start());
        QCOMPARE(findControl<QComboBox>(main, "cboAddress")->count(), 2);
        QVERIFY(findControl<QComboBox>(main, "cboAddress")
                    ->itemText(1)
                    .startsWith(QStringLiteral("https://b.example/")));
        QVERIFY(findControl<QComboBox>(main, "cboAddress")->currentText().isEmpty());
    }

    void startUpReportsAnUnreadableFileAndGoesOn()
    {
        QVERIFY(QDir().mkpath(m_folder->dataFile(QStringLiteral("Kstdata90.data")))); // a folder, not a file
        m_prompt->answer(PromptAnswer::Ok);
        std::unique_ptr<MainForm> main(start());
        QCOMPARE(m_prompt->shown().size(), 1);
        QVERIFY(m_prompt->shown().first().text.contains(QStringLiteral("Kstdata90.data")));
        QCOMPARE(appState().settings.pop3Server, QStringLiteral("pop.example.jp")); // later steps ran
    }

    void clockTextFollowsTheClock()
    {
        std::unique_ptr<MainForm> main(start());
        QVERIFY(findControl<QLineEdit>(main, "Text2")->text().contains(QStringLiteral("09:05:07")));
        m_clock->set(QDateTime(QDate(2026, 12, 9), QTime(23, 59, 58)));
        main->Timer1_Timer();
        QVERIFY(findControl<QLineEdit>(main, "Text2")->text().contains(QStringLiteral("23:59:58")));
        QCOMPARE(QString(appState().clockText), findControl<QLineEdit>(main, "Text2")->text());
        QCOMPARE(findControl<QTimer>(main, "Timer1")->interval(), 1000);
    }

    // Hover help with the pointer moved over the real widgets: each button of
    // the column shows its text, also when the pointer comes to it from the
    // frame around it; the frames, the panel, the address label and the
    // toolbar hide the box; the browser pane leaves it alone.
    void hoverHelpFollowsThePointer()
    {
        std::unique_ptr<MainForm> main(start());
        QVERIFY(QTest::qWaitForWindowExposed(main.get()));
        const QPoint frameBackground = findControl<QGroupBox>(main, "Frame1")
                                           ->mapTo(main.get(), QPoint(twipsToPx(60), twipsToPx(120)));
        QCOMPARE(main->childAt(frameBackground), findControl<QGroupBox>(main, "Frame1"));
        for (const char *name : {"Command3", "Command4", "Command6", "Command7", "Command5", "Command8",
                                 "Command12", "Command1"}) {
            auto *button = main->findChild<QPushButton *>(QLatin1String(name));
            QTest::mouseMove(main.get(), frameBackground);
            QVERIFY2(!findControl<QPlainTextEdit>(main, "Text1")->isVisible(), name);
            test::pointAt(button);
            QVERIFY2(findControl<QPlainTextEdit>(main, "Text1")->isVisible(), name);
            QCOMPARE(
                findControl<QPlainTextEdit>(main, "Text1")->toPlainText(), mainHelpText(QLatin1String(name)));
            QVERIFY(!findControl<QPlainTextEdit>(main, "Text1")->toPlainText().isEmpty());
        }
        QCOMPARE(findControl<QPlainTextEdit>(main, "Text1")->toPlainText(),
            QStringLiteral("あるサイトでのメールアドレスを自分のアドレス帳に追加したい時に使用します。OutLook"
                           "が起動した状態でのメールアドレスをアドレス帳に登録します。OutLookで、コピーをまず"
                           "行ってからにして下さい。アドレス帳が開きましたら、メールアドレスが自動入力されて"
                           "いますので、任意の名称（名前）を入力してアドレス帳の登録ボタンを押して下さい。"));
        test::pointAt(findControl<QLineEdit>(main, "Text3"));
        QCOMPARE(findControl<QPlainTextEdit>(main, "Text1")->toPlainText(),
            QStringLiteral("新着メールの有無が表示されます。"));
        test::pointAt(findControl<QPushButton>(main, "Command2"));
        QCOMPARE(findControl<QPlainTextEdit>(main, "Text1")->toPlainText(),
            QStringLiteral("表示されたサイトをお気に入りに追加します。"));
        QTest::mouseMove(
            main.get(), findControl<QLabel>(main, "lblAddress")->mapTo(main.get(), QPoint(2, 2)));
        QVERIFY(!findControl<QPlainTextEdit>(main, "Text1")->isVisible());
        QCOMPARE(findControl<QPlainTextEdit>(main, "Text1")->toPlainText(),
            QStringLiteral("表示されたサイトをお気に入りに追加します。")); // text stays
        test::pointAt(findControl<QPushButton>(main, "Command8"));
        QVERIFY(findControl<QPlainTextEdit>(main, "Text1")->isVisible());
        QVERIFY(findControl<QPlainTextEdit>(main, "Text1")
                    ->toPlainText()
                    .startsWith(QStringLiteral("ID,PASS,サーバーの設定を行います。")));
        QWidget *pane = main->browserPane()->view();
        QTest::mouseMove(main.get(), pane->mapTo(main.get(), QPoint(twipsToPx(2000), twipsToPx(300))));
        QVERIFY(
            findControl<QPlainTextEdit>(main, "Text1")->isVisible()); // the pane neither hides nor changes it
        QVERIFY(findControl<QPlainTextEdit>(main, "Text1")
                    ->toPlainText()
                    .startsWith(QStringLiteral("ID,PASS,サーバーの設定を行います。")));
        QTest::mouseMove(main.get(), findControl<QToolBar>(main, "tbToolBar")->geometry().center());
        QVERIFY(!findControl<QPlainTextEdit>(main, "Text1")->isVisible());
        test::pointAt(findControl<QPushButton>(main, "Command13"));
        QCOMPARE(findControl<QPlainTextEdit>(main, "Text1")->toPlainText(),
            mainHelpText(QStringLiteral("Command13")));
        const QPoint panel = findControl<QWidget>(main, "Picture1")->mapTo(main.get(), QPoint(2, 10));
        QCOMPARE(main->childAt(panel), findControl<QWidget>(main, "Picture1"));
        QTest::mouseMove(main.get(), panel);
        QVERIFY(!findControl<QPlainTextEdit>(main, "Text1")->isVisible());
    }

    void resizeRulesInTwips()
    {
        std::unique_ptr<MainForm> main(start());
        main->resize(twipsToPx(7200), twipsToPx(6000));
        main->Form_Resize();
        QCOMPARE(
            findControl<QComboBox>(main, "cboAddress")->width(), twipsToPx(4800)); // 7200 / 1.5, to the pixel
        // The pane fills what is left of the window right of the buttons and below the address bar.
        QCOMPARE(geometryTwips(main->browserPane()->view()), QRect(1560, 1200, 7200 - 1560, 6000 - 1200));
        QCOMPARE(geometryTwips(findControl<QWidget>(main, "Picture1")).height(), 6000);
        QCOMPARE(geometryTwips(findControl<QWidget>(main, "Picture1")).width(), 1575);
        // Never so small that the address bar's keys or the indicator are cut.
        main->resize(twipsToPx(3000), twipsToPx(4500));
        QVERIFY(main->width() >= twipsToPx(MainForm::kMinimumWidth));
        QCOMPARE(main->height(), twipsToPx(MainForm::kDesignHeight));
    }

    void webEngineWaitsForTheFirstPage()
    {
        std::unique_ptr<MainForm> main(start());
        QSignalSpy finished(main.get(), &MainForm::startupFinished);
        // Start-up shows the window and finishes without the web engine.
        QVERIFY(main->isVisible());
        QVERIFY(finished.wait(5000));
        QVERIFY(!main->findChild<QWebEngineView *>(QStringLiteral("brwWebBrowser")));
        QVERIFY(!main->paneBusy());
        // A resize before the pane exists still reaches it.
        main->resize(twipsToPx(7200), twipsToPx(6000));
        findControl<QToolBar>(main, "tbToolBar")->findChild<QAction *>(QStringLiteral("Home"))->trigger();
        QVERIFY(main->findChild<QWebEngineView *>(QStringLiteral("brwWebBrowser")));
        QVERIFY(findControl<QWebEngineView>(main, "brwWebBrowser")->isVisible());
        QCOMPARE(geometryTwips(findControl<QWebEngineView>(main, "brwWebBrowser")),
            QRect(1560, 1200, 7200 - 1560, 6000 - 1200));
        QTRY_COMPARE(findControl<QWebEngineView>(main, "brwWebBrowser")->url(), browserHomePage());
        // The help box stays above the pane.
        const QObjectList order = main->children();
        QVERIFY(order.indexOf(findControl<QPlainTextEdit>(main, "Text1"))
            > order.indexOf(findControl<QWebEngineView>(main, "brwWebBrowser")));
        // Created once: asking again gives the same pane.
        QCOMPARE(main->browserPane()->view(), findControl<QWebEngineView>(main, "brwWebBrowser"));
        QCOMPARE(main->findChildren<QWebEngineView *>().size(), 1);
    }

    void buttonsCarryTheirCaptionsAndColours()
    {
        std::unique_ptr<MainForm> main(start());
        const struct {
            QPushButton *button;
            const char16_t *caption;
            QColor colour;
        } expected[] = {
            { findControl<QPushButton>(main, "Command3"), u"新規作成", QColor(224, 224, 224) },
            { findControl<QPushButton>(main, "Command4"), u"受信", QColor(255, 0, 0) },
            { findControl<QPushButton>(main, "Command6"), u"着信履歴", QColor(192, 192, 255) },
            { findControl<QPushButton>(main, "Command7"), u"送信履歴", QColor(192, 192, 255) },
            { findControl<QPushButton>(main, "Command5"), u"アドレス帳", QColor(192, 192, 255) },
            { findControl<QPushButton>(main, "Command8"), u"設定", QColor(255, 255, 255) },
            { findControl<QPushButton>(main, "Command12"), u"HP", QColor(255, 255, 0) },
            { findControl<QPushButton>(main, "Command1"), u"登録", QColor(224, 224, 224) },
        };
        for (const auto &e : expected) {
            QCOMPARE(e.button->text(), QString::fromUtf16(e.caption));
            QCOMPARE(e.button->palette().color(QPalette::Button), e.colour);
        }
        QCOMPARE(geometryTwips(findControl<QPushButton>(main, "Command7")), QRect(120, 1320, 975, 255));
        QCOMPARE(main->findChild<QPushButton *>(QStringLiteral("Command13"))->text(), QStringLiteral("貼付け"));
        QStringList tips;
        for (QAction *a : findControl<QToolBar>(main, "tbToolBar")->actions())
            tips << a->objectName() + QLatin1Char(':') + a->toolTip();
        QCOMPARE(tips, (QStringList{QStringLiteral("Back:戻る"), QStringLiteral("Forward:進む"),
                                    QStringLiteral("Stop:中止"), QStringLiteral("Refresh:更新"),
                                    QStringLiteral("Home:ﾎｰﾑ"), QStringLiteral("Search:検索")}));
    }

    void captureWithoutClipboardTextExplains()
    {
        std::unique_ptr<MainForm> main(start());
        QApplication::clipboard()->clear();
        main->Command1_Click();
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown().first().text,
                 QStringLiteral("アドレスがクリップボードにコピーされていません。\r\nOutLookは起動していますか。\r\n"
                                "起動後、メールアドレスを選択し、コピーを行いましたか？"));
        QCOMPARE(m_prompt->shown().first().buttons, PromptButtons::Ok);
    }

    void qtTextsAreJapanese()
    {
        installJapaneseTranslations(*QCoreApplication::instance());
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("はい(&Y)"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("キャンセル"));
    }

    void closingEndsEveryWindow()
    {
        MainForm *main = start();
        QPointer<QWidget> other = new QWidget;
        other->show();
        QPointer<QWidget> hidden = new QWidget; // loaded but never shown
        hidden->setAttribute(Qt::WA_DeleteOnClose);
        main->close();
        QVERIFY(!other->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(hidden.isNull());
        delete other;
        delete main;
    }

    // An unsent mail and text typed into the editor: one question lists both;
    // "いいえ" keeps everything open. A mail the history put in the editor is
    // not counted.
    void closingAsksOnceAboutUnsentAndUnsavedWork()
    {
        MainForm *main = start();
        main->show();
        findControl<QPushButton>(main, "Command6")->click(); // the history window, its editor holding a mail
        TyakuForm *history = loadedForm<TyakuForm>();
        QVERIFY(history);
        findControl<QTextEdit>(history, "rtfEd")->setPlainText(QStringLiteral("受信したメール"));
        main->close(); // nothing typed yet: no question
        QVERIFY(m_prompt->shown().isEmpty());
        delete main;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        main = start();
        main->show();
        findControl<QPushButton>(main, "Command3")->click();
        WriteForm *compose = loadedForm<WriteForm>();
        compose->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(compose));
        findControl<QPlainTextEdit>(compose, "BodyText")->setFocus(Qt::MouseFocusReason);
        test::typeText(QStringLiteral("書きかけ"));
        findControl<QPushButton>(main, "Command6")->click();
        history = loadedForm<TyakuForm>();
        history->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(history));
        findControl<QTextEdit>(history, "rtfEd")->setFocus(Qt::MouseFocusReason);
        test::typeText(QStringLiteral("メモ"));
        const QString title = history->windowTitle();

        m_prompt->answer(PromptAnswer::No);
        main->close();
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown()[0].text,
                 QStringLiteral("終了すると、次の内容は失われます。\r\n・送信していないメール（新規作成・送信）\r\n"
                                "・保存していない編集中の文章（%1）\r\n終了しますか？")
                     .arg(title));
        QCOMPARE(m_prompt->shown()[0].buttons, PromptButtons::YesNo);
        QVERIFY(main->isVisible());
        QCOMPARE(loadedForm<WriteForm>(), compose);
        QCOMPARE(compose->bodyText(), QStringLiteral("書きかけ"));

        m_prompt->answer(PromptAnswer::Yes);
        main->close();
        QCOMPARE(m_prompt->shown().size(), 2);
        QVERIFY(!main->isVisible());
    }

    // The quit question says what happens to a mail being written: with
    // drafts on it is kept and offered at the next start, with drafts off it
    // is lost; and so it is.
    void quitQuestionTellsWhatHappensToTheMail_data()
    {
        QTest::addColumn<bool>("drafts");
        QTest::newRow("drafts on") << true;
        QTest::newRow("drafts off") << false;
    }
    void quitQuestionTellsWhatHappensToTheMail()
    {
        QFETCH(bool, drafts);
        QVERIFY(writeKeepDrafts(appPaths().extraIni(), drafts));
        MainForm *main = start();
        main->show();
        findControl<QPushButton>(main, "Command3")->click(); // 新規作成: no draft waiting, nothing asked
        WriteForm *compose = loadedForm<WriteForm>();
        QVERIFY(compose && compose->isVisible());
        compose->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(compose));
        findControl<QPlainTextEdit>(compose, "BodyText")->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(QApplication::focusWidget(), "unsent words");

        m_prompt->answer(PromptAnswer::Yes);
        main->close();
        QCOMPARE(m_prompt->texts(),
                 QStringList{drafts ? QStringLiteral("次の内容は下書きとして保存され、次に起動したときに開けます。\r\n"
                                                     "・送信していないメール（新規作成・送信）\r\n終了しますか？")
                                    : QStringLiteral("終了すると、次の内容は失われます。\r\n"
                                                     "・送信していないメール（新規作成・送信）\r\n終了しますか？")});
        QVERIFY(!main->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!loadedForm<WriteForm>());
        delete main;

        // The next start.
        m_prompt->clear();
        if (drafts)
            m_prompt->answerChoice(0);
        offerDraftRestore();
        QCOMPARE(m_prompt->shown().size(), drafts ? 1 : 0);
        if (drafts) {
            QCOMPARE(m_prompt->shown().first().items, QStringList{QStringLiteral("新規作成・送信：unsent words")});
            QCOMPARE(loadedForm<WriteForm>()->bodyText(), QStringLiteral("unsent words"));
        } else {
            QVERIFY(!QFile::exists(appPaths().draftsFile()));
        }
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
