#include "common/Text.h"

#include <cmath>
#include <limits>

namespace kestra {

QString trimLeftBlanks(const QString &text)
{
    qsizetype start = 0;
    while (start < text.size() && text.at(start) == QLatin1Char(' '))
        ++start;
    return text.mid(start);
}

QString trimRightBlanks(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.left(end);
}

QString trimBlanks(const QString &text)
{
    return trimLeftBlanks(trimRightBlanks(text));
}

QString cutAtNul(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

QString toCrLf(QStringView text)
{
    QString out;
    out.reserve(text.size() + text.size() / 32);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            out += QLatin1String("\r\n");
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else if (c == u'\n') {
            out += QLatin1String("\r\n");
        } else {
            out += c;
        }
    }
    return out;
}

qint16 roundHalfEvenToInt16(double value)
{
    if (std::isnan(value))
        return 0;
    const double rounded = std::nearbyint(value); // default rounding mode: halves to even
    if (rounded > std::numeric_limits<qint16>::max())
        return std::numeric_limits<qint16>::max();
    if (rounded < std::numeric_limits<qint16>::min())
        return std::numeric_limits<qint16>::min();
    return static_cast<qint16>(rounded);
}

double leadingNumber(const QString &text)
{
    // Blanks may stand anywhere inside the number ("1 2" reads as 12).
    QString digits;
    bool seenDigit = false;
    bool seenPoint = false;
    bool seenSign = false;
    for (const QChar c : text) {
        if (c == QLatin1Char(' '))
            continue;
        if (c.isDigit() && c.unicode() < 128) {
            digits.append(c);
            seenDigit = true;
        } else if ((c == QLatin1Char('+') || c == QLatin1Char('-')) && !seenDigit && !seenSign
                   && !seenPoint) {
            digits.append(c);
            seenSign = true;
        } else if (c == QLatin1Char('.') && !seenPoint) {
            digits.append(c);
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigit)
        return 0.0;
    bool ok = false;
    const double value = digits.toDouble(&ok);
    return ok ? value : 0.0;
}

QString fitToWidth(const QString &text, qsizetype width, QChar fill)
{
    if (text.size() >= width)
        return text.left(width);
    return text + QString(width - text.size(), fill);
}

} // namespace kestra
