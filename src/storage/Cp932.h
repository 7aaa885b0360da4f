#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kestra::cp932 {

// Code page 932 (Windows-31J), Microsoft's table as glibc's iconv "CP932" has it.
//
// Decoding never fails: a byte or pair with no character becomes U+FFFD, and a
// lead byte with nothing after it becomes a blank. Encoding writes "?" for each
// character that code page 932 cannot hold (a surrogate pair counts as one).

QString decode(QByteArrayView bytes);
QByteArray encode(QStringView text);

// Bytes of one character in code page 932: 1 or 2 ("?" substitutes take 1).
int encodedLength(QChar c);

// True when `byte` starts a double-byte character.
constexpr bool isLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Encodes `text` into exactly `width` bytes: the text is cut or blank-padded to
// `width` characters, encoded, and cut to `width` bytes. When the cut would split
// a double-byte character, a blank takes the place of its lead byte.
QByteArray encodeField(QStringView text, int width);

// Decodes a field of `bytes.size()` bytes and pads the text with blanks to as
// many characters.
QString decodeField(QByteArrayView bytes);

// True when every character of `text` has a code in code page 932.
bool canEncode(QStringView text);

// The first character of `text` that code page 932 cannot hold (both halves of
// a surrogate pair), or an empty text when there is none.
QString firstUnencodable(QStringView text);

} // namespace kestra::cp932
