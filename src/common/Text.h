#pragma once

#include <QString>
#include <QtGlobal>

namespace kestra {

// Removes leading and trailing U+0020 blanks only. QString::trimmed() would also
// strip CR, LF, tabs and the ideographic space, which the record files rely on.
QString trimBlanks(const QString &text);
QString trimLeftBlanks(const QString &text);
QString trimRightBlanks(const QString &text);

// The text up to (not including) its first NUL character.
QString cutAtNul(const QString &text);

// Every line end (CR LF, a lone LF or a lone CR) as CR LF: the line ends of
// the record files, of this program's text boxes and of mail on the wire.
QString toCrLf(QStringView text);

// Rounds to the nearest integer, halves to the even neighbour, and clamps the
// result into the signed 16-bit range.
qint16 roundHalfEvenToInt16(double value);

// Leading decimal number of a text the way the settings file reads it: blanks
// are skipped, the number ends at the first character that cannot belong to it,
// and a text without a leading number gives 0.
double leadingNumber(const QString &text);

// Pads with `fill` on the right to `width` characters; longer texts are cut.
QString fitToWidth(const QString &text, qsizetype width, QChar fill = QLatin1Char(' '));

} // namespace kestra
