#include "app/Favourites.h"

#include "common/Paths.h"
#include "common/Text.h"
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
    return appendRecord(path, FavouriteRecord::kLength, record.encode());
}

Status deleteFavourite(const QString &path, const QString &tempPath, qint64 number, bool confirmed)
{
    if (confirmed) {
        // Only the Live field matters in the marked record: compaction drops it.
        if (Status s = markRecord(path, FavouriteRecord::kLength, number, FavouriteRecord().encode()); !s)
            return s;
    }
    return CompactStore(path, tempPath, FavouriteRecord::kLength);
}

} // namespace kestra
