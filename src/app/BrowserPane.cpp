// The browser pane of the main window: toolbar, address combo, busy watch,
// favourites buttons and the home page button. The pane itself comes from
// the web engine library (web/WebPane.h), loaded at its first page.

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
#include "web/WebLoader.h"

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
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QToolBar>

#include <utility>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace kestra {

namespace {

const char16_t kBusyCaption[] = u"作業中...";

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

namespace {

// Where a download of the pane goes: the user chooses (the attachment folder
// first) and is warned before saving a file that would run as a program.
QString askDownloadTarget(const QString &suggestedName)
{
    const QString path = prompt().saveFileName(QStringLiteral("名前を付けて保存"),
                                               QDir(appPaths().attachFolder()).filePath(suggestedName),
                                               QStringLiteral("すべてのファイル (*)"));
    if (path.isEmpty())
        return {};
    const QString name = QFileInfo(path).fileName();
    if (isRiskyFileName(name)
        && prompt().message(riskyFileWarning(name), appTitle(), PromptIcon::Exclamation, PromptButtons::OkCancel,
                            PromptDefault::Safe)
            != PromptAnswer::Ok)
        return {};
    return path;
}

} // namespace

WebPane *MainForm::browserPane()
{
    if (m_pane)
        return m_pane;
    QString error;
    WebEngine *engine = webEngine(&error);
    if (!engine) {
        // Mail goes on without the pane; the user hears why it stays empty.
        Text1->setPlainText(QStringLiteral("ブラウザを開けませんでした。\n") + error);
        Text1->show();
        Text1->raise();
        return nullptr;
    }
    WebPaneHost host;
    host.mayOpen = paneMayOpen;
    host.refused = [this](const QUrl &url) { showRefusedAddress(url.toString()); };
    host.openExternally = openInExternalBrowser;
    host.navigating = [this] { timTimer->start(); };
    host.urlChanged = [this](const QUrl &url) { paneUrlChanged(url); };
    host.warn = [](const QString &text) { prompt().info(text, appTitle(), PromptIcon::Exclamation); };
    host.downloadTarget = askDownloadTarget;
    host.downloadEnded = [this](const QString &status) {
        Text1->setPlainText(status);
        Text1->show();
    };
    host.barsChanged = [this] { layoutBrowserPane(); };
    m_pane = engine->createPane(this, std::move(host), readBrowserOptions(appPaths().extraIni()).zoom);
    delete std::exchange(m_emptyPane, nullptr);
    updateMinimumSize();
    layoutBrowserPane();
    m_pane->view()->show();
    // The help box stays above the pane.
    Text1->raise();
    return m_pane;
}

void MainForm::showSandboxNotice()
{
    Text1->setPlainText(sandboxNotice());
    Text1->show();
    Text1->raise();
}

void MainForm::layoutBrowserPane()
{
    // The pane takes what the address bar and the button column leave of the
    // window, so its right and bottom edges and scroll bars stay in view; the
    // find and download bars, when shown, sit below it.
    const int left = twipsToPx(this, kPaneLeft);
    const int top = twipsToPx(this, kPaneTop);
    const int width = qMax(0, this->width() - left);
    int bottom = height();
    if (m_pane) {
        for (QWidget *bar : {m_pane->downloadBar(), m_pane->findBar()}) {
            if (bar->isHidden())
                continue;
            const int h = bar->sizeHint().height();
            bottom -= h;
            bar->setGeometry(left, bottom, width, h);
            bar->raise();
        }
        // What is found in the page is not to be hidden under the help box.
        if (!m_pane->findBar()->isHidden())
            Text1->hide();
    }
    (m_pane ? m_pane->view() : m_emptyPane)->setGeometry(left, top, width, qMax(0, bottom - top));
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
        if (!m_pane || !m_pane->dismissFind())
            toolbar("Stop")();
    });
    key("keyAddress", {QKeySequence(Qt::CTRL | Qt::Key_L)}, [this] {
        cboAddress->setFocus(Qt::ShortcutFocusReason);
        cboAddress->lineEdit()->selectAll();
    });
    key("keyFind", {QKeySequence(Qt::CTRL | Qt::Key_F)}, [this] {
        if (WebPane *pane = browserPane())
            pane->openFind();
    });
    key("keyFindNext", {QKeySequence(Qt::Key_F3)}, [this] {
        if (WebPane *pane = browserPane())
            pane->find(false);
    });
    key("keyFindPrevious", {QKeySequence(Qt::SHIFT | Qt::Key_F3)}, [this] {
        if (WebPane *pane = browserPane())
            pane->find(true);
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
    WebPane *pane = browserPane();
    if (!pane)
        return;
    const double now = pane->zoom();
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
    pane->setZoom(next);
    if (Status s = writeZoom(appPaths().extraIni(), next); !s)
        showStorageError(s.error());
}

void MainForm::navigatePane(const QUrl &url, bool httpsGuessed)
{
    if (!url.isValid())
        return;
    timTimer->start();
    if (WebPane *pane = browserPane())
        pane->navigate(url, httpsGuessed);
}

void MainForm::showPaneTitle()
{
    // An empty pane has no title; the caption then keeps what it shows.
    if (!m_pane || m_pane->url().isEmpty())
        return;
    setWindowTitle(m_pane->title());
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
    cboAddress->lineEdit()->setModified(false); // from now on the box follows the page
    navigatePane(typed.url, typed.httpsGuessed);
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
    if (key == QLatin1String("Home")) {
        navigatePane(browserHomePage());
    } else if (key == QLatin1String("Search")) {
        // Words in the address box are searched for; otherwise the search site opens.
        const QString searchAddress = readBrowserOptions(appPaths().extraIni()).searchAddress;
        const TypedAddress typed = interpretAddress(cboAddress->currentText(), searchAddress);
        navigatePane(typed.kind == TypedAddress::Kind::Search ? typed.url : searchSite(searchAddress));
    } else if (key == QLatin1String("Stop")) {
        timTimer->stop();
        if (m_pane)
            m_pane->stop();
        showPaneTitle();
    } else if (m_pane) {
        // Back, Forward and Refresh: a pane that never showed a page has nowhere to go.
        timTimer->start();
        if (key == QLatin1String("Back"))
            m_pane->back();
        else if (key == QLatin1String("Forward"))
            m_pane->forward();
        else if (key == QLatin1String("Refresh"))
            m_pane->reload();
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
    return m_pane && m_pane->busy();
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
