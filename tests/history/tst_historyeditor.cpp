#include "HistoryFixtures.h"

#include "common/AppState.h"
#include "common/Forms.h"
#include "history/EditorText.h"
#include "support/FindControl.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTextEdit>
#include <QToolBar>
#include <QtTest>

#include <memory>

using namespace kestra;
using namespace kestra::test;

class TestHistoryEditor : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempAppFolder> m_folder;
    std::unique_ptr<FakePrompt> m_prompt;

    TyakuForm *openEditor(const QString &text)
    {
        openHistoryWindow(1);
        TyakuForm *f = loadedForm<TyakuForm>();
        findControl<QTextEdit>(f, "rtfEd")->setPlainText(text);
        return f;
    }
    static int selStart(const TyakuForm *f)
    {
        return findControl<QTextEdit>(f, "rtfEd")->textCursor().selectionStart();
    }
    static int selLength(const TyakuForm *f)
    {
        return findControl<QTextEdit>(f, "rtfEd")->textCursor().selectionEnd()
            - findControl<QTextEdit>(f, "rtfEd")->textCursor().selectionStart();
    }
    QString pdfText(const QString &pdf)
    {
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
        if (!p.waitForFinished(30000) || p.exitCode() != 0)
            return QStringLiteral("<pdftotext failed: %1>").arg(QString::fromLocal8Bit(p.readAllStandardError()));
        return QString::fromUtf8(p.readAllStandardOutput());
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QFAIL("pdftotext (poppler-utils) is needed: run scripts/setup.sh");
    }
    void init()
    {
        m_folder = std::make_unique<TempAppFolder>();
        m_prompt = std::make_unique<FakePrompt>();
    }
    void cleanup()
    {
        setPrintDialogRunner({});
        unloadHistory();
        QCOMPARE(m_prompt->unexpected(), 0);
        m_prompt.reset();
        m_folder.reset();
    }

    void findPositions_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("expected");
        QTest::newRow("first hit") << 1 << QStringLiteral("xyabab") << QStringLiteral("ab") << 3;
        QTest::newRow("from the hit") << 3 << QStringLiteral("xyabab") << QStringLiteral("ab") << 3;
        QTest::newRow("second hit") << 5 << QStringLiteral("xyabab") << QStringLiteral("ab") << 5;
        QTest::newRow("past the end") << 7 << QStringLiteral("xyabab") << QStringLiteral("ab") << 0;
        QTest::newRow("case matters") << 1 << QStringLiteral("xyAB") << QStringLiteral("ab") << 0;
        QTest::newRow("empty text") << 1 << QString() << QStringLiteral("a") << 0;
        QTest::newRow("empty search") << 1 << QStringLiteral("abc") << QString() << 1;
        QTest::newRow("empty both") << 1 << QString() << QString() << 0;
        QTest::newRow("double-byte") << 1 << QStringLiteral("本文の検索") << QStringLiteral("検索") << 4;
    }
    void findPositions()
    {
        QFETCH(int, start);
        QFETCH(QString, text);
        QFETCH(QString, what);
        QFETCH(int, expected);
        QCOMPARE(findFrom(start, text, what), expected);
    }

    void findAndFindNextWalkTheHitsAndWrap()
    {
        TyakuForm *f = openEditor(QStringLiteral("xyabab"));
        findControl<QLineEdit>(f, "Text1")->setText(QStringLiteral("ab"));
        findControl<QAction>(f, "mkensaku")->trigger();
        QCOMPARE(f->findPosition(), 3);
        QCOMPARE(selStart(f), 2);
        QCOMPARE(selLength(f), 2);
        findControl<QAction>(f, "mtugikensaku")->trigger();
        QCOMPARE(f->findPosition(), 5);
        QCOMPARE(selStart(f), 4);
        QCOMPARE(selLength(f), 2);
        findControl<QAction>(f, "mtugikensaku")->trigger(); // nothing after the last hit
        QCOMPARE(f->findPosition(), 0);
        QCOMPARE(selStart(f), 4);
        QCOMPARE(selLength(f), 2);
        findControl<QAction>(f, "mtugikensaku")->trigger(); // starts at character 2: back to the first hit
        QCOMPARE(f->findPosition(), 3);
        QCOMPARE(selStart(f), 2);
        QCOMPARE(selLength(f), 2);
    }

    void findMissChangesNeitherSelectionNorFocus()
    {
        TyakuForm *f = openEditor(QStringLiteral("hello world"));
        f->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f));
        QTextCursor c = findControl<QTextEdit>(f, "rtfEd")->textCursor();
        c.setPosition(1);
        c.setPosition(4, QTextCursor::KeepAnchor);
        findControl<QTextEdit>(f, "rtfEd")->setTextCursor(c);
        findControl<QLineEdit>(f, "Text1")->setFocus();
        findControl<QLineEdit>(f, "Text1")->setText(QStringLiteral("xyz"));
        f->EditorFind();
        QCOMPARE(f->findPosition(), 0);
        QCOMPARE(selStart(f), 1);
        QCOMPARE(selLength(f), 3);
        QVERIFY(findControl<QLineEdit>(f, "Text1")->hasFocus());
    }

    void findNextWithEmptySearchStartsAtTheFirstCharacter()
    {
        TyakuForm *f = openEditor(QStringLiteral("abc"));
        findControl<QLineEdit>(f, "Text1")->clear();
        f->EditorFindNext();
        QCOMPARE(f->findPosition(), 1);
        QCOMPARE(selStart(f), 0);
        QCOMPARE(selLength(f), 0);
    }

    void copyCutAndPaste()
    {
        TyakuForm *f = openEditor(QStringLiteral("0123456789"));
        QClipboard *clipboard = QApplication::clipboard();

        // Copy with nothing selected: empty clipboard, caret at the start.
        clipboard->setText(QStringLiteral("old"));
        QTextCursor c = findControl<QTextEdit>(f, "rtfEd")->textCursor();
        c.setPosition(5);
        findControl<QTextEdit>(f, "rtfEd")->setTextCursor(c);
        findControl<QAction>(f, "mcopy")->trigger();
        QVERIFY(clipboard->text().isEmpty());
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->textCursor().position(), 0);

        // Copy of a selection: deselected, caret after the copied text.
        c.setPosition(2);
        c.setPosition(5, QTextCursor::KeepAnchor);
        findControl<QTextEdit>(f, "rtfEd")->setTextCursor(c);
        findControl<QAction>(f, "mcopy")->trigger();
        QCOMPARE(clipboard->text(), QStringLiteral("234"));
        QVERIFY(!findControl<QTextEdit>(f, "rtfEd")->textCursor().hasSelection());
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->textCursor().position(), 5);

        // Cut removes the selection.
        c.setPosition(0);
        c.setPosition(2, QTextCursor::KeepAnchor);
        findControl<QTextEdit>(f, "rtfEd")->setTextCursor(c);
        findControl<QAction>(f, "mcut")->trigger();
        QCOMPARE(clipboard->text(), QStringLiteral("01"));
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->toPlainText(), QStringLiteral("23456789"));

        // Paste replaces the selection with the clipboard text trimmed of blanks only.
        clipboard->setText(QStringLiteral("  \tpasted\r\n  "));
        c = findControl<QTextEdit>(f, "rtfEd")->textCursor();
        c.setPosition(0);
        c.setPosition(3, QTextCursor::KeepAnchor);
        findControl<QTextEdit>(f, "rtfEd")->setTextCursor(c);
        findControl<QAction>(f, "mpaste")->trigger();
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->toPlainText(), QStringLiteral("\tpasted\n56789"));
        clipboard->setText(QStringLiteral("  abc  "));
        f->tbToolBar_ButtonClick(QStringLiteral("Paste"));
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->toPlainText(), QStringLiteral("\tpasted\nabc56789"));
    }

    void selectAllAndJumps()
    {
        TyakuForm *f = openEditor(QStringLiteral("line one\nline two"));
        findControl<QAction>(f, "mall")->trigger();
        QCOMPARE(selStart(f), 0);
        QCOMPARE(selLength(f), 17);
        findControl<QAction>(f, "mbunmatujump")->trigger();
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->textCursor().position(), 17);
        QVERIFY(!findControl<QTextEdit>(f, "rtfEd")->textCursor().hasSelection());
        findControl<QAction>(f, "matamajump")->trigger();
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->textCursor().position(), 0);
    }

    void newAtFirstUseCreatesTheFileInTheCurrentFolder()
    {
        QTemporaryDir current;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(current.path()));
        TyakuForm *f = openEditor(QStringLiteral("changed text"));
        QVERIFY(appState().editorModified);
        QVERIFY(appState().editorFile.isEmpty());

        findControl<QAction>(f, "mnew")->trigger();
        const QString created = current.filePath(QStringLiteral("新規作成.TXT"));
        const bool exists = QFileInfo::exists(created);
        const qint64 size = QFileInfo(created).size();
        const QStringList entries = QDir(current.path()).entryList(QDir::Files);

        // A second New while the current file is the new file changes nothing.
        findControl<QTextEdit>(f, "rtfEd")->setPlainText(QStringLiteral("typed later"));
        f->tbToolBar_ButtonClick(QStringLiteral("New"));
        const QString textAfterSecondNew = findControl<QTextEdit>(f, "rtfEd")->toPlainText();
        const qint64 sizeAfterSecondNew = QFileInfo(created).size();
        QDir::setCurrent(before);

        QVERIFY(exists);
        QCOMPARE(size, 0);
        QCOMPARE(entries, QStringList{QStringLiteral("新規作成.TXT")});
        QCOMPARE(appState().editorFile, QStringLiteral("新規作成.TXT"));
        QCOMPARE(f->windowTitle(), QStringLiteral("新規作成.TXT      新規作成.TXT"));
        QCOMPARE(textAfterSecondNew, QStringLiteral("typed later"));
        QCOMPARE(sizeAfterSecondNew, 0);
    }

    // New asks before throwing away typed text or emptying an existing file,
    // and changes nothing when the file cannot be made; a failed Open says so
    // and keeps the caption; Save As warns about characters code page 932
    // cannot hold.
    void editorCommandsNeverLoseText()
    {
        QTemporaryDir current;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(current.path()));
        const QString existing = current.filePath(QStringLiteral("新規作成.TXT"));
        writeBytes(existing, QByteArray("old content"));
        TyakuForm *f = openEditor(QStringLiteral("本文"));
        f->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f));
        findControl<QTextEdit>(f, "rtfEd")->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End, Qt::ControlModifier);
        test::typeText(QStringLiteral("追記"));
        f->setWindowTitle(QStringLiteral("caption"));

        m_prompt->answer(PromptAnswer::No); // keep the typed text
        findControl<QAction>(f, "mnew")->trigger();
        m_prompt->answer(PromptAnswer::Yes); // discard it
        m_prompt->answer(PromptAnswer::No);  // but do not empty the existing file
        findControl<QAction>(f, "mnew")->trigger();
        const QStringList asked = m_prompt->texts();
        const QByteArray fileAfter = readBytes(existing);
        const QString fileShown = QFileInfo(existing).absoluteFilePath();

        // A folder that cannot be written (here: gone).
        QTemporaryDir gone;
        QVERIFY(QDir::setCurrent(gone.path()));
        QVERIFY(gone.remove());
        m_prompt->clear();
        m_prompt->answer(PromptAnswer::Yes);
        m_prompt->answer(PromptAnswer::Ok);
        findControl<QAction>(f, "mnew")->trigger();
        const QStringList failedNew = m_prompt->texts();
        QDir::setCurrent(before);

        QCOMPARE(asked.size(), 3);
        QCOMPARE(asked[0], QStringLiteral("編集中の文章は保存されていません。破棄して新規作成しますか？"));
        QCOMPARE(asked[2], QStringLiteral("「%1」は既にあります。中身を消して新規作成しますか？").arg(fileShown));
        QCOMPARE(fileAfter, QByteArray("old content"));
        QCOMPARE(failedNew.size(), 2);
        QVERIFY2(failedNew[1].startsWith(QStringLiteral("新しいファイルを作れませんでした。\r\n")), qPrintable(failedNew[1]));
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->toPlainText(), QStringLiteral("本文追記"));
        QCOMPARE(f->windowTitle(), QStringLiteral("caption"));
        QVERIFY(appState().editorFile.isEmpty());

        m_prompt->clear();
        m_prompt->answerFile(m_folder->path() + QStringLiteral("/missing.txt"));
        m_prompt->answer(PromptAnswer::Ok);
        findControl<QAction>(f, "mopen")->trigger();
        QCOMPARE(m_prompt->shown().size(), 2);
        QVERIFY(m_prompt->shown()[1].text.startsWith(QStringLiteral("ファイルを開けませんでした。\r\n")));
        QVERIFY(m_prompt->shown()[1].text.contains(QStringLiteral("missing.txt")));
        QCOMPARE(f->windowTitle(), QStringLiteral("caption"));
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->toPlainText(), QStringLiteral("本文追記"));

        const QString out = m_folder->path() + QStringLiteral("/out.txt");
        findControl<QTextEdit>(f, "rtfEd")->setPlainText(QStringLiteral("絵😀"));
        for (const PromptAnswer a : {PromptAnswer::No, PromptAnswer::Yes}) {
            m_prompt->clear();
            m_prompt->answerFile(out);
            m_prompt->answer(a);
            findControl<QAction>(f, "msave")->trigger();
            QCOMPARE(m_prompt->shown().size(), 2);
            QCOMPARE(m_prompt->shown()[1].text,
                     QStringLiteral("この文章には Shift_JIS で保存できない文字（「😀」など）があります。"
                                    "保存するとその文字は「?」になります。保存しますか？"));
            QCOMPARE(QFileInfo::exists(out), a == PromptAnswer::Yes);
        }
        QCOMPARE(readBytes(out), QByteArray("\x8a\x47?\r\n"));
        QCOMPARE(f->windowTitle(), out);
    }

    void openReadsCodePage932Lines()
    {
        const QString path = m_folder->path() + QStringLiteral("/in.txt");
        // "あ" CR LF, "b" LF, "c" CR, "d" without a line end.
        writeBytes(path, QByteArray("\x82\xa0\r\nb\nc\rd"));
        TyakuForm *f = openEditor(QStringLiteral("old"));
        m_prompt->answerFile(path);
        findControl<QAction>(f, "mopen")->trigger();
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->toPlainText(), QStringLiteral("あ\nb\nc\nd\n"));
        QCOMPARE(f->windowTitle(), path);
        QVERIFY(appState().editorFile.isEmpty());
        QCOMPARE(m_prompt->shown().first().kind, ShownPrompt::Kind::OpenFile);
    }

    void openSurvivesBytesThatAreNotCodePage932()
    {
        const QString path = m_folder->path() + QStringLiteral("/binary.txt");
        QByteArray junk("\x81\r\n\xa0\xfd\xfe\xff\x00\x85\x40\x81", 12);
        for (int i = 0; i < 256; ++i)
            junk += char(i);
        writeBytes(path, junk);
        TyakuForm *f = openEditor(QStringLiteral("old"));
        m_prompt->answerFile(path);
        f->EditorOpen();
        const QString text = findControl<QTextEdit>(f, "rtfEd")->toPlainText();
        QVERIFY(text != QStringLiteral("old"));
        QVERIFY(text.contains(QChar(0xFFFD)));
    }

    void openOrSaveCancelledDoesNothing()
    {
        TyakuForm *f = openEditor(QStringLiteral("keep"));
        f->setWindowTitle(QStringLiteral("caption"));
        m_prompt->answerFile(QString());
        f->EditorOpen();
        m_prompt->answerFile(QString());
        f->EditorSaveAs();
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->toPlainText(), QStringLiteral("keep"));
        QCOMPARE(f->windowTitle(), QStringLiteral("caption"));
        QCOMPARE(m_prompt->shown().size(), 2);
    }

    void saveAsWritesCodePage932WithCrLf()
    {
        const QString path = m_folder->path() + QStringLiteral("/out.txt");
        TyakuForm *f = openEditor(QStringLiteral("あ\nb"));
        appState().editorModified = true;
        m_prompt->answerFile(path);
        findControl<QAction>(f, "msave")->trigger();
        QCOMPARE(readBytes(path), QByteArray("\x82\xa0\r\nb\r\n"));
        QCOMPARE(f->windowTitle(), path);
        QVERIFY(appState().editorModified); // save as leaves the flag alone
        QVERIFY(appState().editorFile.isEmpty());
    }

    void saveAsFailureIsShown()
    {
        const QString path = m_folder->path() + QStringLiteral("/no such folder/out.txt");
        TyakuForm *f = openEditor(QStringLiteral("text"));
        m_prompt->answerFile(path);
        f->EditorSaveAs();
        QCOMPARE(m_prompt->shown().size(), 2);
        QCOMPARE(m_prompt->shown().at(1).icon, PromptIcon::Exclamation);
        QVERIFY(m_prompt->shown().at(1).text.contains(QStringLiteral("out.txt")));
    }

    void printWritesTheSelectionOrTheWholeText()
    {
        TyakuForm *f = openEditor(QStringLiteral("Alpha line\nBravo line\nCharlie"));
        const QString pdf = m_folder->path() + QStringLiteral("/print.pdf");
        bool offeredSelection = false;
        setPrintDialogRunner([&](QPrinter &printer, bool selection) {
            offeredSelection = selection;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        });

        f->tbToolBar_ButtonClick(QStringLiteral("Print"));
        QVERIFY(!offeredSelection);
        QString text = pdfText(pdf);
        QVERIFY2(text.contains(QStringLiteral("Alpha line")) && text.contains(QStringLiteral("Charlie")), qPrintable(text));

        // A selection prints alone, also when the focus sits in another box.
        QVERIFY(QFile::remove(pdf));
        QTextCursor c = findControl<QTextEdit>(f, "rtfEd")->textCursor();
        c.setPosition(11);
        c.setPosition(21, QTextCursor::KeepAnchor);
        findControl<QTextEdit>(f, "rtfEd")->setTextCursor(c);
        findControl<QLineEdit>(f, "Text1")->setFocus();
        findControl<QAction>(f, "mprint")->trigger(); // the menu item prints as the toolbar does
        QVERIFY(offeredSelection);
        text = pdfText(pdf);
        QVERIFY2(text.contains(QStringLiteral("Bravo line")), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("Alpha")) && !text.contains(QStringLiteral("Charlie")), qPrintable(text));
    }

    void printCancelledPrintsNothing()
    {
        TyakuForm *f = openEditor(QStringLiteral("text"));
        const QString pdf = m_folder->path() + QStringLiteral("/cancel.pdf");
        setPrintDialogRunner([&](QPrinter &printer, bool) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return false;
        });
        f->EditorPrint();
        QVERIFY(!QFileInfo::exists(pdf));
    }

    void styleTogglesAlternateAndTheirCountersSurviveUnloads()
    {
        TyakuForm *f = openEditor(QStringLiteral("text"));
        f->tbToolBar_ButtonClick(QStringLiteral("Bold"));
        QVERIFY(findControl<QTextEdit>(f, "rtfEd")->font().bold());
        QVERIFY(findControl<QTextEdit>(f, "rtfEd")->document()->defaultFont().bold());
        f->tbToolBar_ButtonClick(QStringLiteral("Bold"));
        QVERIFY(!findControl<QTextEdit>(f, "rtfEd")->font().bold());
        f->tbToolBar_ButtonClick(QStringLiteral("Italic"));
        QVERIFY(findControl<QTextEdit>(f, "rtfEd")->font().italic());
        f->tbToolBar_ButtonClick(QStringLiteral("Underline"));
        QVERIFY(findControl<QTextEdit>(f, "rtfEd")->font().underline());
        QCOMPARE(appState().boldCount, 2);
        QCOMPARE(appState().italicCount, 1);
        QCOMPARE(appState().underlineCount, 1);
        f->tbToolBar_ButtonClick(QStringLiteral("NoSuchKey")); // ignored

        // After a reload the fonts are plain again, but the counters carry on:
        // the next italic press switches italic off (it already is).
        unloadHistory();
        f = openEditor(QStringLiteral("text"));
        QVERIFY(!findControl<QTextEdit>(f, "rtfEd")->font().italic());
        f->tbToolBar_ButtonClick(QStringLiteral("Italic"));
        QVERIFY(!findControl<QTextEdit>(f, "rtfEd")->font().italic());
        QCOMPARE(appState().italicCount, 2);
        f->tbToolBar_ButtonClick(QStringLiteral("Italic"));
        QVERIFY(findControl<QTextEdit>(f, "rtfEd")->font().italic());
    }

    void toolbarButtonsCarryTheirKeys()
    {
        TyakuForm *f = openEditor(QStringLiteral("abc"));
        const QStringList keys = {QStringLiteral("New"), QStringLiteral("Open"), QStringLiteral("Save"),
                                  QStringLiteral("Print"), QStringLiteral("Cut"), QStringLiteral("Copy"),
                                  QStringLiteral("Paste"), QStringLiteral("Bold"), QStringLiteral("Italic"),
                                  QStringLiteral("Underline")};
        QStringList found;
        for (QAction *a : findControl<QToolBar>(f, "tbToolBar")->actions())
            found.append(a->data().toString());
        QCOMPARE(found, keys);
        // Pressing the toolbar's Copy button runs copy.
        findControl<QAction>(f, "mall")->trigger();
        findControl<QToolBar>(f, "tbToolBar")->actions().at(5)->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("abc"));
    }

    void endShowsTheMainWindowInThePlaceOfTheHistory()
    {
        QWidget mainWindow;
        mainWindow.resize(200, 100);
        mainWindowSlot() = &mainWindow;
        TyakuForm *f = openEditor(QStringLiteral("kept"));
        f->move(120, 80);
        const QPoint where = f->pos();
        findControl<QAction>(f, "mend")->trigger();
        QVERIFY(mainWindow.isVisible());
        QCOMPARE(mainWindow.pos(), where);
        QVERIFY(!f->isVisible());
        QCOMPARE(loadedForm<TyakuForm>(), f);
        QCOMPARE(findControl<QTextEdit>(f, "rtfEd")->toPlainText(), QStringLiteral("kept"));
        mainWindowSlot() = nullptr;
    }

    void folderPartKeepsTheLastSeparator_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::newRow("none") << QStringLiteral("a.txt") << QStringLiteral("a.txt");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("backslash") << QStringLiteral("C:\\x\\a.txt") << QStringLiteral("C:\\x\\");
        QTest::newRow("slash") << QStringLiteral("/tmp/x/a.txt") << QStringLiteral("/tmp/x/");
    }
    void folderPartKeepsTheLastSeparator()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QCOMPARE(FolderPart(path), folder);
    }
};

QTEST_MAIN(TestHistoryEditor)
#include "tst_historyeditor.moc"
