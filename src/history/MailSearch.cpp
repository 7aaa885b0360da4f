#include "history/MailSearch.h"

#include "common/MailDate.h"
#include "storage/Cp932.h"
#include "storage/MailFields.h"
#include "storage/Records.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

constexpr char kSeparator = '\n'; // between the fields of one record
constexpr char kRecordEnd = '\0'; // after each record

// The fold of each unit on its own; the voiced marks, which depend on the
// unit before them, map to themselves and are joined by foldInto.
using FoldTable = std::array<char16_t, 65536>;

bool isVoicedMark(char16_t c)
{
    return c == 0xFF9E || c == 0xFF9F || c == 0x309B || c == 0x309C;
}

const FoldTable &foldTable()
{
    static const std::unique_ptr<const FoldTable> table = [] {
        auto t = std::make_unique<FoldTable>();
        for (int u = 0; u < 65536; ++u) {
            char16_t c = char16_t(u);
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
            } else if (isVoicedMark(c)) {
                // joined or replaced in foldInto
            } else if (c < 0x250) {
                c = QChar(c).toCaseFolded().unicode(); // accented Latin letters
            }
            (*t)[size_t(u)] = c;
        }
        return std::unique_ptr<const FoldTable>(std::move(t));
    }();
    return *table;
}

// Folds `n` units of `in` into `out` (which may be `in` itself) and gives how
// many it wrote; never more than `n`.
qsizetype foldInto(const char16_t *in, qsizetype n, char16_t *out)
{
    const FoldTable &table = foldTable();
    qsizetype w = 0;
    for (qsizetype i = 0; i < n; ++i) {
        char16_t c = table[in[i]];
        if (isVoicedMark(c)) [[unlikely]] {
            // A voiced mark after a kana that takes it joins it (ｶﾞ = ガ).
            const bool voiced = c == 0xFF9E || c == 0x309B;
            if (w > 0) {
                const char16_t prev = out[w - 1];
                if (voiced && takesVoicedMark(prev)) {
                    out[w - 1] = prev == u'ウ' ? u'ヴ' : char16_t(prev + 1);
                    continue;
                }
                if (!voiced && takesSemiVoicedMark(prev)) {
                    out[w - 1] = char16_t(prev + 2);
                    continue;
                }
            }
            c = voiced ? u'゛' : u'゜';
        }
        out[w++] = c;
    }
    return w;
}

// `bytes` without the blanks at either end.
QByteArrayView trimmedBlanks(QByteArrayView bytes)
{
    // A record's body is mostly padding: 64 bytes at a time from the end, then eight.
    constexpr quint64 kBlanks = 0x2020202020202020ULL;
    qsizetype end = bytes.size();
#if defined(__SSE2__)
    const __m128i blanks = _mm_set1_epi8(' ');
    const auto blank16 = [&](qsizetype at) {
        return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes.data() + at)), blanks);
    };
    while (end >= 64) {
        const __m128i all = _mm_and_si128(_mm_and_si128(blank16(end - 64), blank16(end - 48)),
                                          _mm_and_si128(blank16(end - 32), blank16(end - 16)));
        if (_mm_movemask_epi8(all) != 0xFFFF)
            break;
        end -= 64;
    }
#endif
    while (end >= 8) {
        quint64 word;
        std::memcpy(&word, bytes.data() + end - 8, 8);
        if (word != kBlanks)
            break;
        end -= 8;
    }
    while (end > 0 && bytes[end - 1] == ' ')
        --end;
    qsizetype begin = 0;
    while (begin < end && bytes[begin] == ' ')
        ++begin;
    return bytes.sliced(begin, end - begin);
}

