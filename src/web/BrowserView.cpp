// The browser pane: the page view, its find and download bars, and what the
// engine decides for the main window (new windows, the plain http retry).

#include "web/BrowserView.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFindTextResult>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <utility>

namespace kestra {

namespace {
// The pages' HTTP cache: the engine's default profile keeps it in memory, and
// left alone it grows to 2% of the machine's memory (up to 50 MB); a few
// megabytes keep back, forward and reload quick.
constexpr int kHttpCacheBytes = 8 * 1024 * 1024;
} // namespace

PaneActivity::PaneActivity(QWebEngineView *view)
    : QObject(view)
{
    connect(view, &QWebEngineView::loadStarted, this, [this] {
        m_pending = false;
        m_loading = true;
    });
    connect(view, &QWebEngineView::loadFinished, this, [this] { m_loading = false; });
    // A jump inside the same document changes the address without a load.
    connect(view, &QWebEngineView::urlChanged, this, [this] { m_pending = false; });
}

void PaneActivity::requested()
{
    m_pending = true;
    m_requestedAt.start();
}

bool PaneActivity::busy() const
{
    return m_loading || (m_pending && m_requestedAt.elapsed() < kRequestLimitMs);
}

BrowserPage::BrowserPage(QObject *parent, std::function<bool(const QUrl &)> mayOpen)
    : QWebEnginePage(parent)
    , m_mayOpen(std::move(mayOpen))
{
    QWebEngineSettings *s = settings();
    // A saved page or attachment opened from disk must not read other local
    // files (the ID/password file among them) nor send them anywhere.
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    // Windows opened by script without a click of the user are blocked.
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanPaste, false);
    s->setAttribute(QWebEngineSettings::AllowWindowActivationFromJavaScript, false);
    s->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
    s->setAttribute(QWebEngineSettings::AllowGeolocationOnInsecureOrigins, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
}

bool BrowserPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (m_mayOpen(url))
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    // Frames inside a page may hold generated content of their own.
    const QString scheme = url.scheme();
    if (!isMainFrame
        && (scheme == QLatin1String("about") || scheme == QLatin1String("data") || scheme == QLatin1String("blob")))
        return true;
    if (isMainFrame)
        Q_EMIT refused(url);
    return false;
}

FindBar::FindBar(QWidget *parent, QWebEngineView *view)
    : QWidget(parent)
    , m_view(view)
{
    setObjectName(QStringLiteral("picFind"));
    setAutoFillBackground(true);
    // Two rows, so that the words have room beside their label however narrow
    // the pane: the label and the box, then the keys and the count.
    auto *rows = new QVBoxLayout(this);
    rows->setContentsMargins(4, 2, 4, 2);
    rows->setSpacing(2);
    auto *label = new QLabel(QStringLiteral("ページ内検索"), this);
    txtFind = new QLineEdit(this);
    txtFind->setObjectName(QStringLiteral("txtFind"));
    cmdFindNext = new QPushButton(QStringLiteral("次を検索"), this);
    cmdFindNext->setObjectName(QStringLiteral("cmdFindNext"));
    cmdFindPrevious = new QPushButton(QStringLiteral("前を検索"), this);
    cmdFindPrevious->setObjectName(QStringLiteral("cmdFindPrevious"));
    lblFindCount = new QLabel(this);
    lblFindCount->setObjectName(QStringLiteral("lblFindCount"));
    // Room for about twenty characters at the least.
    txtFind->setMinimumWidth(txtFind->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 20);
    auto *words = new QHBoxLayout;
    words->addWidget(label);
    words->addWidget(txtFind, 1);
    auto *keys = new QHBoxLayout;
    keys->addWidget(cmdFindNext);
    keys->addWidget(cmdFindPrevious);
    keys->addWidget(lblFindCount, 1);
    rows->addLayout(words);
    rows->addLayout(keys);
    txtFind->installEventFilter(this);
    connect(cmdFindNext, &QPushButton::clicked, this, [this] { find(false); });
    connect(cmdFindPrevious, &QPushButton::clicked, this, [this] { find(true); });
    // Typing searches as the words change, like a browser's find bar.
    connect(txtFind, &QLineEdit::textEdited, this, [this] { find(false); });
    hide();
}

void FindBar::open()
{
    const bool wasHidden = isHidden();
    show();
    raise();
    txtFind->setFocus(Qt::ShortcutFocusReason);
    txtFind->selectAll();
    if (wasHidden)
        Q_EMIT visibilityChanged();
}

void FindBar::dismiss()
{
    if (isHidden())
        return;
    hide();
    lblFindCount->clear();
    m_view->findText(QString());
    m_view->setFocus();
    Q_EMIT visibilityChanged();
}

