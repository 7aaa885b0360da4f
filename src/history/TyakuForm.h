#pragma once

#include "storage/MailFields.h"
#include "common/Result.h"
#include "storage/StoreFaults.h"

#include <QRect>
#include <QWidget>

#include <functional>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QTextEdit;
class QToolBar;

namespace kestra {

class HistoryListBox;

// Places of the history window's controls for a window of W x H twips.
struct HistoryLayout {
    int listWidth = 0;
    int listHeight = 0;
    int boxesTop = 0;     // Text7, Text8, Text9
    int stripWidth = 0;   // Picture1, Picture2
    int editorWidth = 0;
    int editorTop = 0;
    int editorHeight = 0;
    int dateWidth = 0;
    int addressWidth = 0;
    int subjectWidth = 0;
    int dateLeft = 0;
    int addressLeft = 0;
    int subjectLeft = 0;
};
HistoryLayout historyLayout(int widthTwips, int heightTwips, int editorLeftTwips);

// Runs the print dialog on `printer`; false when the user cancelled. With
// `selection` the dialog offers printing the selection only.
using PrintDialogRunner = std::function<bool(QPrinter &printer, bool selection)>;
// Replaces the print dialog (tests print to a file); an empty function restores it.
void setPrintDialogRunner(PrintDialogRunner runner);

// The mail history window: lists the received or the sent store (by the history
// mode), shows one mail, deletes one or all records, and doubles as a small
// text editor on the body box.
//
// Controls:
//   mFile "ファイル(&F)": mnew, mopen, msave, mprint, mline, mend
//   medit "編集": mall, matamajump, mbunmatujump, mline3, mkensaku, mtugikensaku,
//                 mline2, mcut, mcopy, mpaste
//   Picture1    toolbar strip with tbToolBar (New, Open, Save, Print, Cut, Copy,
//               Paste, Bold, Italic, Underline)
//   Picture2    caption strip with Label1 "Date/ From/ Subject"
//   List1       one line per record of the store
//   Command1    １件削除, delete the selected record
//   Command5    全件削除, delete every listed record
//   Command3    アドレス帳登録, sender to the address book
//   Command4    返事を出す, reply
//   Command2    ホーム, back to the main window
//   Command6    原文, the selected mail as sent, with its attachments
//   Label4/Text2  件数, number of lines
//   Label2/Text1  検索文字, search text of find / find next
//   Text7, Text8, Text9  date, address, subject of the shown mail
//   rtfEd       body of the shown mail; the editor
//   Text4       hover help (hidden unless the mouse is over a button)
//   lstLst      hidden list, unused
class TyakuForm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TyakuForm)

