// The original view: a mail's HTML in the locked-down web view against a
// loopback HTTP server, links, attachments handed to a recording desktop, and
// mail kept without its original.
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "history/HistoryListBox.h"
#include "history/TyakuForm.h"
#include "mime/AttachmentFiles.h"
#include "reader/MailAttachments.h"
#include "web/MailHtmlView.h"
#include "reader/OriginalForm.h"
#include "storage/Originals.h"
#include "storage/Records.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace kestra;
using kestra::test::findControl;

namespace {

// Answers every request with a small image and a cookie, and keeps the request heads.
class ImageServer final : public QObject
{
public:
    ImageServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    m_pending[socket] += socket->readAll();
                    const QByteArray request = m_pending[socket];
                    if (!request.contains("\r\n\r\n"))
                        return;
                    requests << request;
                    const QByteArray body = QByteArray::fromBase64(
                        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nSet-Cookie: track=1\r\n"
                                  "Cache-Control: no-store\r\nConnection: close\r\nContent-Length: "
                                  + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QString url(const char *path) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_server.serverPort()).arg(QLatin1String(path));
    }
    bool asked(const char *path) const
    {
        const QByteArray line = "GET /" + QByteArray(path) + " ";
        return std::any_of(requests.begin(), requests.end(), [&](const QByteArray &r) { return r.startsWith(line); });
    }
    QList<QByteArray> requests;

private:
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_pending;
};

QByteArray htmlMessage(const QString &html)
{
    return "From: =?UTF-8?B?5bGx55Sw?= <yamada@example.jp>\r\nTo: me@example.jp\r\n"
           "Date: Tue, 8 Dec 2026 10:00:00 +0900\r\nSubject: =?ISO-2022-JP?B?GyRCJCpDTiRpJDsbKEI=?=\r\n"
           "Message-ID: <m1@example.jp>\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/alternative; boundary=b\r\n\r\n"
           "--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nplain\r\n"
           "--b\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
           + html.toUtf8() + "\r\n--b--\r\n";
}

QByteArray attachmentMessage()
{
    return "From: a@example.jp\r\nTo: me@example.jp\r\nSubject: files\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=m\r\n\r\n"
           "--m\r\nContent-Type: text/plain\r\n\r\nsee files\r\n"
           "--m\r\nContent-Type: text/plain; name*=UTF-8''%E5%A0%B1%E5%91%8A.txt\r\n"
           "Content-Disposition: attachment; filename*=UTF-8''%E5%A0%B1%E5%91%8A.txt\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n"
           + QByteArray("report text").toBase64()
           + "\r\n--m\r\nContent-Type: application/octet-stream\r\n"
             "Content-Disposition: attachment; filename=\"setup.exe\"\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\n"
           + QByteArray("MZ fake program").toBase64() + "\r\n--m--\r\n";
}

// Attachments whose names or contents ask for care when they are opened.
QByteArray hostileAttachmentMessage()
{
    const auto part = [](const QByteArray &disposition, const QByteArray &data) {
        return "--m\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; " + disposition
               + "\r\nContent-Transfer-Encoding: base64\r\n\r\n" + data.toBase64() + "\r\n";
    };
    return "From: a@example.jp\r\nTo: me@example.jp\r\nSubject: files\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=m\r\n\r\n"
           "--m\r\nContent-Type: text/plain\r\n\r\nsee files\r\n"
           + part("filename*=UTF-8''evil.desk%01top", "[Desktop Entry]\nType=Application\nExec=sh -c id\n")
           + part("filename=\"page.html\"", "<html><body><script>alert(1)</script>"
                                          "<iframe src=\"file:///etc/passwd\"></iframe></body></html>")
           + part("filename=\"invoice.pdf\"", QByteArray("\x7F" "ELF\x02\x01\x01\0", 8) + QByteArray(64, '\0'))
           + "--m--\r\n";
}

QList<QWidget *> attachmentViews()
{
    QList<QWidget *> views;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("AttachmentView"))
            views << w;
    }
    return views;
}