// The search code: folded text as bytes, so that a search compares bytes and
// an index takes about as much memory as the stores' own text. A unit below
// 0x80 is its own byte; each character code page 932 has takes two bytes (a
// lead 0x80..0xEF and a byte 0x80..0xFF); any other unit takes three (a lead
// 0xF0..0xF3 and two bytes 0x80..0xFF). A byte below 0x80 is therefore always
// a character of its own, and a match whose first byte is 0x80 or above must
// be checked to start a character.
constexpr int kTwoByteCodes = (0xF0 - 0x80) * 0x80;
using CodeTable = std::array<quint16, 65536>; // code index + 1 of a unit, 0 when it takes three bytes

const CodeTable &codeTable()
{
    static const std::unique_ptr<const CodeTable> table = [] {
        auto t = std::make_unique<CodeTable>();
        t->fill(0);
        int next = 0;
        const auto add = [&](QStringView s) {
            if (s.size() == 1 && s[0].unicode() >= 0x80 && (*t)[s[0].unicode()] == 0 && next < kTwoByteCodes)
                (*t)[s[0].unicode()] = quint16(++next);
        };
        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            if (!cp932::isLeadByte(uchar(lead)))
                continue;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                const char pair[2] = {char(lead), char(trail)};
                add(cp932::decode(QByteArrayView(pair, 2)));
            }
        }
        for (int b = 0xA1; b <= 0xDF; ++b) {
            const char single = char(b);
            add(cp932::decode(QByteArrayView(&single, 1)));
        }
        return std::unique_ptr<const CodeTable>(std::move(t));
    }();
    return *table;
}

// Writes the code of `u` at `o`; gives the end of what it wrote.
inline char *putCode(char *o, char16_t u, const CodeTable &table)
{
    if (u < 0x80) {
        *o++ = char(u);
    } else if (const unsigned k = table[u]) {
        *o++ = char(0x80 + ((k - 1) >> 7));
        *o++ = char(0x80 | ((k - 1) & 0x7F));
    } else {
        *o++ = char(0xF0 + (u >> 14));
        *o++ = char(0x80 | ((u >> 7) & 0x7F));
        *o++ = char(0x80 | (u & 0x7F));
    }
    return o;
}

inline qsizetype codeLength(uchar lead)
{
    return lead < 0x80 ? 1 : lead < 0xF0 ? 2 : 3;
}

// Code page 932 bytes straight to folded units, for the bodies: one pass
// instead of decoding, folding and coding in turn. Built from cp932::decode
// and the fold table, so that it gives the very units they give.
struct PairCode {
    char16_t unit = 0; // the folded unit of the pair; 0 when the second byte cannot follow (the lead
                       // alone is U+FFFD)
    char code[2] = {}; // its code when that takes two bytes and the unit is no voiced mark, else 0:
                       // most characters are written from here without a second look-up
};
struct BodyTables {
    std::array<char16_t, 256> single{}; // the folded unit of a byte that is a character by itself
    std::array<PairCode, 65536> pair{}; // by lead << 8 | next byte
};

const BodyTables &bodyTables()
{
    static const std::unique_ptr<const BodyTables> tables = [] {
        auto t = std::make_unique<BodyTables>();
        const FoldTable &fold = foldTable();
        const CodeTable &codes = codeTable();
        for (int b = 0; b < 256; ++b) {
            const char byte = char(b);
            const QString unit = cp932::decode(QByteArrayView(&byte, 1));
            t->single[size_t(b)] = fold[unit.isEmpty() ? 0xFFFD : unit[0].unicode()];
            if (!cp932::isLeadByte(uchar(b)))
                continue;
            for (int next = 0; next < 256; ++next) {
                const char pair[2] = {byte, char(next)};
                const QString c = cp932::decode(QByteArrayView(pair, 2));
                if (c.size() != 1)
                    continue;
                PairCode &entry = t->pair[size_t(b << 8 | next)];
                entry.unit = fold[c[0].unicode()];
                char code[3];
                if (putCode(code, entry.unit, codes) == code + 2 && !isVoicedMark(entry.unit))
                    std::copy(code, code + 2, entry.code);
            }
        }
        return std::unique_ptr<const BodyTables>(std::move(t));
    }();
    return *tables;
}

