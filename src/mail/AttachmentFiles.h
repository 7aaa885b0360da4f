#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kestra::mime {

// A file name made safe from an untrusted attachment name: no path separators
// or drive colons, no control characters, no characters Windows forbids, no
// leading or trailing dots or blanks, no reserved device names (CON, NUL, COM1
// ...), not longer than the file system allows. Never empty: a name with
// nothing usable left becomes `fallback`.
QString safeFileName(const QString &untrusted, const QString &fallback = QStringLiteral("attachment.dat"));

// Writes `data` into `folder` under `name` (made safe first). An existing file
// is never replaced: "name (2).ext", "name (3).ext" ... are tried instead. The
// file is created new (no symbolic link is followed) and is checked to lie
// inside the folder. Gives the path written, or an empty string with `error`.
QString writeNewFile(const QString &folder, const QString &name, const QByteArray &data, QString *error);

// Pieces of messages split with message/partial, kept in a folder until all
// have arrived.
class PartialStore
{
public:
    explicit PartialStore(QString folder);

    // Keeps piece `number` (its raw message bytes) of message `id`; `total` is 0
    // when this piece does not say. Gives false with `error` when it cannot be kept.
    bool keep(const QByteArray &id, int number, int total, const QByteArray &piece, QString *error);
    // The reassembled message when every piece of `id` is there, else empty.
    QByteArray complete(const QByteArray &id) const;
    // Forgets every piece of `id`.
    void drop(const QByteArray &id);

private:
    QString dirFor(const QByteArray &id) const;
    QString m_folder;
};

} // namespace kestra::mime
