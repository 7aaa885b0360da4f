#include "history/MailSearch.h"

#include "common/MailDate.h"
#include "storage/Cp932.h"
#include "storage/MailFields.h"
#include "storage/Records.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace kestra {

namespace {

// Full-width katakana for U+FF66..U+FF9D (ｦ .. ﾝ).
constexpr char16_t kHalfKana[] = {
    u'ヲ', u'ァ', u'ィ', u'ゥ', u'ェ', u'ォ', u'ャ', u'ュ', u'ョ', u'ッ', u'ー', u'ア', u'イ', u'ウ', u'エ', u'オ',
    u'カ', u'キ', u'ク', u'ケ', u'コ', u'サ', u'シ', u'ス', u'セ', u'ソ', u'タ', u'チ', u'ツ', u'テ', u'ト', u'ナ',
    u'ニ', u'ヌ', u'ネ', u'ノ', u'ハ', u'ヒ', u'フ', u'ヘ', u'ホ', u'マ', u'ミ', u'ム', u'メ', u'モ', u'ヤ', u'ユ',
    u'ヨ', u'ラ', u'リ', u'ル', u'レ', u'ロ', u'ワ', u'ン'};
// Half-width signs U+FF61..U+FF65.
constexpr char16_t kHalfSigns[] = {u'。', u'「', u'」', u'、', u'・'};

bool takesVoicedMark(char16_t c)
{
    return (c >= u'カ' && c <= u'チ' && (c - u'カ') % 2 == 0) || c == u'ツ' || c == u'テ' || c == u'ト'
           || (c >= u'ハ' && c <= u'ホ' && (c - u'ハ') % 3 == 0) || c == u'ウ';
}

bool takesSemiVoicedMark(char16_t c)
{
    return c >= u'ハ' && c <= u'ホ' && (c - u'ハ') % 3 == 0;
}

constexpr char kSeparator = '\n';     // between the fields of one record
constexpr char16_t kRecordEnd = u'\0'; // after each record

} // namespace

QString foldForSearch(QStringView text)
{
    QString out;
    out.resize(text.size());
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    qsizetype n = 0;
    for (QChar qc : text) {
        char16_t c = qc.unicode();
        if (c < 0x80) {
            if (c >= u'A' && c <= u'Z')
                c = char16_t(c + 32);
        } else if (c >= 0xFF01 && c <= 0xFF5E) {
            c = char16_t(c - 0xFF01 + 0x21);
            if (c >= u'A' && c <= u'Z')
                c = char16_t(c + 32);
        } else if (c == 0x3000) {
            c = u' ';
        } else if (c >= 0xFF61 && c <= 0xFF65) {
            c = kHalfSigns[c - 0xFF61];
        } else if (c >= 0xFF66 && c <= 0xFF9D) {
            c = kHalfKana[c - 0xFF66];
        } else if (c == 0xFF9E || c == 0xFF9F || c == 0x309B || c == 0x309C) {
            // A voiced mark after a kana that takes it joins it (ｶﾞ = ガ).
            const bool voiced = c == 0xFF9E || c == 0x309B;
            if (n > 0) {
                const char16_t prev = o[n - 1];
                if (voiced && takesVoicedMark(prev)) {
                    o[n - 1] = prev == u'ウ' ? u'ヴ' : char16_t(prev + 1);
                    continue;
                }
                if (!voiced && takesSemiVoicedMark(prev)) {
                    o[n - 1] = char16_t(prev + 2);
                    continue;
                }
            }
            c = voiced ? u'゛' : u'゜';
        } else if (c < 0x250) {
            c = qc.toCaseFolded().unicode(); // accented Latin letters
        }
        o[n++] = c;
    }
    out.truncate(n);
    return out;
}

QStringList searchWords(QStringView query)
{
    QStringList words;
    const QString folded = foldForSearch(query);
    for (const QString &w : folded.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        QString clean;
        for (QChar c : w) {
            if (c.unicode() >= 0x20) // control characters cannot be searched for
                clean += c;
        }
        if (!clean.isEmpty())
            words << clean;
    }
    return words;
}

bool refines(const QStringList &narrower, const QStringList &wider)
{
    if (wider.isEmpty())
        return false;
    for (const QString &w : wider) {
        if (!std::any_of(narrower.begin(), narrower.end(), [&](const QString &n) { return n.contains(w); }))
            return false;
    }
    return true;
}

StoreStamp storeStamp(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return {info.size(), info.lastModified().toMSecsSinceEpoch()};
}

