// Code page 932 and the record shapes, byte for byte against hand-made bytes.
#include "storage/Cp932.h"
#include "storage/MailFields.h"
#include "storage/Records.h"

#include <QtTest>

using namespace kestra;

namespace {
QByteArray blanks(int n)
{
    return QByteArray(n, ' ');
}
QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}
} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void encodesMicrosoftCodes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("kanji") << QStringLiteral("件名") << hex("8c8f96bc");
        QTest::newRow("ascii and backslash") << QStringLiteral("a\\~") << QByteArray("a\\~");
        QTest::newRow("halfwidth katakana") << QStringLiteral("ｱｲ") << hex("b1b2");
        QTest::newRow("ideographic space") << QStringLiteral("　") << hex("8140");
        QTest::newRow("wave dash") << QStringLiteral("〜") << hex("8160");
        QTest::newRow("fullwidth tilde") << QStringLiteral("～") << hex("8160");
        QTest::newRow("circled digit") << QStringLiteral("①⑳") << hex("87408753");
        QTest::newRow("roman numeral") << QStringLiteral("Ⅰ") << hex("8754");
        QTest::newRow("kabushiki") << QStringLiteral("㈱") << hex("878a");
        QTest::newRow("minus sign") << QStringLiteral("−") << hex("817c");
        QTest::newRow("IBM extension preferred") << QString(QChar(0x7E8A)) << hex("fa5c");
        QTest::newRow("chinese only") << QStringLiteral("简a") << QByteArray("?a");
        QTest::newRow("emoji is one ?") << QStringLiteral("x😀y") << QByteArray("x?y");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << QByteArray("?");
        QTest::newRow("euro sign") << QStringLiteral("€") << QByteArray("?");
    }
    void encodesMicrosoftCodes()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(cp932::encode(text), bytes);
    }

    void decodesEveryValidCode()
    {
        // Every double-byte code iconv knows decodes to a real character that
        // encodes back to a code of the same character.
        int valid = 0;
        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            if (!cp932::isLeadByte(uchar(lead)))
                continue;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                if (trail == 0x7F)
                    continue;
                const char pair[2] = {char(lead), char(trail)};
                const QByteArray code(pair, 2);
                const QString text = cp932::decode(code);
                QCOMPARE(text.size(), 1);
                if (text.at(0) == QChar(0xFFFD))
                    continue;
                ++valid;
                QCOMPARE(cp932::decode(cp932::encode(text)), text);
            }
        }
        QVERIFY2(valid > 7800, qPrintable(QString::number(valid)));
        QCOMPARE(cp932::decode(hex("8160")), QStringLiteral("～"));
        QCOMPARE(cp932::decode(hex("ed40")), QString(QChar(0x7E8A)));
    }

    void decodesBrokenBytesWithoutCrashing()
    {
        QCOMPARE(cp932::decode(hex("41 82")), QStringLiteral("A "));   // cut pair at the end
        QCOMPARE(cp932::decode(hex("82 0a")), QStringLiteral("\uFFFD\n")); // lead without trail
        QCOMPARE(cp932::decode(hex("80 a0 fd")).size(), 3);
        QCOMPARE(cp932::decodeField(hex("41 82")), QStringLiteral("A "));
        QCOMPARE(cp932::decodeField(hex("82a0")), QStringLiteral("あ ")); // padded to 2 characters
    }

    void fieldsNeverEndInALoneLeadByte_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("padded") << QStringLiteral("ab") << 4 << QByteArray("ab  ");
        QTest::newRow("cut in characters") << QStringLiteral("abcdef") << 4 << QByteArray("abcd");
        QTest::newRow("double-byte fits") << QStringLiteral("あい") << 4 << hex("82a082a2");
        QTest::newRow("double-byte loses padding") << QStringLiteral("あ") << 2 << hex("82a0");
        QTest::newRow("cut inside a pair") << QStringLiteral("aあ") << 2 << QByteArray("a ");
        QTest::newRow("cut inside the last pair") << QStringLiteral("あいう") << 5 << (hex("82a082a2") + " ");
        QTest::newRow("unencodable counts one byte") << QStringLiteral("😀") << 3 << QByteArray("?  ");
    }
    void fieldsNeverEndInALoneLeadByte()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QByteArray, bytes);
        QCOMPARE(cp932::encodeField(text, width), bytes);
    }

    void mailRecordLayout()
    {
        MailRecord r;
        r.Subject = QStringLiteral("件名");
        r.Header2 = QStringLiteral("from@example.jp");
        r.Header3 = QStringLiteral("Mon, 1 Jan 2024");
        r.Body = QStringLiteral("本文①");
        r.Live = 1;
        QByteArray expected = hex("8c8f96bc") + blanks(96);
        expected += "from@example.jp" + blanks(90 - 15);
        expected += "Mon, 1 Jan 2024" + blanks(90 - 15);
        expected += hex("967b95b68740") + blanks(12000 - 6);
        expected += "\r\n";
        expected += hex("0100");
        const QByteArray bytes = r.encode();
        QCOMPARE(bytes.size(), MailRecord::kLength);
        QCOMPARE(bytes, expected);

        const MailRecord back = MailRecord::decode(bytes);
        QCOMPARE(back.Subject.size(), 100);
        QCOMPARE(back.Subject, QStringLiteral("件名") + QString(98, u' '));
        QCOMPARE(back.Body.left(4), QStringLiteral("本文① "));
        QCOMPARE(back.Body.size(), 12000);
        QCOMPARE(back.Live, qint16(1));
        QCOMPARE(back.LineEnd, QStringLiteral("\r\n"));
        const MailRecord headers = MailRecord::decodeHeaders(bytes);
        QCOMPARE(headers.Header3, back.Header3);
        QVERIFY(headers.Body.isEmpty());
    }

    void longDoubleByteBodyKeepsHalfItsCharacters()
    {
        MailRecord r;
        r.Body = QString(12000, QChar(0x3042)); // あ x 12000
        const MailRecord back = MailRecord::decode(r.encode());
        QCOMPARE(back.Body.left(6000), QString(6000, QChar(0x3042)));
        QCOMPARE(back.Body.mid(6000), QString(6000, u' '));
    }

    void liveIsSigned16BitLittleEndian()
    {
        MailRecord r;
        r.Live = 0;
        QCOMPARE(r.encode().right(2), hex("0000"));
        r.Live = -2;
        QCOMPARE(r.encode().right(2), hex("feff"));
        QCOMPARE(MailRecord::decode(r.encode()).Live, qint16(-2));
        r.Live = 258;
        QCOMPARE(r.encode().right(2), hex("0201"));
    }

    void addressRecordLayout()
    {
        AddressRecord r;
        r.Name = QString(30, QChar(0x5C71)); // 山 x 30 fills the 60 bytes exactly
        r.Address = QStringLiteral("taro@example.jp");
        const QByteArray bytes = r.encode();
        QCOMPARE(bytes.size(), 124);
        QCOMPARE(bytes.left(60), hex("8e52").repeated(30));
        QCOMPARE(bytes.mid(60, 4), QByteArray("\r\n\x01\x00", 4));
        QCOMPARE(bytes.mid(64), "taro@example.jp" + blanks(45));

        AddressRecord two;
        two.Name = QStringLiteral("山田") + QString(28, QChar(0x3000));
        QCOMPARE(two.encode().left(60), hex("8e52 9363") + hex("8140").repeated(28));
        QCOMPARE(AddressRecord::decode(bytes).Address.left(15), QStringLiteral("taro@example.jp"));
        QCOMPARE(AddressRecord::decode(bytes).Live, qint16(1));
    }

    void favouriteRecordLayout()
    {
        FavouriteRecord r;
        r.Url = QStringLiteral("https://example.com/");
        const QByteArray bytes = r.encode();
        QCOMPARE(bytes.size(), 404);
        QCOMPARE(bytes.left(200), blanks(200));
        QCOMPARE(bytes.mid(200, 4), QByteArray("\r\n\x01\x00", 4));
        QCOMPARE(bytes.mid(204, 20), QByteArray("https://example.com/"));
        QCOMPARE(FavouriteRecord::decode(bytes).Url, r.Url + QString(180, u' '));
    }

    void shortRecordsReadAsBlanks()
    {
        const MailRecord r = MailRecord::decode(QByteArray("abc"));
        QCOMPARE(r.Subject, QStringLiteral("abc") + QString(97, u' '));
        QCOMPARE(r.Body, QString(12000, u' '));
        QCOMPARE(r.Live, qint16(0));
    }

    void historyFieldsAreCrossedBetweenStores()
    {
        MailRecord r;
        r.Subject = QStringLiteral("  件名 ");
        r.Header2 = QStringLiteral("A");
        r.Header3 = QStringLiteral("B");
        r.Body = QStringLiteral(" 本文\r\n ");
        const MailRecord stored = MailRecord::decode(r.encode());
        const MailFields received = mailFields(stored, 1);
        QCOMPARE(received.address, QStringLiteral("A"));
        QCOMPARE(received.date, QStringLiteral("B"));
        QCOMPARE(received.subject, QStringLiteral("件名"));
        QCOMPARE(received.body, QStringLiteral("本文\r\n"));
        const MailFields sent = mailFields(stored, 2);
        QCOMPARE(sent.date, QStringLiteral("A"));
        QCOMPARE(sent.address, QStringLiteral("B"));
    }

    void historyLinePadsTheAddressInCharacters()
    {
        QCOMPARE(HistoryLine({QStringLiteral("D"), QStringLiteral("abc"), QStringLiteral("S"), {}}),
                 QStringLiteral("D    abc") + QString(57, u'_') + QStringLiteral("    S"));
        const QString wide(20, QChar(0x3042));
        QCOMPARE(HistoryLine({QString(), wide, QString(), {}}),
                 QStringLiteral("    ") + wide + QString(40, u'_') + QStringLiteral("    "));
        const QString sixty(60, u'x');
        QCOMPARE(HistoryLine({QString(), sixty, QString(), {}}), QStringLiteral("    ") + sixty + QStringLiteral("    "));
        const QString sixtyOne(61, u'x');
        QCOMPARE(HistoryLine({QString(), sixtyOne, QString(), {}}),
                 QStringLiteral("    ") + sixtyOne + QStringLiteral("    "));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