public:
    static constexpr int kDesignWidth = 9600; // client area in twips
    static constexpr int kDesignHeight = 7200;

    explicit TyakuForm(QWidget *parent = nullptr);
    ~TyakuForm() override;

    void Form_Load();
    // Lays the controls out for the current size, or for a size given in twips.
    void Form_Resize();
    void Form_Resize(int widthTwips, int heightTwips);

    // Shows the store of `historyMode` (1 received, 2 sent): sets the history
    // mode, colours the list, captions and shows the window, and fills it.
    void showStore(qint16 historyMode);
    // Refills the list, the boxes, the body and the count from the store of the
    // history mode (what FillHistoryList does).
    void refresh();
    // Selects and shows the row of record `number`; false when the list has no
    // such record. The list takes the focus.
    bool selectRecord(qint64 number);
    // Puts a mail into the date, address and subject boxes and the body, as
    // receiving does for each message; the clipboard is left alone.
    void showInBoxes(const MailFields &fields);
    // What the boxes and the body hold: date, address, subject, body.
    MailFields boxes() const;
    // Whether the editor holds text the user typed and has not saved.
    bool hasUnsavedEdit() const;
    // Lists the records the store gained after the last listed one below the
    // others. The selection, the scroll position, the boxes and the editor's
    // text stay as they are: new mail arrived while the user was here.
    void ListNewMail();

    // Mouse press on the list: reads the record of the selected row and shows it.
    void ShowSelectedMail();
    int selectedRow() const;
    // Record number in the store of list row `row`, 0 for no such row. Rows
    // are mapped when the list is filled, so a row keeps naming its own mail
    // whatever else the store holds.
    qint64 recordOfRow(int row) const;

    void Command1_Click(); // delete one
    void Command2_Click(); // home
    void Command5_Click(); // delete all
    void Command3_Click(); // sender to the address book
    void Command4_Click(); // reply
    void Command6_Click(); // original view of the selected mail

    // Editor commands.
    void EditorNew();
    void EditorOpen();
    void EditorSaveAs();
    void EditorPrint();
    void SaveEditorFile();
    bool SaveEditorText(const QString &path);
    void EditorSelectAll();
    void EditorJumpToStart();
    void EditorJumpToEnd();
    void EditorFind();
    void EditorFindNext();
    void EditorCut();
    void EditorCopy();
    void EditorPaste();
    void ToggleBold();
    void ToggleItalic();
    void ToggleUnderline();
    void mend_Click();
    // Toolbar: runs the command of the button's key; unknown keys do nothing.
    void tbToolBar_ButtonClick(const QString &key);

    // 1-based position of the last find hit, 0 after a miss.
    int findPosition() const { return m_findPosition; }

    // Hover help for the control under the mouse.
    void hoverOver(QWidget *control);

    // Faults for the compaction after a deletion (none: the real disk). Only
    // tests set them; they go when the store takes a disk interface instead.
    void setStoreFaults(StoreFaults faults) { m_storeFaults = std::move(faults); }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void buildToolBar();
    void showMail(const MailFields &fields);
    void clearMailBoxes();
    void selectFindHit(int length);
    void showStorageError(const Error &error);
    // Compacts the store after a deletion: at once, or once the receive run
    // that appends to it has ended (the rows are then renumbered).
    Status compactAfterDeletion(qint16 mode);
    // After the mail of `row` was deleted and its store compacted at once:
    // takes the row out of the list instead of reading the store again, when
    // the list held exactly the store's records. False: the list must be
    // filled again.
    bool dropCompactedRow(int row);

    int m_findPosition = 0;
    QList<qint64> m_rowRecords; // record number of each row of List1
    StoreFaults m_storeFaults;

public:
    // Refills the list, the boxes, the body and the count from the store of the
    // history mode. The boxes and the body show the last record; no row is selected.
    void FillHistoryList();

private:
    // Controls, by their fixed names (the table above).
    QLineEdit *Text7 = nullptr;
    QLineEdit *Text8 = nullptr;
    QLineEdit *Text9 = nullptr;
    QTextEdit *rtfEd = nullptr;
    QMenuBar *menuBar = nullptr;
    QMenu *mFile = nullptr;
    QAction *mnew = nullptr;
    QAction *mopen = nullptr;
    QAction *msave = nullptr;
    QAction *mprint = nullptr;
    QAction *mline = nullptr;
    QAction *mend = nullptr;
    QMenu *medit = nullptr;
    QAction *mall = nullptr;
    QAction *matamajump = nullptr;
    QAction *mbunmatujump = nullptr;
    QAction *mline3 = nullptr;
    QAction *mkensaku = nullptr;
    QAction *mtugikensaku = nullptr;
    QAction *mline2 = nullptr;
    QAction *mcut = nullptr;
    QAction *mcopy = nullptr;
    QAction *mpaste = nullptr;
    QWidget *Picture1 = nullptr;
    QToolBar *tbToolBar = nullptr;
    QWidget *Picture2 = nullptr;
    QLabel *Label1 = nullptr;
    HistoryListBox *List1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command5 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command6 = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *Text2 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPlainTextEdit *Text4 = nullptr;
    QListWidget *lstLst = nullptr;
};

// What the main window's history buttons do: set the history mode (1 received,
// 2 sent), colour the list, caption and show the window, and fill it.
void openHistoryWindow(qint16 historyMode);

} // namespace kestra
