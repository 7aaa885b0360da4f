// Record files: numbering, reading and writing by number, compaction, limits and failures.
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "support/TestSupport.h"

#include <QtTest>

using namespace kestra;

namespace {

QByteArray addressBytes(const QString &name, qint16 live = 1)
{
    AddressRecord r;
    r.Name = name;
    r.Address = name + QStringLiteral("@example.jp");
    r.Live = live;
    return r.encode();
}

QByteArray mailBytes(int i, qint16 live = 1)
{
    MailRecord r;
    r.Subject = QStringLiteral("件名 %1").arg(i);
    r.Body = QStringLiteral("本文 %1").arg(i);
    r.Live = live;
    return r.encode();
}

QList<QByteArray> records(const QString &path, int length)
{
    QList<QByteArray> out;
    const Status s = scanRecords(path, length, [&](qint64, const QByteArray &b) {
        out.append(b);
        return true;
    });
    if (!s)
        qWarning("%s", qPrintable(s.error().message()));
    return out;
}

} // namespace

class TestRecordFile : public QObject
{
    Q_OBJECT

    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }
    QTemporaryDir m_dir;

private slots:
    void init()
    {
        for (const QString &f : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(path(f));
    }

    void appendNumberRoundsHalfToEven_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("expected");
        QTest::newRow("empty") << qint64(0) << 1;
        QTest::newRow("three records") << qint64(3 * 124) << 4;
        QTest::newRow("half record rounds to even") << qint64(3 * 124 + 62) << 4;
        QTest::newRow("more than half") << qint64(3 * 124 + 70) << 5;
        QTest::newRow("less than half") << qint64(3 * 124 + 10) << 4;
        QTest::newRow("last free number") << qint64(32766) * 124 << 32767;
    }
    void appendNumberRoundsHalfToEven()
    {
        QFETCH(qint64, size);
        QFETCH(int, expected);
        QFile f(path(QStringLiteral("a.data")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(size));
        f.close();
        const Result<qint16> n = AppendRecordNumber(f.fileName(), 124);
        QVERIFY(n.ok());
        QCOMPARE(int(n.value()), expected);
    }

    void missingFileNumbersFromOne()
    {
        const Result<qint16> n = AppendRecordNumber(path(QStringLiteral("none.data")), 124);
        QVERIFY(n.ok());
        QCOMPARE(int(n.value()), 1);
        QVERIFY(records(path(QStringLiteral("none.data")), 124).isEmpty());
    }

    void fullStoreRefusesAnotherRecord()
    {
        const QString p = path(QStringLiteral("full.data"));
        QFile f(p);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(qint64(32767) * 124));
        f.close();
        const Result<qint16> n = AppendRecordNumber(p, 124);
        QVERIFY(!n.ok());
        QCOMPARE(n.error().file, p);
        const Result<qint16> appended = appendRecord(p, 124, addressBytes(QStringLiteral("x")));
        QVERIFY(!appended.ok());
        QVERIFY(!appended.error().message().isEmpty());
        QCOMPARE(QFileInfo(p).size(), qint64(32767) * 124); // nothing wrapped or overwritten
        QCOMPARE(test::readBytes(p).left(124), QByteArray(124, '\0'));
    }

    void appendReadAndWriteByNumber()
    {
        const QString p = path(QStringLiteral("Kstdata20.data"));
        for (int i = 1; i <= 3; ++i) {
            const Result<qint16> n = appendRecord(p, 124, addressBytes(QString::number(i)));
            QVERIFY(n.ok());
            QCOMPARE(int(n.value()), i);
        }
        QCOMPARE(QFileInfo(p).size(), qint64(372));

        RecordFile file(p, 124);
        QVERIFY(file.open().ok());
        QCOMPARE(file.count(), qint64(3));
        QByteArray bytes;
        Result<bool> got = file.read(2, bytes);
        QVERIFY(got.ok() && got.value());
        QCOMPARE(bytes, addressBytes(QStringLiteral("2")));
        got = file.read(4, bytes);
        QVERIFY(got.ok() && !got.value()); // end of file
        QVERIFY(file.write(2, addressBytes(QStringLiteral("two"))).ok());
        QVERIFY(!file.write(2, QByteArray("short")).ok());
        QVERIFY(!file.write(0, addressBytes(QStringLiteral("zero"))).ok());
        file.close();
        const QList<QByteArray> all = records(p, 124);
        QCOMPARE(all.size(), 3);
        QCOMPARE(all[1], addressBytes(QStringLiteral("two")));
    }

    void tornTailIsNotARecord()
    {
        const QString p = path(QStringLiteral("torn.data"));
        test::writeBytes(p, addressBytes(QStringLiteral("a")) + QByteArray(50, 'x'));
        QCOMPARE(records(p, 124).size(), 1);
    }

    // A record cut short by a kill is dropped before the next append, whether
    // the next record number would round down over it or up past it.
    void appendAfterATornTailLeavesNoGap_data()
    {
        QTest::addColumn<int>("torn");
        QTest::newRow("one byte") << 1;
        QTest::newRow("below half") << 61;
        QTest::newRow("above half") << 63;
        QTest::newRow("all but one byte") << 123;
    }
    void appendAfterATornTailLeavesNoGap()
    {
        QFETCH(int, torn);
        const QString p = path(QStringLiteral("torn.data"));
        const QByteArray whole = addressBytes(QStringLiteral("a")) + addressBytes(QStringLiteral("b"));
        test::writeBytes(p, whole + addressBytes(QStringLiteral("cut")).left(torn));
        const Result<qint16> n = appendRecord(p, 124, addressBytes(QStringLiteral("c")));
        QVERIFY(n.ok());
        QCOMPARE(n.value(), qint16(3));
        QCOMPARE(test::readBytes(p), whole + addressBytes(QStringLiteral("c")));
    }

    void droppingATornTailKeepsWholeRecords()
    {
        const QString p = path(QStringLiteral("Kstdata2.data"));
        const QByteArray whole = mailBytes(1) + mailBytes(2);
        test::writeBytes(p, whole);
        RecordFile file(p, MailRecord::kLength);
        QVERIFY(!file.dropTornTail().ok()); // not open yet
        QVERIFY(file.open().ok());
        QVERIFY(file.dropTornTail().ok());
        QCOMPARE(test::readBytes(p), whole);
        file.close();
        test::writeBytes(p, whole + mailBytes(3).left(2000));
        QVERIFY(file.open().ok());
        QVERIFY(file.dropTornTail().ok());
        QCOMPARE(file.count(), 2);
        file.close();
        QCOMPARE(test::readBytes(p), whole);
    }

    void compactionKeepsLiveRecordsInOrder()
    {
        const QString p = path(QStringLiteral("Kstdata20.data"));
        const QString t = path(QStringLiteral("KSTDATA20.TMP"));
        for (int i = 1; i <= 3; ++i)
            QVERIFY(appendRecord(p, 124, addressBytes(QString::number(i))).ok());
        QVERIFY(markRecord(p, 124, 2).ok());
        QVERIFY(CompactStore(p, t, 124).ok());
        QCOMPARE(records(p, 124), (QList<QByteArray>{addressBytes(QStringLiteral("1")), addressBytes(QStringLiteral("3"))}));
        QVERIFY(!QFileInfo::exists(t));
    }

    void compactingTheOnlyRecordLeavesAnEmptyFile()
    {
        const QString p = path(QStringLiteral("kstdata2.data"));
        const QString t = path(QStringLiteral("KSTDATA2.TMP"));
        QVERIFY(appendRecord(p, MailRecord::kLength, mailBytes(1)).ok());
        QVERIFY(markRecord(p, MailRecord::kLength, 1).ok());
        QVERIFY(CompactStore(p, t, MailRecord::kLength).ok());
        QVERIFY(QFileInfo::exists(p));
        QCOMPARE(QFileInfo(p).size(), qint64(0));
        QVERIFY(!QFileInfo::exists(t));
    }

    void compactionCopiesBytesVerbatim()
    {
        // 0xED40 decodes to a character whose preferred code is 0xFA5C: a decode
        // and encode would change the stored bytes.
        QByteArray odd = addressBytes(QStringLiteral("x"));
        odd[0] = char(0xED);
        odd[1] = char(0x40);
        odd[2] = char(0x82); // and a lone lead byte from an old file
        odd[3] = ' ';
        const QString p = path(QStringLiteral("Kstdata20.data"));
        test::writeBytes(p, addressBytes(QStringLiteral("dead"), 0) + odd);
        QVERIFY(CompactStore(p, path(QStringLiteral("KSTDATA20.TMP")), 124).ok());
        QCOMPARE(test::readBytes(p), odd);
    }

    void staleTemporaryFileIsReplaced()
    {
        const QString p = path(QStringLiteral("Kstdata90.data"));
        const QString t = path(QStringLiteral("KSTDATA90.TMP"));
        test::writeBytes(t, QByteArray(999, 'z'));
        FavouriteRecord f;
        f.Url = QStringLiteral("a");
        test::writeBytes(p, f.encode());
        QVERIFY(CompactStore(p, t, 404).ok());
        QCOMPARE(test::readBytes(p), f.encode());
        QVERIFY(!QFileInfo::exists(t));
    }

    // Stops the compaction at every step, as a crash would, and checks that the
    // store on disk is always complete: the old records or the new ones.
    void interruptedCompactionNeverLosesRecords()
    {
        const QString p = path(QStringLiteral("kstdata5.data"));
        const QString t = path(QStringLiteral("KSTDATA5.TMP"));
        const int n = 800; // several read chunks
        QByteArray before;
        QByteArray after;
        for (int i = 1; i <= n; ++i) {
            const bool dead = i % 7 == 0 || i == 1 || i == n;
            before += mailBytes(i, dead ? 0 : 1);
            if (!dead)
                after += mailBytes(i);
        }

        // Count the steps of one full run.
        test::writeBytes(p, before);
        int steps = 0;
        StoreFaults counted;
        counted.compaction = [&](CompactionStep, qint64) {
            ++steps;
            return true;
        };
        QVERIFY(CompactStore(p, t, MailRecord::kLength, counted).ok());
        QCOMPARE(test::readBytes(p), after);
        QVERIFY(steps >= 5);

        for (int stopAt = 1; stopAt <= steps; ++stopAt) {
            test::writeBytes(p, before);
            int step = 0;
            StoreFaults dies;
            dies.compaction = [&](CompactionStep, qint64) { return ++step < stopAt; };
            QVERIFY(CompactStore(p, t, MailRecord::kLength, dies).ok());
            const QByteArray onDisk = test::readBytes(p);
            QVERIFY2(onDisk == before || onDisk == after, qPrintable(QStringLiteral("step %1").arg(stopAt)));
            // The next compaction after the "crash" finishes the job.
            QVERIFY(CompactStore(p, t, MailRecord::kLength).ok());
            QCOMPARE(test::readBytes(p), after);
            QVERIFY(!QFileInfo::exists(t));
        }
    }

    void failuresNameTheFileAndLeaveTheStore()
    {
        const QString missing = path(QStringLiteral("no-such-folder/Kstdata20.data"));
        const Status w = writeRecordAt(missing, 124, 1, addressBytes(QStringLiteral("a")));
        QVERIFY(!w.ok());
        QCOMPARE(w.error().file, missing);
        QVERIFY(!w.error().reason.isEmpty());
        QVERIFY(w.error().message().contains(QStringLiteral("Kstdata20.data")));

        const QString p = path(QStringLiteral("Kstdata20.data"));
        test::writeBytes(p, addressBytes(QStringLiteral("a"), 0) + addressBytes(QStringLiteral("b")));
        const QByteArray before = test::readBytes(p);
        const Status c = CompactStore(p, path(QStringLiteral("no-such-folder/KSTDATA20.TMP")), 124);
        QVERIFY(!c.ok());
        QCOMPARE(test::readBytes(p), before);
    }

    void scanStopsWhenAsked()
    {
        const QString p = path(QStringLiteral("s.data"));
        for (int i = 0; i < 5; ++i)
            QVERIFY(appendRecord(p, 124, addressBytes(QString::number(i))).ok());
        QList<qint64> seen;
        QVERIFY(scanRecords(p, 124, [&](qint64 number, const QByteArray &) {
                    seen.append(number);
                    return number < 3;
                }).ok());
        QCOMPARE(seen, (QList<qint64>{1, 2, 3}));
    }

    void newStoresAreOwnerOnlyAndCompactionKeepsTheMode()
    {
        const QFileDevice::Permissions user = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
        const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        const QString p = path(QStringLiteral("kstdata2.data"));
        QVERIFY(appendRecord(p, MailRecord::kLength, mailBytes(1)).ok());
        QCOMPARE(QFile::permissions(p) & ~user, ownerOnly);
        // A mode the user chose survives the rewrite.
        const QFileDevice::Permissions chosen = ownerOnly | QFileDevice::ReadGroup;
        QVERIFY(QFile::setPermissions(p, chosen));
        QVERIFY(appendRecord(p, MailRecord::kLength, mailBytes(2)).ok());
        QVERIFY(markRecord(p, MailRecord::kLength, 1).ok());
        QVERIFY(CompactStore(p, path(QStringLiteral("KSTDATA2.TMP")), MailRecord::kLength).ok());
        QCOMPARE(records(p, MailRecord::kLength), QList<QByteArray>{mailBytes(2)});
        QCOMPARE(QFile::permissions(p) & ~user, chosen);
    }
};

QTEST_GUILESS_MAIN(TestRecordFile)
#include "tst_recordfile.moc"