void FindBar::find(bool backward)
{
    if (isHidden())
        open();
    const QString words = txtFind->text();
    if (words.isEmpty()) {
        m_view->findText(QString());
        lblFindCount->clear();
        return;
    }
    QWebEnginePage::FindFlags flags;
    if (backward)
        flags |= QWebEnginePage::FindBackward;
    QPointer<QLabel> count = lblFindCount;
    m_view->findText(words, flags, [count](const QWebEngineFindTextResult &found) {
        if (!count)
            return;
        count->setText(found.numberOfMatches() == 0
                           ? QStringLiteral("見つかりません")
                           : QStringLiteral("%1 件中 %2 件目").arg(found.numberOfMatches()).arg(found.activeMatch()));
    });
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txtFind && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            find(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

DownloadBar::DownloadBar(QWidget *parent, QWebEnginePage *page, WebPaneHost host)
    : QWidget(parent)
    , m_page(page)
    , m_host(std::move(host))
{
    setObjectName(QStringLiteral("picDownload"));
    setAutoFillBackground(true);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    lblDownload = new QLabel(this);
    lblDownload->setObjectName(QStringLiteral("lblDownload"));
    lblDownload->setTextFormat(Qt::PlainText); // the name a web site gives the file
    barDownload = new QProgressBar(this);
    barDownload->setObjectName(QStringLiteral("barDownload"));
    cmdDownloadCancel = new QPushButton(QStringLiteral("中止"), this);
    cmdDownloadCancel->setObjectName(QStringLiteral("cmdDownloadCancel"));
    row->addWidget(lblDownload, 2);
    row->addWidget(barDownload, 1);
    row->addWidget(cmdDownloadCancel);
    connect(cmdDownloadCancel, &QPushButton::clicked, this, [this] {
        if (m_download)
            m_download->cancel();
    });
    // Every pane shares the engine's profile; each bar takes its own page's downloads.
    connect(page->profile(), &QWebEngineProfile::downloadRequested, this, &DownloadBar::requested);
    hide();
}

void DownloadBar::requested(QWebEngineDownloadRequest *download)
{
    if (download->page() != m_page || download->state() != QWebEngineDownloadRequest::DownloadRequested)
        return;
    const QString suggested = download->suggestedFileName().isEmpty() ? QStringLiteral("download")
                                                                       : download->suggestedFileName();
    const QString path = m_host.downloadTarget(suggested);
    if (path.isEmpty()) {
        download->cancel();
        return;
    }
    const QFileInfo target(path);
    download->setDownloadDirectory(target.absolutePath());
    download->setDownloadFileName(target.fileName());
    m_download = download;
    connect(download, &QWebEngineDownloadRequest::receivedBytesChanged, this, &DownloadBar::progress);
    connect(download, &QWebEngineDownloadRequest::totalBytesChanged, this, &DownloadBar::progress);
    connect(download, &QWebEngineDownloadRequest::isFinishedChanged, this, &DownloadBar::finished);
    download->accept();
    progress();
    const bool wasHidden = isHidden();
    show();
    raise();
    if (wasHidden)
        Q_EMIT visibilityChanged();
}

void DownloadBar::progress()
{
    if (!m_download)
        return;
    const qint64 received = m_download->receivedBytes();
    const qint64 total = m_download->totalBytes();
    const auto kb = [](qint64 bytes) { return QString::number((bytes + 1023) / 1024); };
    if (total > 0) {
        barDownload->setRange(0, 100);
        barDownload->setValue(int(received * 100 / total));
        lblDownload->setText(QStringLiteral("ダウンロード中: %1  %2 / %3 KB")
                                 .arg(m_download->downloadFileName(), kb(received), kb(total)));
    } else {
        barDownload->setRange(0, 0);
        lblDownload->setText(QStringLiteral("ダウンロード中: %1  %2 KB").arg(m_download->downloadFileName(), kb(received)));
    }
}

void DownloadBar::finished()
{
    auto *download = qobject_cast<QWebEngineDownloadRequest *>(sender());
    if (!download || !download->isFinished())
        return;
    const QString path = QDir(download->downloadDirectory()).filePath(download->downloadFileName());
    QString status;
    switch (download->state()) {
    case QWebEngineDownloadRequest::DownloadCompleted:
        status = QStringLiteral("保存しました: %1").arg(QDir::toNativeSeparators(path));
        break;
    case QWebEngineDownloadRequest::DownloadCancelled:
        status = QStringLiteral("ダウンロードを中止しました: %1").arg(download->downloadFileName());
        break;
    default:
        status = QStringLiteral("ダウンロードできませんでした: %1").arg(download->downloadFileName());
        m_host.warn(QStringLiteral("ダウンロードできませんでした。\r\n%1\r\n%2\r\n"
                                   "接続と保存先の空きを確かめて、もう一度お試し下さい。")
                        .arg(download->url().toString(), download->interruptReasonString()));
        break;
    }
    if (download == m_download) {
        m_download = nullptr;
        hide();
        Q_EMIT visibilityChanged();
    }
    m_host.downloadEnded(status);
}

BrowserView::BrowserView(QWidget *window, WebPaneHost host, double zoom)
    : QWebEngineView(window)
    , m_host(std::move(host))
    , m_page(new BrowserPage(this, m_host.mayOpen))
{
    setObjectName(QStringLiteral("brwWebBrowser"));
    m_page->profile()->setHttpCacheMaximumSize(kHttpCacheBytes);
    setPage(m_page);
    setZoomFactor(zoom);
    m_activity = new PaneActivity(this);
    m_findBar = new FindBar(window, this);
    m_downloadBar = new DownloadBar(window, m_page, m_host);

    connect(this, &QWebEngineView::urlChanged, this, [this](const QUrl &url) { m_host.urlChanged(url); });
    connect(m_page, &QWebEnginePage::loadingChanged, this, &BrowserView::loadingChanged);
    connect(m_page, &QWebEnginePage::newWindowRequested, this, &BrowserView::newWindowRequested);
    connect(m_page, &BrowserPage::refused, this, [this](const QUrl &url) {
        // Shown once the engine's call has returned.
        QTimer::singleShot(0, this, [this, url] { m_host.refused(url); });
    });
    connect(m_page, &QWebEnginePage::certificateError, this, [this](const QWebEngineCertificateError &error) {
        // Not accepted here, so the engine refuses the page; the user is told why.
        const QString text = QStringLiteral("このサイトの証明書に問題があるため、ページを開きませんでした。\r\n%1\r\n%2")
                                 .arg(error.url().toString(), error.description());
        QTimer::singleShot(0, this, [this, text] { m_host.warn(text); });
    });
    connect(m_findBar, &FindBar::visibilityChanged, this, [this] { m_host.barsChanged(); });
    connect(m_downloadBar, &DownloadBar::visibilityChanged, this, [this] { m_host.barsChanged(); });
}

void BrowserView::navigate(const QUrl &url, bool httpsGuessed)
{
    if (!url.isValid())
        return;
    m_httpsGuess = httpsGuessed ? url : QUrl();
    m_activity->requested();
    load(url);
}

void BrowserView::back()
{
    if (history()->canGoBack()) {
        m_activity->requested();
        QWebEngineView::back();
    }
}

void BrowserView::forward()
{
    if (history()->canGoForward()) {
        m_activity->requested();
        QWebEngineView::forward();
    }
}

void BrowserView::reload()
{
    if (!url().isEmpty()) {
        m_activity->requested();
        QWebEngineView::reload();
    }
}

bool BrowserView::dismissFind()
{
    if (!m_findBar->isVisible())
        return false;
    m_findBar->dismiss();
    return true;
}

void BrowserView::loadingChanged(const QWebEngineLoadingInfo &info)
{
    if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus || m_httpsGuess.isEmpty())
        return;
    const QUrl guessed = std::exchange(m_httpsGuess, QUrl());
    // An address typed without a scheme whose https could not even connect is
    // tried once with plain http; a certificate error is an answer, not a
    // reason to drop the encryption.
    if (info.url().adjusted(QUrl::StripTrailingSlash) != guessed.adjusted(QUrl::StripTrailingSlash)
        || info.errorDomain() != QWebEngineLoadingInfo::ConnectionErrorDomain)
        return;
    QUrl plain = guessed;
    plain.setScheme(QStringLiteral("http"));
    m_host.navigating();
    navigate(plain, false);
}

void BrowserView::newWindowRequested(QWebEngineNewWindowRequest &request)
{
    const QUrl url = request.requestedUrl();
    // Ctrl+click asks for a background tab, Shift+click for a window of its own:
    // those go to the system's browser. Other new windows replace the page, as
    // the pane is the only one; a script's window without a click is dropped.
    const auto where = request.destination();
    if (where == QWebEngineNewWindowRequest::InNewBackgroundTab || where == QWebEngineNewWindowRequest::InNewWindow) {
        if (!m_host.mayOpen(url) || !m_host.openExternally(url))
            m_host.refused(url);
        return;
    }
    if (!request.isUserInitiated())
        return;
    if (!m_host.mayOpen(url)) {
        m_host.refused(url);
        return;
    }
    m_host.navigating();
    navigate(url, false);
}

} // namespace kestra