constexpr quint64 kHighBits = 0x8080808080808080ULL;

// 0x80 in each byte of `word` (all of them ASCII) that holds 'A'..'Z'.
constexpr quint64 asciiUpperBits(quint64 word)
{
    constexpr quint64 ones = 0x0101010101010101ULL;
    const quint64 atLeastA = word + ones * (0x80 - 'A');
    const quint64 aboveZ = word + ones * (0x80 - 'Z' - 1);
    return (atLeastA ^ aboveZ) & kHighBits;
}

// Codes the folded text of the code page 932 `bytes` at `o`, which has room
// for three bytes per byte; gives the end of what it wrote. A lead byte at the
// end is a character cut off (a blank) when `cut`, else one standing alone.
char *putFoldedCp932(QByteArrayView bytes, bool cut, char *o)
{
    const BodyTables &t = bodyTables();
    const CodeTable &codes = codeTable();
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    char *prevAt = nullptr; // where the code of the unit before starts
    char16_t prev = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const uchar b = p[i];
        char16_t u;
        if (b < 0x80) {
            // Eight bytes at a time while they are all ASCII: upper case letters
            // are lowered in place of the table.
            quint64 word;
            while (i + 8 <= n && (std::memcpy(&word, p + i, 8), (word & kHighBits) == 0)) {
                word |= asciiUpperBits(word) >> 2;
                std::memcpy(o, &word, 8);
                o += 8;
                i += 8;
                prevAt = o - 1;
                prev = char16_t(uchar(o[-1]));
            }
            if (i == n)
                break;
            if (p[i] >= 0x80) {
                --i;
                continue;
            }
            prev = t.single[p[i]];
            prevAt = o;
            *o++ = char(prev);
            continue;
        }
        if (cp932::isLeadByte(b)) {
            const PairCode c = i + 1 < n ? t.pair[size_t(b << 8 | p[i + 1])] : PairCode{};
            if (c.code[0]) {
                prev = c.unit;
                prevAt = o;
                *o++ = c.code[0];
                *o++ = c.code[1];
                ++i;
                continue;
            }
            if (i + 1 >= n) {
                u = cut ? u' ' : 0xFFFD;
            } else if (c.unit) {
                u = c.unit;
                ++i;
            } else {
                u = 0xFFFD;
            }
        } else {
            u = t.single[b];
        }
        if (isVoicedMark(u)) [[unlikely]] {
            // Joined to the kana before as foldInto joins it.
            const bool voiced = u == 0xFF9E || u == 0x309B;
            if (prevAt && voiced && takesVoicedMark(prev)) {
                u = prev == u'ウ' ? u'ヴ' : char16_t(prev + 1);
                o = prevAt;
            } else if (prevAt && !voiced && takesSemiVoicedMark(prev)) {
                u = char16_t(prev + 2);
                o = prevAt;
            } else {
                u = voiced ? u'゛' : u'゜';
            }
        }
        prev = u;
        prevAt = o;
        o = putCode(o, u, codes);
    }
    return o;
}

// Codes the folded text of a body field at `o`, which has room for three
// bytes per byte of the field; gives the end of what it wrote. The padding is
// cut off before decoding: a blank is never the second byte of a character, so
// a lead byte before it stands alone.
char *putBodyCode(QByteArrayView bodyField, char *o)
{
    const QByteArrayView body = trimmedBlanks(bodyField);
    return putFoldedCp932(body, body.end() == bodyField.end(), o);
}

