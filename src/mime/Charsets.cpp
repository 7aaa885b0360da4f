#include "mime/Charsets.h"

#include "storage/Cp932.h"

#include <QList>

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <map>

namespace kestra::mime {

namespace {

QString withoutNul(QString text)
{
    text.remove(QChar(u'\0'));
    return text;
}

// Shift_JIS bytes of JIS X 0208 row/cell bytes (each 0x21..0x7E).
void appendSjisOfJis(QByteArray &out, unsigned char j1, unsigned char j2)
{
    const unsigned char s1 = static_cast<unsigned char>(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0));
    unsigned char s2;
    if (j1 & 1)
        s2 = static_cast<unsigned char>(j2 + (j2 >= 0x60 ? 0x20 : 0x1F));
    else
        s2 = static_cast<unsigned char>(j2 + 0x7E);
    out.append(static_cast<char>(s1));
    out.append(static_cast<char>(s2));
}

// A character code page 932 cannot show, written as its Shift_JIS "〓" mark.
void appendGeta(QByteArray &out)
{
    out.append('\x81');
    out.append('\xAC');
}

QByteArray normalisedLabel(QByteArrayView charset)
{
    QByteArray label = charset.toByteArray().trimmed().toLower();
    if (label.startsWith('"') && label.endsWith('"') && label.size() >= 2)
        label = label.mid(1, label.size() - 2);
    // RFC 2231 language suffix ("iso-2022-jp*ja").
    if (const qsizetype star = label.indexOf('*'); star >= 0)
        label.truncate(star);
    return label;
}

enum class Family { Guess, Iso2022Jp, Cp932, EucJp, Utf8, Latin1, Other };

Family familyOf(const QByteArray &label)
{
    static const std::map<QByteArray, Family> known = {
        {"", Family::Guess},
        {"us-ascii", Family::Guess},
        {"ascii", Family::Guess},
        {"unknown-8bit", Family::Guess},
        {"x-unknown", Family::Guess},
        {"iso-2022-jp", Family::Iso2022Jp},
        {"iso-2022-jp-1", Family::Iso2022Jp},
        {"iso-2022-jp-2", Family::Iso2022Jp},
        {"iso-2022-jp-3", Family::Iso2022Jp},
        {"iso-2022-jp-ms", Family::Iso2022Jp},
        {"csiso2022jp", Family::Iso2022Jp},
        {"jis", Family::Iso2022Jp},
        {"shift_jis", Family::Cp932},
        {"shift-jis", Family::Cp932},
        {"sjis", Family::Cp932},
        {"x-sjis", Family::Cp932},
        {"ms_kanji", Family::Cp932},
        {"csshiftjis", Family::Cp932},
        {"windows-31j", Family::Cp932},
        {"cp932", Family::Cp932},
        {"ms932", Family::Cp932},
        {"x-ms-cp932", Family::Cp932},
        {"shift_jisx0213", Family::Cp932},
        {"euc-jp", Family::EucJp},
        {"x-euc-jp", Family::EucJp},
        {"eucjp", Family::EucJp},
        {"euc-jp-ms", Family::EucJp},
        {"cseucpkdfmtjapanese", Family::EucJp},
        {"utf-8", Family::Utf8},
        {"utf8", Family::Utf8},
        {"iso-8859-1", Family::Latin1},
        {"latin1", Family::Latin1},
    };
    const auto it = known.find(label);
    return it == known.end() ? Family::Other : it->second;
}

bool hasEightBit(QByteArrayView bytes)
{
    return std::any_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// An escape sequence that switches ISO-2022-JP to a character set (ESC $ B,
// ESC ( B, ESC ( I ...): no other charset of mail writes these.
bool hasJisEscape(QByteArrayView bytes)
{
    return bytes.contains("\x1b$") || bytes.contains("\x1b(");
}

// UTF-8 as the standard has it: no overlong forms, no surrogates, nothing
// beyond U+10FFFF.
bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = p[i];
        int follow;
        unsigned char low = 0x80; // the second byte's range
        unsigned char high = 0xBF;
        if (c < 0x80) {
            follow = 0;
        } else if (c >= 0xC2 && c <= 0xDF) {
            follow = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            follow = 2;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            follow = 3;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (i + follow >= n && follow > 0)
            return false;
        if (follow > 0 && (p[i + 1] < low || p[i + 1] > high))
            return false;
        for (int k = 2; k <= follow; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        }
        i += follow + 1;
    }
    return true;
}

// Code page 932's shape: ASCII, half-width katakana, and lead bytes each
// followed by a trail byte.
bool looksLikeCp932(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        if (c < 0x80 || (c >= 0xA1 && c <= 0xDF))
            continue;
        if (!cp932::isLeadByte(c) || i + 1 >= n)
            return false;
        const unsigned char t = p[++i];
        if (t < 0x40 || t == 0x7F || t > 0xFC)
            return false;
    }
    return true;
}

