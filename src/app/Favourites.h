#pragma once

#include "common/Result.h"

#include <QString>
#include <QStringList>

namespace kestra {

// The favourites file Kstdata90.data in the data folder, found without regard
// to letter case, and the temporary file its compaction writes.
QString favouritesPath();
QString favouritesTempPath();

// The addresses of the favourites, in record order (entry p is record p + 1),
// without the blanks that pad the field. A missing file has none.
Result<QStringList> readFavourites(const QString &path);

// Appends a live favourite holding `url` (cut to the field's 200 bytes) at
// the store's next record number; gives that number. An address with
// characters outside code page 932 is stored in its ASCII form.
Result<qint16> addFavourite(const QString &path, const QString &url);

// Removes favourite `number` (1-based) when `confirmed`, then compacts the
// file. Without confirmation the file is still compacted, which leaves its
// records as they were.
Status deleteFavourite(const QString &path, const QString &tempPath, qint64 number, bool confirmed);

} // namespace kestra
