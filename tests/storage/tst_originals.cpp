// Kept originals of received mail: stable names, whole files, removal with their records.
#include "common/AppState.h"
#include "common/Paths.h"
#include "storage/Originals.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "support/TestSupport.h"

#include <QtTest>

using namespace kestra;

namespace {
QByteArray mailBytes(int i, qint16 live = 1, const QString &body = {})
{
    MailRecord r;
    r.Subject = QStringLiteral("件名 %1").arg(i);
    r.Body = body.isEmpty() ? QStringLiteral("本文 %1").arg(i) : body;
    r.Live = live;
    return r.encode();
}
} // namespace

class TestOriginals : public QObject
{
    Q_OBJECT

private slots:
    void writtenWholeOwnerOnlyAndFoundByTheRecord()
    {
        test::TempAppFolder folder;
        // Bytes no record can hold: an emoji in UTF-8, a NUL, a bare CR.
        const QByteArray message = QByteArrayLiteral("Subject: x\r\n\r\n\xf0\x9f\x98\x80 \x00\r end");
        const QByteArray record = mailBytes(1);
        QVERIFY(originals::originalFor(originals::folderIn(appPaths().dataFolder()), record).isEmpty()); // nothing kept yet: old stores
        QVERIFY(originals::writeOriginal(originals::folderIn(appPaths().dataFolder()), record, message).ok());
        const QString path = originals::originalFor(originals::folderIn(appPaths().dataFolder()), record);
        QCOMPARE(path, originals::folderIn(appPaths().dataFolder()) + u'/' + originals::nameFor(record));
        QVERIFY(path.endsWith(QStringLiteral(".eml")));
        QCOMPARE(test::readBytes(path), message);
        const QFileDevice::Permissions user = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
        QCOMPARE(QFile::permissions(path) & ~user, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        // Marking the record does not rename its original; another record has another name.
        QCOMPARE(originals::originalFor(originals::folderIn(appPaths().dataFolder()), mailBytes(1, 0)), path);
        QVERIFY(originals::originalFor(originals::folderIn(appPaths().dataFolder()), mailBytes(2)).isEmpty());
        QCOMPARE(QDir(originals::folderIn(appPaths().dataFolder())).entryList(QDir::Files).size(), 1); // no temporary left
    }

    void aRunWritesNewNamesInPlaceAndReplacesTakenOnesWhole()
    {
        test::TempAppFolder folder;
        const QString dir = originals::folderIn(appPaths().dataFolder());
        const QString outside = folder.dataFile(QStringLiteral("outside.txt"));
        test::writeBytes(outside, "not mine");
        int asked = 0;
        StoreFaults faults;
        faults.originalWrite = [&](const QString &name) { return ++asked != 4 || name.isEmpty(); };
        originals::OriginalWriter writer(dir, faults);
        const QString fresh = originals::nameFor(mailBytes(1));
        // A new name: made with the folder, whole, owner-only, no temporary left.
        const Result<bool> first = writer.write(fresh, "whole message 1");
        QVERIFY(first.ok() && first.value());
        QCOMPARE(test::readBytes(originals::pathFor(dir, fresh)), QByteArray("whole message 1"));
        const QFileDevice::Permissions user = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
        QCOMPARE(QFile::permissions(originals::pathFor(dir, fresh)) & ~user, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

        // What a kill in the middle of writing left: the next write of that
        // name replaces the whole file and says it did not create it.
        const QString torn = originals::nameFor(mailBytes(2));
        test::writeBytes(originals::pathFor(dir, torn), "From: cut sh");
        const Result<bool> again = writer.write(torn, "From: cut short no more\r\n");
        QVERIFY(again.ok() && !again.value());
        QCOMPARE(test::readBytes(originals::pathFor(dir, torn)), QByteArray("From: cut short no more\r\n"));

        // A link under the name is replaced, never written through.
        const QString linked = originals::nameFor(mailBytes(3));
        QVERIFY(QFile::link(outside, originals::pathFor(dir, linked)));
        const Result<bool> overLink = writer.write(linked, "message 3");
        QVERIFY(overLink.ok() && !overLink.value());
        QVERIFY(!QFileInfo(originals::pathFor(dir, linked)).isSymLink());
        QCOMPARE(test::readBytes(originals::pathFor(dir, linked)), QByteArray("message 3"));
        QCOMPARE(test::readBytes(outside), QByteArray("not mine"));

        // A write the disk refuses leaves no file behind.
        const QString refused = originals::nameFor(mailBytes(4));
        QVERIFY(!writer.write(refused, "message 4").ok());
        QVERIFY(!QFileInfo::exists(originals::pathFor(dir, refused)));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::System).size(), 3);
    }

