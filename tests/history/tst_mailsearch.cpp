// The mail search: finding mail of both stores as written by the record codec,
// and handing a hit to the history window.
#include "HistoryFixtures.h"

#include "common/AppState.h"
#include "common/MailDate.h"
#include "history/MailSearch.h"
#include "history/SearchForm.h"
#include "storage/Cp932.h"
#include "storage/MailFields.h"
#include "storage/RecordFile.h"
#include "support/FindControl.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTextEdit>
#include <QtTest>

using namespace kestra;
using kestra::test::findControl;

namespace {

// Received: sender, date, subject, body. Sent: date, recipient, subject, body.
QList<MailRecord> receivedStore()
{
    return {
        test::mail(QStringLiteral("春の打ち合わせ"), QStringLiteral("yamada@example.jp"),
                   QStringLiteral("Tue, 8 Dec 2026 10:00:00 +0900"), QStringLiteral("会議は三時からです。")),
        test::mail(QStringLiteral("ｶﾀｶﾅのお知らせ ﾊﾟｿｺﾝ"), QStringLiteral("news@example.com"),
                   QStringLiteral("9 Dec 2026 09:00 GMT"), QStringLiteral("ＫＥＳＴＲＡ　ニュース第①号")),
        test::mail(QStringLiteral("㈱髙橋商事より"), QStringLiteral("Takahashi <sales@takahashi.example>"),
                   QStringLiteral("いつか"), QStringLiteral("﨑さんへ　請求書を送ります。")),
    };
}

QList<MailRecord> sentStore()
{
    return {
        test::mail(QStringLiteral("Re: 春の打ち合わせ"), QStringLiteral("2026/12/08 11:00:00"),
                   QStringLiteral("yamada@example.jp"), QStringLiteral("パソコンを持って行きます。")),
    };
}

} // namespace