// True when byte `at` starts a character. `cursor` is a known start at or
// before `at`; it is moved to the first start at or after `at`, so the checks
// of increasing positions in one field walk it once.
bool startsCharacter(const char *text, qsizetype &cursor, qsizetype at)
{
    qsizetype c = cursor;
    // A byte below 0x80 is a whole character: the one after it starts one.
    for (qsizetype q = at - 1; q >= c; --q) {
        if (uchar(text[q]) < 0x80) {
            c = q + 1;
            break;
        }
    }
    while (c < at)
        c += codeLength(uchar(text[c]));
    cursor = c;
    return c == at;
}

// First occurrence of `word` in text[0, length), or nullptr.
const char *findBytes(const char *text, qsizetype length, const QByteArray &word)
{
    const qsizetype m = word.size();
    const char *w = word.constData();
    if (m == 1)
        return static_cast<const char *>(std::memchr(text, w[0], size_t(length)));
    qsizetype i = 0;
#if defined(__SSE2__)
    // Sixteen places at a time: where the first byte and the last byte of the
    // word both stand, the bytes between are compared. Unlike a search led by
    // one byte, this stays fast when that byte is common (the lead byte of
    // every kana, say).
    const __m128i first = _mm_set1_epi8(w[0]);
    const __m128i last = _mm_set1_epi8(w[m - 1]);
    for (; i + 16 + m - 1 <= length; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i + m - 1));
        unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
        while (mask) {
            const int bit = __builtin_ctz(mask);
            if (std::memcmp(text + i + bit + 1, w + 1, size_t(m - 2)) == 0)
                return text + i + bit;
            mask &= mask - 1;
        }
    }
#endif
    const auto found = std::search(text + i, text + length, std::boyer_moore_horspool_searcher(w, w + m));
    return found == text + length ? nullptr : found;
}

// Where `word` occurs as whole characters in text[from, to), or -1.
qsizetype findCode(const char *text, qsizetype from, qsizetype to, const QByteArray &word)
{
    const bool check = uchar(word.front()) >= 0x80;
    qsizetype cursor = from;
    while (to - from >= word.size()) {
        const char *hit = findBytes(text + from, to - from, word);
        if (!hit)
            return -1;
        const qsizetype at = hit - text;
        if (!check || startsCharacter(text, cursor, at))
            return at;
        from = at + 1;
    }
    return -1;
}

} // namespace

QByteArray searchCode(QStringView folded)
{
    const CodeTable &table = codeTable();
    QByteArray out(folded.size() * 3, Qt::Uninitialized);
    char *o = out.data();
    for (QChar c : folded)
        o = putCode(o, c.unicode(), table);
    out.truncate(o - out.constData());
    return out;
}

QByteArray bodySearchCode(QByteArrayView bodyField)
{
    QByteArray code(bodyField.size() * 3, Qt::Uninitialized);
    code.truncate(putBodyCode(bodyField, code.data()) - code.constData());
    return code;
}

