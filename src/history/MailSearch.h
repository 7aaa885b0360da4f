#pragma once

#include "common/Result.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace kestra {

// Folds a text for searching: full-width Latin letters, digits and signs to
// their ASCII forms, Latin letters to lower case, half-width katakana to
// full-width (with the voiced marks joined: ｶﾞ = ガ) and the ideographic space
// to a blank. Everything else stays as it is.
QString foldForSearch(QStringView text);

// The words of a search text, folded; blanks of either width separate them.
QStringList searchWords(QStringView query);

// True when every mail holding all of `narrower` surely holds all of `wider`,
// so a search for `narrower` need only look at the hits of `wider`.
bool refines(const QStringList &narrower, const QStringList &wider);

// The byte code the index holds for a folded text; and the code of the folded
// text of a record's body field as stored (code page 932, blank padded),
// reached without decoding: the same as the first of the decoded, trimmed body.
QByteArray searchCode(QStringView folded);
QByteArray bodySearchCode(QByteArrayView bodyField);

// One mail of either store, as the search lists it.
struct SearchEntry {
    qint16 historyMode = 1; // 1 = received store, 2 = sent store
    qint32 number = 0;      // record number in its store
    QString dateText;       // date field as stored, trimmed
    qint64 when = kNoDate;  // the date read from it, ms since the epoch (UTC); kNoDate when unreadable

    static constexpr qint64 kNoDate = std::numeric_limits<qint64>::min();
    bool hasDate() const { return when != kNoDate; }
    QString address;        // sender (received) or recipient (sent)
    QString subject;
};

// When a store file was last seen: a change means record numbers may have moved.
struct StoreStamp {
    qint64 size = -1;
    qint64 modifiedMs = 0;
    bool operator==(const StoreStamp &) const = default;
};
StoreStamp storeStamp(const QString &path);

// The two mail stores read once and held folded in memory, so a search runs
// over memory instead of the files. Address, subject and trimmed body of each
// record lie in one buffer, record after record, in a compact byte code of the
// folded text (one byte per ASCII character, two for the characters of code
// page 932). Each record is folded and coded as it is read. A search scans the
// buffer once for its rarest-looking (longest) word and checks the others only
// inside the records that hold it.
class MailSearchIndex
{
public:
    // Reads both stores, a half of each on each of two threads; a missing
    // store has no records. `cancelled` is asked between blocks of records, from both
    // threads; when it turns true the read stops with no result.
    static Result<std::shared_ptr<const MailSearchIndex>> build(
        const QString &receivedPath, const QString &sentPath, const std::function<bool()> &cancelled = {});

    // Entries (indexes) whose address, subject or body holds every word. With
    // `within`, only those entries are looked at (a refined search). nullopt when
    // `cancelled` turned true on the way. No words give no entries.
    std::optional<QList<int>> search(const QStringList &words, const QList<int> *within = nullptr,
                                     const std::function<bool()> &cancelled = {}) const;

    int size() const { return int(m_entries.size()); }
    const SearchEntry &entry(int index) const { return m_entries[size_t(index)]; }
    // True while neither store has changed on disk since the index was read.
    bool isCurrent() const;
    const QString &receivedPath() const { return m_paths[0]; }
    const QString &sentPath() const { return m_paths[1]; }
    // Bytes the folded texts take.
    qsizetype textBytes() const;

    // The folded texts of the entries of one half of a store, record after
    // record. Each half keeps its own, so that they are read side by side and
    // never copied.
    struct StoreText {
        QByteArray text;
        std::vector<qsizetype> starts; // starts[i]: start of the part's entry i; one more at the end
        int first = 0;                 // index of the part's first entry
    };

private:
    bool holdsAll(int index, const std::vector<QByteArray> &words, const QByteArray *skip) const;
    // Adds to `hits` the entries of `part` holding every word, found by one
    // pass over its text for `scan`; false when `cancelled` turned true.
    bool scanPart(const StoreText &part, const std::vector<QByteArray> &words, const QByteArray &scan,
                  QList<int> &hits, const std::function<bool()> &cancelled) const;

    std::vector<SearchEntry> m_entries;
    StoreText m_texts[4]; // the received store's halves, then the sent store's
    QString m_paths[2];
    StoreStamp m_stamps[2];
};

// The index of the current stores, shared by the searches of one window: read
// once, read again when a store has changed. Safe to call from worker threads;
// one read at a time, later callers wait for it and take its result.
class MailSearchCache
{
public:
    Result<std::shared_ptr<const MailSearchIndex>> current(const QString &receivedPath,
                                                           const QString &sentPath,
                                                           const std::function<bool()> &cancelled = {});

private:
    std::mutex m_mutex;
    std::shared_ptr<const MailSearchIndex> m_index;
};

} // namespace kestra
