#pragma once

#include <QString>
#include <QUrl>

#include <functional>

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

} // namespace kestra
