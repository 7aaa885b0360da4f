#pragma once

// What the windows use of the web engine. The engine itself lives in a
// library of its own (libkestra_web), loaded the first time a page is really
// shown (WebLoader.h): nothing here pulls Qt WebEngine or Qt Quick into the
// program, so start-up does not wait for the dynamic loader to resolve them.

#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace kestra {

// What the browser pane asks of and tells the main window.
struct WebPaneHost {
    // Whether the pane may show an address (pages it may not are refused).
    std::function<bool(const QUrl &)> mayOpen;
    // The page asked for an address it may not show.
    std::function<void(const QUrl &)> refused;
    // A link asked for a window of its own: true when the system's browser took it.
    std::function<bool(const QUrl &)> openExternally;
    // The pane started a navigation of its own (a new window in the pane,
    // plain http after https could not connect): the busy watch starts.
    std::function<void()> navigating;
    // The page's address changed (links, redirects, Back and Forward).
    std::function<void(const QUrl &)> urlChanged;
    // Something went wrong that the user must hear of at once (a message box).
    std::function<void(const QString &)> warn;
    // Where to save a download offered under `suggestedName`; empty: not at all.
    std::function<QString(const QString &suggestedName)> downloadTarget;
    // A download ended: a line for the status box.
    std::function<void(const QString &)> downloadEnded;
    // The find bar or the download bar was shown or hidden.
    std::function<void()> barsChanged;
};

// The browser pane: the page view and, below it while shown, the find bar and
// the download bar. The three widgets are children of the window given to
// WebEngine::createPane, which places them; they go with it.
class WebPane
{
public:
    virtual QWidget *view() = 0;        // "brwWebBrowser"
    virtual QWidget *findBar() = 0;     // "picFind"
    virtual QWidget *downloadBar() = 0; // "picDownload"

    // Loads `url`. `httpsGuessed`: the user typed it without a scheme; when
    // https cannot even connect, plain http is tried once.
    virtual void navigate(const QUrl &url, bool httpsGuessed) = 0;
    // Back, Forward and Refresh do nothing when there is nowhere to go.
    virtual void back() = 0;
    virtual void forward() = 0;
    virtual void reload() = 0;
    virtual void stop() = 0;
    virtual QUrl url() const = 0;
    virtual QString title() const = 0;
    // From a navigation request until the page has loaded or loading stopped.
    virtual bool busy() const = 0;
    virtual double zoom() const = 0;
    virtual void setZoom(double factor) = 0;

    // Find in page: opens the bar, closes it (false when it was not open),
    // finds the next or previous place.
    virtual void openFind() = 0;
    virtual bool dismissFind() = 0;
    virtual void find(bool backward) = 0;

protected:
    ~WebPane() = default;
};

// The HTML of a mail or an attachment, shown without scripts, local files or
// remote content until allowRemoteContent().
class MailView
{
public:
    virtual QWidget *widget() = 0;
    virtual void showHtml(const QString &html) = 0;
    virtual void allowRemoteContent() = 0;

protected:
    ~MailView() = default;
};

// The library's factory.
class WebEngine
{
public:
    // A pane in `window`, at `zoom` (1.0 is 100 %).
    virtual WebPane *createPane(QWidget *window, WebPaneHost host, double zoom) = 0;
    // A mail view in `parent` (a window of its own when null); a clicked link
    // goes to `linkActivated` instead of being followed.
    virtual MailView *createMailView(QWidget *parent, std::function<void(const QUrl &)> linkActivated) = 0;

protected:
    ~WebEngine() = default;
};

} // namespace kestra

// The library's one entry point: the factory, set up for its first view.
#define KESTRA_WEB_ENTRY "kestra_web_engine"
extern "C" kestra::WebEngine *kestra_web_engine();
