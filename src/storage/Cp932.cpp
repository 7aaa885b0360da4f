#include "storage/Cp932.h"

#include <array>
#include <cerrno>
#include <iconv.h>
#include <memory>
#include <mutex>

namespace kestra::cp932 {

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr quint16 kNoCode = 0;

// Decode table for double-byte codes and encode table for the whole BMP, both
// built once from iconv so that they match the system's CP932 exactly,
// including its one-way mappings (U+301C WAVE DASH and U+00A5 encode, but
// 0x8160 and 0x5C decode to U+FF5E and U+005C).
struct Tables {
    std::array<char16_t, 65536> decodeDouble{}; // index lead << 8 | trail; 0 = no character
    std::array<quint16, 65536> encode{};        // code, or kNoCode
};

const Tables &tables()
{
    static std::unique_ptr<Tables> t;
    static std::once_flag once;
    std::call_once(once, [] {
        t = std::make_unique<Tables>();
        iconv_t dec = iconv_open("UTF-16LE", "CP932");
        iconv_t enc = iconv_open("CP932", "UTF-16LE");
        if (dec == reinterpret_cast<iconv_t>(-1) || enc == reinterpret_cast<iconv_t>(-1))
            qFatal("iconv has no CP932 converter");

        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            if (!isLeadByte(static_cast<unsigned char>(lead)))
                continue;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                if (trail == 0x7F)
                    continue;
                char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                char out[8];
                char *inp = in;
                char *outp = out;
                size_t inLeft = 2;
                size_t outLeft = sizeof out;
                iconv(dec, nullptr, nullptr, nullptr, nullptr);
                if (iconv(dec, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1)
                    && sizeof out - outLeft == 2) {
                    const char16_t ch = static_cast<char16_t>(static_cast<unsigned char>(out[0])
                                                              | (static_cast<unsigned char>(out[1]) << 8));
                    t->decodeDouble[(lead << 8) | trail] = ch;
                }
            }
        }

        for (int u = 0x80; u <= 0xFFFF; ++u) {
            if (u >= 0xD800 && u <= 0xDFFF)
                continue;
            char in[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
            char out[8];
            char *inp = in;
            char *outp = out;
            size_t inLeft = 2;
            size_t outLeft = sizeof out;
            iconv(enc, nullptr, nullptr, nullptr, nullptr);
            if (iconv(enc, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1))
                continue;
            const size_t n = sizeof out - outLeft;
            if (n == 1)
                t->encode[u] = static_cast<unsigned char>(out[0]);
            else if (n == 2)
                t->encode[u] = static_cast<quint16>((static_cast<unsigned char>(out[0]) << 8)
                                                    | static_cast<unsigned char>(out[1]));
        }
        iconv_close(dec);
        iconv_close(enc);
    });
    return *t;
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
    return tables().encode[c];
}

} // namespace

namespace {
// Decodes into `out`, which has room for `bytes.size()` units; gives the units written.
qsizetype decodeInto(QByteArrayView bytes, char16_t *out)
{
    const Tables &t = tables();
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
                const char16_t c = t.decodeDouble[(b << 8) | p[i + 1]];
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
