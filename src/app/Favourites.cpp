#include "app/Favourites.h"

#include "common/AppState.h"
#include "app/BrowserPane.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "storage/Cp932.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"

namespace kestra {

QString favouritesPath()
{
    return appPaths().dataFile(QString::fromUtf16(stores::favourites.fileName));
}

QString favouritesTempPath()
{
    return appPaths().dataFile(QString::fromUtf16(stores::favourites.tempName));
}

Result<QStringList> readFavourites(const QString &path)
{
    QStringList urls;
    const Status s = scanRecords(path, FavouriteRecord::kLength, [&urls](qint64, const QByteArray &bytes) {
        urls.append(trimBlanks(FavouriteRecord::decode(bytes).Url));
        return true;
    });
    if (!s)
        return s.error();
    return urls;
}

Result<qint16> addFavourite(const QString &path, const QString &url)
{
    FavouriteRecord record;
    record.Spare = QString(FavouriteRecord::kSpareWidth, QLatin1Char(' '));
    record.Url = url;
    // A character without a code in code page 932 would reach the file as a
    // substitute, and the address would be lost. Such an address is stored in
    // its ASCII form (host in punycode, path percent-encoded), which leads to
    // the same page.
    if (!cp932::canEncode(url)) {
        if (const QUrl parsed = addressToUrl(url); parsed.isValid())
            record.Url = QString::fromLatin1(parsed.toEncoded());
    }
    return appendRecord(path, FavouriteRecord::kLength, record.encode());
}

Status deleteFavourite(const QString &path, const QString &tempPath, qint64 number, bool confirmed)
{
    if (confirmed) {
        if (Status s = markRecord(path, FavouriteRecord::kLength, number); !s)
            return s;
    }
    return CompactStore(path, tempPath, FavouriteRecord::kLength);
}

} // namespace kestra