    void compactionDropsTheOriginalsOfDroppedRecordsOnly()
    {
        test::TempAppFolder folder;
        const QString store = folder.dataFile(QStringLiteral("kstdata2.data"));
        const QString temp = folder.dataFile(QStringLiteral("KSTDATA2.TMP"));
        // Records 1 and 3 are the same mail received twice: they share one original.
        for (const int i : {1, 2, 1, 4}) {
            QVERIFY(appendRecord(store, MailRecord::kLength, mailBytes(i)).ok());
            QVERIFY(originals::writeOriginal(originals::folderIn(appPaths().dataFolder()), mailBytes(i), "mail " + QByteArray::number(i)).ok());
        }
        QVERIFY(markRecords(store, MailRecord::kLength, {1, 2}).ok());
        // A compaction that does not finish keeps every original.
        StoreFaults dies;
        dies.compaction = [](CompactionStep, qint64) { return false; };
        QVERIFY(originals::compactReceivedStore(store, temp, dies).ok());
        QVERIFY(!originals::originalFor(originals::folderIn(appPaths().dataFolder()), mailBytes(2)).isEmpty());

        QVERIFY(originals::compactReceivedStore(store, temp).ok());
        QCOMPARE(test::readBytes(store), mailBytes(1) + mailBytes(4));
        QVERIFY(originals::originalFor(originals::folderIn(appPaths().dataFolder()), mailBytes(2)).isEmpty());
        QCOMPARE(test::readBytes(originals::originalFor(originals::folderIn(appPaths().dataFolder()), mailBytes(1))), QByteArray("mail 1"));
        QCOMPARE(test::readBytes(originals::originalFor(originals::folderIn(appPaths().dataFolder()), mailBytes(4))), QByteArray("mail 4"));
    }

    void aSurvivorWithTheSameHeadersButAnotherBodyDoesNotKeepTheOriginal()
    {
        test::TempAppFolder folder;
        const QString store = folder.dataFile(QStringLiteral("kstdata2.data"));
        const QString originalsFolder = originals::folderIn(appPaths().dataFolder());
        // Record 2 differs from record 1 only in its last body character; record 3 is record 1 again.
        const QByteArray first = mailBytes(1, 1, QStringLiteral("本文").repeated(2999) + u'a');
        const QByteArray second = mailBytes(1, 1, QStringLiteral("本文").repeated(2999) + u'b');
        for (const QByteArray &bytes : {first, second, first}) {
            QVERIFY(appendRecord(store, MailRecord::kLength, bytes).ok());
            QVERIFY(originals::writeOriginal(originalsFolder, bytes, bytes.left(8)).ok());
        }
        QVERIFY(markRecords(store, MailRecord::kLength, {2, 3}).ok());
        QVERIFY(originals::compactReceivedStore(store, folder.dataFile(QStringLiteral("KSTDATA2.TMP"))).ok());
        QCOMPARE(test::readBytes(store), first);
        QVERIFY(originals::originalFor(originalsFolder, second).isEmpty());
        QVERIFY(!originals::originalFor(originalsFolder, first).isEmpty()); // record 1 still has it
        QCOMPARE(QDir(originalsFolder).entryList(QDir::Files).size(), 1);
    }
};

QTEST_MAIN(TestOriginals)
#include "tst_originals.moc"
