// The browser pane of the main window: toolbar, address combo, busy watch,
// favourites buttons and the home page button.

#include "app/BrowserPane.h"

#include "app/Favourites.h"
#include "app/MainForm.h"
#include "common/AppState.h"
#include "common/Twips.h"
#include "common/Text.h"
#include "common/UserPrompt.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QToolBar>
#include <QWebEngineHistory>
#include <QWebEngineView>

#ifndef KESTRA_BUILD_SHARE_DIR
#define KESTRA_BUILD_SHARE_DIR ""
#endif

namespace kestra {

namespace {

const char16_t kBusyCaption[] = u"作業中...";

BrowserStartPages &startPagesOverride()
{
    static BrowserStartPages pages;
    return pages;
}

ExternalBrowser &externalBrowserOverride()
{
    static ExternalBrowser opener;
    return opener;
}

// Sends Enter typed in the address combo to its key handler, before the combo
// itself acts on it.
class AddressKeys final : public QObject
{
public:
    explicit AddressKeys(MainForm *form) : QObject(form), m_form(form) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                m_form->cboAddress_KeyPress(13);
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    MainForm *m_form;
};

} // namespace

QUrl addressToUrl(const QString &typed)
{
    const QString text = trimBlanks(typed);
    if (text.isEmpty())
        return {};
    if (text.startsWith(QLatin1Char('/')))
        return QUrl::fromLocalFile(text);

    // "host:port" would parse as a scheme named after the host, so only a
    // "scheme://" prefix or one of the few schemes without slashes counts.
    static const QRegularExpression hierarchical(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    static const QRegularExpression opaque(QStringLiteral("^(about|data|mailto|view-source):"),
                                           QRegularExpression::CaseInsensitiveOption);
    QUrl url;
    if (hierarchical.match(text).hasMatch() || opaque.match(text).hasMatch())
        url = QUrl(text, QUrl::TolerantMode);
    else
        url = QUrl(QStringLiteral("https://") + text, QUrl::TolerantMode);
    if (!url.isValid())
        return {};
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        if (url.host().isEmpty())
            return {};
        if (url.path().isEmpty())
            url.setPath(QStringLiteral("/"));
    }
    return url;
}

QUrl helpPageUrl()
{
    const QString relative = QStringLiteral("help/index.html");
    const QStringList folders = {
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/kestra"),
        QString::fromUtf8(KESTRA_BUILD_SHARE_DIR),
    };
    for (const QString &folder : folders) {
        if (folder.isEmpty())
            continue;
        const QFileInfo page(QDir(folder), relative);
        if (page.isFile())
            return QUrl::fromLocalFile(page.canonicalFilePath());
    }
    return {};
}

BrowserStartPages browserStartPages()
{
    BrowserStartPages pages = startPagesOverride();
    if (pages.home.isEmpty())
        pages.home = helpPageUrl();
    if (pages.search.isEmpty()) {
        pages.search = helpPageUrl();
        if (!pages.search.isEmpty())
            pages.search.setFragment(QStringLiteral("search"));
    }
    return pages;
}

void setBrowserStartPages(const BrowserStartPages &pages)
{
    startPagesOverride() = pages;
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
    setGeometryTwips(brwWebBrowser, 1560, 1200, 5040, 4575);
    m_paneActivity = new PaneActivity(brwWebBrowser);
    Form_Resize();
    brwWebBrowser->show();
    // The help box stays above the pane.
    Text1->raise();
    return brwWebBrowser;
}

void MainForm::setUpBrowserPane()
{
    connect(timTimer, &QTimer::timeout, this, &MainForm::timTimer_Timer);
    const QList<QAction *> buttons = tbToolBar->actions();
    for (QAction *button : buttons)
        connect(button, &QAction::triggered, this, [this, button] { tbToolBar_ButtonClick(button); });
    connect(cboAddress, &QComboBox::activated, this, &MainForm::cboAddress_Click);
    cboAddress->lineEdit()->installEventFilter(new AddressKeys(this));
    connect(Command2, &QPushButton::clicked, this, &MainForm::Command2_Click);
    connect(Command9, &QPushButton::clicked, this, &MainForm::Command9_Click);
    connect(Command13, &QPushButton::clicked, this, &MainForm::Command13_Click);
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

void MainForm::cboAddress_Click()
{
    timTimer->start();
    navigatePane(addressToUrl(cboAddress->currentText()));
}

void MainForm::cboAddress_KeyPress(int keyAscii)
{
    if (keyAscii == 13)
        cboAddress_Click();
}

void MainForm::tbToolBar_ButtonClick(QAction *button)
{
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
        navigatePane(browserStartPages().home);
    } else if (key == QLatin1String("Search")) {
        timTimer->start();
        navigatePane(browserStartPages().search);
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
