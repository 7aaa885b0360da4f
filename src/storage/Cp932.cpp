#include "storage/Cp932.h"

#include <array>
#include <cerrno>
#include <iconv.h>
#include <memory>

namespace kestra::cp932 {

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr quint16 kNoCode = 0;

// Decode table for double-byte codes and encode table for the whole BMP, each
// built from iconv the first time it is needed, so that they match the
// system's CP932 exactly, including its one-way mappings (U+301C WAVE DASH and
// U+00A5 encode, but 0x8160 and 0x5C decode to U+FF5E and U+005C). Text of
// ASCII only (the settings files read at start-up) needs neither.
using DecodeTable = std::array<char16_t, 65536>; // decode: index lead << 8 | trail; 0 = no character
using EncodeTable = std::array<quint16, 65536>; // code, or kNoCode

// The table filled by `fill(table, converter)` with iconv's converter from `from` to `to`, built on the first call.
template<typename Table, typename Fill>
const Table &builtOnce(const char *to, const char *from, Fill fill)
{
    static const std::unique_ptr<const Table> table = [&] {
        auto t = std::make_unique<Table>();
        iconv_t cd = iconv_open(to, from);
        if (cd == reinterpret_cast<iconv_t>(-1))
            qFatal("iconv has no CP932 converter");
        fill(*t, cd);
        iconv_close(cd);
        return std::unique_ptr<const Table>(std::move(t));
    }();
    return *table;
}

// Converts the one or two bytes of `in` with `cd`; gives how many bytes it
// wrote to `out` (8 bytes), 0 when the converter refused them.
size_t convertOne(iconv_t cd, char *in, size_t inLeft, char *out)
{
    char *outp = out;
    size_t outLeft = 8;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1))
        return 0;
    return 8 - outLeft;
}

const DecodeTable &decodeTable()
{
    return builtOnce<DecodeTable>("UTF-16LE", "CP932", [](DecodeTable &t, iconv_t cd) {
        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            if (!isLeadByte(static_cast<unsigned char>(lead)))
                continue;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                if (trail == 0x7F)
                    continue;
                char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                char out[8];
                if (convertOne(cd, in, 2, out) == 2)
                    t[(lead << 8) | trail] = static_cast<char16_t>(static_cast<unsigned char>(out[0])
                                                                   | (static_cast<unsigned char>(out[1]) << 8));
            }
        }
    });
}

const EncodeTable &encodeTable()
{
    return builtOnce<EncodeTable>("CP932", "UTF-16LE", [](EncodeTable &t, iconv_t cd) {
        for (int u = 0x80; u <= 0xFFFF; ++u) {
            if (u >= 0xD800 && u <= 0xDFFF)
                continue;
            char in[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
            char out[8];
            const size_t n = convertOne(cd, in, 2, out);
            if (n == 1)
                t[u] = static_cast<unsigned char>(out[0]);
            else if (n == 2)
                t[u] = static_cast<quint16>((static_cast<unsigned char>(out[0]) << 8)
                                            | static_cast<unsigned char>(out[1]));
        }
    });
}

inline bool isTrailByte(unsigned char b)
{
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// Code of one BMP character, or kNoCode.
inline quint16 codeOf(char16_t c)
{
    if (c < 0x80)
        return c; // ASCII maps to itself, NUL included
    return encodeTable()[c];
}

} // namespace

namespace {
// Decodes into `out`, which has room for `bytes.size()` units; gives the units written.
qsizetype decodeInto(QByteArrayView bytes, char16_t *out)
{
    const DecodeTable *t = nullptr; // taken at the first double-byte character
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype w = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out[w++] = char16_t(b);
        } else if (b >= 0xA1 && b <= 0xDF) {
            out[w++] = char16_t(0xFF61 + (b - 0xA1));
        } else if (isLeadByte(b)) {
            if (i + 1 >= n) {
                out[w++] = u' '; // a cut double-byte character
            } else if (isTrailByte(p[i + 1])) {
                if (!t)
                    t = &decodeTable();
                const char16_t c = (*t)[(b << 8) | p[i + 1]];
                out[w++] = c ? c : kReplacement;
                ++i;
            } else {
                out[w++] = kReplacement;
            }
        } else {
            out[w++] = kReplacement;
        }
    }
    return w;
}
} // namespace

QString decode(QByteArrayView bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    out.truncate(decodeInto(bytes, reinterpret_cast<char16_t *>(out.data())));
    return out;
}

int encodedLength(QChar c)
{
    const quint16 code = codeOf(c.unicode());
    return code > 0xFF ? 2 : 1;
}

QByteArray encode(QStringView text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) {
            out.append('?');
            ++i;
            continue;
        }
        const quint16 code = (QChar::isSurrogate(c)) ? kNoCode : codeOf(c);
        if (c != 0 && code == kNoCode)
            out.append('?');
        else if (code > 0xFF) {
            out.append(static_cast<char>(code >> 8));
            out.append(static_cast<char>(code & 0xFF));
        } else {
            out.append(static_cast<char>(code));
        }
    }
    return out;
}

bool canEncode(QStringView text)
{
    for (const QChar c : text) {
        if (c.isSurrogate() || (c.unicode() != 0 && codeOf(c.unicode()) == kNoCode))
            return false;
    }
    return true;
}

QString firstUnencodable(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            return text.mid(i, 2).toString();
        if (c.isSurrogate() || (c.unicode() != 0 && codeOf(c.unicode()) == kNoCode))
            return QString(c);
    }
    return QString();
}

QByteArray encodeField(QStringView text, int width)
{
    // Encode at most `width` characters: each takes at least one byte.
    const QStringView head = text.left(width);
    QByteArray bytes = encode(head);
    if (bytes.size() < width)
        bytes.append(QByteArray(width - bytes.size(), ' '));
    if (bytes.size() > width) {
        // Walk the characters so that a cut inside a pair is seen.
        qsizetype pos = 0;
        const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
        while (pos < width) {
            const int len = isLeadByte(p[pos]) ? 2 : 1;
            if (pos + len > width)
                break;
            pos += len;
        }
        bytes.truncate(pos);
        if (bytes.size() < width)
            bytes.append(' ');
    }
    return bytes;
}

QString decodeField(QByteArrayView bytes)
{
    QString text = decode(bytes);
    if (text.size() < bytes.size())
        text.append(QString(bytes.size() - text.size(), QLatin1Char(' ')));
    return text;
}

} // namespace kestra::cp932
