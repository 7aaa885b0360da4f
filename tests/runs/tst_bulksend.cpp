// The compose window's send as a run of its own, without a window: one mail
// per recipient with its own fortune, the sent records of the mails that
// went out, the failures, and where a cancel stops it.
#include "common/AppState.h"
#include "runs/BulkSend.h"
#include "compose/Greetings.h"
#include "storage/RecordFile.h"
#include "support/FakeSender.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace kestra;

class TestBulkSend : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    BulkSendInputs inputs() const
    {
        BulkSendInputs in;
        in.server = QStringLiteral("smtp.example.test");
        in.from = QStringLiteral("me@example.test");
        in.recipients = {QStringLiteral("one@example.test"), QStringLiteral("two@example.test"),
                         QStringLiteral("three@example.test")};
        in.subject = QStringLiteral(" お知らせ ");
        in.body = QStringLiteral("皆様へ");
        in.attachments = QStringLiteral("/tmp/a.txt,/tmp/b.txt");
        in.sentStorePath = m_dir.filePath(QStringLiteral("kstdata5.data"));
        in.dateText = [] { return QStringLiteral("2026/12/08 10:20:30"); };
        return in;
    }
    QList<MailRecord> sentRecords() const
    {
        QList<MailRecord> records;
        if (!scanRecords(inputs().sentStorePath, MailRecord::kLength, [&](qint64, const QByteArray &bytes) {
                records.append(MailRecord::decode(bytes));
                return true;
            }))
            qWarning("cannot read the sent store");
        return records;
    }

    struct Canceler final : BulkSendObserver {
        BulkSend *send = nullptr;
        int at = 0;
        void progress(int n, int) override
        {
            if (n == at)
                send->cancel();
        }
    };

