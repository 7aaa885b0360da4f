// The browser pane of the main window: toolbar, address combo, busy watch,
// favourites buttons and the home page button.

#include "app/BrowserPane.h"

#include "app/Favourites.h"
#include "app/MainForm.h"
#include "common/AppState.h"
#include "common/Twips.h"
#include "common/Text.h"
#include "common/UserPrompt.h"

#include "common/Paths.h"
#include "common/RiskyFiles.h"
#include "storage/BrowserOptions.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QToolBar>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFindTextResult>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <utility>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace kestra {

namespace {

const char16_t kBusyCaption[] = u"作業中...";

// The pages' HTTP cache: the engine's default profile keeps it in memory, and
// left alone it grows to 2% of the machine's memory (up to 50 MB); a few
// megabytes keep back, forward and reload quick.
constexpr int kHttpCacheBytes = 8 * 1024 * 1024;

QUrl &homePageOverride()
{
    static QUrl page;
    return page;
}

ExternalBrowser &externalBrowserOverride()
{
    static ExternalBrowser opener;
    return opener;
}

bool isWebScheme(const QString &scheme)
{
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

QUrl withRootPath(QUrl url)
{
    if (url.path().isEmpty())
        url.setPath(QStringLiteral("/"));
    return url;
}

} // namespace

QUrl searchUrl(const QString &searchAddress, const QString &words)
{
    QString address = searchAddress;
    address.replace(QStringLiteral("%s"), QString::fromLatin1(QUrl::toPercentEncoding(words)));
    return QUrl(address, QUrl::TolerantMode);
}

QUrl searchSite(const QString &searchAddress)
{
    const QUrl search = searchUrl(searchAddress, QString());
    if (!search.isValid() || search.host().isEmpty())
        return {};
    QUrl site;
    site.setScheme(search.scheme());
    site.setHost(search.host());
    site.setPort(search.port());
    site.setPath(QStringLiteral("/"));
    return site;
}

TypedAddress interpretAddress(const QString &typed, const QString &searchAddress)
{
    TypedAddress result;
    const QString text = trimBlanks(typed);
    if (text.isEmpty())
        return result;
    const auto page = [&result](const QUrl &url, bool guessed) {
        result.kind = TypedAddress::Kind::Page;
        result.url = withRootPath(url);
        result.httpsGuessed = guessed;
        return result;
    };
    const auto refused = [&result, &text] {
        result.kind = TypedAddress::Kind::Refused;
        result.url = QUrl(text, QUrl::TolerantMode);
        return result;
    };

    static const QRegularExpression withScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (withScheme.match(text).hasMatch()) {
        const QUrl url(text, QUrl::TolerantMode);
        if (url.isValid() && paneMayOpen(withRootPath(url)))
            return page(url, false);
        return refused();
    }
    if (text.startsWith(QLatin1Char('/')) || text.startsWith(QLatin1Char('\\')))
        return refused();

    bool hasSpace = false;
    for (const QChar c : text)
        hasSpace = hasSpace || c.isSpace();
    if (!hasSpace) {
        // "host:port..." is an address; "mailto:...", "about:..." and the like are not.
        static const QRegularExpression hostAndPort(QStringLiteral("^[^/:?#]+:[0-9]+([/?#]|$)"));
        static const QRegularExpression otherScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
        const bool port = hostAndPort.match(text).hasMatch();
        if (!port && otherScheme.match(text).hasMatch())
            return refused();
        // A dot, a port, "localhost" or a slash after the name make an address;
        // a single word without any of them is searched for.
        static const QRegularExpression hostEnd(QStringLiteral("[/?#]"));
        const qsizetype end = text.indexOf(hostEnd);
        const QString host = text.left(end < 0 ? text.size() : end);
        const bool address = port || host.contains(QLatin1Char('.')) || host == QLatin1String("localhost")
            || (end >= 0 && text.at(end) == QLatin1Char('/'));
        if (address) {
            const QUrl url(QStringLiteral("https://") + text, QUrl::TolerantMode);
            if (url.isValid() && !url.host().isEmpty())
                return page(url, true);
        }
    }
    result.kind = TypedAddress::Kind::Search;
    result.url = searchUrl(searchAddress, text);
    return result;
}

QUrl addressToUrl(const QString &typed)
{
    const TypedAddress address = interpretAddress(typed, QString());
    return address.kind == TypedAddress::Kind::Page ? address.url : QUrl();
}

bool paneMayOpen(const QUrl &url)
{
    if (isWebScheme(url.scheme()))
        return !url.host().isEmpty();
    if (!url.isLocalFile())
        return false;
    const QUrl help = helpPageUrl();
    return help.isValid()
        && url.adjusted(QUrl::RemoveFragment | QUrl::RemoveQuery) == help.adjusted(QUrl::RemoveFragment);
}

QUrl helpPageUrl()
{
    // Beside the program (<prefix>/bin/../share/kestra, also the build
    // tree's layout), else in the system's data folders (XDG_DATA_DIRS).
    const QString relative = QStringLiteral("kestra/help/index.html");
    QFileInfo page(QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/../share")), relative);
    if (!page.isFile())
        page.setFile(QStandardPaths::locate(QStandardPaths::GenericDataLocation, relative));
    return page.isFile() ? QUrl::fromLocalFile(page.canonicalFilePath()) : QUrl();
}

QUrl browserHomePage()
{
    const QUrl page = homePageOverride();
    return page.isEmpty() ? helpPageUrl() : page;
}

void setBrowserHomePage(const QUrl &page)
{
    homePageOverride() = page;
}

bool engineSandboxOff()
{
    if (!qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        return true;
#ifndef Q_OS_WIN
    // As root the program switches the sandbox off on the engine's command line.
    return ::geteuid() == 0;
#else
    return false;
#endif
}

QString sandboxNotice()
{
    return QStringLiteral("ブラウザは保護機能（サンドボックス）なしで動いています。管理者（root）として起動したためです。"
                          "信頼できないサイトは開かないで下さい。普段は一般のユーザーで起動して下さい。");
}

bool openInExternalBrowser(const QUrl &url)
{
    if (!url.isValid())
        return false;
    if (const ExternalBrowser &opener = externalBrowserOverride())
        return opener(url);
    return QDesktopServices::openUrl(url);
}

void setExternalBrowser(ExternalBrowser opener)
{
    externalBrowserOverride() = std::move(opener);
}

BrowserPage::BrowserPage(QObject *parent)
    : QWebEnginePage(parent)
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
    if (paneMayOpen(url))
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

DownloadBar::DownloadBar(QWidget *parent, QWebEnginePage *page)
    : QWidget(parent)
    , m_page(page)
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
    const QString path = prompt().saveFileName(QStringLiteral("名前を付けて保存"),
                                               QDir(appPaths().attachFolder()).filePath(suggested),
                                               QStringLiteral("すべてのファイル (*)"));
    if (path.isEmpty()) {
        download->cancel();
        return;
    }
    const QFileInfo target(path);
    if (isRiskyFileName(target.fileName())
        && prompt().message(riskyFileWarning(target.fileName()), appTitle(), PromptIcon::Exclamation,
                            PromptButtons::OkCancel, PromptDefault::Safe)
            != PromptAnswer::Ok) {
        download->cancel();
        return;
    }
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
        prompt().info(QStringLiteral("ダウンロードできませんでした。\r\n%1\r\n%2\r\n"
                                     "接続と保存先の空きを確かめて、もう一度お試し下さい。")
                          .arg(download->url().toString(), download->interruptReasonString()),
                      appTitle(), PromptIcon::Exclamation);
        break;
    }
    if (download == m_download) {
        m_download = nullptr;
        hide();
        Q_EMIT visibilityChanged();
    }
    Q_EMIT ended(status);
}

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

QWebEngineView *MainForm::browserPane()
{
    if (brwWebBrowser)
        return brwWebBrowser;
    brwWebBrowser = new QWebEngineView(this);
    brwWebBrowser->setObjectName(QStringLiteral("brwWebBrowser"));
    auto *page = new BrowserPage(brwWebBrowser);
    page->profile()->setHttpCacheMaximumSize(kHttpCacheBytes);
    brwWebBrowser->setPage(page);
    brwWebBrowser->setZoomFactor(readBrowserOptions(appPaths().extraIni()).zoom);
    m_paneActivity = new PaneActivity(brwWebBrowser);
    m_findBar = new FindBar(this, brwWebBrowser);
    m_downloadBar = new DownloadBar(this, page);

    connect(brwWebBrowser, &QWebEngineView::urlChanged, this, &MainForm::paneUrlChanged);
    connect(page, &QWebEnginePage::loadingChanged, this, &MainForm::paneLoadingChanged);
    connect(page, &QWebEnginePage::newWindowRequested, this, &MainForm::paneNewWindowRequested);
    connect(page, &BrowserPage::refused, this, [this](const QUrl &url) {
        // Shown once the engine's call has returned.
        QTimer::singleShot(0, this, [this, url] { showRefusedAddress(url.toString()); });
    });
    connect(page, &QWebEnginePage::certificateError, this, [this](const QWebEngineCertificateError &error) {
        // Not accepted here, so the engine refuses the page; the user is told why.
        const QString text = QStringLiteral("このサイトの証明書に問題があるため、ページを開きませんでした。\r\n%1\r\n%2")
                                 .arg(error.url().toString(), error.description());
        QTimer::singleShot(0, this, [text] { prompt().info(text, appTitle(), PromptIcon::Exclamation); });
    });
    connect(m_findBar, &FindBar::visibilityChanged, this, &MainForm::layoutBrowserPane);
    updateMinimumSize();
    connect(m_downloadBar, &DownloadBar::visibilityChanged, this, &MainForm::layoutBrowserPane);
    connect(m_downloadBar, &DownloadBar::ended, this, [this](const QString &status) {
        Text1->setPlainText(status);
        Text1->show();
    });

    layoutBrowserPane();
    brwWebBrowser->show();
    // The help box stays above the pane.
    Text1->raise();
    return brwWebBrowser;
}

void MainForm::showSandboxNotice()
{
    Text1->setPlainText(sandboxNotice());
    Text1->show();
    Text1->raise();
}

void MainForm::layoutBrowserPane()
{
    if (!brwWebBrowser)
        return;
    // The pane takes what the address bar and the button column leave of the
    // window, so its right and bottom edges and scroll bars stay in view; the
    // find and download bars, when shown, sit below it.
    const int left = twipsToPx(this, kPaneLeft);
    const int top = twipsToPx(this, kPaneTop);
    const int width = qMax(0, this->width() - left);
    int bottom = height();
    for (QWidget *bar : {static_cast<QWidget *>(m_downloadBar), static_cast<QWidget *>(m_findBar)}) {
        if (!bar || bar->isHidden())
            continue;
        const int h = bar->sizeHint().height();
        bottom -= h;
        bar->setGeometry(left, bottom, width, h);
        bar->raise();
    }
    // What is found in the page is not to be hidden under the help box.
    if (m_findBar && !m_findBar->isHidden())
        Text1->hide();
    brwWebBrowser->setGeometry(left, top, width, qMax(0, bottom - top));
}

void MainForm::setUpBrowserPane()
{
    connect(timTimer, &QTimer::timeout, this, &MainForm::timTimer_Timer);
    const QList<QAction *> buttons = tbToolBar->actions();
    for (QAction *button : buttons)
        connect(button, &QAction::triggered, this, [this, button] { tbToolBar_ButtonClick(button); });
    connect(cboAddress, &QComboBox::activated, this, &MainForm::cboAddress_Click);
    // A real Enter reaches the combo box first, which passes it on to its line
    // edit (past any event filter there) and, with nothing to insert, reports no
    // choice: the line edit's own signal is what every Enter ends in.
    connect(cboAddress->lineEdit(), &QLineEdit::returnPressed, this, [this] { cboAddress_KeyPress(13); });
    // The address is stored and opened as typed: a completion list to choose
    // from, never a favourite filled in behind the cursor.
    if (QCompleter *completer = cboAddress->completer()) {
        completer->setCompletionMode(QCompleter::PopupCompletion);
        completer->setCaseSensitivity(Qt::CaseSensitive);
    }
    connect(Command2, &QPushButton::clicked, this, &MainForm::Command2_Click);
    connect(Command9, &QPushButton::clicked, this, &MainForm::Command9_Click);
    connect(Command13, &QPushButton::clicked, this, &MainForm::Command13_Click);
    setUpBrowserKeys();
}

void MainForm::setUpBrowserKeys()
{
    const auto key = [this](const char *name, const QList<QKeySequence> &keys, auto handler) {
        auto *action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
    };
    const auto toolbar = [this](const char *button) {
        return [this, button] { tbToolBar_ButtonClick(tbToolBar->findChild<QAction *>(QLatin1String(button))); };
    };
    key("keyBack", {QKeySequence(Qt::ALT | Qt::Key_Left)}, toolbar("Back"));
    key("keyForward", {QKeySequence(Qt::ALT | Qt::Key_Right)}, toolbar("Forward"));
    key("keyRefresh", {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)}, toolbar("Refresh"));
    key("keyEscape", {QKeySequence(Qt::Key_Escape)}, [this, toolbar] {
        if (m_findBar && m_findBar->isVisible())
            m_findBar->dismiss();
        else
            toolbar("Stop")();
    });
    key("keyAddress", {QKeySequence(Qt::CTRL | Qt::Key_L)}, [this] {
        cboAddress->setFocus(Qt::ShortcutFocusReason);
        cboAddress->lineEdit()->selectAll();
    });
    key("keyFind", {QKeySequence(Qt::CTRL | Qt::Key_F)}, [this] {
        browserPane();
        m_findBar->open();
    });
    key("keyFindNext", {QKeySequence(Qt::Key_F3)}, [this] {
        browserPane();
        m_findBar->find(false);
    });
    key("keyFindPrevious", {QKeySequence(Qt::SHIFT | Qt::Key_F3)}, [this] {
        browserPane();
        m_findBar->find(true);
    });
    key("keyZoomIn", {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
        [this] { zoomPane(1); });
    key("keyZoomOut", {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, [this] { zoomPane(-1); });
    key("keyZoomReset", {QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { zoomPane(0); });
}

void MainForm::zoomPane(int step)
{
    static constexpr double kSteps[] = {0.25, 0.33, 0.5, 0.67, 0.75, 0.8, 0.9, 1.0,
                                        1.1,  1.25, 1.5, 1.75, 2.0,  2.5, 3.0, 4.0, 5.0};
    QWebEngineView *view = browserPane();
    const double now = view->zoomFactor();
    double next = 1.0;
    if (step > 0) {
        next = kSteps[std::size(kSteps) - 1];
        for (double z : kSteps) {
            if (z > now + 0.001) {
                next = z;
                break;
            }
        }
    } else if (step < 0) {
        next = kSteps[0];
        for (double z : kSteps) {
            if (z < now - 0.001)
                next = z;
        }
    }
    view->setZoomFactor(next);
    if (Status s = writeZoom(appPaths().extraIni(), next); !s)
        showStorageError(s.error());
}

void MainForm::navigatePane(const QUrl &url)
{
    if (!url.isValid())
        return;
    QWebEngineView *view = browserPane();
    m_paneActivity->requested();
    view->load(url);
}

void MainForm::showPaneTitle()
{
    // An empty pane has no title; the caption then keeps what it shows.
    if (!brwWebBrowser || brwWebBrowser->url().isEmpty())
        return;
    setWindowTitle(brwWebBrowser->title());
}

void MainForm::showRefusedAddress(const QString &address)
{
    prompt().info(QStringLiteral("このアドレスは開けません。\r\n%1\r\n"
                                 "ブラウザで開けるのは http:// と https:// で始まるアドレスだけです。")
                      .arg(address),
                  appTitle(), PromptIcon::Exclamation);
}

void MainForm::paneUrlChanged(const QUrl &url)
{
    // The address box follows the page (links, redirects, Back and Forward), so
    // "お気に入りに追加" stores what is shown.
    // What the user is typing at the moment is not overwritten.
    QLineEdit *edit = cboAddress->lineEdit();
    if (url.isEmpty() || (edit->hasFocus() && edit->isModified()))
        return;
    const QString shown = url.toString();
    if (cboAddress->currentText() != shown)
        cboAddress->setEditText(shown);
}

void MainForm::paneLoadingChanged(const QWebEngineLoadingInfo &info)
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
    timTimer->start();
    navigatePane(plain);
}

void MainForm::paneNewWindowRequested(QWebEngineNewWindowRequest &request)
{
    const QUrl url = request.requestedUrl();
    // Ctrl+click asks for a background tab, Shift+click for a window of its own:
    // those go to the system's browser. Other new windows replace the page, as
    // the pane is the only one; a script's window without a click is dropped.
    const auto where = request.destination();
    if (where == QWebEngineNewWindowRequest::InNewBackgroundTab || where == QWebEngineNewWindowRequest::InNewWindow) {
        if (!paneMayOpen(url) || !openInExternalBrowser(url))
            showRefusedAddress(url.toString());
        return;
    }
    if (!request.isUserInitiated())
        return;
    if (!paneMayOpen(url)) {
        showRefusedAddress(url.toString());
        return;
    }
    timTimer->start();
    navigatePane(url);
}

void MainForm::cboAddress_Click()
{
    const TypedAddress typed =
        interpretAddress(cboAddress->currentText(), readBrowserOptions(appPaths().extraIni()).searchAddress);
    if (typed.kind == TypedAddress::Kind::Empty)
        return;
    if (typed.kind == TypedAddress::Kind::Refused) {
        showRefusedAddress(trimBlanks(cboAddress->currentText()));
        return;
    }
    m_httpsGuess = typed.httpsGuessed ? typed.url : QUrl();
    cboAddress->lineEdit()->setModified(false); // from now on the box follows the page
    timTimer->start();
    navigatePane(typed.url);
}

void MainForm::cboAddress_KeyPress(int keyAscii)
{
    if (keyAscii == 13)
        cboAddress_Click();
}

void MainForm::tbToolBar_ButtonClick(QAction *button)
{
    if (!button)
        return;
    const QString key = button->objectName();
    browserPane();
    if (key == QLatin1String("Back")) {
        timTimer->start();
        if (brwWebBrowser->history()->canGoBack()) {
            m_paneActivity->requested();
            brwWebBrowser->back();
        }
    } else if (key == QLatin1String("Forward")) {
        timTimer->start();
        if (brwWebBrowser->history()->canGoForward()) {
            m_paneActivity->requested();
            brwWebBrowser->forward();
        }
    } else if (key == QLatin1String("Refresh")) {
        timTimer->start();
        if (!brwWebBrowser->url().isEmpty()) {
            m_paneActivity->requested();
            brwWebBrowser->reload();
        }
    } else if (key == QLatin1String("Home")) {
        timTimer->start();
        navigatePane(browserHomePage());
    } else if (key == QLatin1String("Search")) {
        // Words in the address box are searched for; otherwise the search site opens.
        const QString searchAddress = readBrowserOptions(appPaths().extraIni()).searchAddress;
        const TypedAddress typed = interpretAddress(cboAddress->currentText(), searchAddress);
        timTimer->start();
        navigatePane(typed.kind == TypedAddress::Kind::Search ? typed.url : searchSite(searchAddress));
    } else if (key == QLatin1String("Stop")) {
        timTimer->stop();
        brwWebBrowser->stop();
        showPaneTitle();
    }
}

void MainForm::timTimer_Timer()
{
    if (paneBusy()) {
        setWindowTitle(QString::fromUtf16(kBusyCaption));
        return;
    }
    timTimer->stop();
    showPaneTitle();
}

bool MainForm::paneBusy() const
{
    return m_paneActivity && m_paneActivity->busy();
}

int MainForm::selectedFavourite() const
{
    // An entry counts as selected while the address still shows it; once the
    // text is edited or pasted over, no entry is.
    const int index = cboAddress->currentIndex();
    if (index < 0 || cboAddress->currentText() != cboAddress->itemText(index))
        return -1;
    return index;
}

void MainForm::Command2_Click()
{
    const QString url = cboAddress->currentText();
    if (url.isEmpty()) {
        prompt().info(QStringLiteral("アドレスが表示されていません。"), appTitle());
        return;
    }
    if (Result<qint16> added = addFavourite(favouritesPath(), url); !added)
        showStorageError(added.error());
    Command10_Click();
}

void MainForm::Command9_Click()
{
    const int index = selectedFavourite();
    if (index < 0) {
        prompt().info(QStringLiteral("データが選択されていません。"), appTitle());
        return;
    }
    const bool yes = prompt().confirm(QStringLiteral("選択されたデータを削除します。よろしいですか"));
    if (Status s = deleteFavourite(favouritesPath(), favouritesTempPath(), index + 1, yes); !s)
        showStorageError(s.error());
    Command10_Click();
}

void MainForm::Command13_Click()
{
    cboAddress->setEditText(QApplication::clipboard()->text());
}

void MainForm::Command12_Click()
{
    const QUrl page = helpPageUrl();
    if (openInExternalBrowser(page))
        return;
    prompt().info(QStringLiteral("ホームページを開くブラウザを起動できませんでした。\r\n%1")
                      .arg(page.isValid() ? page.toString() : QStringLiteral("（ホームページのファイルが見つかりません）")),
                  appTitle(), PromptIcon::Exclamation);
}

} // namespace kestra