bool looksLikeEucJp(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    bool any = false;
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        if (c < 0x80)
            continue;
        any = true;
        if (c == 0x8E) {
            if (i + 1 >= n || p[i + 1] < 0xA1 || p[i + 1] > 0xDF)
                return false;
            ++i;
        } else if (c == 0x8F) {
            if (i + 2 >= n || p[i + 1] < 0xA1 || p[i + 2] < 0xA1 || p[i + 1] == 0xFF || p[i + 2] == 0xFF)
                return false;
            i += 2;
        } else if (c >= 0xA1 && c <= 0xFE) {
            if (i + 1 >= n || p[i + 1] < 0xA1 || p[i + 1] > 0xFE)
                return false;
            ++i;
        } else {
            return false;
        }
    }
    return any;
}

QString decodeWithIconv(QByteArrayView bytes, const QByteArray &label, bool *ok)
{
    iconv_t cd = iconv_open("UTF-16LE", label.constData());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        *ok = false;
        return {};
    }
    *ok = true;
    QString result;
    result.reserve(bytes.size());
    QByteArray in = bytes.toByteArray();
    char *inp = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    char buffer[4096];
    while (inLeft > 0) {
        char *outp = buffer;
        size_t outLeft = sizeof buffer;
        const size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        result.append(QStringView(reinterpret_cast<const char16_t *>(buffer), qsizetype((sizeof buffer - outLeft) / 2)));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // An invalid or truncated sequence: mark it and go on with the next byte.
            result.append(QChar(0xFFFD));
            ++inp;
            --inLeft;
        }
    }
    iconv_close(cd);
    return result;
}

struct EncodedWord {
    qsizetype begin = 0;
    qsizetype end = 0; // one past "?="
    QByteArray charset;
    QByteArray bytes;
};

// Finds encoded words "=?charset?B|Q?text?=" one after the other in one
// header value. Every search remembers where it found its target, so a value
// full of openers without closers, or of words broken by blanks, is scanned
// once instead of once per opener.
class EncodedWordScanner
{
public:
    explicit EncodedWordScanner(QByteArrayView raw) : m_raw(raw) {}

    // The next word at or after `from`; `from` never goes back between calls.
    bool next(qsizetype from, EncodedWord &word)
    {
        for (qsizetype start = find(m_opener, "=?", from); start >= 0; start = find(m_opener, "=?", start + 2)) {
            const qsizetype q1 = find(m_question, "?", start + 2);
            if (q1 < 0)
                return false;
            if (q1 + 2 >= m_raw.size() || m_raw[q1 + 2] != '?')
                continue;
            const char enc = m_raw[q1 + 1];
            if (enc != 'B' && enc != 'b' && enc != 'Q' && enc != 'q')
                continue;
            const qsizetype close = find(m_closer, "?=", q1 + 3);
            if (close < 0)
                return false;
            // Neither the charset nor the text may hold a blank. Charsets of
            // successive openers do not overlap (each ends at the first "?").
            const QByteArrayView charset = m_raw.sliced(start + 2, q1 - start - 2);
            if (charset.isEmpty() || charset.contains(' '))
                continue;
            const qsizetype space = find(m_space, " ", q1 + 3);
            const qsizetype tab = find(m_tab, "\t", q1 + 3);
            if ((space >= 0 && space < close) || (tab >= 0 && tab < close))
                continue;
            const QByteArrayView text = m_raw.sliced(q1 + 3, close - q1 - 3);
            word.begin = start;
            word.end = close + 2;
            word.charset = normalisedLabel(charset);
            word.bytes = (enc == 'B' || enc == 'b') ? decodeBase64(text) : decodeQuotedPrintable(text, true);
            return true;
        }
        return false;
    }

private:
    // The first `needle` at or after `from`, remembered: `from` only grows
    // for each needle, so a remembered hit or miss at or after it still holds.
    struct Memo {
        qsizetype searchedFrom = -1;
        qsizetype found = -1;
    };
    qsizetype find(Memo &memo, const char *needle, qsizetype from) const
    {
        if (memo.searchedFrom >= 0 && memo.searchedFrom <= from && (memo.found < 0 || memo.found >= from))
            return memo.found;
        memo.searchedFrom = from;
        memo.found = m_raw.indexOf(QByteArrayView(needle), from);
        return memo.found;
    }

