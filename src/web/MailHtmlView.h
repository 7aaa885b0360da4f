#pragma once

#include "web/WebPane.h"

#include <QStringList>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <atomic>
#include <mutex>

class QWebEngineProfile;

namespace kestra {

// Lets a mail page load its own content only. Remote content (images, style
// sheets, fonts, frames) is refused until it is allowed for the page shown;
// local files and every other scheme are always refused.
class MailRequestGate final : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MailRequestGate)

public:
    explicit MailRequestGate(QObject *parent = nullptr);
    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

    void setRemoteAllowed(bool allowed) { m_remote = allowed; }
    bool remoteAllowed() const { return m_remote; }
    // What was refused since the last reset (for the notice "画像を表示" answers).
    int refusedRemote() const { return m_refusedRemote; }
    void reset() { m_refusedRemote = 0; }

private:
    std::atomic<bool> m_remote{false};
    std::atomic<int> m_refusedRemote{0};
};

// The page of a mail: link clicks are handed out instead of followed, and no
// other navigation leaves the mail.
class MailPage final : public QWebEnginePage
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MailPage)

public:
    MailPage(QWebEngineProfile *profile, QObject *parent);

Q_SIGNALS:
    void linkActivated(const QUrl &url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
};

// Shows the HTML of a mail safely: its own profile kept in memory only (no
// cookies are accepted, nothing is written to disk), JavaScript, plug-ins and
// DNS prefetching off, no access to local files, and remote content blocked
// until allowRemoteContent().
class MailHtmlView final : public QWebEngineView, public MailView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MailHtmlView)

public:
    explicit MailHtmlView(QWidget *parent = nullptr);
    ~MailHtmlView() override;

    QWidget *widget() override { return this; }
    // Shows `html` with remote content blocked.
    void showHtml(const QString &html) override;
    // Loads the page again with its remote content.
    void allowRemoteContent() override;
    bool remoteAllowed() const { return m_gate->remoteAllowed(); }
    MailRequestGate *gate() const { return m_gate; }

Q_SIGNALS:
    void linkActivated(const QUrl &url);

private:
    QWebEngineProfile *m_profile = nullptr;
    MailRequestGate *m_gate = nullptr;
    MailPage *m_page = nullptr;
    QString m_html;
};

} // namespace kestra