Result<std::shared_ptr<const MailSearchIndex>> MailSearchIndex::build(const QString &receivedPath,
                                                                      const QString &sentPath,
                                                                      const std::function<bool()> &cancelled)
{
    auto index = std::make_shared<MailSearchIndex>();
    index->m_paths[0] = receivedPath;
    index->m_paths[1] = sentPath;
    constexpr int kBlock = 64; // records per read
    for (int s = 0; s < 2; ++s) {
        const qint16 mode = qint16(s + 1);
        // The stamp is taken first: a change during the read makes the index stale at once.
        index->m_stamps[s] = storeStamp(index->m_paths[s]);
        QFile file(index->m_paths[s]);
        if (!file.exists())
            continue;
        if (!file.open(QIODevice::ReadOnly))
            return Error::fileOperation(file.fileName(), file.errorString());
        qint32 number = 0;
        QByteArray block;
        for (;;) {
            if (cancelled && cancelled())
                return Error::fileOperation(file.fileName(), QStringLiteral("中止しました"));
            block = file.read(qint64(kBlock) * MailRecord::kLength);
            if (block.isEmpty() && file.error() != QFileDevice::NoError)
                return Error::fileOperation(file.fileName(), file.errorString());
            const qsizetype records = block.size() / MailRecord::kLength;
            for (qsizetype r = 0; r < records && number < 32767; ++r) {
                const QByteArrayView bytes =
                    QByteArrayView(block).sliced(r * MailRecord::kLength, MailRecord::kLength);
                ++number;
                // A record marked deleted (its compaction failed) is no mail any more.
                if (liveOfRaw(bytes, MailRecord::kLength - 2) == 0)
                    continue;
                const MailFields f = mailFields(MailRecord::decodeHeaders(bytes), mode);
                SearchEntry e;
                e.historyMode = mode;
                e.number = number;
                e.dateText = f.date;
                e.when = mode == 1 ? parseMailDate(f.date) : parseLocalDate(f.date);
                e.address = f.address;
                e.subject = f.subject;
                // Blanks never end a double-byte character, so the body's
                // padding is cut off before decoding.
                QByteArrayView body = bytes.sliced(MailRecord::kHeadersLength, MailRecord::kBodyWidth);
                while (!body.isEmpty() && body.back() == ' ')
                    body.chop(1);
                while (!body.isEmpty() && body.front() == ' ')
                    body = body.sliced(1);
                index->m_starts.push_back(index->m_text.size());
                index->m_text += foldForSearch(e.address);
                index->m_text += QLatin1Char(kSeparator);
                index->m_text += foldForSearch(e.subject);
                index->m_text += QLatin1Char(kSeparator);
                index->m_text += foldForSearch(cp932::decode(body));
                index->m_text += QChar(kRecordEnd);
                index->m_entries.push_back(std::move(e));
            }
            if (block.size() < qint64(kBlock) * MailRecord::kLength || number >= 32767)
                break; // a torn last record is not a record
        }
    }
    index->m_starts.push_back(index->m_text.size());
    index->m_text.squeeze();
    return std::shared_ptr<const MailSearchIndex>(std::move(index));
}

QStringView MailSearchIndex::textOf(int index) const
{
    const qsizetype from = m_starts[size_t(index)];
    return QStringView(m_text).sliced(from, m_starts[size_t(index) + 1] - from);
}

bool MailSearchIndex::holdsAll(int index, const QStringList &words, const QString *skip) const
{
    const QStringView text = textOf(index);
    for (const QString &w : words) {
        if (&w != skip && !text.contains(w))
            return false;
    }
    return true;
}

std::optional<QList<int>> MailSearchIndex::search(const QStringList &words, const QList<int> *within,
                                                  const std::function<bool()> &cancelled) const
{
    QList<int> hits;
    if (words.isEmpty())
        return hits;
    if (within) {
        for (qsizetype i = 0; i < within->size(); ++i) {
            if ((i & 255) == 0 && cancelled && cancelled())
                return std::nullopt;
            if (holdsAll(within->at(i), words, nullptr))
                hits << within->at(i);
        }
        return hits;
    }
    // One pass over the whole text for the longest word; the others are
    // looked for only in the records it hits.
    const QString &scan = *std::max_element(words.begin(), words.end(),
                                            [](const QString &a, const QString &b) { return a.size() < b.size(); });
    // The scan looks for one character of the word with the vectorised
    // single-character search and compares the word only where it occurs: the
    // character with the highest code, since kanji and kana are rarer than
    // Latin letters and letters rarer than digits and signs.
    const QStringView all(m_text);
    const qsizetype key = std::max_element(scan.begin(), scan.end()) - scan.begin();
    const QChar keyChar = scan.at(key);
    qsizetype from = 0; // where the word may start
    int checks = 0;
    while (from + scan.size() <= all.size()) {
        if ((checks++ & 255) == 0 && cancelled && cancelled())
            return std::nullopt;
        const qsizetype at = all.indexOf(keyChar, from + key);
        if (at < 0)
            break;
        const qsizetype start = at - key;
        if (all.sliced(start).startsWith(scan)) {
            const auto next = std::upper_bound(m_starts.begin(), m_starts.end(), start);
            const int entry = int(next - m_starts.begin()) - 1;
            if (holdsAll(entry, words, &scan))
                hits << entry;
            from = *next;
        } else {
            from = start + 1;
        }
    }
    return hits;
}

bool MailSearchIndex::isCurrent() const
{
    return storeStamp(m_paths[0]) == m_stamps[0] && storeStamp(m_paths[1]) == m_stamps[1];
}

Result<std::shared_ptr<const MailSearchIndex>> MailSearchCache::current(const QString &receivedPath,
                                                                        const QString &sentPath,
                                                                        const std::function<bool()> &cancelled)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_index && m_index->receivedPath() == receivedPath && m_index->sentPath() == sentPath
        && m_index->isCurrent())
        return m_index;
    Result<std::shared_ptr<const MailSearchIndex>> built =
        MailSearchIndex::build(receivedPath, sentPath, cancelled);
    if (built)
        m_index = built.value();
    return built;
}

} // namespace kestra
