#include "common/MailDate.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <QTimeZone>

#include <array>
#include <optional>

namespace kestra {

namespace {

constexpr std::array<const char16_t *, 12> kMonths = {u"jan", u"feb", u"mar", u"apr", u"may", u"jun",
                                                      u"jul", u"aug", u"sep", u"oct", u"nov", u"dec"};
constexpr std::array<const char16_t *, 7> kWeekdays = {u"mon", u"tue", u"wed", u"thu",
                                                       u"fri", u"sat", u"sun"};
constexpr std::array<const char16_t *, 12> kMonthNames = {
    u"january", u"february", u"march",     u"april",   u"may",      u"june",
    u"july",    u"august",   u"september", u"october", u"november", u"december"};

struct NamedZone {
    const char16_t *name;
    int minutes;
};
constexpr NamedZone kZones[] = {
    {u"ut", 0},        {u"utc", 0},       {u"gmt", 0},       {u"z", 0},
    {u"est", -5 * 60}, {u"edt", -4 * 60}, {u"cst", -6 * 60}, {u"cdt", -5 * 60},
    {u"mst", -7 * 60}, {u"mdt", -6 * 60}, {u"pst", -8 * 60}, {u"pdt", -7 * 60},
    {u"jst", 9 * 60},  {u"kst", 9 * 60},  {u"cet", 60},      {u"cest", 120},
    {u"bst", 60},      {u"met", 60},      {u"mest", 120},    {u"eet", 120},
};

bool allLetters(QStringView word)
{
    if (word.isEmpty())
        return false;
    for (QChar c : word) {
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')))
            return false;
    }
    return true;
}

bool allDigits(QStringView word)
{
    if (word.isEmpty())
        return false;
    for (QChar c : word) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

// 1..12 for a month's short or full English name, 0 otherwise.
int monthOf(QStringView word)
{
    const QString lower = word.toString().toLower();
    for (int i = 0; i < 12; ++i) {
        if (lower == QStringView(kMonths[size_t(i)]) || lower == QStringView(kMonthNames[size_t(i)]))
            return i + 1;
    }
    // "Sept" and other cut forms of the full name.
    if (lower.size() > 3) {
        for (int i = 0; i < 12; ++i) {
            if (QStringView(kMonthNames[size_t(i)]).startsWith(lower))
                return i + 1;
        }
    }
    return 0;
}

bool isWeekday(QStringView word)
{
    const QString lower = word.toString().toLower();
    if (lower.size() < 3)
        return false;
    for (const char16_t *day : kWeekdays) {
        if (lower.startsWith(QStringView(day)))
            return true;
    }
    return false;
}

std::optional<int> namedZone(QStringView word)
{
    const QString lower = word.toString().toLower();
    for (const NamedZone &z : kZones) {
        if (lower == QStringView(z.name))
            return z.minutes;
    }
    return std::nullopt;
}

// "+0900", "-0500", "+09:00", "+900", "+9". nullopt when the text is no offset;
// an offset with hours past 23 or minutes past 59 is refused as well.
std::optional<int> numericZone(QStringView text)
{
    if (text.size() < 2 || (text[0] != u'+' && text[0] != u'-'))
        return std::nullopt;
    const int sign = text[0] == u'-' ? -1 : 1;
    QStringView rest = text.mid(1);
    int hours = 0;
    int minutes = 0;
    if (const qsizetype colon = rest.indexOf(u':'); colon >= 0) {
        if (!allDigits(rest.left(colon)) || !allDigits(rest.mid(colon + 1)))
            return std::nullopt;
        hours = rest.left(colon).toInt();
        minutes = rest.mid(colon + 1).toInt();
    } else {
        if (!allDigits(rest) || rest.size() > 4)
            return std::nullopt;
        const int value = rest.toInt();
        if (rest.size() <= 2) {
            hours = value;
        } else {
            hours = value / 100;
            minutes = value % 100;
        }
    }
    if (hours > 23 || minutes > 59)
        return std::nullopt;
    return sign * (hours * 60 + minutes);
}

std::optional<int> anyZone(QStringView text)
{
    if (auto z = numericZone(text))
        return z;
    return namedZone(text);
}

QString withoutComments(QStringView text, QStringList &comments)
{
    QString out;
    out.reserve(text.size());
    int depth = 0;
    QString comment;
    for (QChar c : text) {
        if (c == u'(') {
            ++depth;
            continue;
        }
        if (c == u')' && depth > 0) {
            if (--depth == 0) {
                comments << comment.trimmed();
                comment.clear();
            }
            out += QLatin1Char(' ');
            continue;
        }
        if (depth > 0)
            comment += c;
        else
            out += c;
    }
    return out;
}

struct Parts {
    int year = -1;
    int month = 0;
    int day = 0;
    int hour = -1;
    int minute = 0;
    int second = 0;
    std::optional<int> zone;
    bool bad = false;
};

void readTime(QStringView token, Parts &p)
{
    static const QRegularExpression re(
        QStringLiteral("^(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?(?:[.,]\\d+)?(.*)$"));
    const QRegularExpressionMatch m = re.match(token.toString());
    if (!m.hasMatch() || p.hour >= 0) {
        p.bad = true;
        return;
    }
    p.hour = m.capturedView(1).toInt();
    p.minute = m.capturedView(2).toInt();
    p.second = m.capturedView(3).isEmpty() ? 0 : m.capturedView(3).toInt();
    const QStringView rest = m.capturedView(4);
    if (!rest.isEmpty()) {
        if (auto z = anyZone(rest))
            p.zone = z;
        else
            p.bad = true;
    }
}

void readNumber(QStringView token, Parts &p)
{
    const int value = token.toInt();
    if (token.size() >= 3) {
        if (p.year >= 0) {
            p.bad = true;
            return;
        }
        p.year = token.size() == 3 ? value + 1900 : value;
        return;
    }
    if (p.day == 0) {
        p.day = value;
    } else if (p.year < 0) {
        p.year = value < 50 ? 2000 + value : 1900 + value;
    } else {
        p.bad = true;
    }
}

// A numeric date in one token: y-m-d, and d/m/y or m/d/y when one of the
// first two cannot be a month.
void readNumericDate(const QStringList &parts, Parts &p)
{
    if (parts.size() != 3 || p.year >= 0 || p.month != 0 || p.day != 0) {
        p.bad = true;
        return;
    }
    const int a = parts[0].toInt();
    const int b = parts[1].toInt();
    const int c = parts[2].toInt();
    if (parts[0].size() == 4) {
        p.year = a;
        p.month = b;
        p.day = c;
    } else if (parts[2].size() == 4 && a > 12) {
        p.day = a;
        p.month = b;
        p.year = c;
    } else if (parts[2].size() == 4 && b > 12) {
        p.month = a;
        p.day = b;
        p.year = c;
    } else {
        p.bad = true; // 03/04/2026 could be either
    }
}

void readWord(QStringView word, Parts &p)
{
    if (int m = monthOf(word); m != 0 && p.month == 0) {
        p.month = m;
    } else if (isWeekday(word)) {
        // The weekday adds nothing to the date.
    } else if (auto z = namedZone(word); z && !p.zone) {
        p.zone = z;
    } else if (word.compare(u"pm", Qt::CaseInsensitive) == 0 && p.hour >= 0 && p.hour < 12) {
        p.hour += 12;
    } else if (word.compare(u"am", Qt::CaseInsensitive) == 0 && p.hour == 12) {
        p.hour = 0;
    } else if (word.size() == 1 && p.hour >= 0 && !p.zone) {
        p.zone = 0; // military zone letters: their meaning was never agreed on
    }
}

void readToken(QStringView token, Parts &p)
{
    if (token.isEmpty())
        return;
    static const QRegularExpression gmtOffset(QStringLiteral("^(?:gmt|utc|ut)([+-].*)$"),
                                              QRegularExpression::CaseInsensitiveOption);
    if (token.contains(u':') && token[0].isDigit()) {
        readTime(token, p);
    } else if (auto z = numericZone(token); z && !token.contains(u'/')) {
        // A leading sign never starts a date part; "-0500" is a zone.
        if (p.zone)
            p.bad = true;
        else
            p.zone = z;
    } else if (const auto m = gmtOffset.match(token.toString()); m.hasMatch()) {
        const auto z = numericZone(m.capturedView(1));
        if (!z || p.zone)
            p.bad = true;
        else
            p.zone = z;
    } else if (allDigits(token)) {
        readNumber(token, p);
    } else if (allLetters(token)) {
        readWord(token, p);
    } else if (token.contains(u'-') || token.contains(u'/') || token.contains(u'.')) {
        static const QRegularExpression sep(QStringLiteral("[-/.]"));
        const QStringList parts = token.toString().split(sep, Qt::SkipEmptyParts);
        bool numeric = true;
        for (const QString &part : parts)
            numeric = numeric && allDigits(part);
        if (numeric) {
            readNumericDate(parts, p);
        } else {
            for (const QString &part : parts) {
                if (allDigits(part))
                    readNumber(part, p);
                else
                    readWord(part, p);
            }
        }
    } else {
        p.bad = true;
    }
}

} // namespace

QDateTime parseMailDate(QStringView text)
{
    QStringList comments;
    QString plain = withoutComments(text, comments);
    plain.replace(QLatin1Char(','), QLatin1Char(' '));
    // ISO 8601 puts a T between date and time.
    static const QRegularExpression isoT(QStringLiteral("(\\d)T(\\d)"));
    plain.replace(isoT, QStringLiteral("\\1 \\2"));

    Parts p;
    static const QRegularExpression space(QStringLiteral("\\s+"));
    const QStringList tokens = plain.split(space, Qt::SkipEmptyParts);
    for (const QString &token : tokens) {
        readToken(token, p);
        if (p.bad)
            return {};
    }
    if (!p.zone) {
        for (const QString &c : comments) {
            if (auto z = anyZone(c)) {
                p.zone = z;
                break;
            }
        }
    }
    const QDate date(p.year, p.month, p.day);
    if (p.year < 1900 || !date.isValid())
        return {};
    if (p.hour < 0)
        p.hour = 0;
    if (p.second == 60)
        p.second = 59; // a leap second
    const QTime time(p.hour, p.minute, p.second);
    if (!time.isValid())
        return {};
    return QDateTime(date, time, QTimeZone(p.zone.value_or(0) * 60));
}

QDateTime parseLocalDate(QStringView text)
{
    const QString t = text.trimmed().toString();
    const qsizetype space = t.lastIndexOf(QLatin1Char(' '));
    if (space > 0) {
        const QString datePart = t.left(space).trimmed();
        const QString timePart = t.mid(space + 1);
        QTime time = QTime::fromString(timePart, QStringLiteral("H:mm:ss"));
        if (!time.isValid())
            time = QTime::fromString(timePart, QStringLiteral("H:mm"));
        if (time.isValid()) {
            QDate date;
            for (const QString &format : {QStringLiteral("yyyy/M/d"), QStringLiteral("yyyy-M-d")}) {
                date = QDate::fromString(datePart, format);
                if (date.isValid())
                    break;
            }
            if (!date.isValid()) {
                date = QLocale::system().toDate(datePart, QLocale::ShortFormat);
                // Two-digit years of the short form read as 19xx.
                if (date.isValid() && date.year() < 1970)
                    date = date.addYears(100);
            }
            if (date.isValid())
                return QDateTime(date, time);
        }
    }
    return parseMailDate(text);
}

QString localDateText(const QDateTime &when)
{
    return when.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm"));
}

} // namespace kestra
