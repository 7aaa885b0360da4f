#include "storage/FetchedUidls.h"

#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/Settings.h"

#include <QCryptographicHash>
#include <QFile>

namespace kestra {

namespace {

// "D uidl ." asks for the message to be deleted on the server; the closing
// dot tells a whole line from one cut short.
bool isDeleteMark(const QList<QByteArray> &fields)
{
    return fields.size() == 3 && fields[0] == "D" && fields[2] == ".";
}

} // namespace

QByteArray FetchedUidls::recordHash(const QByteArray &recordBytes)
{
    const MailRecord r = MailRecord::decode(recordBytes);
    QCryptographicHash h(QCryptographicHash::Sha256);
    for (const QString *field : {&r.Subject, &r.Header2, &r.Header3, &r.Body}) {
        h.addData(field->toUtf8());
        h.addData(QByteArrayView("\0", 1));
    }
    return h.result().toHex();
}

Status FetchedUidls::load(const QString &storePath, int recordLength)
{
    m_journal.close();
    m_entries.clear();
    QFile file(m_path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return Error::fileOperation(m_path, file.errorString());
    const QByteArray all = file.readAll();
    // A line without its line end was cut short by a kill: it never counted.
    const QList<QByteArray> lines = all.left(all.lastIndexOf('\n') + 1).split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = line.split(' ');
        const QString uidl = QString::fromLatin1(f.value(1));
        if (uidl.isEmpty())
            continue;
        if (isDeleteMark(f)) {
            if (const auto it = m_entries.find(uidl); it != m_entries.end())
                it->deleteAsked = true;
        } else if ((f[0] == "P" || f[0] == "F") && f.size() == 5) {
            Entry e;
            e.fetched = QDateTime::fromSecsSinceEpoch(f[2].toLongLong(), Qt::UTC);
            e.record = f[3].toLongLong();
            e.hash = f[4];
            e.pending = f[0] == "P";
            m_entries.insert(uidl, e);
        }
    }
    return confirmPending(storePath, recordLength);
}

Status FetchedUidls::confirmPending(const QString &storePath, int recordLength)
{
    RecordFile store(storePath, recordLength);
    bool opened = false;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (!it->pending) {
            ++it;
            continue;
        }
        if (!opened) {
            if (Status s = store.openReadOnly(); !s)
                return s;
            opened = true;
        }
        QByteArray bytes;
        const Result<bool> got = store.read(it->record, bytes);
        if (got && got.value() && recordHash(bytes) == it->hash) {
            it->pending = false;
            ++it;
        } else {
            it = m_entries.erase(it);
        }
    }
    return {};
}

Status FetchedUidls::append(const QByteArray &line)
{
    QByteArray out = line;
    if (!m_journal.isOpen()) {
        m_journal.setFileName(m_path);
        const bool created = !m_journal.exists();
        if (!m_journal.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
            return Error::fileOperation(m_path, m_journal.errorString());
        if (created)
            m_journal.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        // A line cut short by a kill ends where the new one starts: it is closed
        // first, so that it stays unreadable on its own and the new line whole.
        if (const qint64 size = m_journal.size(); size > 0) {
            char last = '\n';
            if (!m_journal.seek(size - 1) || !m_journal.getChar(&last)) {
                m_journal.close();
                return Error::fileOperation(m_path, m_journal.errorString());
            }
            if (last != '\n')
                out.prepend('\n');
        }
    }
    // Written straight through: in the system's hands, so a kill of the program cannot lose it.
    if (m_journal.write(out) != out.size()) {
        m_journal.close();
        return Error::fileOperation(m_path, m_journal.errorString());
    }
    return {};
}

Status FetchedUidls::addPending(const QString &uidl, qint64 record, const QByteArray &recordBytes,
                                const QDateTime &when)
{
    Entry e;
    e.fetched = when;
    e.record = record;
    e.hash = recordHash(recordBytes);
    e.pending = true;
    const QByteArray line = "P " + uidl.toLatin1() + ' ' + QByteArray::number(when.toSecsSinceEpoch()) + ' '
        + QByteArray::number(record) + ' ' + e.hash + '\n';
    if (Status s = append(line); !s)
        return s;
    m_entries.insert(uidl, e);
    return {};
}

void FetchedUidls::retainOnly(const QSet<QString> &onServer)
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (onServer.contains(it.key()))
            ++it;
        else
            it = m_entries.erase(it);
    }
}

