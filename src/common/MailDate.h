#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>

namespace kestra {

// Reads the date of a mail: the Date header's text (RFC 2822) and the forms
// real mailers and older programs write instead: a missing weekday or comma,
// full month and weekday names, two- and three-digit years, dashes between the
// date's parts, single-digit hours and seconds left out, zone names (GMT, UT,
// EST ... JST), "+09:00" and "+900" zones, a missing zone (taken as UTC),
// comments such as "(JST)", asctime ("Tue Dec  8 10:59:29 2026") and ISO 8601
// ("2026-12-08T10:59:29+09:00", "2026/12/08 10:59:29"). The result carries the
// offset the text gave; it is invalid when the text holds no date that exists.
QDateTime parseMailDate(QStringView text);

// Reads a date that the program itself wrote as local time: the sent store's
// date field (the clock text: the system's short date and HH:mm:ss) and the
// numeric forms yyyy/MM/dd HH:mm:ss and yyyy-MM-dd HH:mm:ss. Texts that carry
// a zone are read by parseMailDate. Invalid when unreadable.
QDateTime parseLocalDate(QStringView text);

// A date as the windows show it: local time, "yyyy/MM/dd HH:mm".
QString localDateText(const QDateTime &when);

} // namespace kestra
