#include "HistoryFixtures.h"

#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Twips.h"
#include "storage/Settings.h"
#include "storage/StoreBuffers.h"
#include "support/FindControl.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTextEdit>
#include <QtTest>

#include <memory>

using namespace kestra;
using namespace kestra::test;

class TestHistoryList : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempAppFolder> m_folder;
    std::unique_ptr<FakePrompt> m_prompt;

    QString store(qint16 mode) const
    {
        return m_folder->dataFile(mode == 2 ? QStringLiteral("kstdata5.data") : QStringLiteral("kstdata2.data"));
    }
    TyakuForm *history() const { return loadedForm<TyakuForm>(); }

private slots:
    void init()
    {
        m_folder = std::make_unique<TempAppFolder>();
        m_prompt = std::make_unique<FakePrompt>();
        QApplication::clipboard()->setText(QStringLiteral("before"));
    }
    void cleanup()
    {
        unloadHistory();
        QCOMPARE(m_prompt->unexpected(), 0);
        m_prompt.reset();
        m_folder.reset();
    }

    void fillListsEveryRecordAndShowsTheLast_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("mode");
        for (int mode : {1, 2}) {
            for (int n = 0; n <= 3; ++n)
                QTest::newRow(qPrintable(QStringLiteral("%1 mode %2").arg(n).arg(mode))) << n << mode;
        }
    }
    void fillListsEveryRecordAndShowsTheLast()
    {
        QFETCH(int, records);
        QFETCH(int, mode);
        QList<MailRecord> mails;
        for (int i = 1; i <= records; ++i)
            mails.append(receivedMail(i));
        writeBytes(store(qint16(mode)), storeBytes(mails));

        openHistoryWindow(qint16(mode));
        TyakuForm *f = history();
        QVERIFY(f);

        // Received: Header3 is the date and Header2 the address; sent: the other way round.
        QStringList expected;
        for (int i = 1; i <= records; ++i) {
            const QString sender = QStringLiteral("sender%1@example.com").arg(i);
            const QString date = QStringLiteral("Mon, %1 Dec 2026 10:00:00 +0900").arg(i);
            const QString first = mode == 1 ? date : sender;
            const QString second = mode == 1 ? sender : date;
            expected.append(first + QStringLiteral("    ") + second + QString(60 - second.size(), u'_')
                            + QStringLiteral("    件名%1").arg(i));
        }
        QCOMPARE(listLines(findControl<HistoryListBox>(f, "List1")), expected);
        QCOMPARE(findControl<QLineEdit>(f, "Text2")->text(), QString::number(records));
        QCOMPARE(f->selectedRow(), -1);
        QCOMPARE(f->windowTitle(), mode == 1 ? QStringLiteral("着信履歴") : QStringLiteral("送信履歴"));
        QCOMPARE(
            findControl<HistoryListBox>(f, "List1")->palette().color(QPalette::Base), QColor(144, 238, 144));
        QVERIFY(f->isVisible());

        if (records == 0) {
            QVERIFY(findControl<QLineEdit>(f, "Text7")->text().isEmpty());
            QVERIFY(findControl<QLineEdit>(f, "Text8")->text().isEmpty());
            QVERIFY(findControl<QLineEdit>(f, "Text9")->text().isEmpty());
            QVERIFY(findControl<QTextEdit>(f, "rtfEd")->toPlainText().isEmpty());
            QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));
            QVERIFY(QFileInfo::exists(store(qint16(mode)))); // opening created the store
        } else {
            const QString sender = QStringLiteral("sender%1@example.com").arg(records);
            const QString date = QStringLiteral("Mon, %1 Dec 2026 10:00:00 +0900").arg(records);
            QCOMPARE(findControl<QLineEdit>(f, "Text7")->text(), mode == 1 ? date : sender);
            QCOMPARE(findControl<QLineEdit>(f, "Text8")->text(), mode == 1 ? sender : date);
            QCOMPARE(findControl<QLineEdit>(f, "Text9")->text(), QStringLiteral("件名%1").arg(records));
            const QString body = QStringLiteral("本文%1\n二行目").arg(records); // trimmed of blanks
            QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->toPlainText(), body);
            QCOMPARE(QApplication::clipboard()->text(), body);
        }
        QVERIFY(appState().editorModified);
        QVERIFY(m_prompt->shown().isEmpty());
    }

    // What other windows and receiving ask of the history window.
    void recordsAreSelectedAndBoxesFilledThroughTheWindow()
    {
        writeBytes(store(1), storeBytes({ receivedMail(1), receivedMail(2), receivedMail(3) }));
        openHistoryWindow(1);
        TyakuForm *f = history();
        QVERIFY(QTest::qWaitForWindowActive(f));
        auto *list = findControl<HistoryListBox>(f, "List1");

        QVERIFY(f->selectRecord(2));
        QCOMPARE(f->selectedRow(), 1);
        QCOMPARE(QApplication::focusWidget(), list);
        QCOMPARE(findControl<QLineEdit>(f, "Text9")->text(), QStringLiteral("件名2"));
        QCOMPARE(f->boxes().subject, QStringLiteral("件名2"));
        QCOMPARE(f->boxes().address, QStringLiteral("sender2@example.com"));
        // A record the list does not show leaves the selection and the boxes alone.
        QVERIFY(!f->selectRecord(4));
        QVERIFY(!f->selectRecord(0));
        QCOMPARE(f->selectedRow(), 1);
        QCOMPARE(f->boxes().subject, QStringLiteral("件名2"));

        // Receiving puts a mail into the boxes without touching the clipboard.
        QApplication::clipboard()->setText(QStringLiteral("kept"));
        f->showInBoxes({ QStringLiteral("日付"), QStringLiteral("from@example.jp"), QStringLiteral("件名"),
            QStringLiteral("本文\n二行目") });
        QCOMPARE(findControl<QLineEdit>(f, "Text7")->text(), QStringLiteral("日付"));
        QCOMPARE(findControl<QLineEdit>(f, "Text8")->text(), QStringLiteral("from@example.jp"));
        QCOMPARE(findControl<QLineEdit>(f, "Text9")->text(), QStringLiteral("件名"));
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->toPlainText(), QStringLiteral("本文\n二行目"));
        const MailFields shown = f->boxes();
        QCOMPARE(shown.date, QStringLiteral("日付"));
        QCOMPARE(shown.address, QStringLiteral("from@example.jp"));
        QCOMPARE(shown.subject, QStringLiteral("件名"));
        QCOMPARE(shown.body, QStringLiteral("本文\n二行目"));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("kept"));

        // A mail the history put into the editor is not unsaved work; typing is.
        f->refresh();
        QVERIFY(!f->hasUnsavedEdit());
        QCOMPARE(listLines(list).size(), 3);
        auto *editor = findControl<QTextEdit>(f, "rtfEd");
        editor->setFocus();
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("memo"));
        QVERIFY(f->hasUnsavedEdit());
    }

    void addressColumnIsFilledToSixtyCharacters_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("column");
        const QString sixty = QString(59, u'a') + QStringLiteral("@");
        const QString sixtyOne = sixty + QStringLiteral("b");
        QTest::newRow("3 characters") << QStringLiteral("a@b") << QStringLiteral("a@b") + QString(57, u'_');
        QTest::newRow("60 characters") << sixty << sixty;
        QTest::newRow("61 characters, not cut") << sixtyOne << sixtyOne;
        // Counted in characters: 20 double-byte characters take 40 bytes on disk.
        const QString wide = QString(20, QChar(0x3042));
        QTest::newRow("20 double-byte") << wide << wide + QString(40, u'_');
    }
    void addressColumnIsFilledToSixtyCharacters()
    {
        QFETCH(QString, address);
        QFETCH(QString, column);
        writeBytes(store(1), storeBytes({mail(QStringLiteral("s"), address, QStringLiteral("d"), QStringLiteral("b"))}));
        openHistoryWindow(1);
        QCOMPARE(listLines(findControl<HistoryListBox>(history(), "List1")),
            QStringList { QStringLiteral("d    ") + column + QStringLiteral("    s") });
        QCOMPARE(findControl<QLineEdit>(history(), "Text8")->text(), address);
    }

    void switchingStoresRecaptionsAndReplacesTheLines()
    {
        writeBytes(store(1), storeBytes({receivedMail(1), receivedMail(2)}));
        writeBytes(store(2), storeBytes({mail(QStringLiteral("送った"), QStringLiteral("2026/12/08 09:00:00"),
                                              QStringLiteral("to@example.com"), QStringLiteral("sent body"))}));
        openHistoryWindow(1);
        TyakuForm *f = history();
        pressRow(findControl<HistoryListBox>(f, "List1"), 0);
        openHistoryWindow(2);
        QCOMPARE(history(), f); // the same window, refilled
        QCOMPARE(f->windowTitle(), QStringLiteral("送信履歴"));
        QCOMPARE(findControl<HistoryListBox>(f, "List1")->count(), 1);
        QVERIFY(findControl<HistoryListBox>(f, "List1")
                    ->item(0)
                    ->text()
                    .startsWith(QStringLiteral("2026/12/08 09:00:00    to@example.com_")));
        QCOMPARE(findControl<QLineEdit>(f, "Text2")->text(), QStringLiteral("1"));
        QCOMPARE(findControl<QLineEdit>(f, "Text8")->text(), QStringLiteral("to@example.com"));
        QCOMPARE(f->selectedRow(), -1);
        QCOMPARE(appState().historyMode, qint16(2));
    }

    void pressingARowShowsItsRecordAndFillsTheBuffer_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("row");
        QTest::newRow("received row 0") << 1 << 0;
        QTest::newRow("received row 1") << 1 << 1;
        QTest::newRow("sent row 0") << 2 << 0;
    }
    void pressingARowShowsItsRecordAndFillsTheBuffer()
    {
        QFETCH(int, mode);
        QFETCH(int, row);
        writeBytes(store(qint16(mode)), storeBytes({receivedMail(1), receivedMail(2), receivedMail(3)}));
        openHistoryWindow(qint16(mode));
        TyakuForm *f = history();
        pressRow(findControl<HistoryListBox>(f, "List1"), row);

        const int n = row + 1;
        QCOMPARE(f->selectedRow(), row);
        const QString sender = QStringLiteral("sender%1@example.com").arg(n);
        const QString date = QStringLiteral("Mon, %1 Dec 2026 10:00:00 +0900").arg(n);
        QCOMPARE(findControl<QLineEdit>(f, "Text7")->text(), mode == 1 ? date : sender);
        QCOMPARE(findControl<QLineEdit>(f, "Text8")->text(), mode == 1 ? sender : date);
        QCOMPARE(findControl<QLineEdit>(f, "Text9")->text(), QStringLiteral("件名%1").arg(n));
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->toPlainText(), QStringLiteral("本文%1\n二行目").arg(n));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("本文%1\n二行目").arg(n));

        // The store's buffer holds the record read, the other store's buffer is untouched.
        const MailRecord &buffer = mailBuffer(qint16(mode));
        QCOMPARE(buffer.encode(), receivedMail(n).encode());
        QVERIFY(mailBuffer(mode == 1 ? 2 : 1).Subject.isEmpty());
        QVERIFY(m_prompt->shown().isEmpty());
    }

    void pressBelowTheLastRowWithoutSelectionComplains()
    {
        writeBytes(store(1), storeBytes({receivedMail(1), receivedMail(2)}));
        openHistoryWindow(1);
        TyakuForm *f = history();
        f->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f));
        findControl<QLineEdit>(f, "Text1")->setFocus();
        pressRow(findControl<HistoryListBox>(f, "List1"), -1);
        QCOMPARE(m_prompt->shown().size(), 1);
        const ShownPrompt &p = m_prompt->shown().first();
        QCOMPARE(p.text, QStringLiteral("データが選択されていません"));
        QCOMPARE(p.title, QString());
        QCOMPARE(p.icon, PromptIcon::Exclamation);
        QCOMPARE(p.buttons, PromptButtons::Ok);
        QTRY_VERIFY(findControl<HistoryListBox>(f, "List1")->hasFocus());
        QCOMPARE(findControl<QLineEdit>(f, "Text9")->text(),
            QStringLiteral("件名2")); // the fill's last record stays

        // With a row selected, a press below the last row keeps it and shows its mail again.
        m_prompt->clear();
        pressRow(findControl<HistoryListBox>(f, "List1"), 0);
        findControl<QLineEdit>(f, "Text9")->clear();
        pressRow(findControl<HistoryListBox>(f, "List1"), -1);
        QCOMPARE(f->selectedRow(), 0);
        QCOMPARE(findControl<QLineEdit>(f, "Text9")->text(), QStringLiteral("件名1"));
        QVERIFY(m_prompt->shown().isEmpty());
    }

    void keyboardSelectionDoesNotReadTheStore()
    {
        writeBytes(store(1), storeBytes({receivedMail(1), receivedMail(2)}));
        openHistoryWindow(1);
        TyakuForm *f = history();
        pressRow(findControl<HistoryListBox>(f, "List1"), 0);
        QTest::keyClick(findControl<HistoryListBox>(f, "List1"), Qt::Key_Down);
        QCOMPARE(f->selectedRow(), 1);
        QCOMPARE(findControl<QLineEdit>(f, "Text9")->text(), QStringLiteral("件名1"));
        QCOMPARE(trimBlanksOf(mailBuffer(1).Subject), QStringLiteral("件名1"));
    }

    void resizeFollowsTheLayoutRules()
    {
        openHistoryWindow(1);
        TyakuForm *f = history();
        f->Form_Resize(8000, 6000);
        QCOMPARE(geometryTwips(findControl<HistoryListBox>(f, "List1")).size(), QSize(7920, 1500));
        QCOMPARE(geometryTwips(findControl<QTextEdit>(f, "rtfEd")).y(), 3300);
        QCOMPARE(geometryTwips(findControl<QTextEdit>(f, "rtfEd")).height(), 3000);
        QCOMPARE(geometryTwips(findControl<QTextEdit>(f, "rtfEd")).width(), 7920);
        for (QLineEdit *box : { findControl<QLineEdit>(f, "Text7"), findControl<QLineEdit>(f, "Text8"),
                 findControl<QLineEdit>(f, "Text9") })
            QCOMPARE(geometryTwips(box).y(), 2940);

        const HistoryLayout l = historyLayout(8000, 6000, 20);
        QCOMPARE(l.dateWidth, 1600);
        QCOMPARE(l.addressWidth, 2800);
        QCOMPARE(l.subjectWidth, 4320);
        QCOMPARE(l.dateLeft, 20);
        QCOMPARE(l.addressLeft, 1584); // 0.2 of the body's new width
        QCOMPARE(l.subjectLeft, 4356);
        QCOMPARE(l.stripWidth, 8000);

        // A real resize of the window runs the same rules on its size.
        f->resize(twipsToPx(9000), twipsToPx(6000));
        QCOMPARE(geometryTwips(findControl<HistoryListBox>(f, "List1")).size(), QSize(8910, 1500));
        QCOMPARE(geometryTwips(findControl<QWidget>(f, "Picture1")).width(), 9000);
    }

    void loadRetriesOrSkipsAnUnreadableEditorFile()
    {
        appState().editorFile = m_folder->path() + QStringLiteral("/missing.txt");
        appState().editorModified = true;
        m_prompt->answer(PromptAnswer::Ok);     // retry: fails again
        m_prompt->answer(PromptAnswer::Cancel); // go on
        form<TyakuForm>();
        QCOMPARE(m_prompt->shown().size(), 2);
        for (const ShownPrompt &p : m_prompt->shown()) {
            QCOMPARE(p.text, QString());
            QCOMPARE(p.title, appTitle() + QStringLiteral("  Form_LoadError"));
            QCOMPARE(p.icon, PromptIcon::Exclamation);
            QCOMPARE(p.buttons, PromptButtons::OkCancel);
        }
        QVERIFY(!findControl<QListWidget>(history(), "lstLst")->isVisibleTo(history()));
        QVERIFY(findControl<QTextEdit>(history(), "rtfEd")->isVisibleTo(history()));
    }

    void loadReadsTheEditorFileAndClearsModified()
    {
        const QString path = m_folder->path() + QStringLiteral("/note.txt");
        writeBytes(path, QByteArray("abc\r\n\x82\xa0")); // "abc", "あ" in code page 932
        appState().editorFile = path;
        appState().editorModified = true;
        TyakuForm *f = form<TyakuForm>();
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->toPlainText(), QStringLiteral("abc\nあ"));
        QVERIFY(!appState().editorModified);
        QVERIFY(m_prompt->shown().isEmpty());
    }

    // Hover help with the pointer moved over the real widgets: the buttons
    // show their texts (the move they do not take passes on to the window
    // behind them), the list and the window's background hide and empty the box.
    void hoverHelpFollowsThePointer()
    {
        openHistoryWindow(1);
        TyakuForm *f = history();
        QVERIFY(QTest::qWaitForWindowExposed(f));
        const QPoint background(1, findControl<QPushButton>(f, "Command1")->geometry().center().y());
        QCOMPARE(f->childAt(background), nullptr);
        const QPoint overList = findControl<HistoryListBox>(f, "List1")->geometry().center();
        for (QPushButton *b :
            { findControl<QPushButton>(f, "Command1"), findControl<QPushButton>(f, "Command5"),
                findControl<QPushButton>(f, "Command3"), findControl<QPushButton>(f, "Command6"),
                findControl<QPushButton>(f, "Command4") }) {
            QTest::mouseMove(f, overList);
            QVERIFY(!findControl<QPlainTextEdit>(f, "Text4")->isVisible());
            test::pointAt(b);
            QVERIFY2(findControl<QPlainTextEdit>(f, "Text4")->isVisible(), qPrintable(b->text()));
        }
        QCOMPARE(findControl<QPlainTextEdit>(f, "Text4")->toPlainText(),
            QStringLiteral("受信したメールに返事を出します。リストからメールを選択（クリック）してから実行し"
                           "て下さい。"));
        test::pointAt(findControl<QPushButton>(f, "Command1"));
        QCOMPARE(findControl<QPlainTextEdit>(f, "Text4")->toPlainText(),
            QStringLiteral(
                "メールを１件ずつ削除します。リストでメールを選択（クリック）してから実行して下さい。"));
        test::pointAt(findControl<QPushButton>(f, "Command3"));
        QCOMPARE(findControl<QPlainTextEdit>(f, "Text4")->toPlainText(),
            QStringLiteral("メールアドレスをアドレス帳に登録します。リストからメールを選択（クリック）してか"
                           "ら実行して下さい。"));
        test::pointAt(findControl<QPushButton>(f, "Command5"));
        QCOMPARE(findControl<QPlainTextEdit>(f, "Text4")->toPlainText(),
            QStringLiteral("受信したメール全件削除します。"));
        test::pointAt(findControl<QPushButton>(f, "Command6"));
        QVERIFY(findControl<QPlainTextEdit>(f, "Text4")->toPlainText().startsWith(QStringLiteral("選択したメールの原文")));
        QTest::mouseMove(f, background);
        QVERIFY(!findControl<QPlainTextEdit>(f, "Text4")->isVisible());
        QVERIFY(findControl<QPlainTextEdit>(f, "Text4")->toPlainText().isEmpty());
        test::pointAt(findControl<QPushButton>(f, "Command5"));
        QVERIFY(findControl<QPlainTextEdit>(f, "Text4")->isVisible());
        QTest::mouseMove(f, overList);
        QVERIFY(!findControl<QPlainTextEdit>(f, "Text4")->isVisible());
        QVERIFY(findControl<QPlainTextEdit>(f, "Text4")->toPlainText().isEmpty());
    }

    void homeShowsTheMainWindowAndUnloads()
    {
        QWidget mainWindow;
        mainWindowSlot() = &mainWindow;
        {
            const std::unique_ptr<QSettings> s(openSettingsStore());
            s->setValue(QStringLiteral("HIST/x"), QStringLiteral("1"));
            s->setValue(QStringLiteral("OKINI/y"), QStringLiteral("2"));
            s->sync();
        }
        openHistoryWindow(1);
        findControl<QPushButton>(history(), "Command2")->click();
        QVERIFY(mainWindow.isVisible());
        QVERIFY(!loadedForm<TyakuForm>());
        const std::unique_ptr<QSettings> s(openSettingsStore());
        QVERIFY(!s->contains(QStringLiteral("HIST/x")));
        QVERIFY(!s->contains(QStringLiteral("OKINI/y")));
        QVERIFY(s->contains(QStringLiteral("FLAG/AUTOSAVE")));
        QCOMPARE(s->value(QStringLiteral("FLAG/AUTOSAVE")).toString(), QString());
        mainWindowSlot() = nullptr;
    }

    void missingDataFolderIsReported()
    {
        QVERIFY(QDir(appPaths().dataFolder()).removeRecursively());
        openHistoryWindow(1);
        QCOMPARE(m_prompt->shown().size(), 1);
        QVERIFY(m_prompt->shown().first().text.contains(QStringLiteral("kstdata2.data")));
        QCOMPARE(findControl<QLineEdit>(history(), "Text2")->text(), QStringLiteral("0"));
    }

private:
    static QString trimBlanksOf(const QString &s)
    {
        QString t = s;
        while (t.endsWith(u' '))
            t.chop(1);
        return t;
    }
};

QTEST_MAIN(TestHistoryList)
#include "tst_historylist.moc"
