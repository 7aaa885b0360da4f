#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QWebEngineView;

namespace kestra {

// The address a user typed, as the pane navigates it. An address without a
// scheme ("example.com", "localhost:8080/a") is taken as https with at least the
// root path; an absolute local path becomes a file URL. Blanks around the text
// are ignored. An empty or unusable text gives an invalid URL.
QUrl addressToUrl(const QString &typed);

// The program's own help page, shipped with it: the installed copy next to the
// program (<prefix>/share/kestra/help/index.html) or, when running from the
// build tree, the copy there. Invalid when neither exists.
QUrl helpPageUrl();

// Where the toolbar's "Home" and "Search" buttons go. Both default to the
// program's help page (its search section for "Search"), so the pane never
// leaves the machine unless the user asks it to.
struct BrowserStartPages {
    QUrl home;
    QUrl search;
};
BrowserStartPages browserStartPages();
// Tests point the buttons at pages of their own; an empty struct restores the defaults.
void setBrowserStartPages(const BrowserStartPages &pages);

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

} // namespace kestra
