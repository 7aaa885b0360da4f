#pragma once

#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/Result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kestra {

// The mail store the history shows: 1 = received, 2 = sent.
const StoreKind &historyStoreKind(qint16 historyMode);
QString historyStorePath(qint16 historyMode);
QString historyTempPath(qint16 historyMode);

// Every list line of a store, and the last record whole. Only the header fields
// of each record are decoded, in one sequential pass; the body of the last
// record is the only body decoded, so large stores list quickly.
struct HistoryListing {
    QStringList lines;
    MailRecord last;      // meaningful when lines is not empty
};

// Creates the store empty when it is missing, then lists it.
Result<HistoryListing> readHistoryListing(const QString &path, qint16 historyMode);

// Reads record `number` into `buffer`. Gives false (buffer untouched) when the
// store has no such record; a missing store is created empty.
Result<bool> readMailRecord(const QString &path, qint64 number, MailRecord &buffer);

// Marks records `first` to `last` deleted by writing `buffer` over them with its
// Live field at 0. Records past the end of the store are not written, so a list
// that is longer than the store never grows it. One open, one flush to disk.
Status markMailRecords(const QString &path, qint64 first, qint64 last, MailRecord &buffer);

// The Subject field of every record as stored: 100 characters, blanks kept.
Result<QStringList> readSubjectFields(const QString &path);

} // namespace kestra
