// The program without its web engine library (missing, or not a library):
// mail goes on, the browser pane and the original view say why they show no
// page, and an HTML mail is read as plain text. Last, the library is loaded
// from its file the way the installed program loads it.
// This test does not link the library; KESTRA_WEB_LIBRARY points the loader.

#include "app/MainForm.h"
#include "common/DesktopServices.h"
#include "common/Forms.h"
#include "reader/MailAttachments.h"
#include "reader/OriginalForm.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"
#include "web/WebLoader.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

#include <memory>

using namespace kestra;
using kestra::test::findControl;

namespace {

const QString kCannotOpen = QStringLiteral("ブラウザを開けませんでした。");

QByteArray htmlOnlyMessage()
{
    return "From: a@example.jp\r\nTo: me@example.jp\r\nSubject: news\r\n"
           "Date: Tue, 8 Dec 2026 10:00:00 +0900\r\nMIME-Version: 1.0\r\n"
           "Content-Type: text/html; charset=utf-8\r\n\r\n"
           "<html><body><p>お知らせ</p><p>second <b>line</b></p></body></html>\r\n";
}

} // namespace

class TestWebFallback : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_folder;
    std::unique_ptr<test::FakePrompt> m_prompt;
    QTemporaryDir m_files;

    void useLibrary(const QString &path) { qputenv("KESTRA_WEB_LIBRARY", path.toLocal8Bit()); }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
    }
    void cleanup()
    {
        test::closeAllWindows();
        unloadForm<OriginalForm>();
        QCOMPARE(m_prompt->unexpected(), 0);
        m_prompt.reset();
        m_folder.reset();
    }

    void paneSaysWhyItStaysEmpty_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QString>("reason"); // a piece of what the status box gives as the reason
        QTest::newRow("missing") << m_files.filePath(QStringLiteral("missing/libkestra_web.so"))
                                 << QStringLiteral("missing/libkestra_web.so");
        QFile junk(m_files.filePath(QStringLiteral("junk.so")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a library");
        junk.close();
        QTest::newRow("not a library") << junk.fileName() << QStringLiteral("junk.so");
        // A real library without the entry point.
        QTest::newRow("no entry point") << QStringLiteral(KESTRA_OTHER_LIBRARY) << QStringLiteral("kestra_web_engine");
    }
    void paneSaysWhyItStaysEmpty()
    {
        QFETCH(QString, library);
        QFETCH(QString, reason);
        useLibrary(library);
        QString error;
        QVERIFY(!webEngine(&error));
        QVERIFY2(error.contains(reason), qPrintable(error));

        MainForm main;
        main.show();
        auto *address = findControl<QComboBox>(&main, "cboAddress");
        address->setEditText(QStringLiteral("http://127.0.0.1:9/"));
        main.cboAddress_KeyPress(13);
        const QString status = findControl<QPlainTextEdit>(&main, "Text1")->toPlainText();
        QVERIFY2(status.startsWith(kCannotOpen), qPrintable(status));
        QVERIFY(status.contains(reason));
        QVERIFY(findControl<QPlainTextEdit>(&main, "Text1")->isVisible());
        QVERIFY(!main.findChild<QWidget *>(QStringLiteral("brwWebBrowser")));
        // Nothing loads, so the busy watch ends and the caption stays.
        QVERIFY(!main.paneBusy());
        QTRY_VERIFY(!findControl<QTimer>(&main, "timTimer")->isActive());
        QCOMPARE(main.windowTitle(), MainForm::caption());
        // Every key of the pane says so again rather than failing quietly.
        findControl<QPlainTextEdit>(&main, "Text1")->clear();
        findControl<QToolBar>(&main, "tbToolBar")->findChild<QAction *>(QStringLiteral("Home"))->trigger();
        QVERIFY(findControl<QPlainTextEdit>(&main, "Text1")->toPlainText().startsWith(kCannotOpen));
        // Back with nowhere to go tries nothing.
        findControl<QPlainTextEdit>(&main, "Text1")->clear();
        findControl<QToolBar>(&main, "tbToolBar")->findChild<QAction *>(QStringLiteral("Back"))->trigger();
        QVERIFY(findControl<QPlainTextEdit>(&main, "Text1")->toPlainText().isEmpty());
        QVERIFY(m_prompt->shown().isEmpty());
    }

    void htmlMailIsReadAsPlainText()
    {
        useLibrary(m_files.filePath(QStringLiteral("missing/libkestra_web.so")));
        OriginalForm *f = form<OriginalForm>();
        f->showOriginal(htmlOnlyMessage());
        auto *body = findControl<QStackedWidget>(f, "Body");
        auto *text = findControl<QPlainTextEdit>(f, "Text2");
        QCOMPARE(body->currentWidget(), text);
        QVERIFY(text->toPlainText().contains(QStringLiteral("お知らせ")));
        QVERIFY(text->toPlainText().contains(QStringLiteral("second line")));
        QVERIFY(!text->toPlainText().contains(QStringLiteral("<p>")));
        QVERIFY(findControl<QLabel>(f, "Label1")->text().startsWith(kCannotOpen));
        QVERIFY(!findControl<QPushButton>(f, "Command1")->isEnabled());
        QVERIFY(!f->findChild<QWidget *>(QStringLiteral("Web1")));
        // The source and back: the body is the text again.
        f->Command2_Click();
        QCOMPARE(body->currentWidget(), findControl<QPlainTextEdit>(f, "Text3"));
        f->Command2_Click();
        QCOMPARE(body->currentWidget(), text);
    }

    void htmlAttachmentAsksToBeSaved()
    {
        useLibrary(m_files.filePath(QStringLiteral("missing/libkestra_web.so")));
        test::RecordingDesktop desktop;
        QVERIFY(!openAttachment({QStringLiteral("page.html"), QStringLiteral("text/html"), "<p>x</p>"}));
        QCOMPARE(m_prompt->shown().size(), 1);
        QVERIFY(m_prompt->shown().first().text.startsWith(kCannotOpen));
        QVERIFY(m_prompt->shown().first().text.contains(QStringLiteral("page.html")));
        // Never handed to a browser that could read the user's files.
        QVERIFY(desktop.opened.isEmpty());
    }

    // Loaded from its file, as the program loads it: the pane shows the page
    // and the start of the engine is told once.
    void libraryLoadsFromItsFile()
    {
        useLibrary(QStringLiteral(KESTRA_WEB_LIBRARY_FILE));
        int started = 0;
        setWebEngineStarted([&started] { ++started; });
        MainForm main;
        main.show();
        findControl<QToolBar>(&main, "tbToolBar")->findChild<QAction *>(QStringLiteral("Home"))->trigger();
        QWidget *view = main.findChild<QWidget *>(QStringLiteral("brwWebBrowser"));
        QVERIFY(view);
        QVERIFY(view->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!main.paneBusy(), 20000);
        QTRY_COMPARE(main.windowTitle(), QStringLiteral("ケストラ ヘルプ"));
        QCOMPARE(started, 1);
        OriginalForm *f = form<OriginalForm>();
        f->showOriginal(htmlOnlyMessage());
        QCOMPARE(findControl<QStackedWidget>(f, "Body")->currentWidget(), f->findChild<QWidget *>(QStringLiteral("Web1")));
        QCOMPARE(started, 1);
        setWebEngineStarted(nullptr);
    }
};

int main(int argc, char *argv[])
{
    // As the program does: set before the application object, long before the engine is loaded.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestWebFallback test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_webfallback.moc"
