#pragma once

#include "common/Result.h"

#include <QString>

namespace kestra {

// The browser pane's own options, kept in group [browser] of kestra2.ini:
//   Search  the address a search goes to, with %s where the words go
//   Zoom    the pane's zoom factor, 1 = 100 %
struct BrowserOptions {
    static constexpr double kMinZoom = 0.25;
    static constexpr double kMaxZoom = 5.0;

    QString searchAddress = defaultSearchAddress();
    double zoom = 1.0;

    static QString defaultSearchAddress();
};

// Whether `address` can serve as the search address: an http or https address
// with a host and one %s for the words.
bool isUsableSearchAddress(const QString &address);

// Missing or unusable values give the defaults.
BrowserOptions readBrowserOptions(const QString &iniPath);
// Other groups and keys of the file are kept.
Status writeSearchAddress(const QString &iniPath, const QString &address);
Status writeZoom(const QString &iniPath, double zoom);

} // namespace kestra
