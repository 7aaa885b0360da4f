#include "storage/MailFields.h"

#include "common/Text.h"

namespace kestra {

MailFields mailFields(const MailRecord &record, qint16 historyMode)
{
    MailFields f;
    const bool sent = historyMode == 2;
    f.date = trimBlanks(sent ? record.Header2 : record.Header3);
    f.address = trimBlanks(sent ? record.Header3 : record.Header2);
    f.subject = trimBlanks(record.Subject);
    f.body = trimBlanks(record.Body);
    return f;
}

QString HistoryLine(const MailFields &fields)
{
    constexpr qsizetype kAddressColumn = 60;
    QString line;
    line.reserve(fields.date.size() + fields.subject.size() + kAddressColumn + 8);
    line += fields.date;
    line += QLatin1String("    ");
    line += fields.address;
    if (fields.address.size() < kAddressColumn)
        line += QString(kAddressColumn - fields.address.size(), QLatin1Char('_'));
    line += QLatin1String("    ");
    line += fields.subject;
    return line;
}

} // namespace kestra