private Q_SLOTS:
    void init() { QFile::remove(inputs().sentStorePath); }

    // A refused mail is listed and not recorded; the others go out, each
    // with its own fortune, and are recorded with the body as typed.
    void sendsOneMailEachAndRecordsWhatWentOut()
    {
        test::FakeSender fake;
        fake.failSend(2, QStringLiteral("宛先を受け付けません。\r\n詳しくは..."));
        BulkSendInputs in = inputs();
        in.fortunes = {0, 6, 11};
        in.addFortune = withFortune;
        const std::unique_ptr<MailSender> sender = fake.sender(in.server);
        const BulkSendResult result = BulkSend(*sender, in).run();

        QCOMPARE(fake.calls.size(), 3);
        QCOMPARE(fake.calls[0].server, QStringLiteral("smtp.example.test"));
        QCOMPARE(fake.calls[0].from, QStringLiteral("me@example.test"));
        QCOMPARE(fake.calls[0].body, withFortune(QStringLiteral("皆様へ"), 0));
        QCOMPARE(result.sent, 2);
        QVERIFY(!result.stopped);
        QCOMPARE(result.failed, QStringList{QStringLiteral("two@example.test：宛先を受け付けません。")});
        QVERIFY(result.lastError);
        QCOMPARE(result.lastError->message(), QStringLiteral("宛先を受け付けません。\r\n詳しくは..."));
        QCOMPARE(fake.calls[2].to, QStringLiteral("three@example.test"));
        QCOMPARE(fake.calls[2].body, withFortune(QStringLiteral("皆様へ"), 11));
        QCOMPARE(fake.calls[2].attachments, in.attachments);
        QCOMPARE(fake.calls[2].subject, in.subject);
        const QList<MailRecord> records = sentRecords();
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[1].encode(), sentRecord(in.subject, QStringLiteral("2026/12/08 10:20:30"),
                                                 QStringLiteral("three@example.test"), QStringLiteral("皆様へ"))
                                          .encode());
        QVERIFY(records[1].Subject.startsWith(QStringLiteral("お知らせ")));
    }

    // Each record holds its own date and recipient beside the run's subject
    // and body, byte for byte as a record made afresh: a long recipient cut
    // to its field, a shorter one after it blank-padded, characters with
    // codes of their own in code page 932.
    void eachRecordHasItsOwnDateAndRecipient()
    {
        test::FakeSender fake;
        BulkSendInputs in = inputs();
        in.body = QStringLiteral("  本文〜①\r\n二行目  ");
        const QString longName = QStringLiteral("山田太郎〜①") + QString(80, u'x') + QStringLiteral("@example.test");
        in.recipients = {longName, QStringLiteral(" 短い@example.test "), QStringLiteral("b@example.test")};
        QStringList dates{QStringLiteral("2026/12/08 10:20:30"), QStringLiteral("2026/12/08 10:20:31"), QString()};
        int asked = 0;
        in.dateText = [&] { return dates.at(asked++); };
        const std::unique_ptr<MailSender> sender = fake.sender(in.server);
        QCOMPARE(BulkSend(*sender, in).run().sent, 3);
        QList<QByteArray> raw;
        QVERIFY(scanRecords(in.sentStorePath, MailRecord::kLength, [&](qint64, const QByteArray &bytes) {
            raw.append(bytes);
            return true;
        }));
        QCOMPARE(raw.size(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(raw[i], sentRecord(in.subject, dates[i], in.recipients[i], in.body).encode());
    }

    // The run's records go after the last whole record: a torn tail left by a
    // run that was killed while writing is cut off first. A store that cannot
    // be written is reported, and the mail still goes out.
    void sentStoreKeepsItsRecordsWhole_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::newRow("torn tail") << true;
        QTest::newRow("folder missing") << false;
    }
    void sentStoreKeepsItsRecordsWhole()
    {
        QFETCH(bool, writable);
        const QByteArray kept = sentRecord(QStringLiteral("前の件名"), QStringLiteral("2026/12/01 09:00:00"),
                                           QStringLiteral("old@example.test"), QStringLiteral("前の本文"))
                                    .encode();
        BulkSendInputs in = inputs();
        if (writable) {
            QFile store(in.sentStorePath);
            QVERIFY(store.open(QIODevice::WriteOnly));
            store.write(kept + QByteArray(100, 'x'));
        } else {
            in.sentStorePath = m_dir.filePath(QStringLiteral("no such folder/kstdata5.data"));
        }
        test::FakeSender fake;
        const std::unique_ptr<MailSender> sender = fake.sender(in.server);
        const BulkSendResult result = BulkSend(*sender, in).run();
        QCOMPARE(result.sent, 3);
        QCOMPARE(bool(result.storeError), !writable);
        if (!writable) {
            QVERIFY2(result.storeError->message().contains(in.sentStorePath), qPrintable(result.storeError->message()));
            return;
        }
        const QList<MailRecord> records = sentRecords();
        QCOMPARE(records.size(), 4);
        QCOMPARE(records[0].encode(), kept);
        QCOMPARE(records[3].Header3.trimmed(), QStringLiteral("three@example.test"));
        QCOMPARE(QFileInfo(in.sentStorePath).size(), 4 * qint64(MailRecord::kLength));
    }

    // Canceled before the third mail: two went out; canceled while the second
    // was being handed over: one went out, and the aborted one is no failure.
    void cancelStopsTheRun_data()
    {
        QTest::addColumn<bool>("inATransfer");
        QTest::newRow("between two mails") << false;
        QTest::newRow("during a transfer") << true;
    }
    void cancelStopsTheRun()
    {
        QFETCH(bool, inATransfer);
        test::FakeSender fake;
        const std::unique_ptr<MailSender> sender = fake.sender(inputs().server);
        Canceler canceler;
        canceler.at = inATransfer ? 0 : 3;
        BulkSend send(*sender, inputs(), &canceler);
        canceler.send = &send;
        fake.onSend = [&](int n) {
            if (inATransfer && n == 2)
                send.cancel();
        };
        const BulkSendResult result = send.run();
        QVERIFY(result.stopped);
        QVERIFY(result.failed.isEmpty());
        QCOMPARE(result.sent, inATransfer ? 1 : 2);
        QCOMPARE(sentRecords().size(), result.sent);
        QCOMPARE(fake.calls.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestBulkSend)
#include "tst_bulksend.moc"
