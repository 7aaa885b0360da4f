#include "storage/BrowserOptions.h"

#include <QSettings>
#include <QUrl>

namespace kestra {

namespace {

const QString kSearchKey = QStringLiteral("browser/Search");
const QString kZoomKey = QStringLiteral("browser/Zoom");

Status writeValue(const QString &iniPath, const QString &key, const QVariant &value)
{
    QSettings ini(iniPath, QSettings::IniFormat);
    ini.setValue(key, value);
    ini.sync();
    if (ini.status() != QSettings::NoError)
        return Error::fileOperation(iniPath, QStringLiteral("設定を書き込めませんでした。"));
    return {};
}

} // namespace

QString BrowserOptions::defaultSearchAddress()
{
    return QStringLiteral("https://duckduckgo.com/?q=%s");
}

bool isUsableSearchAddress(const QString &address)
{
    if (address.count(QStringLiteral("%s")) != 1)
        return false;
    const QUrl url(QString(address).replace(QStringLiteral("%s"), QStringLiteral("x")), QUrl::StrictMode);
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
        && !url.host().isEmpty();
}

BrowserOptions readBrowserOptions(const QString &iniPath)
{
    BrowserOptions options;
    const QSettings ini(iniPath, QSettings::IniFormat);
    const QString search = ini.value(kSearchKey).toString();
    if (isUsableSearchAddress(search))
        options.searchAddress = search;
    bool ok = false;
    const double zoom = ini.value(kZoomKey).toDouble(&ok);
    if (ok && zoom >= BrowserOptions::kMinZoom && zoom <= BrowserOptions::kMaxZoom)
        options.zoom = zoom;
    return options;
}

Status writeSearchAddress(const QString &iniPath, const QString &address)
{
    return writeValue(iniPath, kSearchKey, address);
}

Status writeZoom(const QString &iniPath, double zoom)
{
    return writeValue(iniPath, kZoomKey, zoom);
}

} // namespace kestra
