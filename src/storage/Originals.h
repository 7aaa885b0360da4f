#pragma once

#include "common/Result.h"
#include "storage/StoreFaults.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace kestra::originals {

// The received record keeps only what code page 932 and its fixed fields can
// hold: a long body is cut, and characters without a code are lost. The
// message as the server sent it is therefore kept too, byte for byte, in the
// folder 原文 of the data folder, one file per received record.
//
// A file is named after its record, not after the record's number (numbers
// shift when the store is compacted): the hex SHA-256 of the record's bytes
// without the Live field, plus ".eml". The name is the same before and after
// a compaction and whether or not the record is marked. Two records with the
// same bytes (the same mail received twice) share one file.
//
// Stores from before this have no originals: originalFor() is empty for them.

inline constexpr char16_t folderName[] = u"原文";

// The folder of the originals in `dataFolder` (the received store's folder).
QString folderIn(const QString &dataFolder);

// File name of the original of a received record (the record's bytes, Live
// field included or not: it is left out of the name).
QString nameFor(QByteArrayView recordBytes);

// Full path of the original named `name` (by nameFor()) in `folder`, whether or not it exists.
QString pathFor(const QString &folder, const QString &name);

// Full path of the record's original in `folder` when that file exists, else empty.
QString originalFor(const QString &folder, QByteArrayView recordBytes);

// Writes `message` as the original of the record: into a temporary file of
// the folder (created 0700 when missing), mode 0600, then renamed to its name,
// so that a file under the record's name is always whole. With `sync` the file
// and the folder entry are on the disk when it returns; without it the caller
// must call syncFolder() before the message is deleted on the server.
// `faults.originalWrite` is asked before the file is written.
Status writeOriginal(const QString &folder, QByteArrayView recordBytes, const QByteArray &message, bool sync = true,
                     const StoreFaults &faults = {});
// The same under a name nameFor() gave: a caller that needs the name anyway
// hashes the record once.
Status writeOriginalNamed(const QString &folder, const QString &name, const QByteArray &message, bool sync = true,
                          const StoreFaults &faults = {});

// Writes the originals of one receive run, with as few calls to the system as
// each takes: the folder is made once, and an original under a name no file
// has yet is created under that name (never over an existing entry, 0600) and
// written with one call, closed and left for syncFolder(). Writing it in place
// is safe because nothing reads an original before its record exists, and the
// run writes the record after the original: a file cut short by a kill has no
// record, its message is still on the server, and the run that receives it
// again finds the name taken. A name that is taken (a cut-short file, or the
// original of a record with the same bytes) is replaced whole through a
// temporary file, as writeOriginalNamed() does.
class OriginalWriter
{
public:
    // `faults.originalWrite` is asked before each file is written.
    OriginalWriter(QString folder, StoreFaults faults = {});
    // Writes `message` as the original named `name`; gives whether this call
    // created the file (false: a file of that name was replaced).
    Result<bool> write(const QString &name, const QByteArray &message);

private:
    QString m_folder;
    StoreFaults m_faults;
    bool m_folderMade = false;
};

// Puts every original written without sync on the disk (files and folder).
Status syncFolder(const QString &folder);

// CompactStore for the received store (the originals are those of the folder
// beside it), deleting the originals of the records
// it drops, except those whose name a surviving record still has. When the
// compaction fails, every original stays (its record is still in the store).
// A failure to delete an original is reported after the compaction is done.
// `faults` go to CompactStore.
Status compactReceivedStore(const QString &dataPath, const QString &tempPath, const StoreFaults &faults = {});

} // namespace kestra::originals
