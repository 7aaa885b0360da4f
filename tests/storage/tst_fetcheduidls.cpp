// The journal of messages left on the server: a pending id counts only when
// the store holds its record, whatever instant a kill came at.
#include "storage/FetchedUidls.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QtTest>

using namespace kestra;

class TestFetchedUidls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pendingIdsCountOnlyWithTheirRecord()
    {
        QTemporaryDir dir;
        const QString store = dir.filePath(QStringLiteral("store"));
        const QString list = dir.filePath(QStringLiteral("uidls"));
        const auto record = [](const QString &subject) {
            MailRecord r;
            r.Subject = subject;
            r.Body = QStringLiteral("body");
            return r.encode();
        };
        const QDateTime when(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC);
        FetchedUidls ids(list);
        QVERIFY(ids.load(store, MailRecord::kLength));
        // "a": journalled and written; "b": journalled, killed before its
        // record was written; "c": journalled, its record torn.
        QVERIFY(ids.addPending(QStringLiteral("a"), 1, record(QStringLiteral("a")), when));
        QVERIFY(appendRecord(store, MailRecord::kLength, record(QStringLiteral("a"))));
        QVERIFY(ids.addPending(QStringLiteral("b"), 2, record(QStringLiteral("b")), when));
        QVERIFY(ids.addPending(QStringLiteral("c"), 2, record(QStringLiteral("c")), when));
        QFile f(store);
        QVERIFY(f.open(QIODevice::Append));
        f.write(record(QStringLiteral("c")).left(100));
        f.close();
        // A line cut short by the kill.
        f.setFileName(list);
        QVERIFY(f.open(QIODevice::Append));
        f.write("P d 0 3 abc");
        f.close();

        FetchedUidls reread(list);
        QVERIFY(reread.load(store, MailRecord::kLength));
        QCOMPARE(reread.entries().keys(), QList<QString>{QStringLiteral("a")});
        QCOMPARE(reread.entries().value(QStringLiteral("a")).fetched, when);

        // Deleted in the history: the mark survives a rewrite.
        QVERIFY(reread.askDeletion(record(QStringLiteral("a")), 1));
        QVERIFY(reread.load(store, MailRecord::kLength));
        QVERIFY(reread.commit(store, MailRecord::kLength));
        FetchedUidls after(list);
        QVERIFY(after.load(store, MailRecord::kLength));
        QVERIFY(after.entries().value(QStringLiteral("a")).deleteAsked);
        QVERIFY(!after.entries().value(QStringLiteral("a")).pending);

        // Deleted in the history while a run that loaded the list earlier goes
        // on: the run's rewrite keeps the mark.
        QVERIFY(appendRecord(store, MailRecord::kLength, record(QStringLiteral("e"))));
        FetchedUidls run(list);
        QVERIFY(run.load(store, MailRecord::kLength));
        const qint64 e = QFileInfo(store).size() / MailRecord::kLength;
        QVERIFY(run.addPending(QStringLiteral("e"), e, record(QStringLiteral("e")), when));
        QVERIFY(FetchedUidls(list).askDeletion(record(QStringLiteral("e")), e));
        QVERIFY(run.commit(store, MailRecord::kLength));
        FetchedUidls last(list);
        QVERIFY(last.load(store, MailRecord::kLength));
        QVERIFY(last.entries().value(QStringLiteral("e")).deleteAsked);
        QVERIFY(last.entries().value(QStringLiteral("a")).deleteAsked);
    }

    // Look-alike mails (the same subject, sender, date and body as the
    // record keeps them) are separate messages on the server: deleting one
    // in the history marks its own id only, and each further deletion one more.
    void aDeletionMarksOneOfItsLookAlikes()
    {
        QTemporaryDir dir;
        const QString store = dir.filePath(QStringLiteral("store"));
        const QString list = dir.filePath(QStringLiteral("uidls"));
        MailRecord r;
        r.Subject = QStringLiteral("お知らせ");
        r.Body = QStringLiteral("同じ本文");
        const QByteArray same = r.encode();
        r.Subject = QStringLiteral("別の件名");
        const QByteArray other = r.encode();
        const QDateTime when(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC);
        FetchedUidls ids(list);
        QVERIFY(ids.load(store, MailRecord::kLength));
        const QList<std::pair<QString, QByteArray>> written{{QStringLiteral("x"), same},
                                                            {QStringLiteral("o"), other},
                                                            {QStringLiteral("y"), same},
                                                            {QStringLiteral("z"), same}};
        for (qsizetype i = 0; i < written.size(); ++i) {
            QVERIFY(ids.addPending(written[i].first, i + 1, written[i].second, when));
            QVERIFY(appendRecord(store, MailRecord::kLength, written[i].second));
        }
        QVERIFY(ids.commit(store, MailRecord::kLength));
        const auto asked = [&] {
            FetchedUidls now(list);
            QStringList marked;
            if (!now.load(store, MailRecord::kLength))
                return QStringList{QStringLiteral("unreadable")};
            for (auto it = now.entries().cbegin(); it != now.entries().cend(); ++it) {
                if (it->deleteAsked)
                    marked << it.key();
            }
            marked.sort();
            return marked;
        };

        QVERIFY(FetchedUidls(list).askDeletion(same, 3));
        QCOMPARE(asked(), QStringList{QStringLiteral("y")});
        // Asked again for a look-alike at the same place (the history deleted
        // record 3, and z moved there): the next one goes, not y twice.
        QVERIFY(FetchedUidls(list).askDeletion(same, 3));
        QCOMPARE(asked(), (QStringList{QStringLiteral("y"), QStringLiteral("z")}));
        QVERIFY(FetchedUidls(list).askDeletion(same, 1));
        QCOMPARE(asked(), (QStringList{QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z")}));
        // Every look-alike asked for already: nothing more to mark.
        const QByteArray before = [&] {
            QFile f(list);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        QVERIFY(FetchedUidls(list).askDeletion(same, 1));
        QFile f(list);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }
};

QTEST_GUILESS_MAIN(TestFetchedUidls)
#include "tst_fetcheduidls.moc"
