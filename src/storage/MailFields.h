#pragma once

#include "storage/Records.h"

#include <QString>

namespace kestra {

// What the history shows of one mail record. The two stores give Header2 and
// Header3 crossed meanings: the received store keeps sender then date, the sent
// store date then recipient. Every text is trimmed of blanks.
struct MailFields {
    QString date;
    QString address;
    QString subject;
    QString body;
};

// historyMode 1 = received store, 2 = sent store.
MailFields mailFields(const MailRecord &record, qint16 historyMode);

// One list line: date, four blanks, the address filled with "_" to 60
// characters (never cut), four blanks, the subject. Counted in characters.
QString HistoryLine(const MailFields &fields);

} // namespace kestra
