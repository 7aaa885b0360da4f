#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QMap>
#include <QString>

namespace kestra::mime {

// Text of received mail in the charsets Japanese mailers use. Decoding never
// fails: bytes without a character become U+FFFD, and NUL characters are
// dropped so that a stray NUL cannot cut a text short later on.

// Decodes `bytes` labelled with `charset` (any case, aliases accepted). The
// label is kept where the bytes fit it; an empty, "us-ascii" or unknown label,
// or one the bytes belie (8-bit bytes under ISO-2022-JP, Shift_JIS under
// UTF-8, ISO-2022-JP escapes under any other Japanese label), falls back to
// guessing, which is what Japanese carriers' bounces and careless mailers need.
QString decodeText(QByteArrayView bytes, QByteArrayView charset);

// ISO-2022-JP as Japanese mailers write it, including the Windows extension
// characters (circled digits, roman numerals, ㈱ ...): each JIS row/cell pair is
// turned into its Shift_JIS code arithmetically and read as code page 932.
QString decodeIso2022Jp(QByteArrayView bytes);
// EUC-JP the same way (rows 13 and 89-92 included).
QString decodeEucJp(QByteArrayView bytes);
// Unlabelled text: ISO-2022-JP when it has its escapes, UTF-8 when valid,
// EUC-JP when it has that shape, code page 932 otherwise.
QString decodeGuessed(QByteArrayView bytes);

// A header field's value (raw bytes, possibly folded) as text: encoded words
// are decoded (adjacent words of one charset are joined before decoding, so a
// character split across two words survives), unlabelled 8-bit runs are
// guessed, folding is undone.
QString decodeHeaderValue(QByteArrayView raw);

// Parameters of a Content-Type or Content-Disposition value, by lower-case
// name, decoded: RFC 2231 (charset'language'%XX, continuations name*0, name*1*
// ...), RFC 2047 words inside values, and unlabelled 8-bit values.
QMap<QByteArray, QString> headerParameters(QByteArrayView raw);
// The value's leading token ("text/plain", "attachment"), lower case.
QByteArray headerToken(QByteArrayView raw);

// Bytes of a base64 or quoted-printable text, decoded leniently.
QByteArray decodeBase64(QByteArrayView text);
QByteArray decodeQuotedPrintable(QByteArrayView text, bool headerWord = false);

// Encodes `text` through glibc's iconv. False when a character has no code in
// `charset`; `out` then holds what was converted before it.
bool encodeText(const QString &text, const char *charset, QByteArray &out);

} // namespace kestra::mime
