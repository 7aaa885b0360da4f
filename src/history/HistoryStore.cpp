#include "history/HistoryStore.h"

#include "common/AppState.h"
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
    // The bodies, nearly all of the file, are not read at all, except the last
    // one, which the window shows.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return Error::fileOperation(path, file.errorString());
    const qint64 records = file.size() / MailRecord::kLength;
    HistoryListing listing;
    listing.lines.reserve(records);
    listing.records.reserve(records);
    // The Live field of record i lies just before the header fields of record
    // i + 1, so one read takes both; the bodies between are not read.
    const qint64 length = MailRecord::kLength;
    const qint64 headers = MailRecord::kHeadersLength;
    QByteArray bytes(2 + headers, Qt::Uninitialized);
    QByteArray pending; // header fields of the record whose Live field comes next
    for (qint64 i = 0; records > 0 && i <= records; ++i) {
        const qint64 size = i == records ? 2 : (i == 0 ? headers : 2 + headers);
        bytes.resize(size);
        if (const QString e = readAt(file, i * length - (i == 0 ? 0 : 2), bytes.data(), bytes.size()); !e.isEmpty())
            return Error::fileOperation(path, e);
        if (i > 0 && liveOfRaw(bytes, 0) != 0) {
            listing.lines.append(HistoryLine(mailFields(MailRecord::decodeHeaders(pending), historyMode)));
            listing.records.append(i);
        }
        pending = bytes.right(headers);
    }
    if (!listing.records.isEmpty()) {
        bytes.resize(MailRecord::kLength);
        if (const QString e = readAt(file, (listing.records.last() - 1) * MailRecord::kLength, bytes.data(), bytes.size()); !e.isEmpty())
            return Error::fileOperation(path, e);
        listing.last = MailRecord::decode(bytes);
    }
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

Result<SubjectFields> readSubjectFields(const QString &path)
{
    SubjectFields fields;
    const Status s = scanLiveRecords(path, MailRecord::kLength, [&](qint64 number, const QByteArray &bytes) {
        fields.subjects.append(MailRecord::decodeHeaders(bytes).Subject);
        fields.records.append(number);
        return true;
    });
    if (!s)
        return s.error();
    return fields;
}

} // namespace kestra