Status FetchedUidls::commit(const QString &storePath, int recordLength)
{
    // The rewritten file replaces the one the handle holds.
    m_journal.close();
    if (Status s = confirmPending(storePath, recordLength); !s)
        return s;
    // The history may have asked for deletions since the load (a mail deleted
    // while an automatic run went on): they are in the file, not in memory.
    if (QFile file(m_path); file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            if (isDeleteMark(f)) {
                if (const auto it = m_entries.find(QString::fromLatin1(f[1])); it != m_entries.end())
                    it->deleteAsked = true;
            }
        }
    }
    QByteArray out;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        out += "F " + it.key().toLatin1() + ' ' + QByteArray::number(it->fetched.toSecsSinceEpoch()) + ' '
            + QByteArray::number(it->record) + ' ' + it->hash + '\n';
        if (it->deleteAsked)
            out += "D " + it.key().toLatin1() + " .\n";
    }
    return writeFileAtomically(m_path, out, true);
}

Status FetchedUidls::askDeletion(const QByteArray &recordBytes, qint64 record)
{
    if (!QFile::exists(m_path))
        return {};
    // The file as it is, without checking pending lines against the store;
    // the last line of an id is the one that counts.
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return Error::fileOperation(m_path, file.errorString());
    const QByteArray hash = recordHash(recordBytes);
    QHash<QByteArray, qint64> lookAlikes; // id -> the record it was written as
    QSet<QByteArray> asked;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() == 5 && (f[0] == "F" || f[0] == "P")) {
            if (f[4] == hash)
                lookAlikes.insert(f[1], f[3].toLongLong());
            else
                lookAlikes.remove(f[1]);
        } else if (isDeleteMark(f)) {
            asked.insert(f[1]);
        }
    }
    // Mails whose records look alike are told apart by where their records
    // were written. Records only move towards the start (deletions close the
    // gaps), so a record now at `record` was written there or further on:
    // the id chosen is the nearest such one not yet asked for, failing that
    // the last one not asked for. That is the deleted mail's own id while
    // the records have not moved, and one of its look-alikes (the same as
    // far as the store can tell) after they have; either way one deleted
    // record asks for one message, never for all of its look-alikes.
    QByteArray chosen;
    qint64 chosenRecord = -1;
    for (auto it = lookAlikes.cbegin(); it != lookAlikes.cend(); ++it) {
        if (asked.contains(it.key()))
            continue;
        const qint64 at = it.value();
        const bool better = chosen.isEmpty()
            || (at >= record ? chosenRecord < record || at < chosenRecord
                             : chosenRecord < record && at > chosenRecord);
        if (better) {
            chosen = it.key();
            chosenRecord = at;
        }
    }
    return chosen.isEmpty() ? Status{} : append("D " + chosen + " .\n");
}

Status askServerDeletion(const QString &storePath, const QList<qint64> &records, const QString &extraIniPath,
                         const QString &listPath)
{
    const ReceiveOptions options = readReceiveOptions(extraIniPath);
    if (!options.leaveOnServer || !options.deleteWithHistory || !QFile::exists(listPath))
        return {};
    RecordFile store(storePath, MailRecord::kLength);
    if (Status s = store.openReadOnly(); !s)
        return s;
    FetchedUidls list(listPath);
    for (const qint64 number : records) {
        QByteArray bytes;
        const Result<bool> got = store.read(number, bytes);
        if (!got)
            return got.status();
        if (got.value()) {
            if (Status s = list.askDeletion(bytes, number); !s)
                return s;
        }
    }
    return {};
}

} // namespace kestra