void clickOn(QWidget *window, QWidget *control, QPoint at = {})
{
    if (at.isNull())
        at = control->rect().center();
    QTest::mouseClick(control, Qt::LeftButton, {}, at);
    Q_UNUSED(window);
}

} // namespace

class TestOriginal : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_folder;
    std::unique_ptr<test::FakePrompt> m_prompt;
    std::unique_ptr<test::RecordingDesktop> m_desktop;
    std::unique_ptr<QWidget> m_main;

    // Stores one received record and, when given, its original as the receiver keeps it.
    QByteArray storeMail(const QByteArray &original)
    {
        MailRecord r;
        r.Subject = QStringLiteral("記録の件名");
        r.Header2 = QStringLiteral("yamada@example.jp");
        r.Header3 = QStringLiteral("Tue, 8 Dec 2026 10:00:00 +0900");
        r.Body = QStringLiteral("記録の本文");
        const QByteArray bytes = r.encode();
        test::writeBytes(m_folder->dataFile(QStringLiteral("kstdata2.data")), bytes);
        if (!original.isEmpty() && !originals::writeOriginal(originals::folderIn(appPaths().dataFolder()), bytes, original))
            qFatal("the original could not be written");
        return bytes;
    }

    // Selects the mail in the history window and presses "原文" there.
    OriginalForm *openFromHistory()
    {
        openHistoryWindow(1);
        TyakuForm *history = loadedForm<TyakuForm>();
        QTest::mouseClick(findControl<HistoryListBox>(history, "List1")->viewport(), Qt::LeftButton, {},
            findControl<HistoryListBox>(history, "List1")
                ->visualItemRect(findControl<HistoryListBox>(history, "List1")->item(0))
                .center());
        auto *original = history->findChild<QPushButton *>(QStringLiteral("Command6"));
        if (!original)
            return nullptr;
        QTest::mouseClick(original, Qt::LeftButton);
        OriginalForm *f = loadedForm<OriginalForm>();
        if (f && !QTest::qWaitForWindowActive(f))
            qWarning("the original view did not become active");
        return f;
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
        m_desktop = std::make_unique<test::RecordingDesktop>();
        m_main = std::make_unique<QWidget>();
        mainWindowSlot() = m_main.get();
    }
    void cleanup()
    {
        qDeleteAll(attachmentViews());
        unloadForm<OriginalForm>();
        unloadForm<TyakuForm>();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(m_prompt->unexpected(), 0);
        m_main.reset();
        m_desktop.reset();
        m_prompt.reset();
        m_folder.reset();
    }

    // Nothing leaves the page before "画像を表示"; after it remote images and
    // style sheets load, while scripts and local files stay out and no cookie is kept.
    void htmlLoadsNothingUntilAllowed()
    {
        ImageServer server;
        QVERIFY(server.listen());
        QTemporaryDir local;
        test::writeBytes(local.filePath(QStringLiteral("secret.html")),
                         QStringLiteral("<img src=\"%1\">").arg(server.url("secret-was-read")).toUtf8());
        const QString html =
            QStringLiteral("<html><head><link rel=\"stylesheet\" href=\"%1\"></head><body>"
                           "<img src=\"%2\"><script>new Image().src = \"%3\";</script>"
                           "<iframe src=\"file://%4/secret.html\"></iframe>"
                           "<iframe src=\"%5\"></iframe><p>本文</p></body></html>")
                .arg(server.url("style.css"), server.url("remote.png"), server.url("script-ran"), local.path(),
                     server.url("frame.html"));
        storeMail(htmlMessage(html));
        OriginalForm *f = openFromHistory();
        QVERIFY(f);
        QVERIFY(findControl<QPlainTextEdit>(f, "Text1")
                    ->toPlainText()
                    .contains(QStringLiteral("Subject: お知らせ")));
        QVERIFY(findControl<QPlainTextEdit>(f, "Text1")
                    ->toPlainText()
                    .contains(QStringLiteral("From: 山田 <yamada@example.jp>")));
        QCOMPARE(
            findControl<QStackedWidget>(f, "Body")->currentWidget(), findControl<MailHtmlView>(f, "Web1"));
        QSignalSpy loaded(findControl<MailHtmlView>(f, "Web1"), &QWebEngineView::loadFinished);
        QVERIFY(loaded.wait(20000) || loaded.size() > 0);
        QTest::qWait(500);
        QCOMPARE(server.requests.size(), 0);
        QVERIFY(findControl<MailHtmlView>(f, "Web1")->gate()->refusedRemote() > 0);

        clickOn(f, findControl<QPushButton>(f, "Command1"));
        QVERIFY(QTest::qWaitFor([&] { return server.asked("remote.png") && server.asked("style.css"); }, 20000));
        QVERIFY(QTest::qWaitFor([&] { return server.asked("frame.html"); }, 20000));
        QTest::qWait(500);
        QVERIFY(!server.asked("script-ran"));
        QVERIFY(!server.asked("secret-was-read"));

        // Ctrl+U shows the raw source and brings the page back.
        const auto focused = [f] { return QApplication::focusWidget() ? QApplication::focusWidget() : f; };
        QTest::keyClick(focused(), Qt::Key_U, Qt::ControlModifier);
        QCOMPARE(
            findControl<QStackedWidget>(f, "Body")->currentWidget(), findControl<QPlainTextEdit>(f, "Text3"));
        QVERIFY(findControl<QPlainTextEdit>(f, "Text3")
                    ->toPlainText()
                    .contains(QStringLiteral("Message-ID: <m1@example.jp>")));
        QTest::keyClick(focused(), Qt::Key_U, Qt::ControlModifier);
        QCOMPARE(
            findControl<QStackedWidget>(f, "Body")->currentWidget(), findControl<MailHtmlView>(f, "Web1"));

        // Opened again, the mail is blocked again; allowed once more, it sends
        // no cookie from the answers it had before.
        const qsizetype before = server.requests.size();
        QCOMPARE(openFromHistory(), f);
        QVERIFY(findControl<QPushButton>(f, "Command1")->isEnabled());
        QVERIFY(QTest::qWaitFor(
            [&] { return findControl<MailHtmlView>(f, "Web1")->gate()->refusedRemote() > 0; }, 20000));
        QCOMPARE(server.requests.size(), before);
        clickOn(f, findControl<QPushButton>(f, "Command1"));
        QVERIFY(QTest::qWaitFor([&] { return server.requests.size() > before; }, 20000));
        for (const QByteArray &r : std::as_const(server.requests))
            QVERIFY2(!r.toLower().contains("\r\ncookie:"), r.constData());
    }

    void linksShowTheirRealTargetFirst()
    {
        OriginalForm *f = form<OriginalForm>();
        // A look-alike host is shown in its encoded form before anything opens.
        m_prompt->answer(PromptAnswer::No);
        f->linkActivated(QUrl(QString::fromUtf16(u"https://\u0435xample.com/login"))); // Cyrillic е
        QVERIFY(m_desktop->opened.isEmpty());
        m_prompt->answer(PromptAnswer::Yes);
        f->linkActivated(QUrl(QStringLiteral("https://example.com/a b")));
        QCOMPARE(m_desktop->opened, QList<QUrl>{QUrl(QStringLiteral("https://example.com/a b"))});
        m_prompt->answer(PromptAnswer::Ok);
        f->linkActivated(QUrl(QStringLiteral("file:///etc/passwd")));
        QCOMPARE(m_desktop->opened.size(), 1);
        QCOMPARE(m_prompt->texts(),
                 (QStringList{QStringLiteral("次のアドレスをブラウザで開きます。よろしいですか？\n\nhttps://xn--xample-2of.com/login"),
                              QStringLiteral("次のアドレスをブラウザで開きます。よろしいですか？\n\nhttps://example.com/a%20b"),
                              QStringLiteral("このリンクは開けません。\n\nfile:///etc/passwd")}));
    }

    void attachmentsOpenAndSave()
    {
        storeMail(attachmentMessage());
        OriginalForm *f = openFromHistory();
        QVERIFY(f);
        QCOMPARE(findControl<QTableWidget>(f, "Grid1")->rowCount(), 2);
        QCOMPARE(findControl<QTableWidget>(f, "Grid1")->item(0, 0)->text(), QStringLiteral("報告.txt"));
        QCOMPARE(findControl<QTableWidget>(f, "Grid1")->item(0, 1)->text(), QStringLiteral("text/plain"));
        QCOMPARE(findControl<QTableWidget>(f, "Grid1")->item(0, 2)->text(), QStringLiteral("11 B"));

        const auto clickRow = [&](int row) {
            QTest::mouseClick(findControl<QTableWidget>(f, "Grid1")->viewport(), Qt::LeftButton, {},
                findControl<QTableWidget>(f, "Grid1")
                    ->visualRect(findControl<QTableWidget>(f, "Grid1")->model()->index(row, 0))
                    .center());
        };
        clickRow(0);
        clickOn(f, findControl<QPushButton>(f, "Command3"));
        QCOMPARE(m_desktop->opened.size(), 1);
        const QString opened = m_desktop->opened.first().toLocalFile();
        QCOMPARE(test::readBytes(opened), QByteArray("report text"));
        QVERIFY(!QFileInfo(opened).isExecutable());

        // A program asks first; "いいえ" opens nothing.
        clickRow(1);
        m_prompt->answer(PromptAnswer::No);
        clickOn(f, findControl<QPushButton>(f, "Command3"));
        QCOMPARE(m_desktop->opened.size(), 1);
        QCOMPARE(m_prompt->shown().last().title, QStringLiteral("確認"));
        // The name as written: files opened by earlier runs may have taken "setup.exe".
        static const QRegularExpression asWritten(QStringLiteral("^「setup( \\(\\d+\\))?\\.exe」はプログラムまたはスクリプトです。"));
        QVERIFY2(asWritten.match(m_prompt->shown().last().text).hasMatch(), qPrintable(m_prompt->shown().last().text));
        m_prompt->answer(PromptAnswer::Yes);
        clickOn(f, findControl<QPushButton>(f, "Command3"));
        QCOMPARE(m_desktop->opened.size(), 2);

        // The desktop has no application for it: the user is told what to do.
        m_desktop->succeed = false;
        clickRow(0);
        m_prompt->answer(PromptAnswer::Ok);
        clickOn(f, findControl<QPushButton>(f, "Command3"));
        QVERIFY(m_prompt->shown().last().text.startsWith(QStringLiteral("「報告")));

        const QString target = m_folder->path() + QStringLiteral("/saved.txt");
        m_prompt->answerFile(target);
        clickOn(f, findControl<QPushButton>(f, "Command4"));
        QCOMPARE(test::readBytes(target), QByteArray("report text"));
    }

    // The name the desktop sees is the one written to disk, and the contents
    // count as much as the name: each probe is written by the real writer and
    // then judged as the opener judges it.
    void attachmentsAreJudgedAsWritten_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("writtenEnding");
        QTest::addColumn<int>("risk");
        const int runs = int(FileRisk::Runs);
        const int page = int(FileRisk::LocalPage);
        const int none = int(FileRisk::None);
        const QByteArray text = "harmless text";
        // Names that become a program's name only as they are cleaned for the disk.
        QTest::newRow("control character") << QStringLiteral("evil.desk") + QChar(0x01) + QStringLiteral("top") << text
                                           << ".desktop" << runs;
        QTest::newRow("DEL") << QStringLiteral("evil.s") + QChar(0x7F) + QStringLiteral("h") << text << ".sh" << runs;
        QTest::newRow("ideographic space") << QStringLiteral("evil.sh") + QChar(0x3000) << text << ".sh" << runs;
        QTest::newRow("direction override") << QStringLiteral("evil.js") + QChar(0x202E) << text << ".js" << runs;
        const QString longName = QString(192, u'A') + QStringLiteral(".desktop.") + QString(29, u'x');
        QTest::newRow("cut long name") << longName << text << ".desktop" << runs;
        // Launchers by their ending.
        for (const char *name : {"start.jnlp", "home.directory", "old.kdelnk", "setup.exe", "screen.scr",
                                 "shortcut.lnk", "macro.vbs", "job.wsf", "app.hta", "install.msi", "run.ps1",
                                 "keys.reg", "go.cmd", "go.bat", "START.JSE"}) {
            QTest::newRow(name) << QString::fromLatin1(name) << text << QString() << runs;
        }
        // Programs under harmless names.
        QTest::newRow("ELF as pdf") << QStringLiteral("invoice.pdf") << QByteArray("\x7F" "ELF\x02\x01\x01\0", 8)
                                    << ".pdf" << runs;
        QTest::newRow("script as txt") << QStringLiteral("readme.txt") << QByteArray("#!/bin/sh\nrm -rf ~\n") << ".txt"
                                       << runs;
        QTest::newRow("script after BOM") << QStringLiteral("readme.txt") << QByteArray("\xEF\xBB\xBF#!/bin/sh\n")
                                          << ".txt" << runs;
        QTest::newRow("MZ as jpg") << QStringLiteral("photo.jpg") << QByteArray("MZ\x90\0\x03\0\0\0", 8) << ".jpg"
                                   << runs;
        QTest::newRow("desktop entry as txt")
            << QStringLiteral("notes.txt") << QByteArray("# notes\n\n[Desktop Entry]\nExec=sh -c id\n") << ".txt" << runs;
        QTest::newRow("Java archive as zip")
            << QStringLiteral("photos.zip") << QByteArray("PK\x03\x04\x14\0\0\0\x08\0META-INF/MANIFEST.MF", 30)
            << ".zip" << runs;
        // Pages a browser would open from the disk.
        QTest::newRow("html") << QStringLiteral("page.html") << QByteArray("<p>hello</p>") << ".html" << page;
        QTest::newRow("svg") << QStringLiteral("logo.svg") << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\"/>")
                             << ".svg" << page;
        QTest::newRow("html as txt") << QStringLiteral("letter.txt")
                                     << QByteArray("<!DOCTYPE html><html><script>x()</script></html>") << ".txt" << page;
        // What is what it says.
        QTest::newRow("text") << QStringLiteral("報告.txt") << text << ".txt" << none;
        QTest::newRow("pdf") << QStringLiteral("memo.pdf") << QByteArray("%PDF-1.4\n") << ".pdf" << none;
        QTest::newRow("odf zip") << QStringLiteral("doc.odt")
                                 << QByteArray("PK\x03\x04\x14\0\0\0\0\0", 10)
                                        + "mimetypeapplication/vnd.oasis.opendocument.textMETA-INF/manifest.xml"
                                 << ".odt" << none;
    }
    void attachmentsAreJudgedAsWritten()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, data);
        QFETCH(QString, writtenEnding);
        QFETCH(int, risk);
        QTemporaryDir folder;
        const Result<QString> written = mime::writeNewFile(folder.path(), name, data);
        QVERIFY(written);
        QVERIFY2(written.value().endsWith(writtenEnding), qPrintable(written.value()));
        QCOMPARE(int(judgeAttachment(written.value(), name)), risk);
    }

    // Opening: a launcher under a cleaned name and a program under a harmless
    // name ask first, with the name as written, and are removed when refused;
    // a page is shown in the safe view, never handed to a browser.
    void hostileAttachmentsAreNotHandedOver()
    {
        storeMail(hostileAttachmentMessage());
        OriginalForm *f = openFromHistory();
        QVERIFY(f);
        auto *grid = findControl<QTableWidget>(f, "Grid1");
        QCOMPARE(grid->rowCount(), 3);
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation)
                               + QStringLiteral("/attachments");
        const auto openRow = [&](int row) {
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                              grid->visualRect(grid->model()->index(row, 0)).center());
            clickOn(f, findControl<QPushButton>(f, "Command3"));
        };
        m_prompt->answer(PromptAnswer::No);
        openRow(0);
        QVERIFY(m_prompt->shown().last().text.startsWith(QStringLiteral("「evil.desktop」はプログラムまたはスクリプトです。")));
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/evil.desktop")));

        m_prompt->answer(PromptAnswer::No);
        openRow(2);
        QVERIFY(m_prompt->shown().last().text.startsWith(QStringLiteral("「invoice.pdf」はプログラムまたはスクリプトです。")));
        QCOMPARE(m_prompt->shown().size(), 2);

        openRow(1);
        QCOMPARE(m_prompt->shown().size(), 2);
        QVERIFY(m_desktop->opened.isEmpty());
        const QList<QWidget *> views = attachmentViews();
        QCOMPARE(views.size(), 1);
        QVERIFY(qobject_cast<MailHtmlView *>(views.first()));
        QCOMPARE(views.first()->windowTitle(), QStringLiteral("page.html"));
        QVERIFY(views.first()->isVisible());
    }

    // The real questions before a link opens and a program runs: Enter and
    // Esc on the focused button both say No.
    void riskyQuestionsDefaultToNo_data()
    {
        QTest::addColumn<Qt::Key>("key");
        QTest::newRow("Enter") << Qt::Key_Return;
        QTest::newRow("Esc") << Qt::Key_Escape;
    }
    void riskyQuestionsDefaultToNo()
    {
        QFETCH(Qt::Key, key);
        storeMail(hostileAttachmentMessage());
        OriginalForm *f = openFromHistory();
        QVERIFY(f);
        m_prompt.reset(); // the real boxes from here on
        const auto restore = qScopeGuard([&] { m_prompt = std::make_unique<test::FakePrompt>(); });
        const auto answeredSafely = [key](const std::function<void()> &ask) {
            test::RealBoxKey person(key);
            ask();
            return person.seen && person.defaultButton == QMessageBox::No && person.escapeButton == QMessageBox::No;
        };
        QVERIFY(answeredSafely([f] { f->linkActivated(QUrl(QStringLiteral("https://example.com/"))); }));
        auto *grid = findControl<QTableWidget>(f, "Grid1");
        QVERIFY(answeredSafely([&] {
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(0, 0)).center());
            clickOn(f, findControl<QPushButton>(f, "Command3"));
        }));
        QVERIFY(m_desktop->opened.isEmpty());
        QVERIFY(!QFileInfo::exists(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)
                                   + QStringLiteral("/attachments/evil.desktop")));
    }

    // Esc closes the view from wherever the focus is: it holds nothing typed.
    void escapeCloses()
    {
        storeMail(attachmentMessage());
        for (const char *focused : {"Text1", "Grid1", "Command4"}) {
            OriginalForm *f = openFromHistory();
            QVERIFY(f);
            QVERIFY(QTest::qWaitForWindowActive(f));
            f->findChild<QWidget *>(QLatin1String(focused))->setFocus();
            QCOMPARE(QApplication::focusWidget()->objectName(), QLatin1String(focused));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY2(!loadedForm<OriginalForm>(), focused);
        }
    }

    void mailWithoutOriginalShowsTheRecord()
    {
        storeMail({});
        OriginalForm *f = openFromHistory();
        QVERIFY(f);
        QVERIFY(findControl<QLabel>(f, "Label1")
                    ->text()
                    .startsWith(QStringLiteral("このメールの原文は保存されていません")));
        QCOMPARE(
            findControl<QStackedWidget>(f, "Body")->currentWidget(), findControl<QPlainTextEdit>(f, "Text2"));
        QCOMPARE(findControl<QPlainTextEdit>(f, "Text2")->toPlainText(), QStringLiteral("記録の本文"));
        QCOMPARE(findControl<QTableWidget>(f, "Grid1")->rowCount(), 0);
        QVERIFY(!findControl<QPushButton>(f, "Command1")->isEnabled());
        clickOn(f, findControl<QPushButton>(f, "Command5"));
        QCOMPARE(m_desktop->opened, QList<QUrl>{QUrl::fromLocalFile(appPaths().attachFolder())});
    }
};

QTEST_MAIN(TestOriginal)
#include "tst_original.moc"