class TestMailSearch : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_folder;
    std::unique_ptr<test::FakePrompt> m_prompt;
    std::unique_ptr<QWidget> m_main;

    QString received() const { return m_folder->dataFile(QStringLiteral("kstdata2.data")); }
    QString sent() const { return m_folder->dataFile(QStringLiteral("kstdata5.data")); }

    void writeStores()
    {
        test::writeBytes(received(), test::storeBytes(receivedStore()));
        test::writeBytes(sent(), test::storeBytes(sentStore()));
    }

    // Types into the widget that has the focus, as the keyboard does.
    static void type(const QString &text)
    {
        for (QChar c : text)
            QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown, QString(c), {});
    }

    static SearchForm *waitForHits(int hits)
    {
        SearchForm *f = loadedForm<SearchForm>();
        if (!f)
            return nullptr;
        const QString expected = QString::number(hits) + QStringLiteral(" 件");
        if (!QTest::qWaitFor([&] { return findControl<QLabel>(f, "Label1")->text() == expected; }, 10000))
            qWarning() << "hits shown:" << findControl<QLabel>(f, "Label1")->text();
        return f;
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
        m_main = std::make_unique<QWidget>();
        mainWindowSlot() = m_main.get();
        writeStores();
    }
    void cleanup()
    {
        unloadForm<SearchForm>();
        test::unloadHistory();
        QCOMPARE(m_prompt->unexpected(), 0);
        m_main.reset();
        m_prompt.reset();
        m_folder.reset();
    }

    // Each query against the mails it finds: "r2" = received record 2, "s1" = sent record 1.
    void findsAcrossWidthCaseAndStores_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("hits");
        const auto row = [](const char *name, const char16_t *query, QStringList hits) {
            QTest::newRow(name) << QString::fromUtf16(query) << hits;
        };
        row("subject in both stores", u"打ち合わせ", {"r1", "s1"});
        row("sender of received mail", u"YAMADA@", {"r1", "s1"});
        row("body", u"三時", {"r1"});
        row("full-width latin by ascii", u"kestra", {"r2"});
        row("ascii by full-width latin", u"ｙａｍａｄａ", {"r1", "s1"});
        row("half-width kana by full-width", u"カタカナ", {"r2"});
        row("full-width kana by half-width voiced", u"ﾊﾟｿｺﾝ", {"r2", "s1"});
        row("extension characters", u"㈱髙橋", {"r3"});
        row("extension kanji in body", u"﨑さん", {"r3"});
        row("circled digit", u"第①号", {"r2"});
        row("ideographic space separates words", u"請求書　﨑", {"r3"});
        row("every word must occur", u"春 パソコン", {"s1"});
        row("no hit", u"存在しない", {});
        row("blanks only", u"　 ", {});
    }
    void findsAcrossWidthCaseAndStores()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, hits);
        Result<std::shared_ptr<const MailSearchIndex>> index = MailSearchIndex::build(received(), sent());
        QVERIFY(index.ok());
        std::optional<QList<int>> found = index.value()->search(searchWords(query));
        QVERIFY(found);
        QStringList names;
        for (int i : *found) {
            const SearchEntry &e = index.value()->entry(i);
            names << (e.historyMode == 1 ? QStringLiteral("r") : QStringLiteral("s")) + QString::number(e.number);
        }
        names.sort();
        QCOMPARE(names, hits);
        // Narrowing the hits of a shorter query gives the same answer.
        const QStringList words = searchWords(query);
        if (!words.isEmpty() && words.first().size() > 1) {
            const QStringList shorter = {words.first().left(1)};
            QVERIFY(refines(words, shorter));
            std::optional<QList<int>> wide = index.value()->search(shorter);
            std::optional<QList<int>> narrowed = index.value()->search(words, &*wide);
            QCOMPARE(*narrowed, *found);
        }
    }

    // The index keeps its texts as bytes in which a character takes one to
    // three bytes; the bytes of two neighbours can spell a third character. A
    // search finds a word exactly where the folded text holds it as characters.
    void byteSearchAgreesWithCharacterSearch()
    {
        // Every character of code page 932 rows 0x81..0x84 and 0x88..0x8A
        // (signs, kana, Greek, Cyrillic, kanji), some half-width kana, and a
        // character code page 932 has no code for.
        QStringList characters;
        for (int lead : {0x81, 0x82, 0x83, 0x84, 0x88, 0x89, 0x8A}) {
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                const char pair[2] = {char(lead), char(trail)};
                const QString c = cp932::decode(QByteArrayView(pair, 2));
                if (c.size() == 1 && c != QStringLiteral("\uFFFD") && c != QStringLiteral(" "))
                    characters << c;
            }
        }
        characters << QStringLiteral("ｶﾞ") << QStringLiteral("ﾊﾟ") << QStringLiteral("ｱ") << QStringLiteral("ä");
        // Bodies of alternate characters in two orders, Latin words between some.
        QString forward;
        QString backward;
        for (qsizetype i = 0; i < characters.size(); i += 2) {
            if (forward.size() < 2500)
                forward += characters.at(i) + (i % 40 == 0 ? QStringLiteral("ab ") : QString());
            if (backward.size() < 2500)
                backward += characters.at(characters.size() - 1 - i);
        }
        const QList<MailRecord> records = {
            test::mail(QStringLiteral("一"), QStringLiteral("a@example.jp"), {}, forward),
            test::mail(QStringLiteral("二"), QStringLiteral("b@example.jp"), {}, backward),
            test::mail(QStringLiteral("三"), QStringLiteral("c@example.jp"), {}, {}),
        };
        QByteArray store = test::storeBytes(records);
        // The third body as bytes: voiced marks after half-width and
        // full-width kana and alone, bytes that are no character, a lead
        // byte before a byte that cannot follow it, and one cut off at the end.
        const QByteArray raw("\xDE\xB6\xDE\xCA\xDF\x83\x4A\x81\x4A\x83\x45\x81\x4A\x81\x4B AB\x80\xA0\xFD"
                             "\x85\x20\x85\x40\xEB\x40x\x88");
        store.replace(2 * MailRecord::kLength + MailRecord::kHeadersLength, raw.size(), raw);
        test::writeBytes(received(), store);
        test::writeBytes(sent(), {});
        Result<std::shared_ptr<const MailSearchIndex>> index = MailSearchIndex::build(received(), sent());
        QVERIFY(index.ok());
        QCOMPARE(index.value()->size(), 3);
        QStringList folded;
        for (int i = 0; i < 3; ++i) {
            // As stored: "ä" has no code and is kept as "?".
            const MailFields f =
                mailFields(MailRecord::decode(QByteArrayView(store).sliced(i * MailRecord::kLength, MailRecord::kLength)), 1);
            folded << foldForSearch(f.address + u'\n' + f.subject + u'\n' + f.body);
        }

        int found = 0;
        const auto check = [&](const QString &query) {
            const QStringList words = searchWords(query);
            QList<int> expected;
            for (int i = 0; i < 3 && !words.isEmpty(); ++i) {
                if (std::all_of(words.begin(), words.end(), [&](const QString &w) { return folded.at(i).contains(w); }))
                    expected << i;
            }
            const std::optional<QList<int>> hits = index.value()->search(words);
            QVERIFY(hits);
            if (*hits != expected)
                qWarning() << "query" << query << "found" << *hits << "expected" << expected;
            QCOMPARE(*hits, expected);
            found += int(expected.size());
        };
        for (qsizetype i = 0; i < characters.size(); ++i) {
            check(characters.at(i));
            if (QTest::currentTestFailed())
                return;
            // Two characters, both found alone, that do not stand together.
            check(characters.at(i) + characters.at((i * 7 + 3) % characters.size()));
            if (QTest::currentTestFailed())
                return;
        }
        // What the bytes of the third body fold to.
        for (const char16_t *word : {u"゛ガパガヴ゜ ab", u"\uFFFD", u"ab\uFFFD\uFFFD\uFFFD\uFFFD",
                                    u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFDx", u"゛", u"゜", u"x ", u"゛ｶﾞ"})
            check(QString::fromUtf16(word));
        QCOMPARE(index.value()->search(searchWords(u"゛ガパガヴ゜"))->size(), 1);
        // Words of two and more bytes that do occur.
        check(forward.mid(100, 3));
        check(backward.mid(7, 2) + u' ' + forward.mid(40, 1));
        QVERIFY(found > characters.size() / 2);
    }

    // The index codes a body straight from its bytes, with shortcuts for runs
    // of ASCII and for the padding; over bodies of every kind of byte it must
    // give what decoding, trimming and folding the body gives.
    void bodyCodeAgreesWithDecodedFold()
    {
        QRandomGenerator rng(932);
        const auto pick = [&](QByteArrayView from) { return from[rng.bounded(int(from.size()))]; };
        const QByteArray ascii("AZaz09 @.-_~\\\r\n\tKESTRAmailQ");
        const QByteArray leads("\x81\x82\x83\x84\x87\x88\x8A\x9F\xE0\xEA\xED\xEE\xFA\xFC");
        const QByteArray loose("\x80\xA0\xFD\xFE\xFF\x7F\x01");
        for (int round = 0; round < 3000; ++round) {
            QByteArray body(qsizetype(rng.bounded(4)), ' ');
            const int pieces = int(rng.bounded(60));
            for (int piece = 0; piece < pieces; ++piece) {
                const int n = 1 + int(rng.bounded(20));
                switch (rng.bounded(7)) {
                case 0: // ASCII runs, upper and lower case, across eight-byte steps
                    for (int k = 0; k < n; ++k)
                        body += pick(ascii);
                    break;
                case 1: // double-byte characters, some with a byte that cannot follow
                    for (int k = 0; k < n; ++k)
                        body += pick(leads) + QByteArray(1, char(0x30 + rng.bounded(0xD0)));
                    break;
                case 2: // full-width capitals and digits
                    for (int k = 0; k < n; ++k)
                        body += QByteArray("\x82") + char(0x4F + rng.bounded(0x2B));
                    break;
                case 3: // half-width kana with voiced marks, and full-width kana before them
                    for (int k = 0; k < n; ++k)
                        body += rng.bounded(3) ? char(0xA1 + rng.bounded(0x3F)) : pick("\xDE\xDF\x83");
                    break;
                case 4:
                    body += QByteArray(n * int(rng.bounded(8)), ' ');
                    break;
                case 5:
                    body += pick(loose);
                    break;
                default: // a lead byte alone, maybe the last byte of the body
                    body += pick(leads);
                    break;
                }
            }
            body.truncate(MailRecord::kBodyWidth);
            const QByteArray field = body + QByteArray(MailRecord::kBodyWidth - body.size(), ' ');
            QByteArray record = test::mail(QStringLiteral("s"), QStringLiteral("a"), {}, {}).encode();
            record.replace(MailRecord::kHeadersLength, MailRecord::kBodyWidth, field);
            const QString decoded = mailFields(MailRecord::decode(record), 1).body;
            const QByteArray expected = searchCode(foldForSearch(decoded));
            if (bodySearchCode(field) != expected)
                qWarning() << "body" << body.toHex(' ');
            QCOMPARE(bodySearchCode(field), expected);
        }
    }

    // The sent store's dates are local time. The index reads the common form
    // itself, with one offset per day; it must give what parseLocalDate gives,
    // also on the days a zone with summer time changes its offset. (Which of
    // its two instants the hour that occurs twice is taken as is the system's
    // choice and may change from call to call, so it is not among these.)
    void sentDatesAreReadAsLocalTime_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::newRow("system zone") << QByteArray();
        QTest::newRow("summer time") << QByteArray("Europe/Berlin");
        QTest::newRow("no summer time") << QByteArray("Asia/Tokyo");
    }
    void sentDatesAreReadAsLocalTime()
    {
        QFETCH(QByteArray, zone);
        // The zone is the test's own until it returns.
        struct ZoneOfTest {
            const std::optional<QByteArray> saved =
                qEnvironmentVariableIsSet("TZ") ? std::optional(qgetenv("TZ")) : std::nullopt;
            explicit ZoneOfTest(const QByteArray &zone)
            {
                if (!zone.isEmpty())
                    qputenv("TZ", zone);
                tzset();
            }
            ~ZoneOfTest()
            {
                if (saved)
                    qputenv("TZ", *saved);
                else
                    qunsetenv("TZ");
                tzset();
            }
        } zoneOfTest(zone);
        const QStringList dates = {
            QStringLiteral("2026/12/08 11:00:00"), QStringLiteral("2026/12/08 23:59:59"),
            QStringLiteral("2026-12-08 00:00:00"), QStringLiteral("2026/03/29 01:59:59"),
            QStringLiteral("2026/03/29 02:30:00"), QStringLiteral("2026/03/29 03:00:00"),
            QStringLiteral("2026/10/25 01:30:00"), QStringLiteral("2026/10/25 12:00:00"),
            QStringLiteral("2026/02/30 10:00:00"), QStringLiteral("2026/12/08 24:00:00"),
            QStringLiteral("2026/1/8 9:05:00"),    QStringLiteral("2026/12/08 11:00"),
            QStringLiteral("２０２６/12/08 11:00:00"), QStringLiteral("Tue, 8 Dec 2026 10:00:00 +0900"),
            QStringLiteral("いつか"),
        };
        QList<MailRecord> records;
        QList<qint64> expected;
        for (const QString &date : dates) {
            records << test::mail(QStringLiteral("件名"), date, QStringLiteral("a@example.jp"), {});
            const QDateTime when = parseLocalDate(date);
            expected << (when.isValid() ? when.toMSecsSinceEpoch() : SearchEntry::kNoDate);
        }
        test::writeBytes(sent(), test::storeBytes(records));
        Result<std::shared_ptr<const MailSearchIndex>> index = MailSearchIndex::build(received(), sent());
        QVERIFY(index.ok());
        QCOMPARE(index.value()->size(), int(receivedStore().size() + dates.size()));
        int dated = 0;
        for (int i = 0; i < int(dates.size()); ++i) {
            const SearchEntry &e = index.value()->entry(int(receivedStore().size()) + i);
            QCOMPARE(e.dateText, dates.at(i));
            if (e.when != expected.at(i))
                qWarning() << "date" << dates.at(i);
            QCOMPARE(e.when, expected.at(i));
            dated += e.hasDate() ? 1 : 0;
        }
        QVERIFY(dated >= 10);
    }

    // Each store is read in two halves: the entries keep their record numbers
    // and their order, across a marked record, a torn one at the end and a
    // store too small to halve.
    void storesReadInHalvesKeepRecordOrder()
    {
        QList<MailRecord> records;
        for (int i = 1; i <= 7; ++i) {
            const QString n = QString::number(i);
            records << test::mail(QStringLiteral("件名") + n, QStringLiteral("r") + n + QStringLiteral("@example.jp"), {},
                                  QStringLiteral("共通 番号") + n + QStringLiteral("号"));
        }
        records[3].Live = 0;
        test::writeBytes(received(), test::storeBytes(records) + records[0].encode().left(MailRecord::kLength / 2));
        test::writeBytes(sent(), test::storeBytes({test::mail(QStringLiteral("送信"), {}, {}, QStringLiteral("共通"))}));
        Result<std::shared_ptr<const MailSearchIndex>> index = MailSearchIndex::build(received(), sent());
        QVERIFY(index.ok());
        QStringList listed;
        for (int i = 0; i < index.value()->size(); ++i) {
            const SearchEntry &e = index.value()->entry(i);
            listed << (e.historyMode == 1 ? QStringLiteral("r") : QStringLiteral("s")) + QString::number(e.number);
        }
        QCOMPARE(listed, QStringList({"r1", "r2", "r3", "r5", "r6", "r7", "s1"}));
        const QList<int> all = *index.value()->search(searchWords(u"共通"));
        QCOMPARE(all, QList<int>({0, 1, 2, 3, 4, 5, 6}));
        // Each record's words, found together in it alone: by one pass and
        // the other word looked up in the hit, and record by record.
        for (int i = 1; i <= 7; ++i) {
            const QString n = QString::number(i);
            const QStringList words = {QStringLiteral("番号") + n + QStringLiteral("号"), QStringLiteral("r") + n + u'@'};
            const std::optional<QList<int>> hits = index.value()->search(words);
            QCOMPARE(hits->size(), i == 4 ? 0 : 1);
            QCOMPARE(*index.value()->search(words, &all), *hits);
            if (i != 4)
                QCOMPARE(index.value()->entry(hits->first()).number, i);
        }
    }

    void staleIndexIsReadAgain()
    {
        MailSearchCache cache;
        auto first = cache.current(received(), sent());
        QVERIFY(first.ok());
        QCOMPARE(first.value()->size(), 4);
        QVERIFY(appendRecord(sent(), MailRecord::kLength, test::mail(QStringLiteral("追加"), {}, {}, {}).encode()));
        QVERIFY(!first.value()->isCurrent());
        auto second = cache.current(received(), sent());
        QCOMPARE(second.value()->size(), 5);
        QCOMPARE(second.value()->search(searchWords(u"追加"))->size(), 1);
        // A search told to stop gives no result rather than a partial one.
        QVERIFY(!second.value()->search(searchWords(u"e"), nullptr, [] { return true; }));
    }

    // Ctrl+F in the history list, typing, sorting, and a double-click that shows the mail.
    void hitOpensInTheHistoryWindow()
    {
        openHistoryWindow(1);
        TyakuForm *history = loadedForm<TyakuForm>();
        QVERIFY(QTest::qWaitForWindowActive(history));
        findControl<HistoryListBox>(history, "List1")->setFocus();
        QCOMPARE(QApplication::focusWidget(), findControl<HistoryListBox>(history, "List1"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
        SearchForm *f = loadedForm<SearchForm>();
        QVERIFY(f);
        QCOMPARE(f->windowTitle(), QStringLiteral("メール検索"));
        QVERIFY(QTest::qWaitForWindowActive(f));
        QCOMPARE(QApplication::focusWidget(), findControl<QLineEdit>(f, "Text1"));

        type(QStringLiteral("yamada"));
        QVERIFY(waitForHits(2));
        // Newest first: the reply sent at 11:00 local, then the mail of 10:00 +0900.
        const QDateTime receivedAt(QDate(2026, 12, 8), QTime(1, 0), Qt::UTC);
        QCOMPARE(
            findControl<SearchResultModel>(f, "model")
                ->data(findControl<SearchResultModel>(f, "model")->index(0, ColumnStore), Qt::DisplayRole)
                .toString(),
            QStringLiteral("送信"));
        QCOMPARE(findControl<SearchResultModel>(f, "model")
                     ->data(findControl<SearchResultModel>(f, "model")->index(1, ColumnDate), Qt::DisplayRole)
                     .toString(),
            receivedAt.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm")));
        QCOMPARE(
            findControl<SearchResultModel>(f, "model")
                ->data(findControl<SearchResultModel>(f, "model")->index(1, ColumnAddress), Qt::DisplayRole)
                .toString(),
            QStringLiteral("yamada@example.jp"));

        // Clicks on the 件名 header sort by subject, each click the other way round.
        QHeaderView *header = findControl<QTableView>(f, "Grid1")->horizontalHeader();
        const QPoint title(header->sectionViewportPosition(ColumnSubject) + 5, header->height() / 2);
        for (int click = 0; click < 2; ++click) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
            QCOMPARE(findControl<SearchResultModel>(f, "model")->sortColumn(), int(ColumnSubject));
            const bool ascending
                = findControl<SearchResultModel>(f, "model")->sortOrder() == Qt::AscendingOrder;
            QCOMPARE(findControl<SearchResultModel>(f, "model")
                         ->data(findControl<SearchResultModel>(f, "model")->index(0, ColumnSubject),
                             Qt::DisplayRole)
                         .toString(),
                ascending ? QStringLiteral("Re: 春の打ち合わせ") : QStringLiteral("春の打ち合わせ"));
        }
        if (findControl<SearchResultModel>(f, "model")->sortOrder() == Qt::AscendingOrder)
            findControl<SearchResultModel>(f, "model")->sort(ColumnSubject, Qt::DescendingOrder);

        const QPoint cell
            = findControl<QTableView>(f, "Grid1")
                  ->visualRect(findControl<SearchResultModel>(f, "model")->index(0, ColumnSubject))
                  .center();
        QTest::mouseClick(findControl<QTableView>(f, "Grid1")->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(findControl<QTableView>(f, "Grid1")->viewport(), Qt::LeftButton, {}, cell);
        QCOMPARE(history->windowTitle(), QStringLiteral("着信履歴"));
        QCOMPARE(history->selectedRow(), 0);
        QCOMPARE(findControl<QLineEdit>(history, "Text9")->text(), QStringLiteral("春の打ち合わせ"));
        QCOMPARE(
            findControl<QTextEdit>(history, "rtfEd")->toPlainText(), QStringLiteral("会議は三時からです。"));
        QCOMPARE(m_prompt->shown().size(), 0);
    }

    void enterOpensSentMailAndUnreadableDatesStayText()
    {
        openSearchWindow();
        SearchForm *f = loadedForm<SearchForm>();
        QVERIFY(QTest::qWaitForWindowActive(f));
        type(QStringLiteral("ﾊﾟｿｺﾝ"));
        QVERIFY(waitForHits(2));
        type(QStringLiteral("を"));
        QVERIFY(waitForHits(1));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), findControl<QTableView>(f, "Grid1"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        TyakuForm *history = loadedForm<TyakuForm>();
        QVERIFY(history);
        QCOMPARE(history->windowTitle(), QStringLiteral("送信履歴"));
        QCOMPARE(history->selectedRow(), 0);
        QCOMPARE(findControl<QLineEdit>(history, "Text8")->text(), QStringLiteral("yamada@example.jp"));

        f->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f));
        QTest::mouseClick(findControl<QLineEdit>(f, "Text1"), Qt::LeftButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
        QCOMPARE(findControl<QLineEdit>(f, "Text1")->text(), QString());
        QCOMPARE(findControl<SearchResultModel>(f, "model")->rowCount(), 0);
        type(QStringLiteral("髙橋"));
        QVERIFY(waitForHits(1));
        QCOMPARE(findControl<SearchResultModel>(f, "model")
                     ->data(findControl<SearchResultModel>(f, "model")->index(0, ColumnDate), Qt::DisplayRole)
                     .toString(),
            QStringLiteral("いつか"));
    }

    // Esc closes the window from the box, with words typed, and from the table;
    // the words are only a search, so nothing is asked.
    void escapeCloses()
    {
        for (const bool fromTable : {false, true}) {
            openSearchWindow();
            SearchForm *f = loadedForm<SearchForm>();
            QVERIFY(QTest::qWaitForWindowActive(f));
            type(QStringLiteral("ﾊﾟｿｺﾝ"));
            QVERIFY(waitForHits(2));
            if (fromTable)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
            QCOMPARE(QApplication::focusWidget(),
                     fromTable ? static_cast<QWidget *>(findControl<QTableView>(f, "Grid1"))
                               : findControl<QLineEdit>(f, "Text1"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(!loadedForm<SearchForm>());
        }
    }

    // A record left marked by a failed compaction is neither found nor listed;
    // the hits after it still open on their own line.
    void markedRecordIsSkipped()
    {
        QList<MailRecord> records = receivedStore();
        records[0].Live = 0;
        test::writeBytes(received(), test::storeBytes(records));
        openSearchWindow();
        SearchForm *f = loadedForm<SearchForm>();
        QVERIFY(QTest::qWaitForWindowActive(f));
        type(QStringLiteral("example"));
        QVERIFY(waitForHits(3)); // received 2 and 3, sent 1
        type(QStringLiteral(".com"));
        QVERIFY(waitForHits(1));
        QCOMPARE(findControl<SearchResultModel>(f, "model")->entryAt(0).number, 2);
        f->OpenResult(0);
        TyakuForm *history = loadedForm<TyakuForm>();
        QCOMPARE(history->selectedRow(), 0);
        QCOMPARE(findControl<QLineEdit>(history, "Text8")->text(), QStringLiteral("news@example.com"));
    }

    void changedStoreIsSearchedAgainBeforeOpening()
    {
        openSearchWindow();
        SearchForm *f = loadedForm<SearchForm>();
        QVERIFY(QTest::qWaitForWindowActive(f));
        type(QStringLiteral("kestra"));
        QVERIFY(waitForHits(1));
        // Record 1 deleted elsewhere: the hit is now record 1, not 2.
        QList<MailRecord> rest = receivedStore();
        rest.removeFirst();
        test::writeBytes(received(), test::storeBytes(rest));
        m_prompt->answer(PromptAnswer::Ok);
        f->OpenResult(0);
        QCOMPARE(m_prompt->texts(),
                 QStringList{QStringLiteral("検索の後でメールが変わりました。検索し直しますので、もう一度選んで下さい。")});
        QVERIFY(!loadedForm<TyakuForm>());
        QVERIFY(waitForHits(1));
        QCOMPARE(findControl<SearchResultModel>(f, "model")->entryAt(0).number, 1);
        f->OpenResult(0);
        QCOMPARE(loadedForm<TyakuForm>()->selectedRow(), 0);
        QCOMPARE(findControl<QLineEdit>(loadedForm<TyakuForm>(), "Text9")->text(),
            QStringLiteral("ｶﾀｶﾅのお知らせ ﾊﾟｿｺﾝ"));
    }
};

QTEST_MAIN(TestMailSearch)
#include "tst_mailsearch.moc"
