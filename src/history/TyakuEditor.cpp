// The history window's editor commands: files, printing, finding and the clipboard.
#include "history/TyakuForm.h"

#include "common/AppState.h"
#include "common/Forms.h"
#include "common/SwapWindow.h"
#include "common/Text.h"
#include "common/UserPrompt.h"
#include "history/EditorText.h"
#include "history/HistoryListBox.h"
#include "storage/Cp932.h"
#include "storage/Settings.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace kestra {

namespace {

const QString &newFileName()
{
    static const QString name = QStringLiteral("新規作成.TXT");
    return name;
}

// The file dialogs' filter: text and settings files.
QString textFileFilter()
{
    return QStringLiteral("txtファイル(*.txt,*.ini) (*.txt *.ini)");
}

QString selectedPlainText(const QTextCursor &cursor)
{
    QString text = cursor.selectedText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

bool runRealPrintDialog(QPrinter &printer, bool selection, QWidget *parent)
{
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, selection);
    if (selection)
        dialog.setPrintRange(QAbstractPrintDialog::Selection);
    return dialog.exec() == QDialog::Accepted;
}

PrintDialogRunner &printDialogRunnerInstance()
{
    static PrintDialogRunner runner;
    return runner;
}

} // namespace

void setPrintDialogRunner(PrintDialogRunner runner)
{
    printDialogRunnerInstance() = std::move(runner);
}