QString foldForSearch(QStringView text)
{
    QString out;
    out.resize(text.size());
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    out.truncate(foldInto(reinterpret_cast<const char16_t *>(text.utf16()), text.size(), o));
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

namespace {

// The folded text of one store, coded straight into a buffer that grows by
// doubling: no record has a text of its own on the way.
class CodeBuffer
{
public:
    // Room for `n` more bytes at the end; what is written there is kept by `commit`.
    char *room(qsizetype n)
    {
        if (m_text.size() - m_used < n)
            m_text.resize(std::max(m_text.size() * 2, m_used + n));
        return m_text.data() + m_used;
    }
    void commit(const char *end) { m_used = end - m_text.constData(); }
    qsizetype size() const { return m_used; }
    QByteArray take()
    {
        m_text.truncate(m_used);
        return std::move(m_text);
    }

private:
    QByteArray m_text;
    qsizetype m_used = 0;
};

// The dates of the sent store, which the program wrote as local time. Most are
// "yyyy/MM/dd HH:mm:ss": those are read here, and turned into UTC with the
// offset of their day, asked of the system once per day; any other text, and
// the days on which the offset changes, are read by parseLocalDate.
class LocalDates
{
public:
    qint64 read(const QString &text)
    {
        const auto exact = [&] {
            const QDateTime when = parseLocalDate(text);
            return when.isValid() ? when.toMSecsSinceEpoch() : SearchEntry::kNoDate;
        };
        if (text.size() != 19 || (text[4] != u'/' && text[4] != u'-') || text[7] != text[4]
            || text[10] != u' ' || text[13] != u':' || text[16] != u':')
            return exact();
        int parts[6];
        const qsizetype starts[6] = {0, 5, 8, 11, 14, 17};
        for (int k = 0; k < 6; ++k) {
            parts[k] = 0;
            for (qsizetype i = starts[k]; i < (k == 0 ? 4 : starts[k] + 2); ++i) {
                const char16_t c = text[i].unicode();
                if (c < u'0' || c > u'9')
                    return exact();
                parts[k] = parts[k] * 10 + (c - u'0');
            }
        }
        const QDate date(parts[0], parts[1], parts[2]);
        const QTime time(parts[3], parts[4], parts[5]);
        if (!date.isValid() || !time.isValid())
            return exact();
        auto offset = m_offsets.find(date.toJulianDay());
        if (offset == m_offsets.end()) {
            const int first = QDateTime(date, QTime(0, 0)).offsetFromUtc();
            const int last = QDateTime(date, QTime(23, 59, 59, 999)).offsetFromUtc();
            const std::optional<int> one = first == last ? std::optional<int>(first) : std::nullopt;
            offset = m_offsets.emplace(date.toJulianDay(), one).first;
        }
        if (!offset->second)
            return exact();
        return QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch() - qint64(*offset->second) * 1000;
    }

private:
    // By day: the offset of the whole day, or none when it changes that day.
    std::unordered_map<qint64, std::optional<int>> m_offsets;
};

// Records of one store as the index holds them.
struct StorePart {
    std::vector<SearchEntry> entries;
    MailSearchIndex::StoreText text;
};

// The most records a store holds: record numbers are 16-bit.
constexpr qint32 kMaxRecords = 32767;

// Reads records `from` (counted from 0) up to `to` of the store at `path`,
// which are records of `mode`; fewer when the file ends first, none when it is
// missing. `stop` is asked between blocks of records; when it turns true the
// read ends with an error.
Result<StorePart> readRecords(const QString &path, qint16 mode, qint32 from, qint32 to,
                              const std::function<bool()> &stop)
{
    StorePart part;
    QFile file(path);
    if (!file.exists())
        return part;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || !file.seek(qint64(from) * MailRecord::kLength))
        return Error::fileOperation(file.fileName(), file.errorString());
    const CodeTable &table = codeTable();
    CodeBuffer text;
    // Bodies are mostly padding: a quarter of the bytes is a fair first guess.
    text.room(std::min(file.size() - file.pos(), qint64(to - from) * MailRecord::kLength) / 4 + 1);
    LocalDates localDates;
    std::vector<char16_t> folded; // one field's folded text, reused from field to field
    const auto appendField = [&](QStringView field) {
        folded.resize(size_t(field.size()));
        const qsizetype n = foldInto(reinterpret_cast<const char16_t *>(field.utf16()), field.size(), folded.data());
        char *o = text.room(n * 3 + 1);
        for (qsizetype i = 0; i < n; ++i)
            o = putCode(o, folded[size_t(i)], table);
        *o++ = kSeparator;
        text.commit(o);
    };
    // Records per read: small enough that the block is still in the cache when it is coded.
    constexpr int kBlock = 32;
    QByteArray block(qsizetype(kBlock) * MailRecord::kLength, Qt::Uninitialized);
    qint32 number = from;
    for (;;) {
        if (stop())
            return Error::fileOperation(file.fileName(), QStringLiteral("中止しました"));
        qint64 got = 0;
        while (got < block.size()) {
            const qint64 n = file.read(block.data() + got, block.size() - got);
            if (n < 0)
                return Error::fileOperation(file.fileName(), file.errorString());
            if (n == 0)
                break;
            got += n;
        }
        const qsizetype records = qsizetype(got / MailRecord::kLength);
        for (qsizetype r = 0; r < records && number < to; ++r) {
            const QByteArrayView bytes = QByteArrayView(block).sliced(r * MailRecord::kLength, MailRecord::kLength);
            ++number;
            // A record marked deleted (its compaction failed) is no mail any more.
            if (liveOfRaw(bytes, MailRecord::kLength - 2) == 0)
                continue;
            const MailFields f = mailFields(MailRecord::decodeHeaders(bytes), mode);
            SearchEntry e;
            e.historyMode = mode;
            e.number = number;
            e.dateText = f.date;
            if (mode == 2) {
                e.when = localDates.read(f.date);
            } else if (const QDateTime when = parseMailDate(f.date); when.isValid()) {
                e.when = when.toMSecsSinceEpoch();
            }
            e.address = f.address;
            e.subject = f.subject;
            part.text.starts.push_back(text.size());
            appendField(e.address);
            appendField(e.subject);
            // The body goes from its bytes to the text in one pass.
            char *o = putBodyCode(bytes.sliced(MailRecord::kHeadersLength, MailRecord::kBodyWidth),
                                  text.room(MailRecord::kBodyWidth * 3 + 1));
            *o++ = kRecordEnd;
            text.commit(o);
            part.entries.push_back(std::move(e));
        }
        if (got < block.size() || number >= to)
            break; // a torn last record is not a record
    }
    part.text.starts.push_back(text.size());
    part.text.text = text.take();
    part.text.text.squeeze();
    return part;
}

} // namespace