    QByteArrayView m_raw;
    Memo m_opener;
    Memo m_question;
    Memo m_closer;
    Memo m_space;
    Memo m_tab;
};

bool onlyBlanks(QByteArrayView text)
{
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    }
    return true;
}

QByteArray unfold(QByteArrayView raw)
{
    QByteArray out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\r' || c == '\n')
            continue;
        out.append(c);
    }
    return out;
}

QString plainRun(QByteArrayView bytes)
{
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80 || c == '\x1b')
            return decodeGuessed(bytes);
    }
    return QString::fromLatin1(bytes);
}

QByteArray percentDecode(QByteArrayView text)
{
    return QByteArray::fromPercentEncoding(text.toByteArray());
}

} // namespace

QByteArray decodeBase64(QByteArrayView text)
{
    QByteArray clean;
    clean.reserve(text.size());
    for (char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/')
            clean.append(c);
        else if (c == '=')
            break;
    }
    // A dangling single character cannot carry a byte.
    if (clean.size() % 4 == 1)
        clean.chop(1);
    return QByteArray::fromBase64(clean);
}

QByteArray decodeQuotedPrintable(QByteArrayView text, bool headerWord)
{
    QByteArray out;
    out.reserve(text.size());
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_' && headerWord) {
            out.append(' ');
        } else if (c == '=') {
            if (i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
                out.append(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
                i += 2;
            } else if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n')) {
                // Soft line break.
                ++i;
                if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                    ++i;
            } else {
                out.append(c);
            }
        } else {
            out.append(c);
        }
    }
    return out;
}

QString decodeIso2022Jp(QByteArrayView bytes)
{
    enum class Mode { Ascii, Jis0208, Kana, Jis0212 } mode = Mode::Ascii;
    QByteArray sjis;
    sjis.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c == 0x1B) {
            auto at = [&](qsizetype k) -> int { return i + k < n ? p[i + k] : -1; };
            if (at(1) == '$' && (at(2) == '@' || at(2) == 'B')) {
                mode = Mode::Jis0208;
                i += 3;
            } else if (at(1) == '$' && at(2) == '(' && (at(3) == 'B' || at(3) == 'Q' || at(3) == 'O')) {
                mode = Mode::Jis0208;
                i += 4;
            } else if (at(1) == '$' && at(2) == '(' && at(3) == 'D') {
                mode = Mode::Jis0212;
                i += 4;
            } else if (at(1) == '(' && (at(2) == 'B' || at(2) == 'J' || at(2) == 'H')) {
                mode = Mode::Ascii;
                i += 3;
            } else if (at(1) == '(' && at(2) == 'I') {
                mode = Mode::Kana;
                i += 3;
            } else {
                // An escape we do not know: drop the ESC byte itself.
                ++i;
            }
            continue;
        }
        if (c == 0x0E) { // SO: half-width katakana (old mailers)
            mode = Mode::Kana;
            ++i;
            continue;
        }
        if (c == 0x0F) { // SI
            mode = Mode::Ascii;
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n' || c < 0x21 || c >= 0x7F) {
            // Line ends and control or 8-bit bytes pass through; a stray 8-bit
            // byte is most likely Shift_JIS written by a careless mailer.
            sjis.append(static_cast<char>(c));
            ++i;
            continue;
        }
        switch (mode) {
        case Mode::Ascii:
            sjis.append(static_cast<char>(c));
            ++i;
            break;
        case Mode::Kana:
            if (c <= 0x5F)
                sjis.append(static_cast<char>(c + 0x80));
            else
                appendGeta(sjis);
            ++i;
            break;
        case Mode::Jis0208:
        case Mode::Jis0212:
            if (i + 1 < n && p[i + 1] >= 0x21 && p[i + 1] <= 0x7E) {
                if (mode == Mode::Jis0208)
                    appendSjisOfJis(sjis, c, p[i + 1]);
                else
                    appendGeta(sjis);
                i += 2;
            } else {
                appendGeta(sjis);
                ++i;
            }
            break;
        }
    }
    return withoutNul(cp932::decode(sjis));
}

