#include "web/MailHtmlView.h"

#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>

namespace kestra {

namespace {
// Where the mail's own HTML is loaded from: setHtml puts it in a data: URL.
bool isOwnContent(const QUrl &url)
{
    return url.scheme() == QLatin1String("data") || url.toString() == QLatin1String("about:blank");
}

bool isRemote(const QUrl &url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}
} // namespace

MailRequestGate::MailRequestGate(QObject *parent) : QWebEngineUrlRequestInterceptor(parent) {}

void MailRequestGate::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    const QUrl url = info.requestUrl();
    if (isOwnContent(url))
        return;
    if (isRemote(url)) {
        if (!m_remote) {
            ++m_refusedRemote;
            info.block(true);
        }
        return;
    }
    info.block(true); // file:, ftp: and the rest never
}

MailPage::MailPage(QWebEngineProfile *profile, QObject *parent) : QWebEnginePage(profile, parent) {}

bool MailPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (type == NavigationTypeLinkClicked) {
        Q_EMIT linkActivated(url);
        return false;
    }
    if (isMainFrame)
        return isOwnContent(url) && (type == NavigationTypeTyped || type == NavigationTypeReload
                                     || type == NavigationTypeOther);
    // Frames load through the gate like any remote content.
    return isOwnContent(url) || isRemote(url);
}

QWebEnginePage *MailPage::createWindow(WebWindowType)
{
    return nullptr; // links that ask for a new window come as clicks (see showHtml)
}

MailHtmlView::MailHtmlView(QWidget *parent) : QWebEngineView(parent)
{
    // A profile without a storage name lives in memory only.
    m_profile = new QWebEngineProfile(this);
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_profile->cookieStore()->setCookieFilter([](const QWebEngineCookieStore::FilterRequest &) { return false; });
    m_gate = new MailRequestGate(m_profile);
    m_profile->setUrlRequestInterceptor(m_gate);
    QWebEngineSettings *s = m_profile->settings();
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    s->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
    s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    m_page = new MailPage(m_profile, this);
    setPage(m_page);
    connect(m_page, &MailPage::linkActivated, this, &MailHtmlView::linkActivated);
}

MailHtmlView::~MailHtmlView()
{
    // The page must go before its profile, a child deleted after this body.
    delete m_page;
}

void MailHtmlView::showHtml(const QString &html)
{
    m_gate->setRemoteAllowed(false);
    m_gate->reset();
    // Links that ask for a new window open in this one, so they arrive as clicks.
    m_html = QStringLiteral("<base target=\"_self\">") + html;
    m_page->setHtml(m_html);
}

void MailHtmlView::allowRemoteContent()
{
    m_gate->setRemoteAllowed(true);
    m_page->setHtml(m_html);
}

} // namespace kestra
