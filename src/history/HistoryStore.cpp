#include "history/HistoryStore.h"

#include "common/Paths.h"
#include "storage/MailFields.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

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
// Fills `out` from `offset`. Gives an empty text, or what went wrong.
QString readAt(QFile &file, qint64 offset, QByteArray &out)
{
#ifdef Q_OS_UNIX
    qint64 done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(file.handle(), out.data() + done, size_t(out.size() - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return qt_error_string(errno);
        if (n == 0)
            return QStringLiteral("レコードの途中でファイルが終わっています");
        done += n;
    }
    return {};
#else
    if (!file.seek(offset) || file.read(out.data(), out.size()) != out.size())
        return file.errorString();
    return {};
#endif
}
} // namespace

Result<HistoryListing> readHistoryListing(const QString &path, qint16 historyMode)
{
    if (Status s = ensureStore(path); !s)
        return s.error();
    // One read of the header fields per record: the bodies, nearly all of the
    // file, are not read at all, except the last one, which the window shows.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return StorageError{path, file.errorString()};
    const qint64 records = file.size() / MailRecord::kLength;
    HistoryListing listing;
    listing.lines.reserve(records);
    QByteArray bytes(MailRecord::kHeadersLength, Qt::Uninitialized);
    for (qint64 i = 0; i < records; ++i) {
        if (const QString e = readAt(file, i * MailRecord::kLength, bytes); !e.isEmpty())
            return StorageError{path, e};
        listing.lines.append(HistoryLine(mailFields(MailRecord::decodeHeaders(bytes), historyMode)));
    }
    if (records > 0) {
        bytes.resize(MailRecord::kLength);
        if (const QString e = readAt(file, (records - 1) * MailRecord::kLength, bytes); !e.isEmpty())
            return StorageError{path, e};
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