Result<std::shared_ptr<const MailSearchIndex>> MailSearchIndex::build(const QString &receivedPath,
                                                                      const QString &sentPath,
                                                                      const std::function<bool()> &cancelled)
{
    // Each store is read in two halves, one on each of two threads, so that
    // both have about as much to do whatever the stores hold. The first half
    // to fail stops the others, and its error is the one given.
    const QString paths[2] = {receivedPath, sentPath};
    StoreStamp stamps[2];
    qint32 halves[2];
    for (int s = 0; s < 2; ++s) {
        // The stamps are taken first: a change during the read makes the index stale at once.
        stamps[s] = storeStamp(paths[s]);
        const qint64 records = std::clamp(stamps[s].size / MailRecord::kLength, qint64(0), qint64(kMaxRecords));
        halves[s] = qint32(records / 2);
    }
    std::atomic<int> failed{-1};
    const auto stop = [&] { return failed.load() >= 0 || (cancelled && cancelled()); };
    std::optional<Result<StorePart>> parts[4]; // received, first half and second; then sent
    const auto read = [&](int k) {
        const int s = k / 2;
        const bool second = k % 2 == 1;
        parts[k].emplace(readRecords(paths[s], qint16(s + 1), second ? halves[s] : 0,
                                     second ? kMaxRecords : halves[s], stop));
        int none = -1;
        if (!*parts[k] && !(cancelled && cancelled()))
            failed.compare_exchange_strong(none, k);
    };
    std::thread secondHalves([&] {
        read(1);
        read(3);
    });
    read(0);
    read(2);
    secondHalves.join();
    if (failed.load() >= 0)
        return parts[failed.load()]->error();
    for (const std::optional<Result<StorePart>> &part : parts) {
        if (!*part)
            return part->error();
    }
    auto index = std::make_shared<MailSearchIndex>();
    for (int s = 0; s < 2; ++s) {
        index->m_paths[s] = paths[s];
        index->m_stamps[s] = stamps[s];
    }
    for (int k = 0; k < 4; ++k) {
        StorePart &part = parts[k]->value();
        index->m_texts[k] = std::move(part.text);
        index->m_texts[k].first = int(index->m_entries.size());
        std::move(part.entries.begin(), part.entries.end(), std::back_inserter(index->m_entries));
    }
    return std::shared_ptr<const MailSearchIndex>(std::move(index));
}

