#include "addressbook/AddressBook.h"

#include "common/AppState.h"
#include "common/Paths.h"
#include "storage/Cp932.h"
#include "storage/RecordFile.h"

namespace kestra {

QString storableText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            // Nothing outside the basic plane has a code in code page 932.
            out.append(QLatin1Char('?'));
            ++i;
            continue;
        }
        if (cp932::canEncode(QStringView(&c, 1)))
            out.append(c);
        else
            out.append(QLatin1Char('?'));
    }
    return out;
}

AddressRecord newAddressRecord(const QString &name, const QString &address)
{
    AddressRecord r;
    QString padded = storableText(name).left(kNameChars);
    padded.append(QString(kNameChars - padded.size(), QChar(0x3000)));
    r.Name = padded;
    r.Address = storableText(address);
    r.LineEnd = QStringLiteral("\r\n");
    r.Live = 1;
    return r;
}

QString addressListRow(const AddressRecord &record)
{
    return record.Address + QLatin1String("  ") + record.Name;
}

QString addressBookPath()
{
    return appPaths().dataFile(QString::fromUtf16(stores::addressBook.fileName));
}

QString addressBookTempPath()
{
    return appPaths().dataFile(QString::fromUtf16(stores::addressBook.tempName));
}

} // namespace kestra
