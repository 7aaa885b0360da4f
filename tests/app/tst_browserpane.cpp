// The browser pane against pages served by a small HTTP server on a loopback
// port: navigation from the address combo, the busy watch in the caption, and
// the toolbar's Back, Forward, Refresh, Stop, Home and Search.

#include "app/BrowserPane.h"
#include "app/MainForm.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
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
        if (!request.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
        const QByteArray path = line.size() > 1 ? line.at(1) : QByteArray();
        m_requests.remove(socket);
        if (path == "/a" || path == "/b" || path == "/c")
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
        auto *action = m_form->tbToolBar->findChild<QAction *>(QLatin1String(key));
        if (!action)
            qFatal("no toolbar button %s", key);
        return action;
    }

    // Types an address and presses Enter, as the user does.
    void typeAddress(const QString &address)
    {
        m_form->cboAddress->setEditText(address);
        QTest::keyClick(m_form->cboAddress->lineEdit(), Qt::Key_Return);
    }

    // The page has loaded and the busy watch has shown its title.
    bool settledOn(const QString &title) const
    {
        return m_form->windowTitle() == title && !m_form->timTimer->isActive();
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
        QCOMPARE(m_prompt->unexpected(), 0);
        QVERIFY(m_prompt->shown().isEmpty());
        m_form.reset();
        m_server.reset();
        m_prompt.reset();
        m_folder.reset();
        setBrowserStartPages({});
    }

    void addressToUrl_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("bare host") << "example.com" << "https://example.com/";
        QTest::newRow("bare host with path") << "example.com/a/b?q=1#f" << "https://example.com/a/b?q=1#f";
        QTest::newRow("host and port") << "localhost:8080" << "https://localhost:8080/";
        QTest::newRow("with scheme") << "http://127.0.0.1:8080/x" << "http://127.0.0.1:8080/x";
        QTest::newRow("scheme and host in capitals") << "HTTP://Example.COM" << "http://example.com/";
        QTest::newRow("blanks around") << "  example.com  " << "https://example.com/";
        QTest::newRow("about page") << "about:blank" << "about:blank";
        QTest::newRow("local file") << "/tmp/page.html" << "file:///tmp/page.html";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("blanks only") << "   " << "";
        QTest::newRow("scheme without host") << "https://" << "";
    }

    void addressToUrl()
    {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        QCOMPARE(kestra::addressToUrl(typed).toString(), expected);
    }

    void enterNavigatesAndCaptionShowsTheTitle()
    {
        typeAddress(m_server->url("/a"));
        QVERIFY(m_form->timTimer->isActive());
        QTRY_VERIFY(settledOn(QStringLiteral("Page A")));
        QCOMPARE(m_form->browserPane()->url().toString(), m_server->url("/a"));
    }

    void choosingAFavouriteNavigates()
    {
        m_form->cboAddress->addItem(m_server->url("/a"));
        m_form->cboAddress->addItem(m_server->url("/b"));
        m_form->cboAddress->setCurrentIndex(1);
        Q_EMIT m_form->cboAddress->activated(1);
        QTRY_VERIFY(settledOn(QStringLiteral("Page B")));
    }

    void captionShowsBusyWhileLoading()
    {
        typeAddress(m_server->url("/slow"));
        QTRY_COMPARE(m_server->waiting(), 1);
        QTRY_COMPARE(m_form->windowTitle(), kBusy);
        QVERIFY(m_form->timTimer->isActive());
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
        QVERIFY(m_form->timTimer->isActive());
        QTRY_VERIFY(settledOn(QStringLiteral("Page A")));
        QCOMPARE(m_form->browserPane()->url().toString(), m_server->url("/a"));

        button("Forward")->trigger();
        QTRY_VERIFY(settledOn(QStringLiteral("Hit 2")));
        QCOMPARE(m_form->browserPane()->url().toString(), m_server->url("/count"));

        button("Refresh")->trigger();
        QVERIFY(m_form->timTimer->isActive());
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
        QVERIFY(!m_form->timTimer->isActive());
        QTRY_VERIFY(!m_form->paneBusy());
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Page A"));
        QCOMPARE(m_form->browserPane()->url().toString(), m_server->url("/a"));
    }

    void homeAndSearchGoToTheirPages()
    {
        setBrowserStartPages({QUrl(m_server->url("/b")), QUrl(m_server->url("/c"))});
        button("Home")->trigger();
        QTRY_VERIFY(settledOn(QStringLiteral("Page B")));
        button("Search")->trigger();
        QTRY_VERIFY(settledOn(QStringLiteral("Page C")));
    }

    void defaultHomeIsTheShippedHelpPage()
    {
        const BrowserStartPages pages = browserStartPages();
        QVERIFY(pages.home.isLocalFile());
        QCOMPARE(pages.home, helpPageUrl());
        QCOMPARE(pages.search.fragment(), QStringLiteral("search"));
        button("Home")->trigger();
        QTRY_VERIFY(settledOn(QStringLiteral("ケストラ ヘルプ")));
        // A jump inside the page loads nothing; the watch still ends.
        button("Search")->trigger();
        QTRY_COMPARE(m_form->browserPane()->url(), pages.search);
        QTRY_VERIFY(settledOn(QStringLiteral("ケストラ ヘルプ")));
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
        QTRY_VERIFY(!m_form->timTimer->isActive());
        QCOMPARE(m_form->windowTitle(), MainForm::caption());
        QVERIFY(m_form->browserPane()->url().isEmpty());
    }

    void enterOnAnEmptyAddressDoesNothing()
    {
        typeAddress(QString());
        QVERIFY(!m_form->paneBusy());
        QTRY_VERIFY(!m_form->timTimer->isActive());
        QCOMPARE(m_form->windowTitle(), MainForm::caption());
        QVERIFY(m_form->browserPane()->url().isEmpty());
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
