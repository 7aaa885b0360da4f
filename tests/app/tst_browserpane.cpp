// The browser pane against pages served by a small HTTP server on a loopback
// port: navigation from the address combo, the busy watch in the caption, and
// the toolbar's Back, Forward, Refresh, Stop, Home and Search.

#include "common/AppState.h"
#include "app/BrowserPane.h"
#include "app/Favourites.h"
#include "app/MainForm.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/RiskyFiles.h"
#include "common/Twips.h"
#include "settings/BrowserOptionForm.h"
#include "settings/SetForm.h"
#include "storage/BrowserOptions.h"
#include "storage/RecordFile.h"
#include "web/WebPane.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QComboBox>
#include <QFileInfo>
#include <QWebEngineSettings>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QLineEdit>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QToolBar>
#include <QWebEngineHistory>
#include <QWebEngineView>
#include <QtTest>

#include <memory>

using namespace kestra;
using namespace kestra::test;

namespace {

// Chooses where a download goes, as the file dialog would; the message boxes
// are the real ones.
class SaveToPrompt final : public UserPrompt
{
public:
    explicit SaveToPrompt(QString path) : m_path(std::move(path)) { setPrompt(this); }
    ~SaveToPrompt() override { setPrompt(nullptr); }
    PromptAnswer message(const QString &text, const QString &title, PromptIcon icon, PromptButtons buttons,
                         PromptDefault byDefault) override
    {
        return m_real.message(text, title, icon, buttons, byDefault);
    }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    QString saveFileName(const QString &, const QString &, const QString &) override { return m_path; }

private:
    QString m_path;
    DialogPrompt m_real;
};

const QString kBusy = QStringLiteral("作業中...");

// Serves /a, /b, /c (pages titled "Page A" ...), /count (a page titled with
// the number of requests so far) and /slow, whose answer waits until the test
// releases it. Anything else is 404. Every answer closes the connection.
class PageServer final : public QObject
{
public:
    PageServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRead(socket); });
            }
        });
    }

    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QString url(const char *path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(QLatin1String(path));
    }
    int waiting() const { return int(m_slow.size()); }
    int countHits() const { return m_count; }
    // Every path asked for, in order.
    const QList<QByteArray> &asked() const { return m_asked; }
    // Answers `path` with a whole HTTP response head (without its blank line) and body.
    void route(const QByteArray &path, const QByteArray &head, const QByteArray &body)
    {
        m_routes.insert(path, head + "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size())
                                  + "\r\n\r\n" + body);
    }
    void routePage(const QByteArray &path, const QString &title, const QString &body)
    {
        route(path, "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store",
              QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title></head>"
                             "<body style=\"margin:0\">%2</body></html>")
                  .arg(title, body)
                  .toUtf8());
    }

    void releaseSlow()
    {
        for (const QPointer<QTcpSocket> &socket : std::as_const(m_slow)) {
            if (socket)
                answer(socket, 200, page(QStringLiteral("Slow page")));
        }
        m_slow.clear();
    }