void TyakuForm::SaveEditorFile()
{
    // Errors are ignored; the text counts as saved either way.
    QFile file(appState().editorFile);
    if (!appState().editorFile.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(editorTextBytes(rtfEd->toPlainText()));
    appState().editorModified = false;
}

bool TyakuForm::SaveEditorText(const QString &path)
{
    const Status s = writeFileAtomically(path, editorTextBytes(rtfEd->toPlainText() + QLatin1String("\r\n")));
    if (!s)
        showStorageError(s.error());
    return s.ok();
}

void TyakuForm::EditorNew()
{
    AppState &state = appState();
    if (state.editorFile.contains(newFileName()))
        return;
    // Text typed into the box (not a mail the history put there) is thrown
    // away only when the user says so.
    if (rtfEd->document()->isModified() && !rtfEd->toPlainText().isEmpty()
        && !prompt().confirm(QStringLiteral("編集中の文章は保存されていません。破棄して新規作成しますか？")))
        return;
    if (state.editorModified)
        SaveEditorFile();
    const QString path = FolderPart(state.editorFile) + newFileName();
    const QString shown = QFileInfo(path).absoluteFilePath();
    if (QFileInfo::exists(path)
        && !prompt().confirm(QStringLiteral("「%1」は既にあります。中身を消して新規作成しますか？").arg(shown)))
        return;
    // The new file is made before anything changes: a folder that cannot be
    // written leaves the text, the caption and the current file as they were.
    if (const Status made = writeFileAtomically(path, QByteArray()); !made) {
        prompt().info(QStringLiteral("新しいファイルを作れませんでした。\r\n") + made.error().message(), appTitle(),
                      PromptIcon::Exclamation);
        return;
    }
    rtfEd->clear();
    state.editorFile = path;
    state.editorModified = false;
    setWindowTitle(newFileName() + QStringLiteral("      ") + state.editorFile);
}

void TyakuForm::EditorOpen()
{
    const QString path = prompt().openFileName(QStringLiteral("開く"), QString(), textFileFilter());
    if (path.isEmpty())
        return;
    Result<QString> text = readEditorTextFile(path);
    if (!text) {
        // The caption keeps naming what the box shows.
        prompt().info(QStringLiteral("ファイルを開けませんでした。\r\n") + text.error().message(), appTitle(),
                      PromptIcon::Exclamation);
        return;
    }
    setWindowTitle(path);
    rtfEd->setPlainText(text.value());
}

void TyakuForm::EditorSaveAs()
{
    const QString path = prompt().saveFileName(QStringLiteral("名前を付けて保存"), QString(), textFileFilter());
    if (path.isEmpty())
        return;
    const QString lost = cp932::firstUnencodable(rtfEd->toPlainText());
    if (!lost.isEmpty()
        && !prompt().confirm(QStringLiteral("この文章には Shift_JIS で保存できない文字（「%1」など）があります。"
                                            "保存するとその文字は「?」になります。保存しますか？")
                                 .arg(lost)))
        return;
    if (SaveEditorText(path))
        setWindowTitle(path);
}

void TyakuForm::EditorPrint()
{
    const QTextCursor cursor = rtfEd->textCursor();
    const bool selection = cursor.hasSelection();
    const QString text = selection ? selectedPlainText(cursor) : rtfEd->toPlainText();

    QPrinter printer;
    const PrintDialogRunner &runner = printDialogRunnerInstance();
    const bool accepted = runner ? runner(printer, selection) : runRealPrintDialog(printer, selection, this);
    if (!accepted)
        return;

    QFont font(rtfEd->font().family());
    font.setPointSizeF(rtfEd->font().pointSizeF());
    font.setBold(rtfEd->font().bold());
    font.setItalic(rtfEd->font().italic());

    // One print job per copy.
    const int copies = qMax(1, printer.copyCount());
    printer.setCopyCount(1);
    for (int i = 0; i < copies; ++i) {
        QTextDocument document;
        document.setDefaultFont(font);
        document.setPlainText(text);
        document.print(&printer);
    }
}

void TyakuForm::EditorSelectAll()
{
    QTextCursor c = rtfEd->textCursor();
    c.select(QTextCursor::Document);
    rtfEd->setTextCursor(c);
}

void TyakuForm::EditorJumpToStart()
{
    QTextCursor c = rtfEd->textCursor();
    c.movePosition(QTextCursor::Start);
    rtfEd->setTextCursor(c);
    rtfEd->setFocus();
}

void TyakuForm::EditorJumpToEnd()
{
    QTextCursor c = rtfEd->textCursor();
    c.movePosition(QTextCursor::End);
    rtfEd->setTextCursor(c);
    rtfEd->setFocus();
}

void TyakuForm::selectFindHit(int length)
{
    rtfEd->setFocus();
    QTextCursor c = rtfEd->textCursor();
    c.setPosition(m_findPosition - 1);
    c.setPosition(m_findPosition - 1 + length, QTextCursor::KeepAnchor);
    rtfEd->setTextCursor(c);
}

void TyakuForm::EditorFind()
{
    const QString what = Text1->text();
    m_findPosition = findFrom(1, rtfEd->toPlainText(), what);
    if (m_findPosition > 0)
        selectFindHit(int(what.size()));
}

void TyakuForm::EditorFindNext()
{
    const QString what = Text1->text();
    // With an empty search text and no earlier hit the search starts at the first character.
    const int start = qMax(1, m_findPosition + int(what.size()));
    m_findPosition = findFrom(start, rtfEd->toPlainText(), what);
    if (m_findPosition > 0)
        selectFindHit(int(what.size()));
}

void TyakuForm::EditorCut()
{
    QTextCursor c = rtfEd->textCursor();
    QClipboard *clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(selectedPlainText(c));
    c.removeSelectedText();
    rtfEd->setTextCursor(c);
    rtfEd->setFocus();
}

void TyakuForm::EditorCopy()
{
    QTextCursor c = rtfEd->textCursor();
    const int end = c.hasSelection() ? c.selectionEnd() : 0;
    QClipboard *clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(selectedPlainText(c));
    c.setPosition(end);
    rtfEd->setTextCursor(c);
    rtfEd->setFocus();
}

void TyakuForm::EditorPaste()
{
    rtfEd->setFocus();
    QTextCursor c = rtfEd->textCursor();
    c.insertText(trimBlanks(QApplication::clipboard()->text()));
    rtfEd->setTextCursor(c);
    rtfEd->setFocus();
}

namespace {
// Even counter: switch the attribute on; odd: off.
void toggleFont(QTextEdit *editor, int &counter, void (QFont::*set)(bool))
{
    QFont f = editor->font();
    const bool on = counter % 2 == 0;
    (f.*set)(on);
    counter = on ? 1 : 2;
    editor->setFont(f);
}
} // namespace

void TyakuForm::ToggleBold()
{
    toggleFont(rtfEd, appState().boldCount, &QFont::setBold);
}

void TyakuForm::ToggleItalic()
{
    toggleFont(rtfEd, appState().italicCount, &QFont::setItalic);
}

void TyakuForm::ToggleUnderline()
{
    toggleFont(rtfEd, appState().underlineCount, &QFont::setUnderline);
}

void TyakuForm::mend_Click()
{
    SwapWindow(mainWindowSlot(), this);
}

void TyakuForm::tbToolBar_ButtonClick(const QString &key)
{
    struct Command {
        const char *key;
        void (TyakuForm::*run)();
    };
    static const Command commands[] = {
        {"New", &TyakuForm::EditorNew},     {"Open", &TyakuForm::EditorOpen},
        {"Save", &TyakuForm::EditorSaveAs}, {"Print", &TyakuForm::EditorPrint},
        {"Cut", &TyakuForm::EditorCut},     {"Copy", &TyakuForm::EditorCopy},
        {"Paste", &TyakuForm::EditorPaste}, {"Bold", &TyakuForm::ToggleBold},
        {"Italic", &TyakuForm::ToggleItalic}, {"Underline", &TyakuForm::ToggleUnderline},
    };
    for (const Command &c : commands) {
        if (key == QLatin1String(c.key)) {
            (this->*c.run)();
            return;
        }
    }
}

} // namespace kestra
