#include "history/TyakuForm.h"

#include "common/Controls.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/HoverHelp.h"
#include "common/Twips.h"
#include "common/UserPrompt.h"
#include "history/EditorText.h"
#include "history/HistoryListBox.h"
#include "history/HistoryStore.h"
#include "history/SearchForm.h"
#include "reader/OriginalForm.h"
#include "storage/FetchedUidls.h"
#include "storage/Originals.h"
#include "storage/RecordFile.h"
#include "storage/StoreGuard.h"
#include "storage/Settings.h"
#include "storage/StoreBuffers.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QDir>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QTextEdit>
#include <QToolBar>

#include <memory>

namespace kestra {

namespace {

// Design-time places (twips) of the controls that the resize rules do not move.
constexpr int kMenuHeight = 390;
constexpr int kToolStripTop = 390;
constexpr int kToolStripHeight = 420;
constexpr int kCaptionStripTop = 810;
constexpr int kCaptionStripHeight = 255;
constexpr int kListLeft = 20;
constexpr int kListTop = 1065;
constexpr int kButtonRowTop = 1080; // plus the height of the list
constexpr int kButtonHeight = 330;
constexpr int kBoxHeight = 315;
constexpr int kEditorLeft = 20;
constexpr int kEditorLoadTop = 3900;
constexpr int kEditorLoadHeight = 3000;

const HelpEntry kHelp[] = {
    {"Command1", u"メールを１件ずつ削除します。リストでメールを選択（クリック）してから実行して下さい。"},
    {"Command3", u"メールアドレスをアドレス帳に登録します。リストからメールを選択（クリック）してから実行して下さい。"},
    {"Command4", u"受信したメールに返事を出します。リストからメールを選択（クリック）してから実行して下さい。"},
    {"Command5", u"受信したメール全件削除します。"},
    {"Command6", u"選択したメールの原文（ヘッダーと本文を送られたままの形）を表示します。添付ファイルもここから開けます。"},
};

// Compacts the store of the history mode; the received store's compaction
// also deletes the originals of the records it drops.
Status compactHistoryStore(qint16 mode, const StoreFaults &faults)
{
    return mode == 1 ? originals::compactReceivedStore(historyStorePath(1), historyTempPath(1), faults)
                     : CompactStore(historyStorePath(mode), historyTempPath(mode), MailRecord::kLength, faults);
}

QString helpTextFor(const QString &controlName)
{
    return helpTextIn(kHelp, controlName);
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

QLineEdit *makeBox(QWidget *parent, const char *name)
{
    auto *t = new QLineEdit(parent);
    t->setObjectName(QLatin1String(name));
    return t;
}

} // namespace

HistoryLayout historyLayout(int w, int h, int editorLeft)
{
    HistoryLayout l;
    l.listWidth = qRound(w * 0.99);
    l.listHeight = qRound(h * 0.25);
    l.boxesTop = l.listHeight + 1440;
    l.stripWidth = w;
    l.editorWidth = qRound(w * 0.99);
    l.editorTop = l.listHeight + 1800;
    l.editorHeight = qRound(h * 0.5);
    l.dateWidth = qRound(w * 0.2);
    l.addressWidth = qRound(w * 0.35);
    l.subjectWidth = qRound(w * 0.54);
    l.dateLeft = editorLeft;
    l.addressLeft = qRound(l.editorWidth * 0.2);
    l.subjectLeft = qRound(l.editorWidth * 0.55);
    return l;
}

TyakuForm::TyakuForm(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("TyakuForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(twipsToPx(kDesignWidth), twipsToPx(kDesignHeight));
    buildControls();
    Form_Load();
}

TyakuForm::~TyakuForm() = default;

void TyakuForm::buildControls()
{
    buildMenus();
    buildToolBar();

    Picture2 = new QWidget(this);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    setGeometryTwips(Picture2, 0, kCaptionStripTop, kDesignWidth, kCaptionStripHeight);
    Label1 = new QLabel(QStringLiteral("Date/ From/ Subject"), Picture2);
    Label1->setObjectName(QStringLiteral("Label1"));
    setGeometryTwips(Label1, 60, 0, 3000, kCaptionStripHeight);

    List1 = new HistoryListBox(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(twipsRect(kListLeft, kListTop, kDesignWidth, kDesignHeight / 4));

    Command1 = makeButton(this, "Command1", QStringLiteral("１件削除"));
    Command5 = makeButton(this, "Command5", QStringLiteral("全件削除"));
    Command3 = makeButton(this, "Command3", QStringLiteral("アドレス帳登録"));
    Command4 = makeButton(this, "Command4", QStringLiteral("返事を出す"));
    Command2 = makeButton(this, "Command2", QStringLiteral("ホーム"));
    Command6 = makeButton(this, "Command6", QStringLiteral("原文"));
    Label4 = new QLabel(QStringLiteral("件数"), this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Text2 = makeBox(this, "Text2");
    Label2 = new QLabel(QStringLiteral("検索文字"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Text1 = makeBox(this, "Text1");

    Text7 = makeBox(this, "Text7");
    Text8 = makeBox(this, "Text8");
    Text9 = makeBox(this, "Text9");

    rtfEd = new QTextEdit(this);
    rtfEd->setObjectName(QStringLiteral("rtfEd"));
    rtfEd->setAcceptRichText(false);
    setGeometryTwips(rtfEd, kEditorLeft, kEditorLoadTop, kDesignWidth, kEditorLoadHeight);

    Text4 = new QPlainTextEdit(this);
    Text4->setObjectName(QStringLiteral("Text4"));
    Text4->setReadOnly(true);
    Text4->hide();

    lstLst = new QListWidget(this);
    lstLst->setObjectName(QStringLiteral("lstLst"));
    setGeometryTwips(lstLst, 0, 0, 1000, 600);

    connect(List1, &HistoryListBox::mouseDown, this, &TyakuForm::ShowSelectedMail);
    connect(Command1, &QPushButton::clicked, this, &TyakuForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &TyakuForm::Command2_Click);
    connect(Command5, &QPushButton::clicked, this, &TyakuForm::Command5_Click);
    connect(Command3, &QPushButton::clicked, this, &TyakuForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &TyakuForm::Command4_Click);
    connect(Command6, &QPushButton::clicked, this, &TyakuForm::Command6_Click);
    // Every change of the body, typed or filled, marks the editor's text modified.
    connect(rtfEd, &QTextEdit::textChanged, this, [] { appState().editorModified = true; });
    // Ctrl+F in the list searches all mail of both stores.
    auto *searchKey = new QShortcut(QKeySequence::Find, List1, nullptr, nullptr, Qt::WidgetShortcut);
    connect(searchKey, &QShortcut::activated, this, &openSearchWindow);

    // Over the window's background and the list the help goes away.
    auto *hover = new HoverHelp(this, [this](QWidget *control) { hoverOver(control); });
    hover->watch({this, Command1, Command2, Command3, Command4, Command5, Command6, List1, List1->viewport()});
}

void TyakuForm::buildMenus()
{
    menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    menuBar->setNativeMenuBar(false);

    const auto item = [this](QMenu *menu, QAction *&action, const char *name, const QString &caption,
                             void (TyakuForm::*handler)()) {
        action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, handler);
    };
    const auto separator = [](QMenu *menu, QAction *&action, const char *name) {
        action = menu->addSeparator();
        action->setObjectName(QLatin1String(name));
    };

    mFile = menuBar->addMenu(QStringLiteral("ファイル(&F)"));
    mFile->setObjectName(QStringLiteral("mFile"));
    item(mFile, mnew, "mnew", QStringLiteral("新規作成"), &TyakuForm::EditorNew);
    item(mFile, mopen, "mopen", QStringLiteral("開く"), &TyakuForm::EditorOpen);
    item(mFile, msave, "msave", QStringLiteral("名前を付けて保存"), &TyakuForm::EditorSaveAs);
    item(mFile, mprint, "mprint", QStringLiteral("印刷"), &TyakuForm::EditorPrint);
    separator(mFile, mline, "mline");
    item(mFile, mend, "mend", QStringLiteral("終了"), &TyakuForm::mend_Click);

    medit = menuBar->addMenu(QStringLiteral("編集"));
    medit->setObjectName(QStringLiteral("medit"));
    item(medit, mall, "mall", QStringLiteral("全て選択"), &TyakuForm::EditorSelectAll);
    item(medit, matamajump, "matamajump", QStringLiteral("文頭へジャンプ"), &TyakuForm::EditorJumpToStart);
    item(medit, mbunmatujump, "mbunmatujump", QStringLiteral("文末へジャンプ"), &TyakuForm::EditorJumpToEnd);
    separator(medit, mline3, "mline3");
    item(medit, mkensaku, "mkensaku", QStringLiteral("検索"), &TyakuForm::EditorFind);
    item(medit, mtugikensaku, "mtugikensaku", QStringLiteral("次を検索"), &TyakuForm::EditorFindNext);
    separator(medit, mline2, "mline2");
    item(medit, mcut, "mcut", QStringLiteral("切り取り"), &TyakuForm::EditorCut);
    item(medit, mcopy, "mcopy", QStringLiteral("コピー"), &TyakuForm::EditorCopy);
    item(medit, mpaste, "mpaste", QStringLiteral("貼付け"), &TyakuForm::EditorPaste);

    setGeometryTwips(menuBar, 0, 0, kDesignWidth, kMenuHeight);
}

void TyakuForm::buildToolBar()
{
    Picture1 = new QWidget(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    setGeometryTwips(Picture1, 0, kToolStripTop, kDesignWidth, kToolStripHeight);
    tbToolBar = new QToolBar(Picture1);
    tbToolBar->setObjectName(QStringLiteral("tbToolBar"));
    tbToolBar->setIconSize(QSize(16, 16));
    tbToolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);

    struct Button {
        const char *key;
        QString tip;
        QString face; // text shown on the button
    };
    const Button buttons[] = {
        {"New", QStringLiteral("新規作成"), QStringLiteral("新規")},
        {"Open", QStringLiteral("開く"), QStringLiteral("開く")},
        {"Save", QStringLiteral("名前を付けて保存"), QStringLiteral("保存")},
        {"Print", QStringLiteral("印刷"), QStringLiteral("印刷")},
        {"Cut", QStringLiteral("切り取り"), QStringLiteral("切取")},
        {"Copy", QStringLiteral("ｺﾋﾟｰ"), QStringLiteral("ｺﾋﾟｰ")},
        {"Paste", QStringLiteral("貼り付け"), QStringLiteral("貼付")},
        {"Bold", QStringLiteral("太字"), QStringLiteral("B")},
        {"Italic", QStringLiteral("斜体"), QStringLiteral("I")},
        {"Underline", QStringLiteral("下線"), QStringLiteral("U")},
    };
    for (const Button &b : buttons) {
        const QString key = QLatin1String(b.key);
        QAction *a = tbToolBar->addAction(b.face);
        a->setObjectName(key);
        a->setData(key);
        a->setToolTip(b.tip);
        if (key == QLatin1String("Bold") || key == QLatin1String("Italic")
            || key == QLatin1String("Underline")) {
            QFont f = a->font();
            f.setBold(key == QLatin1String("Bold"));
            f.setItalic(key == QLatin1String("Italic"));
            f.setUnderline(key == QLatin1String("Underline"));
            a->setFont(f);
        }
    }
    connect(tbToolBar, &QToolBar::actionTriggered, this,
            [this](QAction *a) { tbToolBar_ButtonClick(a->data().toString()); });
    tbToolBar->setGeometry(0, 0, Picture1->width(), Picture1->height());
}

void TyakuForm::Form_Load()
{
    // 1. and 2.
    m_findPosition = 0;
    const int w = pxToTwips(width());
    setGeometryTwips(rtfEd, kEditorLeft, kEditorLoadTop, qRound(w * 0.98), kEditorLoadHeight);
    List1->resize(twipsToPx(w * 0.99), List1->height());

    // 3. to 5. under the error trap: a failed step may be retried (OK) or skipped (Cancel).
    const auto trapped = [](const std::function<bool()> &step) {
        while (!step()) {
            const PromptAnswer a = prompt().message(QString(), appTitle() + QStringLiteral("  Form_LoadError"),
                                                    PromptIcon::Exclamation, PromptButtons::OkCancel);
            if (a != PromptAnswer::Ok)
                return;
        }
    };
    trapped([this] {
        lstLst->hide();
        return true;
    });
    trapped([this] {
        // Nothing to load before the editor's New has named a current file.
        if (!appState().editorFile.isEmpty()) {
            Result<QString> text = readCp932File(appState().editorFile);
            if (!text)
                return false;
            rtfEd->setPlainText(text.value());
        }
        appState().editorModified = false;
        return true;
    });
    trapped([this] {
        rtfEd->show();
        return true;
    });
}

void TyakuForm::Form_Resize()
{
    Form_Resize(pxToTwips(width()), pxToTwips(height()));
}

void TyakuForm::Form_Resize(int w, int h)
{
    const HistoryLayout l = historyLayout(qMax(0, w), qMax(0, h), kEditorLeft);
    setGeometryTwips(List1, kListLeft, kListTop, l.listWidth, l.listHeight);
    setGeometryTwips(Picture1, 0, kToolStripTop, l.stripWidth, kToolStripHeight);
    tbToolBar->resize(Picture1->size());
    setGeometryTwips(Picture2, 0, kCaptionStripTop, l.stripWidth, kCaptionStripHeight);
    setGeometryTwips(menuBar, 0, 0, l.stripWidth, kMenuHeight);
    setGeometryTwips(rtfEd, kEditorLeft, l.editorTop, l.editorWidth, l.editorHeight);
    setGeometryTwips(Text7, l.dateLeft, l.boxesTop, l.dateWidth, kBoxHeight);
    setGeometryTwips(Text8, l.addressLeft, l.boxesTop, l.addressWidth, kBoxHeight);
    setGeometryTwips(Text9, l.subjectLeft, l.boxesTop, l.subjectWidth, kBoxHeight);
    setGeometryTwips(Text4, kEditorLeft, l.boxesTop, l.editorWidth, l.editorTop - l.boxesTop);

    // The button row follows the bottom of the list.
    const int row = l.listHeight + kButtonRowTop;
    int left = 45;
    const auto place = [&](QWidget *c, int width) {
        setGeometryTwips(c, left, row, width, kButtonHeight);
        left += width + 45;
    };
    place(Command1, 900);
    place(Command5, 900);
    place(Command3, 1350);
    place(Command4, 1100);
    place(Command2, 800);
    place(Label4, 400);
    place(Text2, 700);
    place(Label2, 800);
    place(Text1, 1500);
    place(Command6, 600);
    Text4->raise();
}

void TyakuForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

int TyakuForm::selectedRow() const
{
    return List1->selectedRow();
}

qint64 TyakuForm::recordOfRow(int row) const
{
    return row >= 0 && row < m_rowRecords.size() && row < List1->count() ? m_rowRecords.at(row) : 0;
}

void TyakuForm::showMail(const MailFields &fields)
{
    Text7->setText(fields.date);
    Text8->setText(fields.address);
    Text9->setText(fields.subject);
    rtfEd->setPlainText(fields.body);
    // The body is passed through the clipboard: it holds the mail shown last.
    QClipboard *clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(rtfEd->toPlainText());
}

void TyakuForm::clearMailBoxes()
{
    Text7->clear();
    Text8->clear();
    Text9->clear();
    rtfEd->clear();
}

void TyakuForm::FillHistoryList()
{
    const qint16 mode = appState().historyMode;
    List1->clear();
    m_rowRecords.clear();
    rtfEd->clear();
    Result<HistoryListing> listing = readHistoryListing(historyStorePath(mode), mode);
    if (listing) {
        List1->addItems(listing.value().lines);
        m_rowRecords = listing.value().records;
        if (!listing.value().lines.isEmpty())
            showMail(mailFields(listing.value().last, mode));
    }
    Text2->setText(QString::number(List1->count()));
    if (!listing)
        showStorageError(listing.error());
}

void TyakuForm::ShowSelectedMail()
{
    const int row = selectedRow();
    if (row < 0) {
        prompt().info(QStringLiteral("データが選択されていません"), QString(), PromptIcon::Exclamation);
        List1->setFocus();
        return;
    }
    const qint16 mode = appState().historyMode;
    MailRecord &buffer = mailBuffer(mode);
    Result<bool> found = readMailRecord(historyStorePath(mode), recordOfRow(row), buffer);
    if (!found) {
        showStorageError(found.error());
        return;
    }
    if (found.value())
        showMail(mailFields(buffer, mode));
}

void TyakuForm::ListNewMail()
{
    const qint16 mode = appState().historyMode;
    Result<HistoryListing> listing = readHistoryListing(historyStorePath(mode), mode);
    if (!listing)
        return; // the next refill shows the error
    const qint64 lastListed = m_rowRecords.isEmpty() ? 0 : m_rowRecords.last();
    const HistoryListing &l = listing.value();
    for (qsizetype i = 0; i < l.records.size(); ++i) {
        if (l.records.at(i) > lastListed) {
            List1->addItem(l.lines.at(i));
            m_rowRecords.append(l.records.at(i));
        }
    }
    Text2->setText(QString::number(List1->count()));
}

Status TyakuForm::compactAfterDeletion(qint16 mode)
{
    const QString store = historyStorePath(mode);
    if (!storeHeld(store))
        return compactHistoryStore(mode, m_storeFaults);
    // A receive run is appending to the store: the marked records are no
    // longer listed, and the file is compacted once the run has ended.
    runWhenStoreFree(store, [self = QPointer<TyakuForm>(this), mode, faults = m_storeFaults] {
        const Status compacted = compactHistoryStore(mode, faults);
        if (!compacted) {
            prompt().info(compacted.error().message(), appTitle(), PromptIcon::Exclamation);
            return;
        }
        // The list holds the live records in store order, and compaction
        // numbers them 1, 2, ... in that order.
        if (self && appState().historyMode == mode) {
            for (qsizetype i = 0; i < self->m_rowRecords.size(); ++i)
                self->m_rowRecords[i] = i + 1;
        }
    });
    return {};
}

void TyakuForm::Command1_Click()
{
    const int row = selectedRow();
    if (row < 0) {
        prompt().info(QStringLiteral("データが選択されていません。"), appTitle());
        return;
    }
    const qint64 record = recordOfRow(row);
    appState().currentRecord = qint16(qMin(record, kMaxRecords));
    if (!prompt().confirm(QStringLiteral("選択された（行、青色）データを削除します。よろしいですか")))
        return;

    const qint16 mode = appState().historyMode;
    const QString store = historyStorePath(mode);
    // A received mail left on the server may go there too (an option).
    if (Status s = mode == 1 ? askServerDeletion(store, {record}, appPaths().extraIni(), appPaths().fetchedListFile()) : Status{}; !s) {
        showStorageError(s.error());
        return;
    }
    mailBuffer(mode).Live = 0;
    if (Status s = markRecord(store, MailRecord::kLength, record); !s) {
        showStorageError(s.error());
        return;
    }
    clearMailBoxes();
    // On failure the old store stays whole, the marked record included: it is
    // no longer listed, and the next compaction drops it.
    const Status compacted = compactAfterDeletion(mode);
    if (!compacted || !dropCompactedRow(row)) {
        List1->clear();
        FillHistoryList();
    }
    if (!compacted)
        showStorageError(compacted.error());
}

bool TyakuForm::dropCompactedRow(int row)
{
    // Only when the list held every record of the store, 1 to n in order, and
    // the store now holds one fewer: then the rows after the deleted one are
    // the records one place up, and nothing else changed.
    const qsizetype rows = m_rowRecords.size();
    if (rows != List1->count() || row >= rows)
        return false;
    for (qsizetype i = 0; i < rows; ++i) {
        if (m_rowRecords.at(i) != i + 1)
            return false;
    }
    const qint16 mode = appState().historyMode;
    const QString store = historyStorePath(mode);
    if (QFileInfo(store).size() != (rows - 1) * qint64(MailRecord::kLength))
        return false;
    MailRecord last;
    if (rows > 1) {
        const Result<bool> read = readMailRecord(store, rows - 1, last);
        if (!read || !read.value())
            return false;
    }
    // As a refill leaves it: no row selected, the last mail shown.
    List1->clearSelection();
    List1->setCurrentRow(-1);
    delete List1->takeItem(row);
    m_rowRecords.removeLast();
    rtfEd->clear();
    if (rows > 1)
        showMail(mailFields(last, mode));
    Text2->setText(QString::number(List1->count()));
    return true;
}

void TyakuForm::Command5_Click()
{
    if (!prompt().confirm(QStringLiteral("すべてのデータを削除して良いですか？")))
        return;
    const qint16 mode = appState().historyMode;
    const QString store = historyStorePath(mode);
    // Exactly the listed mails go; one received or sent after the list was
    // filled is not listed and stays.
    const QList<qint64> listed = m_rowRecords.mid(0, List1->count());
    if (!listed.isEmpty()) {
        if (Status s = mode == 1 ? askServerDeletion(store, listed, appPaths().extraIni(), appPaths().fetchedListFile()) : Status{}; !s) {
            showStorageError(s.error());
            return;
        }
        mailBuffer(mode).Live = 0;
        if (Status s = markRecords(store, MailRecord::kLength, listed); !s) {
            showStorageError(s.error());
            return;
        }
        appState().currentRecord = qint16(qMin(listed.last(), kMaxRecords));
    }
    const Status compacted = compactAfterDeletion(mode);

    // What survives (records added after the list was filled) is listed by its
    // subject field as stored; the count box reads 0 all the same.
    List1->clear();
    m_rowRecords.clear();
    Result<SubjectFields> subjects = readSubjectFields(store);
    if (subjects) {
        List1->addItems(subjects.value().subjects);
        m_rowRecords = subjects.value().records;
    }
    Text2->setText(QStringLiteral("0"));
    clearMailBoxes();
    if (!compacted)
        showStorageError(compacted.error());
    else if (!subjects)
        showStorageError(subjects.error());
}

void TyakuForm::Command2_Click()
{
    if (QWidget *main = mainWindowSlot()) {
        main->show();
        main->raise();
    }
    unloadForm<TyakuForm>();
}

void TyakuForm::hoverOver(QWidget *control)
{
    if (!control)
        return;
    if (control == this || control == List1 || control == List1->viewport()) {
        Text4->hide();
        Text4->clear();
        return;
    }
    const QString help = helpTextFor(control->objectName());
    if (help.isEmpty())
        return;
    Text4->setPlainText(help);
    Text4->show();
    Text4->raise();
}

void TyakuForm::Command6_Click()
{
    const int row = selectedRow();
    if (row < 0) {
        prompt().info(QStringLiteral("データが選択されていません。"), appTitle());
        return;
    }
    openOriginalWindow(appState().historyMode, recordOfRow(row));
}

void TyakuForm::closeEvent(QCloseEvent *event)
{
    const std::unique_ptr<QSettings> store(openSettingsStore());
    clearHistorySettings(*store);
    event->accept();
}

void TyakuForm::showStorageError(const Error &error)
{
    prompt().info(error.message(), appTitle(), PromptIcon::Exclamation);
}

void TyakuForm::showStore(qint16 historyMode)
{
    appState().historyMode = historyMode;
    QPalette p = List1->palette();
    p.setColor(QPalette::Base, QColor(144, 238, 144));
    List1->setPalette(p);
    setWindowTitle(historyMode == 2 ? QStringLiteral("送信履歴") : QStringLiteral("着信履歴"));
    show();
    raise();
    activateWindow();
    List1->clear();
    clearMailBoxes();
    FillHistoryList();
}

void TyakuForm::refresh()
{
    FillHistoryList();
}

bool TyakuForm::selectRecord(qint64 number)
{
    int row = -1;
    for (int r = 0; r < List1->count() && row < 0; ++r) {
        if (recordOfRow(r) == number)
            row = r;
    }
    if (row < 0)
        return false;
    List1->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    List1->scrollToItem(List1->item(row), QAbstractItemView::PositionAtCenter);
    ShowSelectedMail();
    List1->setFocus();
    return true;
}

void TyakuForm::showInBoxes(const MailFields &fields)
{
    Text9->setText(fields.subject);
    Text7->setText(fields.date);
    Text8->setText(fields.address);
    rtfEd->setPlainText(fields.body);
}

MailFields TyakuForm::boxes() const
{
    return { Text7->text(), Text8->text(), Text9->text(), rtfEd->toPlainText() };
}

bool TyakuForm::hasUnsavedEdit() const
{
    // Text typed into the editor; a mail the history put there is not the user's.
    return rtfEd->document()->isModified() && !rtfEd->toPlainText().isEmpty();
}

void openHistoryWindow(qint16 historyMode)
{
    form<TyakuForm>()->showStore(historyMode); // loads the window when it is not loaded
}

} // namespace kestra