QString decodeEucJp(QByteArrayView bytes)
{
    QByteArray sjis;
    sjis.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            sjis.append(static_cast<char>(c));
        } else if (c == 0x8E && i + 1 < n) {
            sjis.append(static_cast<char>(p[++i]));
        } else if (c == 0x8F && i + 2 < n) {
            // JIS X 0212 has no place in code page 932.
            appendGeta(sjis);
            i += 2;
        } else if (c >= 0xA1 && c <= 0xFE && i + 1 < n && p[i + 1] >= 0xA1 && p[i + 1] <= 0xFE) {
            appendSjisOfJis(sjis, c - 0x80, p[i + 1] - 0x80);
            ++i;
        } else {
            appendGeta(sjis);
        }
    }
    return withoutNul(cp932::decode(sjis));
}

namespace {

// Whether `bytes` can be text in `family`. ISO-2022-JP is 7-bit, and its
// escape sequences belong to it alone; Latin-1 and the charsets iconv reads
// take any bytes. Unlabelled text fits nothing: it is always sniffed.
bool fits(Family family, QByteArrayView bytes)
{
    switch (family) {
    case Family::Guess:
        return false;
    case Family::Iso2022Jp:
        return !hasEightBit(bytes);
    case Family::Utf8:
        return !hasJisEscape(bytes) && isValidUtf8(bytes);
    case Family::Cp932:
        return !hasJisEscape(bytes) && looksLikeCp932(bytes);
    case Family::EucJp:
        return !hasJisEscape(bytes) && (!hasEightBit(bytes) || looksLikeEucJp(bytes));
    case Family::Latin1:
    case Family::Other:
        break;
    }
    return true;
}

// What text is when its label does not fit it (or it has none): ISO-2022-JP
// when it has its escapes, UTF-8 when it is valid UTF-8 with multibyte
// sequences, else EUC-JP or code page 932, whichever shape it has. EUC-JP is
// tried first: most EUC-JP text also passes for code page 932 (as half-width
// katakana), hardly any code page 932 text for EUC-JP. Bytes that fit none
// keep their label, unlabelled ones are read as code page 932.
Family sniffed(QByteArrayView bytes, Family label)
{
    const bool eightBit = hasEightBit(bytes);
    if (hasJisEscape(bytes) || (!eightBit && bytes.contains('\x1b')))
        return Family::Iso2022Jp;
    if (!eightBit)
        return Family::Latin1;
    if (isValidUtf8(bytes))
        return Family::Utf8;
    if (looksLikeEucJp(bytes))
        return Family::EucJp;
    if (looksLikeCp932(bytes) || label == Family::Guess)
        return Family::Cp932;
    return label;
}

QString decodeAs(Family family, QByteArrayView bytes, const QByteArray &label)
{
    switch (family) {
    case Family::Guess:
        break;
    case Family::Iso2022Jp:
        return decodeIso2022Jp(bytes);
    case Family::Cp932:
        return withoutNul(cp932::decode(bytes));
    case Family::EucJp:
        return decodeEucJp(bytes);
    case Family::Utf8:
        return withoutNul(QString::fromUtf8(bytes));
    case Family::Latin1:
        return withoutNul(QString::fromLatin1(bytes));
    case Family::Other: {
        bool ok = false;
        QString text = decodeWithIconv(bytes, label, &ok);
        if (ok)
            return withoutNul(text);
        break;
    }
    }
    return decodeGuessed(bytes);
}

} // namespace

QString decodeGuessed(QByteArrayView bytes)
{
    return decodeAs(sniffed(bytes, Family::Guess), bytes, {});
}

QString decodeText(QByteArrayView bytes, QByteArrayView charset)
{
    const QByteArray label = normalisedLabel(charset);
    Family family = familyOf(label);
    if (!fits(family, bytes))
        family = sniffed(bytes, family);
    return decodeAs(family, bytes, label);
}

QString decodeHeaderValue(QByteArrayView rawValue)
{
    const QByteArray raw = unfold(rawValue);
    QString out;
    qsizetype pos = 0;
    EncodedWord word;
    QByteArray pendingCharset;
    QByteArray pendingBytes;
    auto flush = [&] {
        if (!pendingBytes.isEmpty() || !pendingCharset.isEmpty())
            out += decodeText(pendingBytes, pendingCharset);
        pendingBytes.clear();
        pendingCharset.clear();
    };
    bool previousWasWord = false;
    EncodedWordScanner scanner(raw);
    while (scanner.next(pos, word)) {
        const QByteArrayView between = QByteArrayView(raw).sliced(pos, word.begin - pos);
        // Blanks between two encoded words are folding, not text.
        if (!(previousWasWord && onlyBlanks(between))) {
            flush();
            out += plainRun(between);
        }
        if (!pendingCharset.isEmpty() && pendingCharset != word.charset)
            flush();
        pendingCharset = word.charset;
        pendingBytes += word.bytes;
        pos = word.end;
        previousWasWord = true;
    }
    flush();
    out += plainRun(QByteArrayView(raw).sliced(pos));
    out.remove(QChar(u'\0'));
    return out.trimmed();
}

