#pragma once

#include "common/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QString>

namespace kestra {

// The messages received but left on the server, by their unique id (UIDL),
// kept in a file beside the received store so that the next run fetches each
// of them once only.
//
// The file is a journal of lines "P|F uidl fetched-at record hash" and
// "D uidl .". A message about to be stored is journalled as pending (P) before
// its record is written, and the line is handed to the system at once, so a
// kill at any later instant leaves it behind. A pending message counts as
// fetched only when the store's record at its number is the one written (same
// hash): a kill before the record was whole makes the message be fetched
// again, a kill after it never does. Rewriting the file (commit) turns checked
// pending lines into fetched (F) ones and drops what was not confirmed;
// "D" asks for the message to be deleted on the server.
class FetchedUidls
{
public:
    struct Entry {
        QDateTime fetched;
        qint64 record = 0;
        QByteArray hash;
        bool pending = false;
        bool deleteAsked = false;
    };

    explicit FetchedUidls(QString path) : m_path(std::move(path)) {}
    FetchedUidls(const FetchedUidls &) = delete;
    FetchedUidls &operator=(const FetchedUidls &) = delete;
    // What identifies a record's mail: subject, sender, date and body, not its
    // live flag, so that a record marked deleted still has the same hash.
    static QByteArray recordHash(const QByteArray &recordBytes);

    // Reads the journal and checks its pending lines against the store. A
    // missing file is an empty list.
    Status load(const QString &storePath, int recordLength);
    bool contains(const QString &uidl) const { return m_entries.contains(uidl); }
    const QHash<QString, Entry> &entries() const { return m_entries; }

    // Journals `uidl` as pending before record `record` (`recordBytes`) is written.
    Status addPending(const QString &uidl, qint64 record, const QByteArray &recordBytes, const QDateTime &when);
    // Forgets the ids no longer on the server (deleted there, by us or by
    // another client); the next commit leaves them out of the file.
    void retainOnly(const QSet<QString> &onServer);
    // Checks the pending entries against the store, then rewrites the file
    // as a whole (temporary file renamed over it).
    Status commit(const QString &storePath, int recordLength);

    // The mail of `recordBytes`, now record `record` of the store, was
    // deleted in the history: its message is marked for deletion on the
    // server, in the file at once. Look-alike mails (records with the same
    // hash) are told apart by the record each was written as, so exactly one
    // message is marked per deleted record.
    Status askDeletion(const QByteArray &recordBytes, qint64 record);

private:
    Status append(const QByteArray &line);
    Status confirmPending(const QString &storePath, int recordLength);

    QString m_path;
    QHash<QString, Entry> m_entries;
    // The journal, open for appending from the first line a run adds until
    // the file is read or rewritten: one call to the system per line.
    QFile m_journal;
};

// Records `records` of the received store `storePath` are about to be deleted
// in the history: when the mail is left on the server and the user chose so
// (in `extraIniPath`), their messages are marked for deletion there at the
// next run, in the journal `listPath`.
Status askServerDeletion(const QString &storePath, const QList<qint64> &records, const QString &extraIniPath,
                         const QString &listPath);

} // namespace kestra
