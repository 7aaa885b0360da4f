#pragma once

#include "common/Result.h"
#include "storage/StoreFaults.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>

namespace kestra {

// One store of fixed-length records: its file name, the temporary name its
// compaction writes, the record length and where the Live field sits.
struct StoreKind {
    const char16_t *fileName;
    const char16_t *tempName;
    int recordLength;
    int liveOffset;
};

namespace stores {
extern const StoreKind received;   // kstdata2.data, MailRecord
extern const StoreKind sent;       // kstdata5.data, MailRecord
extern const StoreKind addressBook; // Kstdata20.data, AddressRecord
extern const StoreKind addressPreload; // KSTASTER20.INI, AddressRecord (read only)
extern const StoreKind favourites; // Kstdata90.data, FavouriteRecord
} // namespace stores

// Highest record number a store can hold (record numbers are signed 16-bit).
inline constexpr qint64 kMaxRecords = 32767;

// Offset of the Live field in a record of the given length.
int liveOffsetFor(int recordLength);

// A record file opened for access by record number (1-based). Closed on
// destruction; every operation reports the file and the system's reason.
class RecordFile
{
public:
    // `faults` reach sync() (none: the real disk).
    RecordFile(QString path, int recordLength, StoreFaults faults = {});
    ~RecordFile();
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;

    // Opens for reading and writing; a missing file is created empty.
    Status open();
    // Opens for reading only; a missing file reads as empty.
    Status openReadOnly();
    void close();
    bool isOpen() const { return m_file.isOpen(); }

    const QString &path() const { return m_path; }
    int recordLength() const { return m_length; }
    // Whole records in the file (a torn tail is not counted).
    qint64 count() const;

    // AppendRecordNumber for the open store, from its handle: no look-up of
    // the path for each record a run appends.
    Result<qint16> appendNumber() const;

    // Reads record `number` into `out`. Gives false at the end of the file.
    Result<bool> read(qint64 number, QByteArray &out);
    // Writes `bytes` (exactly one record) as record `number`; one past the last
    // appends. With `sync` the bytes are on disk when it returns.
    Status write(qint64 number, const QByteArray &bytes, bool sync = true);
    // Puts every record written so far on the disk.
    Status sync();
    // Cuts off a torn last record: the part of a record whose writing was cut
    // short (the program killed or the disk full in the middle of it). Such a
    // record was never confirmed, and what it held is still where it came
    // from (a message stays on the server until its record is on the disk).
    // Appending after it would otherwise leave a gap record or, depending on
    // how the next record number rounds, write over it.
    Status dropTornTail();
    // Cuts the file back to its first `count` records: records written and
    // then given up before they were confirmed.
    Status truncate(qint64 count);

private:
    Error error(const QString &reason) const;

    QString m_path;
    int m_length;
    QFile m_file;
    bool m_readOnlyMissing = false;
    StoreFaults m_faults;
};

// Calls `visit(number, bytes)` for record 1, 2, ... until the end of the file
// or until `visit` returns false. A missing file has no records.
Status scanRecords(const QString &path, int recordLength,
                   const std::function<bool(qint64, const QByteArray &)> &visit);

// Like scanRecords, but only for live records: a record whose Live field is 0
// (marked for deletion, still there because its compaction has not run or
// failed) is passed over. `number` is the record's place in the file, the
// number to read, mark or delete it by.
Status scanLiveRecords(const QString &path, int recordLength,
                       const std::function<bool(qint64 number, const QByteArray &bytes)> &visit);

// Number for a new record: file size / length + 1, rounded half to even. An
// error when the store already holds the most records it can number.
Result<qint16> AppendRecordNumber(const QString &path, int recordLength);

// Opens the store, writes `bytes` as record `number` and closes it again.
Status writeRecordAt(const QString &path, int recordLength, qint64 number, const QByteArray &bytes);
// Cuts a torn last record off the file (RecordFile::dropTornTail); a missing
// file is created empty. Every append of a new record goes through this first.
Status dropTornTail(const QString &path, int recordLength);
// Appends `bytes` at AppendRecordNumber after dropping a torn tail; gives the number it used.
Result<qint16> appendRecord(const QString &path, int recordLength, const QByteArray &bytes);

// Marks records deleted by writing 0 into their Live field and nothing else,
// so a marked record keeps its own contents: when the compaction that should
// drop it fails, it is still itself (and skipped by every list). Numbers past
// the end of the file are not written, so the file never grows. One open, one
// flush to the disk.
Status markRecords(const QString &path, int recordLength, const QList<qint64> &numbers);
Status markRecord(const QString &path, int recordLength, qint64 number);

// Rewrites the data file with its live records only, in order, copied byte for
// byte. The compacted records go to `tempPath`, reach the disk, and the temporary
// file is renamed over the data file, so the store on disk is complete at every
// instant: the old one until the rename, the new one after it. `faults`
// are asked at each step (none: the compaction runs to its end).
Status CompactStore(const QString &dataPath, const QString &tempPath, int recordLength,
                    const StoreFaults &faults = {});

// Reads `n` bytes at `offset` of an open file without moving its position (one
// call where there is pread). Gives the system's reason, or an empty text.
QString readAt(QFile &file, qint64 offset, char *out, qint64 n);

// Flushes an open file's data to the disk.
bool syncFile(QFile &file);
// Flushes a folder's entries (after a rename) to the disk.
void syncFolder(const QString &folder);
// Flushes every file written on the file system that holds `path` (one call
// instead of one per file, for the many files of a receive run). Where the
// system has no such call, everything is flushed.
bool syncFileSystemOf(const QString &path);

} // namespace kestra
