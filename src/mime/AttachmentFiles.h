#pragma once

#include "common/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QIODevice>
#include <QHash>
#include <QList>
#include <QString>

namespace kestra::mime {

// A file name made safe from an untrusted attachment name: no path separators
// or drive colons, no control characters, no characters Windows forbids, no
// leading or trailing dots or blanks, no reserved device names (CON, NUL, COM1
// ...), not longer than the file system allows. Never empty: a name with
// nothing usable left becomes `fallback`.
QString safeFileName(const QString &untrusted, const QString &fallback = QStringLiteral("attachment.dat"));

// What a run of writes into an attachment folder (one receive run) keeps
// from one file to the next: the folder as the file system resolves it,
// looked up once rather than for every file, and the next number worth
// trying for each file name already written, so that many attachments with
// one name do not each try "(2)", "(3)" ... again.
struct AttachmentWrites {
    QString folder;         // the folder `resolvedFolder` belongs to
    QString resolvedFolder; // without symbolic links; empty until looked up
    QHash<QString, int> nextFree;
};

// Writes `data` into `folder` under `name` (made safe first). An existing file
// is never replaced: "name (2).ext", "name (3).ext" ... are tried instead,
// starting where `writes` (when given) says the last search ended. The file
// is created new (no symbolic link is followed), readable and writable by the
// user alone (0600), and is checked to be the entry of that name in the
// folder as resolved when the run began. Gives the path written.
Result<QString> writeNewFile(const QString &folder, const QString &name, const QByteArray &data,
                             AttachmentWrites *writes = nullptr);

// Pieces of messages split with message/partial, kept in a folder until all
// have arrived. What a stranger can make it keep is bounded: a piece joins
// only pieces from the same sender, an id holds at most kMaxPiecesPerId
// pieces, the folder at most kMaxPiecesInAll, and pieces not completed within
// kKeepDays days are removed.
class PartialStore
{
public:
    static constexpr int kMaxPiecesPerId = 1000;
    static constexpr int kMaxPiecesInAll = 2000;
    static constexpr int kKeepDays = 30;

    explicit PartialStore(QString folder);

    // Keeps piece `number` (its raw message bytes, read from `piece`) of
    // message `id` sent by `sender`; `total` is 0 when this piece does not
    // say. An error when it cannot or may not be kept.
    Status keep(const QByteArray &id, int number, int total, const QString &sender, QIODevice &piece);
    // When every piece of `id` is there, writes the reassembled message to
    // `out` piece by piece and gives true; gives false when pieces are
    // missing, and an error when the whole would exceed `maxBytes`.
    Result<bool> complete(const QByteArray &id, QIODevice &out, qint64 maxBytes) const;
    // Forgets every piece of `id`.
    void drop(const QByteArray &id);
    // Removes pieces older than kKeepDays days, as of `now`.
    void expire(const QDateTime &now);

private:
    QString dirFor(const QByteArray &id) const;
    QString m_folder;
};

} // namespace kestra::mime