QByteArray headerToken(QByteArrayView raw)
{
    const QByteArray value = unfold(raw);
    const qsizetype semi = value.indexOf(';');
    return (semi < 0 ? value : value.left(semi)).trimmed().toLower();
}

QMap<QByteArray, QString> headerParameters(QByteArrayView rawValue)
{
    const QByteArray raw = unfold(rawValue);
    struct Piece {
        bool extended = false;
        QByteArray value;
    };
    QMap<QByteArray, QMap<int, Piece>> continued; // name -> section -> piece
    QMap<QByteArray, QString> result;

    qsizetype i = raw.indexOf(';');
    while (i >= 0 && i < raw.size()) {
        ++i; // past ';'
        while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t'))
            ++i;
        const qsizetype eq = raw.indexOf('=', i);
        if (eq < 0)
            break;
        QByteArray name = raw.mid(i, eq - i).trimmed().toLower();
        i = eq + 1;
        while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t'))
            ++i;
        QByteArray value;
        if (i < raw.size() && raw[i] == '"') {
            ++i;
            while (i < raw.size() && raw[i] != '"') {
                if (raw[i] == '\\' && i + 1 < raw.size())
                    ++i;
                value.append(raw[i]);
                ++i;
            }
            const qsizetype semi = raw.indexOf(';', i);
            i = semi;
        } else {
            const qsizetype semi = raw.indexOf(';', i);
            value = (semi < 0 ? raw.mid(i) : raw.mid(i, semi - i)).trimmed();
            i = semi;
        }
        if (name.isEmpty())
            continue;

        bool extended = false;
        if (name.endsWith('*')) {
            extended = true;
            name.chop(1);
        }
        int section = -1;
        if (const qsizetype star = name.lastIndexOf('*'); star >= 0) {
            bool ok = false;
            const int n = name.mid(star + 1).toInt(&ok);
            if (ok && n >= 0 && n < 10000) {
                section = n;
                name.truncate(star);
            }
        }
        if (section >= 0) {
            continued[name].insert(section, Piece{extended, value});
        } else if (extended) {
            const qsizetype q1 = value.indexOf('\'');
            const qsizetype q2 = q1 < 0 ? -1 : value.indexOf('\'', q1 + 1);
            if (q2 < 0)
                result.insert(name, decodeText(percentDecode(value), {}));
            else
                result.insert(name, decodeText(percentDecode(value.mid(q2 + 1)), value.left(q1)));
        } else if (!result.contains(name)) {
            result.insert(name, decodeHeaderValue(value));
        }
    }

    for (auto it = continued.cbegin(); it != continued.cend(); ++it) {
        QByteArray charset;
        QByteArray bytes;
        bool first = true;
        bool anyExtended = false;
        for (const Piece &piece : it.value()) {
            QByteArray value = piece.value;
            if (piece.extended) {
                anyExtended = true;
                if (first) {
                    const qsizetype q1 = value.indexOf('\'');
                    const qsizetype q2 = q1 < 0 ? -1 : value.indexOf('\'', q1 + 1);
                    if (q2 >= 0) {
                        charset = value.left(q1);
                        value = value.mid(q2 + 1);
                    }
                }
                bytes += percentDecode(value);
            } else {
                bytes += value;
            }
            first = false;
        }
        // Continued plain values sometimes carry encoded words split over sections.
        result.insert(it.key(), anyExtended ? decodeText(bytes, charset) : decodeHeaderValue(bytes));
    }
    return result;
}

bool encodeText(const QString &text, const char *charset, QByteArray &out)
{
    out.clear();
    iconv_t cd = iconv_open(charset, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    QByteArray in = text.toUtf8();
    char *inPtr = in.data();
    size_t inLeft = size_t(in.size());
    QByteArray buffer(qsizetype(in.size()) * 4 + 16, '\0');
    char *outPtr = buffer.data();
    size_t outLeft = size_t(buffer.size());
    bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1);
    // Back to the initial shift state (ESC ( B for ISO-2022-JP).
    if (ok)
        ok = iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != size_t(-1);
    iconv_close(cd);
    out = buffer.left(qsizetype(buffer.size() - qsizetype(outLeft)));
    return ok && inLeft == 0;
}

} // namespace kestra::mime
