#include "HistoryFixtures.h"

#include "common/AppState.h"
#include "common/Paths.h"
#include "history/HistoryStore.h"
#include "storage/RecordFile.h"
#include "storage/StoreBuffers.h"
#include "storage/StoreGuard.h"
#include "support/FindControl.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

#include <memory>

using namespace kestra;
using namespace kestra::test;

class TestHistoryDelete : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempAppFolder> m_folder;
    std::unique_ptr<FakePrompt> m_prompt;

    QString store(qint16 mode) const
    {
        return m_folder->dataFile(mode == 2 ? QStringLiteral("kstdata5.data") : QStringLiteral("kstdata2.data"));
    }
    QString temp(qint16 mode) const
    {
        return m_folder->dataFile(mode == 2 ? QStringLiteral("KSTDATA5.TMP") : QStringLiteral("KSTDATA2.TMP"));
    }
    TyakuForm *history() const { return loadedForm<TyakuForm>(); }

    void verifyConfirmation(const QString &text)
    {
        QCOMPARE(m_prompt->shown().size(), 1);
        const ShownPrompt &p = m_prompt->shown().first();
        QCOMPARE(p.text, text);
        QCOMPARE(p.title, QStringLiteral("確認"));
        QCOMPARE(p.icon, PromptIcon::Question);
        QCOMPARE(p.buttons, PromptButtons::YesNo);
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<TempAppFolder>();
        m_prompt = std::make_unique<FakePrompt>();
    }
    void cleanup()
    {
        unloadHistory();
        QCOMPARE(m_prompt->unexpected(), 0);
        m_prompt.reset();
        m_folder.reset();
    }

    void deletingRowZeroOfThreeKeepsTheOthersInOrder_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("received") << 1;
        QTest::newRow("sent") << 2;
    }
    void deletingRowZeroOfThreeKeepsTheOthersInOrder()
    {
        QFETCH(int, mode);
        const qint16 m = qint16(mode);
        const qint16 other = m == 1 ? 2 : 1;
        writeBytes(store(m), storeBytes({receivedMail(1), receivedMail(2), receivedMail(3)}));
        writeBytes(store(other), storeBytes({receivedMail(9)}));
        openHistoryWindow(m);
        TyakuForm *f = history();
        pressRow(findControl<HistoryListBox>(f, "List1"), 0);
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(f, "Command1")->click();

        verifyConfirmation(QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"));
        // The survivors are copied byte for byte, renumbered from 1.
        QCOMPARE(readBytes(store(m)), storeBytes({receivedMail(2), receivedMail(3)}));
        QCOMPARE(readBytes(store(other)), storeBytes({receivedMail(9)}));
        QVERIFY(!QFileInfo::exists(temp(m)));
        QCOMPARE(findControl<HistoryListBox>(f, "List1")->count(), 2);
        QVERIFY(
            findControl<HistoryListBox>(f, "List1")->item(0)->text().endsWith(QStringLiteral("    件名2")));
        QVERIFY(
            findControl<HistoryListBox>(f, "List1")->item(1)->text().endsWith(QStringLiteral("    件名3")));
        QCOMPARE(findControl<QLineEdit>(f, "Text2")->text(), QStringLiteral("2"));
        QCOMPARE(findControl<QLineEdit>(f, "Text9")->text(), QStringLiteral("件名3"));
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->toPlainText(), QStringLiteral("本文3\n二行目"));
        QCOMPARE(f->selectedRow(), -1);
        QCOMPARE(appState().currentRecord, qint16(1));
        QCOMPARE(mailBuffer(m).Live, qint16(0));
    }

    // The list is updated in place after a deletion: the rows after the
    // deleted one must open the records one place up; a store that gained a
    // record since the list was filled is read again, and the newcomer listed.
    void rowsAfterADeletionOpenTheirOwnMails_data()
    {
        QTest::addColumn<bool>("appendedMeanwhile");
        QTest::newRow("store as listed") << false;
        QTest::newRow("a mail stored after the list was filled") << true;
    }
    void rowsAfterADeletionOpenTheirOwnMails()
    {
        QFETCH(bool, appendedMeanwhile);
        writeBytes(store(1), storeBytes({receivedMail(1), receivedMail(2), receivedMail(3), receivedMail(4)}));
        openHistoryWindow(1);
        TyakuForm *f = history();
        auto *list = findControl<HistoryListBox>(f, "List1");
        if (appendedMeanwhile)
            writeBytes(store(1), storeBytes({receivedMail(1), receivedMail(2), receivedMail(3), receivedMail(4),
                                     receivedMail(5)}));
        pressRow(list, 1);
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(f, "Command1")->click();

        const QList<int> survivors = appendedMeanwhile ? QList<int>{1, 3, 4, 5} : QList<int>{1, 3, 4};
        QStringList expected;
        for (int n : survivors)
            expected << HistoryLine(mailFields(receivedMail(n), 1));
        QCOMPARE(listLines(list), expected);
        QCOMPARE(findControl<QLineEdit>(f, "Text2")->text(), QString::number(expected.size()));
        QCOMPARE(findControl<QLineEdit>(f, "Text9")->text(),
            appendedMeanwhile ? QStringLiteral("件名5") : QStringLiteral("件名4"));
        QCOMPARE(f->selectedRow(), -1);
        for (int row = 0; row < expected.size(); ++row) {
            pressRow(list, row);
            QCOMPARE(findControl<QLineEdit>(f, "Text9")->text(), mailFields(receivedMail(survivors.at(row)), 1).subject);
        }
    }

    void deletingTheOnlyRecordLeavesAnEmptyStore()
    {
        writeBytes(store(1), storeBytes({receivedMail(1)}));
        openHistoryWindow(1);
        TyakuForm *f = history();
        pressRow(findControl<HistoryListBox>(f, "List1"), 0);
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(f, "Command1")->click();
        QVERIFY(QFileInfo::exists(store(1)));
        QCOMPARE(QFileInfo(store(1)).size(), 0);
        QVERIFY(!QFileInfo::exists(temp(1)));
        QCOMPARE(findControl<HistoryListBox>(f, "List1")->count(), 0);
        QCOMPARE(findControl<QLineEdit>(f, "Text2")->text(), QStringLiteral("0"));
        for (QLineEdit *box : { findControl<QLineEdit>(f, "Text7"), findControl<QLineEdit>(f, "Text8"),
                 findControl<QLineEdit>(f, "Text9") })
            QVERIFY(box->text().isEmpty());
        QVERIFY(findControl<QTextEdit>(f, "rtfEd")->toPlainText().isEmpty());
    }

    void answeringNoOrSelectingNothingChangesNothing()
    {
        const QByteArray bytes = storeBytes({receivedMail(1), receivedMail(2)});
        writeBytes(store(1), bytes);
        openHistoryWindow(1);
        TyakuForm *f = history();
        const QStringList lines = listLines(findControl<HistoryListBox>(f, "List1"));

        findControl<QPushButton>(f, "Command1")->click(); // no row selected
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown().first().text, QStringLiteral("データが選択されていません。"));
        QCOMPARE(m_prompt->shown().first().title, appTitle());
        QCOMPARE(m_prompt->shown().first().icon, PromptIcon::None);
        m_prompt->clear();

        pressRow(findControl<HistoryListBox>(f, "List1"), 1);
        m_prompt->answer(PromptAnswer::No);
        findControl<QPushButton>(f, "Command1")->click();
        verifyConfirmation(QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"));
        m_prompt->clear();
        m_prompt->answer(PromptAnswer::No);
        findControl<QPushButton>(f, "Command5")->click();
        verifyConfirmation(QStringLiteral("すべてのデータを削除して良いですか？"));

        QCOMPARE(readBytes(store(1)), bytes);
        QCOMPARE(listLines(findControl<HistoryListBox>(f, "List1")), lines);
        QCOMPARE(f->selectedRow(), 1);
        QCOMPARE(findControl<QLineEdit>(f, "Text9")->text(), QStringLiteral("件名2"));
    }

    void deleteAllEmptiesTheStore()
    {
        writeBytes(store(2), storeBytes({receivedMail(1), receivedMail(2), receivedMail(3)}));
        openHistoryWindow(2);
        TyakuForm *f = history();
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(f, "Command5")->click();
        verifyConfirmation(QStringLiteral("すべてのデータを削除して良いですか？"));
        QCOMPARE(QFileInfo(store(2)).size(), 0);
        QVERIFY(!QFileInfo::exists(temp(2)));
        QCOMPARE(findControl<HistoryListBox>(f, "List1")->count(), 0);
        QCOMPARE(findControl<QLineEdit>(f, "Text2")->text(), QStringLiteral("0"));
        QVERIFY(findControl<QTextEdit>(f, "rtfEd")->toPlainText().isEmpty());
        QCOMPARE(appState().currentRecord, qint16(3));
    }

    void deleteAllKeepsARecordAddedAfterTheFill()
    {
        writeBytes(store(1), storeBytes({receivedMail(1), receivedMail(2), receivedMail(3)}));
        openHistoryWindow(1);
        TyakuForm *f = history();
        // Mail received while the window is open: appended behind the listed records.
        const MailRecord late = mail(QStringLiteral("遅れて届いた"), QStringLiteral("late@example.com"),
                                     QStringLiteral("date"), QStringLiteral("late body"));
        QVERIFY(appendRecord(store(1), MailRecord::kLength, late.encode()).ok());

        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(f, "Command5")->click();
        QCOMPARE(readBytes(store(1)), late.encode());
        // Listed by its subject field as stored: 100 characters, blanks kept; the count reads 0.
        QCOMPARE(listLines(findControl<HistoryListBox>(f, "List1")),
            QStringList { QStringLiteral("遅れて届いた") + QString(100 - 6, u' ') });
        QCOMPARE(findControl<QLineEdit>(f, "Text2")->text(), QStringLiteral("0"));
        for (QLineEdit *box : { findControl<QLineEdit>(f, "Text7"), findControl<QLineEdit>(f, "Text8"),
                 findControl<QLineEdit>(f, "Text9") })
            QVERIFY(box->text().isEmpty());
        QVERIFY(findControl<QTextEdit>(f, "rtfEd")->toPlainText().isEmpty());
    }

    // While a receive run appends to the received store, a deletion hides the
    // mail at once but the file, which the run has open, is compacted only
    // when the run lets go; the rows the run adds then name their own records.
    void aDeletionWaitsForTheReceiveRunThatHoldsTheStore()
    {
        writeBytes(store(1), storeBytes({receivedMail(1), receivedMail(2), receivedMail(3), receivedMail(4)}));
        openHistoryWindow(1);
        TyakuForm *f = history();
        auto *list = f->findChild<HistoryListBox *>(QStringLiteral("List1"));
        auto *subject = f->findChild<QLineEdit *>(QStringLiteral("Text9"));
        QVERIFY(list && subject);
        {
            const StoreHold run(store(1));
            pressRow(list, 0);
            m_prompt->answer(PromptAnswer::Yes);
            f->findChild<QPushButton *>(QStringLiteral("Command1"))->click();
            QCOMPARE(list->count(), 3);
            QVERIFY(appendRecord(store(1), MailRecord::kLength, receivedMail(5).encode()).ok());
            QCOMPARE(QFileInfo(store(1)).size(), 5 * qint64(MailRecord::kLength));
        }
        QCOMPARE(readBytes(store(1)),
                 storeBytes({receivedMail(2), receivedMail(3), receivedMail(4), receivedMail(5)}));
        f->ListNewMail();
        QCOMPARE(list->count(), 4);
        pressRow(list, 3);
        QCOMPARE(subject->text(), QStringLiteral("件名5"));
        pressRow(list, 0);
        QCOMPARE(subject->text(), QStringLiteral("件名2"));
    }

    void deleteAllOnAnEmptyListKeepsTheStore()
    {
        openHistoryWindow(1);
        const QByteArray bytes = storeBytes({receivedMail(1)});
        writeBytes(store(1), bytes);
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(history(), "Command5")->click();
        QCOMPARE(readBytes(store(1)), bytes);
        QCOMPARE(findControl<HistoryListBox>(history(), "List1")->count(), 1);
        QCOMPARE(findControl<QLineEdit>(history(), "Text2")->text(), QStringLiteral("0"));
    }

    void aFailedCompactionIsShownAndLosesNothing()
    {
        writeBytes(store(1), storeBytes({receivedMail(1), receivedMail(2), receivedMail(3)}));
        // The temporary name is taken by a folder, so the compacted copy cannot be written.
        QVERIFY(QDir().mkpath(temp(1)));
        openHistoryWindow(1);
        TyakuForm *f = history();
        pressRow(findControl<HistoryListBox>(f, "List1"), 1);
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(f, "Command1")->click();

        QCOMPARE(m_prompt->shown().size(), 2);
        const ShownPrompt &error = m_prompt->shown().at(1);
        QCOMPARE(error.icon, PromptIcon::Exclamation);
        QVERIFY(error.text.contains(QStringLiteral("KSTDATA2.TMP")));
        // Every record is still in the store, the marked one with its own fields,
        // waiting for the next compaction; it is no longer listed.
        MailRecord marked = receivedMail(2);
        marked.Live = 0;
        QCOMPARE(readBytes(store(1)), storeBytes({receivedMail(1), marked, receivedMail(3)}));
        QCOMPARE(listLines(findControl<HistoryListBox>(f, "List1")),
            (QStringList {
                HistoryLine(mailFields(receivedMail(1), 1)), HistoryLine(mailFields(receivedMail(3), 1)) }));

        QVERIFY(QDir(temp(1)).removeRecursively());
        pressRow(findControl<HistoryListBox>(f, "List1"), 0);
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(f, "Command1")->click();
        QCOMPARE(readBytes(store(1)), storeBytes({receivedMail(3)}));
    }

    void aDeleteAllStoppedBeforeItsCompactionListsNothing()
    {
        // The program dies right after marking: every mark holds, no mail
        // takes another's fields, and no record is listed (once or twice).
        writeBytes(store(1), storeBytes({receivedMail(1), receivedMail(2), receivedMail(3)}));
        openHistoryWindow(1);
        StoreFaults dies;
        dies.compaction = [](CompactionStep, qint64) { return false; };
        history()->setStoreFaults(dies);
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(history(), "Command5")->click();
        history()->setStoreFaults({});
        QList<MailRecord> marked{receivedMail(1), receivedMail(2), receivedMail(3)};
        for (MailRecord &r : marked)
            r.Live = 0;
        QCOMPARE(readBytes(store(1)), storeBytes(marked));
        QCOMPARE(findControl<HistoryListBox>(history(), "List1")->count(), 0);
        openHistoryWindow(1);
        QCOMPARE(findControl<HistoryListBox>(history(), "List1")->count(), 0);
        QCOMPARE(findControl<QLineEdit>(history(), "Text2")->text(), QStringLiteral("0"));
    }

    void markingWritesOnlyTheLiveFieldAndNeverGrowsTheStore()
    {
        // A list longer than the store (records removed behind its back) marks only what exists.
        const QString path = store(1);
        writeBytes(path, storeBytes({receivedMail(1), receivedMail(2)}));
        QVERIFY(markRecords(path, MailRecord::kLength, {2, 5}).ok());
        MailRecord marked = receivedMail(2);
        marked.Live = 0;
        QCOMPARE(readBytes(path), storeBytes({receivedMail(1), marked}));
        QVERIFY(markRecord(path, MailRecord::kLength, 4).ok());
        QCOMPARE(QFileInfo(path).size(), qint64(2 * MailRecord::kLength));
    }
};

QTEST_MAIN(TestHistoryDelete)
#include "tst_historydelete.moc"