bool MailSearchIndex::holdsAll(int index, const std::vector<QByteArray> &words, const QByteArray *skip) const
{
    const StoreText *found = m_texts;
    for (const StoreText &t : m_texts) {
        if (index >= t.first)
            found = &t; // the last part starting at or before it: parts before may be empty
    }
    const StoreText &part = *found;
    const size_t local = size_t(index - part.first);
    for (const QByteArray &w : words) {
        if (&w != skip && findCode(part.text.constData(), part.starts[local], part.starts[local + 1], w) < 0)
            return false;
    }
    return true;
}

std::optional<QList<int>> MailSearchIndex::search(const QStringList &words, const QList<int> *within,
                                                  const std::function<bool()> &cancelled) const
{
    QList<int> hits;
    std::vector<QByteArray> codes;
    for (const QString &w : words) {
        if (!w.isEmpty()) // an empty word is in every text
            codes.push_back(searchCode(w));
    }
    if (words.isEmpty())
        return hits;
    if (within || codes.empty()) {
        const qsizetype n = within ? within->size() : size();
        for (qsizetype i = 0; i < n; ++i) {
            if ((i & 255) == 0 && cancelled && cancelled())
                return std::nullopt;
            const int entry = within ? within->at(i) : int(i);
            if (holdsAll(entry, codes, nullptr))
                hits << entry;
        }
        return hits;
    }
    // One pass over each store's text for the longest word; the others are
    // looked for only in the records it hits.
    const QByteArray &scan = *std::max_element(codes.begin(), codes.end(),
                                               [](const QByteArray &a, const QByteArray &b) { return a.size() < b.size(); });
    for (const StoreText &part : m_texts) {
        if (!scanPart(part, codes, scan, hits, cancelled))
            return std::nullopt;
    }
    return hits;
}

bool MailSearchIndex::scanPart(const StoreText &part, const std::vector<QByteArray> &words, const QByteArray &scan,
                               QList<int> &hits, const std::function<bool()> &cancelled) const
{
    const bool check = uchar(scan.front()) >= 0x80;
    const char *text = part.text.constData();
    const qsizetype end = part.text.size();
    // The text is searched a stretch at a time so that a stop is noticed soon.
    constexpr qsizetype kStretch = 8 << 20;
    qsizetype from = 0;
    qsizetype cursor = 0; // a character start in the record last hit (for `check`)
    size_t cursorRecord = size_t(-1);
    int checks = 0;
    while (end - from >= scan.size()) {
        if ((checks++ & 255) == 0 && cancelled && cancelled())
            return false;
        const qsizetype to = std::min(end, from + kStretch + scan.size() - 1);
        const char *hit = findBytes(text + from, to - from, scan);
        if (!hit) {
            if (to == end)
                break;
            from = to - (scan.size() - 1);
            checks = 0; // ask about a stop before the next stretch
            continue;
        }
        const qsizetype at = hit - text;
        const auto next = std::upper_bound(part.starts.begin(), part.starts.end(), at);
        const size_t record = size_t(next - part.starts.begin()) - 1;
        if (check) {
            if (record != cursorRecord) {
                cursor = part.starts[record];
                cursorRecord = record;
            }
            if (!startsCharacter(text, cursor, at)) {
                from = at + 1;
                continue;
            }
        }
        const int entry = part.first + int(record);
        if (holdsAll(entry, words, &scan))
            hits << entry;
        from = *next;
    }
    return true;
}

qsizetype MailSearchIndex::textBytes() const
{
    qsizetype bytes = 0;
    for (const StoreText &part : m_texts)
        bytes += part.text.size();
    return bytes;
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
