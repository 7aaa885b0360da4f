#include "common/MailDate.h"

#include <QtTest>

using namespace kestra;

class TestMailDate : public QObject
{
    Q_OBJECT

private slots:
    // Each text against the instant it names, in UTC ("" = no date).
    void readsDateHeaders_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("utc");
        const auto row = [](const char *name, const char16_t *text, const char *utc) {
            QTest::newRow(name) << QString::fromUtf16(text) << QString::fromLatin1(utc);
        };
        row("rfc 2822", u"Tue, 8 Dec 2026 10:59:29 +0900", "2026-12-08T01:59:29Z");
        row("negative zone", u"Mon, 7 Dec 2026 20:00:00 -0500", "2026-12-08T01:00:00Z");
        row("zone comment", u"Tue, 08 Dec 2026 10:59:29 +0900 (JST)", "2026-12-08T01:59:29Z");
        row("no weekday, no seconds", u"8 Dec 2026 10:59 +0000", "2026-12-08T10:59:00Z");
        row("no comma", u"Tue 8 Dec 2026 10:59:29 GMT", "2026-12-08T10:59:29Z");
        row("full names", u"Tuesday, 8 December 2026 10:59:29 +0100", "2026-12-08T09:59:29Z");
        row("two-digit year", u"Tue, 8 Dec 26 10:59:29 +0900", "2026-12-08T01:59:29Z");
        row("two-digit year 19xx", u"Fri, 31 Dec 99 23:59:59 -0000", "1999-12-31T23:59:59Z");
        row("three-digit year", u"Fri, 31 Dec 099 23:59:59 +0000", "1999-12-31T23:59:59Z");
        row("dashes", u"Tue, 08-Dec-2026 10:59:29 +0900", "2026-12-08T01:59:29Z");
        row("named zone", u"Tue, 8 Dec 2026 10:59:29 JST", "2026-12-08T01:59:29Z");
        row("american zone", u"Tue, 8 Dec 2026 10:59:29 PST", "2026-12-08T18:59:29Z");
        row("colon zone", u"Tue, 8 Dec 2026 10:59:29 +09:00", "2026-12-08T01:59:29Z");
        row("three-digit zone", u"Tue, 8 Dec 2026 10:59:29 +900", "2026-12-08T01:59:29Z");
        row("gmt offset", u"Tue, 8 Dec 2026 10:59:29 GMT+0900", "2026-12-08T01:59:29Z");
        row("zone only in comment", u"Tue, 8 Dec 2026 10:59:29 (JST)", "2026-12-08T01:59:29Z");
        row("no zone is utc", u"Tue, 8 Dec 2026 10:59:29", "2026-12-08T10:59:29Z");
        row("single-digit hour", u"8 Dec 2026 9:05:07 +0000", "2026-12-08T09:05:07Z");
        row("lower case, extra blanks", u"  tue,  8  dec  2026  10:59:29  +0900 ", "2026-12-08T01:59:29Z");
        row("leap second", u"Thu, 31 Dec 2026 23:59:60 +0000", "2026-12-31T23:59:59Z");
        row("asctime", u"Tue Dec  8 10:59:29 2026", "2026-12-08T10:59:29Z");
        row("month before day", u"Dec 8, 2026 10:59:29 +0900", "2026-12-08T01:59:29Z");
        row("iso", u"2026-12-08T10:59:29+09:00", "2026-12-08T01:59:29Z");
        row("iso utc fraction", u"2026-12-08T10:59:29.250Z", "2026-12-08T10:59:29Z");
        row("slashes", u"2026/12/08 10:59:29 +0900", "2026-12-08T01:59:29Z");
        row("military letter", u"8 Dec 2026 10:59:29 A", "2026-12-08T10:59:29Z");
        row("pm", u"8 Dec 2026 1:30 PM +0000", "2026-12-08T13:30:00Z");
        row("date only", u"8 Dec 2026", "2026-12-08T00:00:00Z");
        row("empty", u"", "");
        row("words", u"sometime last spring", "");
        row("31 February", u"31 Feb 2026 10:00:00 +0000", "");
        row("hour 25", u"8 Dec 2026 25:00:00 +0000", "");
        row("zone out of range", u"8 Dec 2026 10:00:00 +2500", "");
        row("ambiguous numbers", u"03/04/2026 10:00:00", "");
        row("two times", u"8 Dec 2026 10:00 11:00", "");
        row("japanese", u"２０２６年１２月８日", "");
    }
    void readsDateHeaders()
    {
        QFETCH(QString, text);
        QFETCH(QString, utc);
        const QDateTime when = parseMailDate(text);
        QCOMPARE(when.isValid() ? when.toUTC().toString(Qt::ISODate) : QString(), utc);
    }

    void readsOwnLocalDates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected");
        const QDateTime local(QDate(2026, 12, 8), QTime(10, 59, 29));
        QTest::newRow("slashes") << QStringLiteral("2026/12/08 10:59:29") << local;
        QTest::newRow("short numbers") << QStringLiteral("2026/12/8 10:59:29") << local;
        QTest::newRow("dashes") << QStringLiteral("2026-12-08 10:59:29") << local;
        QTest::newRow("system short form")
            << QLocale::system().toString(QDate(2026, 12, 8), QLocale::ShortFormat)
                   + QStringLiteral(" 10:59:29")
            << local;
        QTest::newRow("with zone") << QStringLiteral("Tue, 8 Dec 2026 01:59:29 +0000")
                                   << QDateTime(QDate(2026, 12, 8), QTime(1, 59, 29), Qt::UTC);
        QTest::newRow("garbage") << QStringLiteral("ほげ") << QDateTime();
    }
    void readsOwnLocalDates()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const QDateTime when = parseLocalDate(text);
        QCOMPARE(when.isValid(), expected.isValid());
        if (expected.isValid())
            QCOMPARE(when.toMSecsSinceEpoch(), expected.toMSecsSinceEpoch());
    }

    void showsLocalTime()
    {
        const QDateTime utc(QDate(2026, 12, 8), QTime(1, 59, 29), Qt::UTC);
        QCOMPARE(localDateText(utc), utc.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm")));
        qputenv("TZ", "Asia/Tokyo");
        tzset();
        QCOMPARE(localDateText(utc), QStringLiteral("2026/12/08 10:59"));
    }
};

QTEST_MAIN(TestMailDate)
#include "tst_maildate.moc"
