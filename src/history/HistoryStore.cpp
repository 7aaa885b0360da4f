#include "history/HistoryStore.h"

#include "common/Paths.h"
#include "storage/MailFields.h"

#include <QFileInfo>

namespace kestra {

const StoreKind &historyStoreKind(qint16 historyMode)
{
    return historyMode == 2 ? stores::sent : stores::received;
}

QString historyStorePath(qint16 historyMode)
{
    return appPaths().dataFile(QString::fromUtf16(historyStoreKind(historyMode).fileName));
}

QString historyTempPath(qint16 historyMode)
{
    return appPaths().dataFile(QString::fromUtf16(historyStoreKind(historyMode).tempName));
}

namespace {
// Opening a store for record access creates it when it is missing.
Status ensureStore(const QString &path)
{
    RecordFile file(path, MailRecord::kLength);
    return file.open();
}
} // namespace

Result<HistoryListing> readHistoryListing(const QString &path, qint16 historyMode)
{
    if (Status s = ensureStore(path); !s)
        return s.error();
    HistoryListing listing;
    QByteArray lastBytes;
    const Status s = scanRecords(path, MailRecord::kLength, [&](qint64, const QByteArray &bytes) {
        listing.lines.append(HistoryLine(mailFields(MailRecord::decodeHeaders(bytes), historyMode)));
        lastBytes = bytes;
        return true;
    });
    if (!s)
        return s.error();
    if (!lastBytes.isEmpty())
        listing.last = MailRecord::decode(lastBytes);
    return listing;
}

Result<bool> readMailRecord(const QString &path, qint64 number, MailRecord &buffer)
{
    RecordFile file(path, MailRecord::kLength);
    if (Status s = file.open(); !s)
        return s.error();
    QByteArray bytes;
    Result<bool> found = file.read(number, bytes);
    if (found.ok() && found.value())
        buffer = MailRecord::decode(bytes);
    return found;
}

Status markMailRecords(const QString &path, qint64 first, qint64 last, MailRecord &buffer)
{
    buffer.Live = 0;
    const qint64 count = QFileInfo(path).size() / MailRecord::kLength;
    last = qMin(last, count);
    if (first > last)
        return {};
    const QByteArray bytes = buffer.encode();
    if (first == last)
        return markRecord(path, MailRecord::kLength, first, bytes);
    RecordFile file(path, MailRecord::kLength);
    if (Status s = file.open(); !s)
        return s;
    for (qint64 k = first; k <= last; ++k) {
        // Flushed to the disk once, with the last record.
        if (Status s = file.write(k, bytes, k == last); !s)
            return s;
    }
    return {};
}

Result<QStringList> readSubjectFields(const QString &path)
{
    QStringList subjects;
    const Status s = scanRecords(path, MailRecord::kLength, [&](qint64, const QByteArray &bytes) {
        subjects.append(MailRecord::decodeHeaders(bytes).Subject);
        return true;
    });
    if (!s)
        return s.error();
    return subjects;
}

} // namespace kestra
