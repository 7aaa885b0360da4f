#pragma once

#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "common/Result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kestra {

// The mail store the history shows: 1 = received, 2 = sent.
const StoreKind &historyStoreKind(qint16 historyMode);
QString historyStorePath(qint16 historyMode);
QString historyTempPath(qint16 historyMode);

// Every list line of a store, the record number of each line, and the last
// listed record whole. Records marked deleted (left by a compaction that
// failed) are not listed. Only the header fields of each record are decoded,
// in one sequential pass; the body of the last record is the only body
// decoded, so large stores list quickly.
struct HistoryListing {
    QStringList lines;
    QList<qint64> records; // record number of each line
    MailRecord last;       // meaningful when lines is not empty
};

// Creates the store empty when it is missing, then lists it.
Result<HistoryListing> readHistoryListing(const QString &path, qint16 historyMode);

// Reads record `number` into `buffer`. Gives false (buffer untouched) when the
// store has no such record; a missing store is created empty.
Result<bool> readMailRecord(const QString &path, qint64 number, MailRecord &buffer);

// The Subject field of every live record as stored (100 characters, blanks
// kept), with the record numbers.
struct SubjectFields {
    QStringList subjects;
    QList<qint64> records;
};
Result<SubjectFields> readSubjectFields(const QString &path);

} // namespace kestra
