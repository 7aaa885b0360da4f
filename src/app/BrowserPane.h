#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWebEnginePage>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWebEngineDownloadRequest;
class QWebEngineView;

namespace kestra {

// What the user typed into the address box, as the pane takes it.
//  - "http://..." / "https://...": that page (at least the root path);
//  - an address without a scheme ("example.com", "localhost:8080/a", "intranet/"):
//    https first, and plain http once when https cannot connect at all;
//  - words ("qt webengine", "天気", a single word without a dot): a search;
//  - any other scheme, or a local path: refused, the pane opens only web pages.
// Blanks around the text are ignored.
struct TypedAddress {
    enum class Kind { Empty, Page, Search, Refused };
    Kind kind = Kind::Empty;
    QUrl url;                  // the page, or the search for the words
    bool httpsGuessed = false; // no scheme was typed: https was put in front
};
TypedAddress interpretAddress(const QString &typed, const QString &searchAddress);
// The page a typed address leads to; invalid for words, refused and empty texts.
QUrl addressToUrl(const QString &typed);
// The search address with its %s replaced by the words.
QUrl searchUrl(const QString &searchAddress, const QString &words);
// The front page of the search site (its scheme and host).
QUrl searchSite(const QString &searchAddress);

// Whether the pane may show `url`: http and https pages and the shipped help page.
bool paneMayOpen(const QUrl &url);

// The program's own help page, shipped with it: the installed copy next to the
// program (<prefix>/share/kestra/help/index.html) or, when running from the
// build tree, the copy there. Invalid when neither exists.
QUrl helpPageUrl();

// Where the toolbar's "Home" button goes: the program's help page by default,
// so the pane never leaves the machine unless the user asks it to.
QUrl browserHomePage();
// Tests point the button at a page of their own; an empty URL restores the default.
void setBrowserHomePage(const QUrl &page);

// Whether the web engine runs without its sandbox (as root it has to), and
// what the pane tells the user once about it.
bool engineSandboxOff();
QString sandboxNotice();

// Opens an address in the system's default browser, as a separate window.
// Gives false when no browser could be started. Tests replace it.
using ExternalBrowser = std::function<bool(const QUrl &)>;
bool openInExternalBrowser(const QUrl &url);
// nullptr restores the system's browser (QDesktopServices).
void setExternalBrowser(ExternalBrowser opener);

// Whether the browser pane is busy: from a navigation request until the page
// has loaded or loading stopped. The web view itself reports loading only once
// the engine has started the request, a moment after it was asked for, and
// never for a jump inside the same document; the request is counted as busy in
// between, so the busy watch does not take the old page's title for the end of
// loading.
class PaneActivity final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PaneActivity)

public:
    explicit PaneActivity(QWebEngineView *view);

    // A navigation was just asked of the view.
    void requested();
    bool busy() const;

    // A request that neither started a load nor changed the address within
    // this time is not waited for any longer.
    static constexpr int kRequestLimitMs = 10000;

private:
    bool m_pending = false;
    bool m_loading = false;
    QElapsedTimer m_requestedAt;
};

// The pane's page: web content may not read local files, reach remote
// addresses from a local page, open windows by script or touch the clipboard,
// and only the addresses paneMayOpen() allows are loaded.
class BrowserPage final : public QWebEnginePage
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BrowserPage)

public:
    explicit BrowserPage(QObject *parent);

Q_SIGNALS:
    // The page was asked to show an address it may not open.
    void refused(const QUrl &url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
};

// Find in page (Ctrl+F), below the pane: the words, the next and previous
// keys and how many places were found.
//   txtFind  the words; Enter finds the next place, Shift+Enter the previous
//   cmdFindNext "次を検索", cmdFindPrevious "前を検索", lblFindCount the count
class FindBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FindBar)

public:
    FindBar(QWidget *parent, QWebEngineView *view);

    void open(); // shows the bar with the words selected
    void dismiss(); // hides it and takes the marks off the page
    void find(bool backward);

Q_SIGNALS:
    void visibilityChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWebEngineView *m_view;

    // Controls, by their fixed names (the table above).
    QLineEdit *txtFind = nullptr;
    QPushButton *cmdFindNext = nullptr;
    QPushButton *cmdFindPrevious = nullptr;
    QLabel *lblFindCount = nullptr;
};

// Downloads of the pane: asks where to save (the attachment folder first),
// warns before saving a file that would run as a program, shows progress with
// a cancel key below the pane and never opens what it saved.
//   lblDownload  what is being saved and how far; barDownload  progress;
//   cmdDownloadCancel "中止"
class DownloadBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DownloadBar)

public:
    DownloadBar(QWidget *parent, QWebEnginePage *page);

Q_SIGNALS:
    void visibilityChanged();
    // A download ended: saved, cancelled or failed, with a line for the status box.
    void ended(const QString &status);

private:
    void requested(QWebEngineDownloadRequest *download);
    void progress();
    void finished();

    QWebEnginePage *m_page;
    QPointer<QWebEngineDownloadRequest> m_download;

    // Controls, by their fixed names (the table above).
    QLabel *lblDownload = nullptr;
    QProgressBar *barDownload = nullptr;
    QPushButton *cmdDownloadCancel = nullptr;
};

} // namespace kestra
