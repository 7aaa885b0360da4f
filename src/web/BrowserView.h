#pragma once

#include "web/WebPane.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWebEngineDownloadRequest;
class QWebEngineLoadingInfo;
class QWebEngineNewWindowRequest;

namespace kestra {

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
// and only the addresses `mayOpen` allows are loaded.
class BrowserPage final : public QWebEnginePage
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BrowserPage)

public:
    BrowserPage(QObject *parent, std::function<bool(const QUrl &)> mayOpen);

Q_SIGNALS:
    // The page was asked to show an address it may not open.
    void refused(const QUrl &url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;

private:
    std::function<bool(const QUrl &)> m_mayOpen;
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

// Downloads of the pane: asks the host where to save, shows progress with a
// cancel key below the pane and never opens what it saved.
//   lblDownload  what is being saved and how far; barDownload  progress;
//   cmdDownloadCancel "中止"
class DownloadBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DownloadBar)

public:
    DownloadBar(QWidget *parent, QWebEnginePage *page, WebPaneHost host);

Q_SIGNALS:
    void visibilityChanged();

private:
    void requested(QWebEngineDownloadRequest *download);
    void progress();
    void finished();

    QWebEnginePage *m_page;
    WebPaneHost m_host;
    QPointer<QWebEngineDownloadRequest> m_download;

    // Controls, by their fixed names (the table above).
    QLabel *lblDownload = nullptr;
    QProgressBar *barDownload = nullptr;
    QPushButton *cmdDownloadCancel = nullptr;
};

// The browser pane of the main window (WebPane), with its find and download bars.
class BrowserView final : public QWebEngineView, public WebPane
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BrowserView)

public:
    BrowserView(QWidget *window, WebPaneHost host, double zoom);

    QWidget *view() override { return this; }
    QWidget *findBar() override { return m_findBar; }
    QWidget *downloadBar() override { return m_downloadBar; }
    void navigate(const QUrl &url, bool httpsGuessed) override;
    void back() override;
    void forward() override;
    void reload() override;
    void stop() override { QWebEngineView::stop(); }
    QUrl url() const override { return QWebEngineView::url(); }
    QString title() const override { return QWebEngineView::title(); }
    bool busy() const override { return m_activity->busy(); }
    double zoom() const override { return zoomFactor(); }
    void setZoom(double factor) override { setZoomFactor(factor); }
    void openFind() override { m_findBar->open(); }
    bool dismissFind() override;
    void find(bool backward) override { m_findBar->find(backward); }

private:
    void loadingChanged(const QWebEngineLoadingInfo &info);
    void newWindowRequested(QWebEngineNewWindowRequest &request);

    WebPaneHost m_host;
    BrowserPage *m_page;
    PaneActivity *m_activity;
    FindBar *m_findBar;
    DownloadBar *m_downloadBar;
    QUrl m_httpsGuess; // an address typed without a scheme, tried with https first
};

} // namespace kestra
