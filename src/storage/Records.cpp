#include "storage/Records.h"

#include "storage/Cp932.h"

namespace kestra {

void putInt16(QByteArray &out, qint16 value)
{
    const auto u = static_cast<quint16>(value);
    out.append(static_cast<char>(u & 0xFF));
    out.append(static_cast<char>(u >> 8));
}

qint16 getInt16(QByteArrayView bytes, qsizetype offset)
{
    if (offset + 2 > bytes.size())
        return 0;
    const auto lo = static_cast<unsigned char>(bytes[offset]);
    const auto hi = static_cast<unsigned char>(bytes[offset + 1]);
    return static_cast<qint16>(static_cast<quint16>(lo | (hi << 8)));
}

qint16 liveOfRaw(QByteArrayView record, int liveOffset)
{
    return getInt16(record, liveOffset);
}

namespace {
// A field of a short (truncated) record reads as blanks.
QString field(QByteArrayView bytes, qsizetype offset, int width)
{
    if (offset >= bytes.size())
        return QString(width, QLatin1Char(' '));
    QString text = cp932::decodeField(bytes.sliced(offset, qMin<qsizetype>(width, bytes.size() - offset)));
    if (text.size() < width)
        text.append(QString(width - text.size(), QLatin1Char(' ')));
    return text;
}
} // namespace

QByteArray MailRecord::encode() const
{
    QByteArray out;
    out.reserve(kLength);
    out += cp932::encodeField(Subject, kSubjectWidth);
    out += cp932::encodeField(Header2, kHeader2Width);
    out += cp932::encodeField(Header3, kHeader3Width);
    out += cp932::encodeField(Body, kBodyWidth);
    out += cp932::encodeField(LineEnd, 2);
    putInt16(out, Live);
    return out;
}

MailRecord MailRecord::decodeHeaders(QByteArrayView bytes)
{
    MailRecord r;
    r.Subject = field(bytes, 0, kSubjectWidth);
    r.Header2 = field(bytes, kSubjectWidth, kHeader2Width);
    r.Header3 = field(bytes, kSubjectWidth + kHeader2Width, kHeader3Width);
    r.Body.clear();
    r.LineEnd = field(bytes, kHeadersLength + kBodyWidth, 2);
    r.Live = getInt16(bytes, kLength - 2);
    return r;
}

MailRecord MailRecord::decode(QByteArrayView bytes)
{
    MailRecord r = decodeHeaders(bytes);
    r.Body = field(bytes, kHeadersLength, kBodyWidth);
    return r;
}

QByteArray AddressRecord::encode() const
{
    QByteArray out;
    out.reserve(kLength);
    out += cp932::encodeField(Name, kNameWidth);
    out += cp932::encodeField(LineEnd, 2);
    putInt16(out, Live);
    out += cp932::encodeField(Address, kAddressWidth);
    return out;
}

AddressRecord AddressRecord::decode(QByteArrayView bytes)
{
    AddressRecord r;
    r.Name = field(bytes, 0, kNameWidth);
    r.LineEnd = field(bytes, kNameWidth, 2);
    r.Live = getInt16(bytes, kNameWidth + 2);
    r.Address = field(bytes, kNameWidth + 4, kAddressWidth);
    return r;
}

QByteArray FavouriteRecord::encode() const
{
    QByteArray out;
    out.reserve(kLength);
    out += cp932::encodeField(Spare, kSpareWidth);
    out += cp932::encodeField(LineEnd, 2);
    putInt16(out, Live);
    out += cp932::encodeField(Url, kUrlWidth);
    return out;
}

FavouriteRecord FavouriteRecord::decode(QByteArrayView bytes)
{
    FavouriteRecord r;
    r.Spare = field(bytes, 0, kSpareWidth);
    r.LineEnd = field(bytes, kSpareWidth, 2);
    r.Live = getInt16(bytes, kSpareWidth + 2);
    r.Url = field(bytes, kSpareWidth + 4, kUrlWidth);
    return r;
}

} // namespace kestra