private:
    static QByteArray page(const QString &title)
    {
        return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title></head>"
                              "<body><p>%1</p></body></html>")
            .arg(title)
            .toUtf8();
    }

    static void answer(QTcpSocket *socket, int status, const QByteArray &body)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Not Found");
        head += "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nConnection: close"
                "\r\nContent-Length: "
                + QByteArray::number(body.size()) + "\r\n\r\n";
        socket->write(head + body);
        socket->disconnectFromHost();
    }

    void onRead(QTcpSocket *socket)
    {
        QByteArray &request = m_requests[socket];
        request += socket->readAll();
        if (request.startsWith('\x16')) {
            // A TLS handshake: answered in plain HTTP, as a web server without TLS does.
            m_requests.remove(socket);
            socket->write("HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        if (!request.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
        const QByteArray path = line.size() > 1 ? line.at(1) : QByteArray();
        m_requests.remove(socket);
        if (path != "/favicon.ico")
            m_asked.append(path);
        if (m_routes.contains(path)) {
            socket->write(m_routes.value(path));
            socket->disconnectFromHost();
        } else if (path == "/a" || path == "/b" || path == "/c")
            answer(socket, 200, page(QStringLiteral("Page ") + QChar::fromLatin1(path.at(1)).toUpper()));
        else if (path == "/count")
            answer(socket, 200, page(QStringLiteral("Hit %1").arg(++m_count)));
        else if (path == "/slow")
            m_slow.append(socket);
        else
            answer(socket, 404, QByteArray());
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_requests;
    QList<QPointer<QTcpSocket>> m_slow;
    QHash<QByteArray, QByteArray> m_routes;
    QList<QByteArray> m_asked;
    int m_count = 0;
};

} // namespace

class TestBrowserPane : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempAppFolder> m_folder;
    std::unique_ptr<FakePrompt> m_prompt;
    std::unique_ptr<PageServer> m_server;
    std::unique_ptr<MainForm> m_form;

    QAction *button(const char *key) const
    {
        auto *action = findControl<QToolBar>(m_form, "tbToolBar")->findChild<QAction *>(QLatin1String(key));
        if (!action)
            qFatal("no toolbar button %s", key);
        return action;
    }

    // Types an address and presses Enter, as the user does: the keys go to the
    // widget that has the focus, as real key presses do.
    void typeAddress(const QString &address)
    {
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        findControl<QComboBox>(m_form, "cboAddress")->setFocus();
        // The combo box holds the focus and hands keys to its line edit itself.
        QWidget *focus = QApplication::focusWidget();
        QCOMPARE(focus, findControl<QComboBox>(m_form, "cboAddress"));
        QTest::keyClick(focus, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(focus, Qt::Key_Delete);
        QTest::keyClicks(focus, address);
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentText(), address);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }

    // The pane's page view, made when it is not there yet.
    QWebEngineView *view() { return qobject_cast<QWebEngineView *>(m_form->browserPane()->view()); }

    // A click of the mouse on the page at (x, y), as the user gives it.
    void clickPage(QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget *page = view()->focusProxy();
        QVERIFY(page);
        QTest::mouseMove(page, at);
        QTest::mouseClick(page, Qt::LeftButton, modifiers, at);
    }

    // The result of a script run in the page.
    QVariant script(const QString &code)
    {
        QVariant result;
        bool done = false;
        view()->page()->runJavaScript(code, [&](const QVariant &v) {
            result = v;
            done = true;
        });
        if (!QTest::qWaitFor([&] { return done; }, 5000))
            qWarning("script gave no answer");
        return result;
    }

    // A page whose whole top is one link.
    static QString bigLink(const char *href, const char *extra = "")
    {
        return QStringLiteral("<a id=\"l\" href=\"%1\" %2 style=\"display:block;height:150px;background:#ddf\">link</a>")
            .arg(QLatin1String(href), QLatin1String(extra));
    }

    // The page has loaded and the busy watch has shown its title.
    bool settledOn(const QString &title) const
    {
        return m_form->windowTitle() == title && !findControl<QTimer>(m_form, "timTimer")->isActive();
    }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<TempAppFolder>();
        m_prompt = std::make_unique<FakePrompt>();
        m_server = std::make_unique<PageServer>();
        QVERIFY(m_server->listen());
        m_form = std::make_unique<MainForm>();
        m_form->show();
    }

    void cleanup()
    {
        if (!m_prompt->texts().isEmpty())
            qWarning() << "shown:" << m_prompt->texts();
        QCOMPARE(m_prompt->unexpected(), 0);
        QVERIFY(m_prompt->shown().isEmpty());
        m_form.reset();
        m_server.reset();
        m_prompt.reset();
        m_folder.reset();
        setBrowserHomePage({});
        setExternalBrowser(nullptr);
    }

    void interpretAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("guessed");
        const int page = int(TypedAddress::Kind::Page);
        const int search = int(TypedAddress::Kind::Search);
        const int refused = int(TypedAddress::Kind::Refused);
        QTest::newRow("bare host") << "example.com" << page << "https://example.com/" << true;
        QTest::newRow("bare host with path") << "example.com/a/b?q=1#f" << page << "https://example.com/a/b?q=1#f" << true;
        QTest::newRow("host and port") << "localhost:8080" << page << "https://localhost:8080/" << true;
        QTest::newRow("intranet name with slash") << "intranet/" << page << "https://intranet/" << true;
        QTest::newRow("with scheme") << "http://127.0.0.1:8080/x" << page << "http://127.0.0.1:8080/x" << false;
        QTest::newRow("scheme and host in capitals") << "HTTP://Example.COM" << page << "http://example.com/" << false;
        QTest::newRow("blanks around") << "  example.com  " << page << "https://example.com/" << true;
        QTest::newRow("words") << "qt web engine" << search << "https://search.test/?q=qt%20web%20engine" << false;
        QTest::newRow("one word") << "kestra" << search << "https://search.test/?q=kestra" << false;
        QTest::newRow("japanese") << "天気" << search << "https://search.test/?q=%E5%A4%A9%E6%B0%97" << false;
        QTest::newRow("words with a dot") << "what is example.com" << search
                                          << "https://search.test/?q=what%20is%20example.com" << false;
        QTest::newRow("local file") << "/tmp/page.html" << refused << "" << false;
        QTest::newRow("file scheme") << "file:///etc/passwd" << refused << "" << false;
        QTest::newRow("ftp") << "ftp://example.com/" << refused << "" << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << refused << "" << false;
        QTest::newRow("about page") << "about:blank" << refused << "" << false;
        QTest::newRow("scheme without host") << "https://" << refused << "" << false;
        QTest::newRow("empty") << "" << int(TypedAddress::Kind::Empty) << "" << false;
        QTest::newRow("blanks only") << "   " << int(TypedAddress::Kind::Empty) << "" << false;
    }

    void interpretAddress()
    {
        QFETCH(QString, typed);
        QFETCH(int, kind);
        QFETCH(QString, expected);
        QFETCH(bool, guessed);
        const TypedAddress got = kestra::interpretAddress(typed, QStringLiteral("https://search.test/?q=%s"));
        QCOMPARE(int(got.kind), kind);
        if (got.kind != TypedAddress::Kind::Refused)
            QCOMPARE(got.url.toString(QUrl::FullyEncoded), expected);
        QCOMPARE(got.httpsGuessed, guessed);
    }

    void sandboxNoticeShowsAboveThePane()
    {
        m_form->browserPane();
        m_form->showSandboxNotice();
        QCOMPARE(findControl<QPlainTextEdit>(m_form, "Text1")->toPlainText(), sandboxNotice());
        QVERIFY(findControl<QPlainTextEdit>(m_form, "Text1")->isVisible());
        QCOMPARE(m_form->childAt(findControl<QPlainTextEdit>(m_form, "Text1")->geometry().center()),
            findControl<QPlainTextEdit>(m_form, "Text1")->viewport());
    }

    void pageCacheIsInMemoryAndBounded()
    {
        // Visited pages leave nothing on disk, and their cache does not grow
        // with the machine's memory.
        const QWebEngineProfile *profile = view()->page()->profile();
        QVERIFY(profile->isOffTheRecord());
        QCOMPARE(profile->httpCacheType(), QWebEngineProfile::MemoryHttpCache);
        QVERIFY(profile->httpCacheMaximumSize() > 0);
        QVERIFY(profile->httpCacheMaximumSize() <= 8 * 1024 * 1024);
    }

    void enterNavigatesAndCaptionShowsTheTitle()
    {
        typeAddress(m_server->url("/a"));
        QVERIFY(findControl<QTimer>(m_form, "timTimer")->isActive());
        QTRY_VERIFY(settledOn(QStringLiteral("Page A")));
        QCOMPARE(view()->url().toString(), m_server->url("/a"));
    }

    void choosingAFavouriteNavigates()
    {
        findControl<QComboBox>(m_form, "cboAddress")->addItem(m_server->url("/a"));
        findControl<QComboBox>(m_form, "cboAddress")->addItem(m_server->url("/b"));
        findControl<QComboBox>(m_form, "cboAddress")->setCurrentIndex(1);
        Q_EMIT findControl<QComboBox>(m_form, "cboAddress")->activated(1);
        QTRY_VERIFY(settledOn(QStringLiteral("Page B")));
    }

    void captionShowsBusyWhileLoading()
    {
        typeAddress(m_server->url("/slow"));
        QTRY_COMPARE(m_server->waiting(), 1);
        QTRY_COMPARE(m_form->windowTitle(), kBusy);
        QVERIFY(findControl<QTimer>(m_form, "timTimer")->isActive());
        // Still busy later on: the watch does not give up while the page loads.
        QTest::qWait(200);
        QCOMPARE(m_form->windowTitle(), kBusy);
        m_server->releaseSlow();
        QTRY_VERIFY(settledOn(QStringLiteral("Slow page")));
    }

    void backForwardAndRefresh()
    {
        typeAddress(m_server->url("/a"));
        QTRY_VERIFY(settledOn(QStringLiteral("Page A")));
        typeAddress(m_server->url("/count"));
        QTRY_VERIFY(settledOn(QStringLiteral("Hit 1")));

        button("Back")->trigger();
        QVERIFY(findControl<QTimer>(m_form, "timTimer")->isActive());
        QTRY_VERIFY(settledOn(QStringLiteral("Page A")));
        QCOMPARE(view()->url().toString(), m_server->url("/a"));

        button("Forward")->trigger();
        QTRY_VERIFY(settledOn(QStringLiteral("Hit 2")));
        QCOMPARE(view()->url().toString(), m_server->url("/count"));

        button("Refresh")->trigger();
        QVERIFY(findControl<QTimer>(m_form, "timTimer")->isActive());
        QTRY_VERIFY(settledOn(QStringLiteral("Hit 3")));
        QCOMPARE(m_server->countHits(), 3);
    }

    void stopShowsTheTitleOfThePageShown()
    {
        typeAddress(m_server->url("/a"));
        QTRY_VERIFY(settledOn(QStringLiteral("Page A")));
        typeAddress(m_server->url("/slow"));
        QTRY_COMPARE(m_server->waiting(), 1);
        QTRY_COMPARE(m_form->windowTitle(), kBusy);

        button("Stop")->trigger();
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Page A"));
        QVERIFY(!findControl<QTimer>(m_form, "timTimer")->isActive());
        QTRY_VERIFY(!m_form->paneBusy());
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Page A"));
        QCOMPARE(view()->url().toString(), m_server->url("/a"));
    }

    void homeAndSearchGoToTheirPages()
    {
        setBrowserHomePage(QUrl(m_server->url("/b")));
        QVERIFY(writeSearchAddress(appPaths().extraIni(), m_server->url("/c?q=%s")).ok());
        button("Home")->trigger();
        QTRY_VERIFY(settledOn(QStringLiteral("Page B")));
        // With an address in the box, Search opens the search site's front page.
        m_server->routePage("/", QStringLiteral("Search site"), QString());
        button("Search")->trigger();
        QTRY_VERIFY(settledOn(QStringLiteral("Search site")));
    }

    void defaultHomeIsTheShippedHelpPage()
    {
        QVERIFY(browserHomePage().isLocalFile());
        QCOMPARE(browserHomePage(), helpPageUrl());
        button("Home")->trigger();
        QTRY_VERIFY(settledOn(QStringLiteral("ケストラ ヘルプ")));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentText(), helpPageUrl().toString());
    }

    void emptyPaneKeepsTheCaption_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("Back") << "Back";
        QTest::newRow("Forward") << "Forward";
        QTest::newRow("Refresh") << "Refresh";
        QTest::newRow("Stop") << "Stop";
    }

    void emptyPaneKeepsTheCaption()
    {
        QFETCH(QString, key);
        button(key.toLatin1().constData())->trigger();
        QTRY_VERIFY(!findControl<QTimer>(m_form, "timTimer")->isActive());
        QCOMPARE(m_form->windowTitle(), MainForm::caption());
        // Nowhere to go: the web engine is not started for it.
        QVERIFY(!m_form->findChild<QWebEngineView *>(QStringLiteral("brwWebBrowser")));
    }

    void enterOnAnEmptyAddressDoesNothing()
    {
        typeAddress(QString());
        QVERIFY(!m_form->paneBusy());
        QTRY_VERIFY(!findControl<QTimer>(m_form, "timTimer")->isActive());
        QCOMPARE(m_form->windowTitle(), MainForm::caption());
        QVERIFY(!m_form->findChild<QWebEngineView *>(QStringLiteral("brwWebBrowser")));
    }

    void typedAddressIsKeptWhenItBeginsAFavourite()
    {
        QVERIFY(addFavourite(favouritesPath(), m_server->url("/ab")));
        m_form->Command10_Click();
        typeAddress(m_server->url("/a"));
        QTRY_VERIFY(settledOn(QStringLiteral("Page A")));
        QCOMPARE(m_server->asked(), QList<QByteArray>{"/a"});
        findControl<QPushButton>(m_form, "Command2")->click();
        QCOMPARE(readFavourites(favouritesPath()).value(),
                 (QStringList{m_server->url("/ab"), m_server->url("/a")}));
    }

    void addressBoxFollowsRedirectsLinksAndHistory()
    {
        m_server->route("/moved", "HTTP/1.1 302 Found\r\nLocation: /c", QByteArray());
        m_server->routePage("/links", QStringLiteral("Links"), bigLink("/b"));
        typeAddress(m_server->url("/moved"));
        QTRY_VERIFY(settledOn(QStringLiteral("Page C")));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentText(), m_server->url("/c"));
        findControl<QPushButton>(m_form, "Command2")->click();
        QCOMPARE(readFavourites(favouritesPath()).value(), QStringList{m_server->url("/c")});

        typeAddress(m_server->url("/links"));
        QTRY_VERIFY(settledOn(QStringLiteral("Links")));
        clickPage(QPoint(40, 40));
        // A link starts no busy watch, so the caption stays; the address box follows.
        QTRY_COMPARE(view()->title(), QStringLiteral("Page B"));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentText(), m_server->url("/b"));
        button("Back")->trigger();
        QTRY_VERIFY(settledOn(QStringLiteral("Links")));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentText(), m_server->url("/links"));
    }

    void newWindowsOpenInThePaneOrTheSystemBrowser()
    {
        QList<QUrl> external;
        setExternalBrowser([&external](const QUrl &url) {
            external.append(url);
            return true;
        });
        m_server->routePage("/blank", QStringLiteral("Blank"), bigLink("/b", "target=\"_blank\""));
        m_server->routePage("/popup", QStringLiteral("Popup"),
                            QStringLiteral("<script>window.open('/c');</script>"));
        typeAddress(m_server->url("/blank"));
        QTRY_VERIFY(settledOn(QStringLiteral("Blank")));
        clickPage(QPoint(40, 40));
        QTRY_VERIFY(settledOn(QStringLiteral("Page B")));
        QVERIFY(external.isEmpty());

        button("Back")->trigger();
        QTRY_VERIFY(settledOn(QStringLiteral("Blank")));
        clickPage(QPoint(40, 40), Qt::ControlModifier);
        QTRY_COMPARE(external, QList<QUrl>{QUrl(m_server->url("/b"))});
        QCOMPARE(view()->url().toString(), m_server->url("/blank"));

        // A script's window without a click opens nowhere.
        typeAddress(m_server->url("/popup"));
        QTRY_VERIFY(settledOn(QStringLiteral("Popup")));
        QTest::qWait(300);
        QVERIFY(!m_server->asked().contains("/c"));
        QCOMPARE(view()->url().toString(), m_server->url("/popup"));
        QCOMPARE(external.size(), 1);
    }

    void downloadsAreSavedWhereTheUserSays_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("risky");
        QTest::addColumn<bool>("goOn");
        QTest::newRow("plain file") << "data.bin" << false << true;
        QTest::newRow("program, saved after the warning") << "setup.exe" << true << true;
        QTest::newRow("program, warning cancelled") << "setup.exe" << true << false;
    }

    void downloadsAreSavedWhereTheUserSays()
    {
        QFETCH(QString, name);
        QFETCH(bool, risky);
        QFETCH(bool, goOn);
        QByteArray bytes;
        for (int i = 0; i < 70000; ++i)
            bytes += char(i * 7);
        m_server->route("/file", "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                                 "Content-Disposition: attachment; filename=\"" + name.toLatin1() + "\"",
                        bytes);
        QTemporaryDir target;
        const QString path = target.filePath(name);
        m_prompt->answerFile(path);
        if (risky)
            m_prompt->answer(goOn ? PromptAnswer::Ok : PromptAnswer::Cancel);
        typeAddress(m_server->url("/file"));
        QTRY_COMPARE(m_prompt->pendingAnswers(), 0);
        QCOMPARE(m_prompt->shown().first().kind, ShownPrompt::Kind::SaveFile);
        if (risky) {
            QCOMPARE(m_prompt->shown().at(1).text, riskyFileWarning(name));
            QCOMPARE(m_prompt->shown().at(1).buttons, PromptButtons::OkCancel);
        }
        if (goOn) {
            QTRY_COMPARE(findControl<QPlainTextEdit>(m_form, "Text1")->toPlainText(),
                QStringLiteral("保存しました: %1").arg(path));
            QCOMPARE(readBytes(path), bytes);
            // Saved, never run: no executable bit.
            QVERIFY(!QFileInfo(path).isExecutable());
        } else {
            QTest::qWait(300);
            QVERIFY(!QFile::exists(path));
        }
        QVERIFY(!m_form->findChild<QWidget *>(QStringLiteral("picDownload"))->isVisible());
        m_prompt->clear();
    }

    // The real warning before a program is saved: Enter on the focused button
    // cancels the download.
    void enterOnTheRiskyDownloadWarningSavesNothing()
    {
        m_server->route("/file", "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                                 "Content-Disposition: attachment; filename=\"setup.exe\"",
                        QByteArray(70000, 'x'));
        QTemporaryDir target;
        const QString path = target.filePath(QStringLiteral("setup.exe"));
        SaveToPrompt saveTo(path);
        RealBoxKey person(Qt::Key_Return);
        typeAddress(m_server->url("/file"));
        QTRY_VERIFY(person.seen);
        QCOMPARE(person.defaultButton, int(QMessageBox::Cancel));
        QCOMPARE(person.escapeButton, int(QMessageBox::Cancel));
        QTest::qWait(300);
        QVERIFY(!QFile::exists(path));
        QVERIFY(!m_form->findChild<QWidget *>(QStringLiteral("picDownload"))->isVisible());
    }

    void wordsAreSearchedWithTheAddressSetInTheSettingsWindow()
    {
        m_server->routePage("/find?q=kestra%20mail", QStringLiteral("Found"), QString());
        SetForm *chooser = form<SetForm>();
        chooser->show();
        findControl<QPushButton>(chooser, "Command3")->click();
        BrowserOptionForm *options = loadedForm<BrowserOptionForm>();
        QVERIFY(options);
        QCOMPARE(
            findControl<QLineEdit>(options, "SearchText")->text(), BrowserOptions::defaultSearchAddress());
        options->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(options));
        findControl<QLineEdit>(options, "SearchText")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), m_server->url("/find?q="));
        m_prompt->answer(PromptAnswer::Ok);
        findControl<QPushButton>(options, "OkCommand")->click(); // without %s it is refused
        QCOMPARE(m_prompt->shown().size(), 1);
        QVERIFY(loadedForm<BrowserOptionForm>());
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("%s"));
        findControl<QPushButton>(options, "OkCommand")->click();
        QVERIFY(!loadedForm<BrowserOptionForm>());
        unloadForm<SetForm>();
        QCOMPARE(QSettings(appPaths().extraIni(), QSettings::IniFormat).value(QStringLiteral("browser/Search")).toString(),
                 m_server->url("/find?q=%s"));

        typeAddress(QStringLiteral("kestra mail"));
        QTRY_VERIFY(settledOn(QStringLiteral("Found")));
        QCOMPARE(m_server->asked(), QList<QByteArray>{"/find?q=kestra%20mail"});
        m_prompt->clear();
    }

    void addressWithoutSchemeFallsBackToHttpOnce()
    {
        const QString typed = m_server->url("/a").mid(int(qstrlen("http://")));
        typeAddress(typed);
        QTRY_VERIFY(settledOn(QStringLiteral("Page A")));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentText(), m_server->url("/a"));
        // http was asked once, after https could not talk to this server.
        QCOMPARE(m_server->asked(), QList<QByteArray>{"/a"});
    }

    void paneFitsTheWindow_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("design size") << QSize(twipsToPx(MainForm::kDesignWidth), twipsToPx(MainForm::kDesignHeight));
        QTest::newRow("wide") << QSize(1200, 800);
        QTest::newRow("smallest") << QSize(); // the window's minimum size
    }

    void paneFitsTheWindow()
    {
        QFETCH(QSize, size);
        QWebEngineView *pane = view();
        if (!size.isValid())
            size = m_form->minimumSize();
        m_form->resize(size);
        const auto check = [&](int bottomBars) {
            const QRect r = pane->geometry();
            QCOMPARE(pxToTwips(r.left()), 1560);
            QCOMPARE(pxToTwips(r.top()), 1200);
            QCOMPARE(r.right() + 1, m_form->width());
            QCOMPARE(r.bottom() + 1 + bottomBars, m_form->height());
        };
        QTRY_COMPARE(m_form->size(), size);
        check(0);
        // The address box's arrow is inside its container.
        const QRect box = findControl<QComboBox>(m_form, "cboAddress")->geometry();
        QCOMPARE(box.width(), twipsToPx(pxToTwips(size.width()) / 1.5));
        QVERIFY(findControl<QWidget>(m_form, "picAddress")->rect().contains(box.topRight()));
        // The find bar takes its place below the page, inside the window.
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : m_form.get(), Qt::Key_F,
                        Qt::ControlModifier);
        auto *find = m_form->findChild<QWidget *>(QStringLiteral("picFind"));
        QVERIFY(find->isVisible());
        check(find->height());
        QCOMPARE(find->geometry().bottom() + 1, m_form->height());
        // The words have room: a dozen Japanese characters fit the box.
        auto *words = findControl<QLineEdit>(m_form, "txtFind");
        QVERIFY(words->fontMetrics().horizontalAdvance(QStringLiteral("東京都千代田区丸の内一丁")) <= words->contentsRect().width());
        // What is found is not hidden under the help box, not even when the pointer
        // passes a button; once the find bar closes the help comes back.
        auto *help = findControl<QPlainTextEdit>(m_form, "Text1");
        QVERIFY(!help->isVisible());
        test::pointAt(findControl<QPushButton>(m_form, "Command4"));
        QVERIFY(!help->isVisible());
        QTest::keyClick(words, Qt::Key_Escape);
        QVERIFY(!find->isVisible());
        test::pointAt(findControl<QPushButton>(m_form, "Command6"));
        QVERIFY(help->isVisible());
    }

    void keyboardShortcuts()
    {
        m_server->routePage("/words", QStringLiteral("Words"), QStringLiteral("<p>apple pear apple plum apple</p>"));
        typeAddress(m_server->url("/a"));
        QTRY_VERIFY(settledOn(QStringLiteral("Page A")));
        typeAddress(m_server->url("/words"));
        QTRY_VERIFY(settledOn(QStringLiteral("Words")));
        const auto press = [](int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), mods);
        };
        view()->setFocus();
        press(Qt::Key_Left, Qt::AltModifier);
        QTRY_VERIFY(settledOn(QStringLiteral("Page A")));
        press(Qt::Key_Right, Qt::AltModifier);
        QTRY_VERIFY(settledOn(QStringLiteral("Words")));

        press(Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), findControl<QComboBox>(m_form, "cboAddress"));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->lineEdit()->selectedText(),
            m_server->url("/words"));

        press(Qt::Key_F, Qt::ControlModifier);
        auto *count = m_form->findChild<QLabel *>(QStringLiteral("lblFindCount"));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("apple"));
        QTRY_COMPARE(count->text(), QStringLiteral("3 件中 1 件目"));
        press(Qt::Key_Return);
        QTRY_COMPARE(count->text(), QStringLiteral("3 件中 2 件目"));
        press(Qt::Key_Return, Qt::ShiftModifier);
        QTRY_COMPARE(count->text(), QStringLiteral("3 件中 1 件目"));
        press(Qt::Key_Escape);
        QVERIFY(!m_form->findChild<QWidget *>(QStringLiteral("picFind"))->isVisible());

        view()->setFocus();
        press(Qt::Key_Plus, Qt::ControlModifier);
        press(Qt::Key_Plus, Qt::ControlModifier);
        QCOMPARE(view()->zoomFactor(), 1.25);
        press(Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(view()->zoomFactor(), 1.1);
        // Remembered for the next start.
        QCOMPARE(readBrowserOptions(appPaths().extraIni()).zoom, 1.1);
        MainForm next;
        QCOMPARE(next.browserPane()->zoom(), 1.1);
        press(Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(view()->zoomFactor(), 1.0);

        const int hits = m_server->countHits();
        typeAddress(m_server->url("/count"));
        QTRY_VERIFY(settledOn(QStringLiteral("Hit %1").arg(hits + 1)));
        view()->setFocus();
        press(Qt::Key_F5);
        QTRY_VERIFY(settledOn(QStringLiteral("Hit %1").arg(hits + 2)));
        press(Qt::Key_R, Qt::ControlModifier);
        QTRY_VERIFY(settledOn(QStringLiteral("Hit %1").arg(hits + 3)));
        typeAddress(m_server->url("/slow"));
        QTRY_COMPARE(m_server->waiting(), 1);
        press(Qt::Key_Escape);
        QTRY_VERIFY(settledOn(QStringLiteral("Hit %1").arg(hits + 3)));
    }

    void onlyWebPagesOpen_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("typed file address") << "file:///etc/passwd";
        QTest::newRow("typed local path") << "/etc/passwd";
        QTest::newRow("link to another scheme") << "link";
    }

    void onlyWebPagesOpen()
    {
        QFETCH(QString, address);
        // Pages cannot hand addresses to other programs either.
        m_server->routePage("/tofile", QStringLiteral("To file"), bigLink("mailto:someone@example.jp"));
        m_prompt->answer(PromptAnswer::Ok);
        if (address == QLatin1String("link")) {
            typeAddress(m_server->url("/tofile"));
            QTRY_VERIFY(settledOn(QStringLiteral("To file")));
            clickPage(QPoint(40, 40));
        } else {
            typeAddress(address);
        }
        QTRY_COMPARE(m_prompt->shown().size(), 1);
        QVERIFY(m_prompt->shown().first().text.startsWith(QStringLiteral("このアドレスは開けません。")));
        QVERIFY(!view()->url().isLocalFile());
        m_prompt->clear();
    }

    void localAndScriptedContentIsConfined()
    {
        writeBytes(appPaths().idPassIni(), "[EXEINI]\r\nNAME=me\r\nNAME2=secret\r\n");
        // The shipped help page is the one local page the pane shows.
        button("Home")->trigger();
        QTRY_VERIFY(settledOn(QStringLiteral("ケストラ ヘルプ")));
        const QString read = QStringLiteral(
            "(function(u){try{var x=new XMLHttpRequest();x.open('GET',u,false);x.send();return x.responseText;}"
            "catch(e){return 'blocked';}})('%1')");
        QCOMPARE(script(read.arg(QUrl::fromLocalFile(appPaths().idPassIni()).toString())).toString(),
                 QStringLiteral("blocked"));
        QCOMPARE(script(read.arg(m_server->url("/count"))).toString(), QStringLiteral("blocked"));
        QCOMPARE(m_server->countHits(), 0);

        // A web page cannot read the clipboard.
        QApplication::clipboard()->setText(QStringLiteral("clipboard secret"));
        typeAddress(m_server->url("/a"));
        QTRY_VERIFY(settledOn(QStringLiteral("Page A")));
        QCOMPARE(script(QStringLiteral("var t=document.createElement('textarea');document.body.appendChild(t);"
                                       "t.focus();document.execCommand('paste');t.value"))
                     .toString(),
                 QString());
        QCOMPARE(view()->page()->settings()->testAttribute(QWebEngineSettings::JavascriptCanOpenWindows),
                 false);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestBrowserPane test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_browserpane.moc"
