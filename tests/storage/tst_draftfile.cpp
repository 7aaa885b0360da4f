// The drafts file: a file written when each window kind had one draft is read
// and kept as it is while drafts of single windows are added beside it.
#include "storage/Drafts.h"
#include "support/TestSupport.h"

#include <QtTest>

using namespace kestra;

class TestDraftFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void anOldFileIsReadAndKept()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("drafts.json"));
        // As the earlier program wrote it: one compact object, keyed by window kind.
        test::writeBytes(path, QStringLiteral("{\"BackForm\":{\"attachments\":\"\",\"body\":\"返事\\r\\n二行目\","
                                              "\"subject\":\"Re:  件名\",\"to\":\"a@example.jp\"},"
                                              "\"WriteForm\":{\"attachments\":\"/tmp/a.txt\",\"body\":\"\","
                                              "\"subject\":\"\",\"to\":\"\"}}")
                                   .toUtf8());
        const DraftFile file(path);
        const Draft reply{QStringLiteral("a@example.jp"), QStringLiteral("Re:  件名"), QStringLiteral("返事\r\n二行目"), {}};
        const Draft compose{{}, {}, {}, QStringLiteral("/tmp/a.txt")};
        QCOMPARE(file.readAll().value(),
                 (QMap<QString, Draft>{{QStringLiteral("BackForm"), reply}, {QStringLiteral("WriteForm"), compose}}));
        QCOMPARE(draftKind(QStringLiteral("BackForm")), QStringLiteral("BackForm"));

        const QString key = newDraftKey(QStringLiteral("WriteForm"));
        QCOMPARE(draftKind(key), QStringLiteral("WriteForm"));
        const Draft added{{}, QStringLiteral("新しい件名"), QStringLiteral("本文"), {}};
        QVERIFY(file.save(key, added));
        QCOMPARE(file.readAll().value(), (QMap<QString, Draft>{{QStringLiteral("BackForm"), reply},
                                                               {QStringLiteral("WriteForm"), compose},
                                                               {key, added}}));
        QVERIFY(file.remove(QStringLiteral("WriteForm")));
        QCOMPARE(file.readAll().value().keys(), (QStringList{QStringLiteral("BackForm"), key}));
    }

    // Keys made one after the other differ and sort in the order they were made.
    void newKeysAreUniqueAndOrdered()
    {
        QStringList keys;
        for (int i = 0; i < 50; ++i)
            keys.append(newDraftKey(QStringLiteral("BackForm")));
        QStringList sorted = keys;
        sorted.sort();
        QCOMPARE(sorted, keys);
        QCOMPARE(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());
    }
};

QTEST_GUILESS_MAIN(TestDraftFile)
#include "tst_draftfile.moc"
