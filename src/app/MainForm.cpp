#include "app/MainForm.h"

#include "addressbook/FriendForm.h"
#include "app/BrowserPane.h"
#include "app/Favourites.h"
#include "app/ReceiveMail.h"
#include "common/AppState.h"
#include "common/Clock.h"
#include "common/Controls.h"
#include "common/FormPlacement.h"
#include "common/Forms.h"
#include "common/HoverHelp.h"
#include "common/Paths.h"
#include "common/Twips.h"
#include "common/UserPrompt.h"
#include "compose/BackForm.h"
#include "compose/DraftKeeper.h"
#include "compose/WriteForm.h"
#include "history/SearchForm.h"
#include "history/TyakuForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/Settings.h"
#include "web/WebPane.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTextEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>
#include <QToolBar>

namespace kestra {

namespace {

const HelpEntry kHelp[] = {
    {"Command3", u"メールの新規作成・送信を行います。"},
    {"Command4", u"新着メールの受信を行います。"},
    {"Command6", u"受信したメールを見ます。フォーム（画面）はストレッチ（伸縮）が出来ますので、お好みのサイズでご覧下さい。"},
    {"Command7", u"送信したメールを見ます。送信したかどうか自信がない時、ここで確認して下さい。フォーム（画面）はストレッチ（伸縮）が出来ますので、お好みのサイズでご覧下さい。"},
    {"Command5", u"メールアドレスの登録を行います。"},
    {"Command8", u"ID,PASS,サーバーの設定を行います。これを行わないと「通信エラー」となります。必ず最初に行って下さい。"},
    {"Command12", u"メーラー専門店、作者のホームページです。さまざまなメーラーを取り揃えています。是非足をお運び下さい。"},
    {"Command1", u"あるサイトでのメールアドレスを自分のアドレス帳に追加したい時に使用します。OutLookが起動した状態でのメールアドレスをアドレス帳に登録します。OutLookで、コピーをまず行ってからにして下さい。アドレス帳が開きましたら、メールアドレスが自動入力されていますので、任意の名称（名前）を入力してアドレス帳の登録ボタンを押して下さい。"},
    {"Command2", u"表示されたサイトをお気に入りに追加します。"},
    {"Command9", u"お気に入りに登録されているアドレスを削除します。"},
    {"Command13", u"現在表示されているアドレス以外の登録を行いたいとき、コピー、ペーストで登録します。"},
    {"Text3", u"新着メールの有無が表示されます。"},
};

// The new-mail indicator: a read-only box whose text wraps onto the lines the box
// has. A text longer than those loses its middle and shows whole as a tooltip.
class IndicatorBox final : public QLineEdit
{
public:
    explicit IndicatorBox(QWidget *parent) : QLineEdit(parent)
    {
        connect(this, &QLineEdit::textChanged, this, &IndicatorBox::refit);
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLineEdit::resizeEvent(event);
        refit();
    }
    void changeEvent(QEvent *event) override
    {
        QLineEdit::changeEvent(event);
        if (event->type() == QEvent::FontChange)
            refit();
    }
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QStyleOptionFrame frame;
        initStyleOption(&frame);
        style()->drawPrimitive(QStyle::PE_PanelLineEdit, &frame, &painter, this);
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(textArea(), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_shown);
    }

private:
    QRect textArea() const
    {
        QStyleOptionFrame frame;
        initStyleOption(&frame);
        return style()->subElementRect(QStyle::SE_LineEditContents, &frame, this).marginsRemoved(textMargins());
    }
    void refit()
    {
        m_shown = wrappedToFit(fontMetrics(), textArea().size(), text());
        setToolTip(m_shown == text() ? QString() : text());
        update();
    }

    QString m_shown;
};

// Controls whose hover hides the help box.
const char *const kHideHelp[] = {"Frame1", "Frame2", "Picture1", "lblAddress", "tbToolBar"};

} // namespace

QString mainHelpText(const QString &controlName)
{
    return helpTextIn(kHelp, controlName);
}

QString MainForm::caption()
{
    return QStringLiteral("これは便利！！　ケストラでぇいッ！　Ver 2.05");
}

MainForm::MainForm(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(caption());
    growWithText(this);
    resize(twipsToPx(this, kDesignWidth), twipsToPx(this, kDesignHeight));
    buildControls();
    updateMinimumSize();
    mainWindowSlot() = this;
}

MainForm::~MainForm() = default;

void MainForm::buildControls()
{
    tbToolBar = new QToolBar(this);
    tbToolBar->setObjectName(QStringLiteral("tbToolBar"));
    setGeometryTwips(tbToolBar, 0, 0, kDesignWidth, 540);
    struct Tool {
        const char *key;
        const char16_t *tip;
        QStyle::StandardPixmap icon;
    };
    const Tool tools[] = {
        {"Back", u"戻る", QStyle::SP_ArrowBack},
        {"Forward", u"進む", QStyle::SP_ArrowForward},
        {"Stop", u"中止", QStyle::SP_BrowserStop},
        {"Refresh", u"更新", QStyle::SP_BrowserReload},
        {"Home", u"ﾎｰﾑ", QStyle::SP_DirHomeIcon},
        {"Search", u"検索", QStyle::SP_FileDialogContentsView},
    };
    for (const Tool &t : tools) {
        QAction *a = tbToolBar->addAction(style()->standardIcon(t.icon), QString::fromUtf16(t.tip));
        a->setObjectName(QLatin1String(t.key));
        a->setToolTip(QString::fromUtf16(t.tip));
    }

    picAddress = new QWidget(this);
    picAddress->setObjectName(QStringLiteral("picAddress"));
    setGeometryTwips(picAddress, 0, 540, kDesignWidth, 675);
    lblAddress = new QLabel(QStringLiteral("URL"), picAddress);
    lblAddress->setObjectName(QStringLiteral("lblAddress"));
    setGeometryTwips(lblAddress, 45, 60, 5115, 255);
    Command2 = makeButton(picAddress, "Command2", QStringLiteral("お気に入りに追加"), 600, 0, 1575, 255);
    Command9 = makeButton(picAddress, "Command9", QStringLiteral("お気に入りから削除"), 2280, 0, 1815, 255);
    Command13 = makeButton(picAddress, "Command13", QStringLiteral("貼付け"), 4200, 0, 1095, 255);
    cboAddress = new QComboBox(picAddress);
    cboAddress->setObjectName(QStringLiteral("cboAddress"));
    cboAddress->setEditable(true);
    cboAddress->setInsertPolicy(QComboBox::NoInsert);
    cboAddress->setGeometry(twipsToPx(this, 45), twipsToPx(this, 300), twipsToPx(this, 5235),
                            cboAddress->sizeHint().height());

    Picture1 = new QWidget(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    setGeometryTwips(Picture1, 0, 1200, 1575, 4575);
    Frame1 = new QGroupBox(Picture1);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    setGeometryTwips(Frame1, 120, 0, 1215, 2775);
    const QColor grey(224, 224, 224);
    const QColor lilac(192, 192, 255);
    Command3 = makeButton(Frame1, "Command3", QStringLiteral("新規作成"), 120, 240, 975, 255, grey);
    Command4 = makeButton(Frame1, "Command4", QStringLiteral("受信"), 120, 600, 975, 255, QColor(255, 0, 0));
    Command6 = makeButton(Frame1, "Command6", QStringLiteral("着信履歴"), 120, 960, 975, 255, lilac);
    Command7 = makeButton(Frame1, "Command7", QStringLiteral("送信履歴"), 120, 1320, 975, 255, lilac);
    Command5 = makeButton(Frame1, "Command5", QStringLiteral("アドレス帳"), 120, 1680, 975, 255, lilac);
    Command8 = makeButton(Frame1, "Command8", QStringLiteral("設定"), 120, 2040, 975, 255, QColor(255, 255, 255));
    Command12 = makeButton(Frame1, "Command12", QStringLiteral("HP"), 120, 2400, 975, 255, QColor(255, 255, 0));
    Frame2 = new QGroupBox(Picture1);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    setGeometryTwips(Frame2, 120, 2760, 1215, 855);
    Label2 = new QLabel(QStringLiteral("OutoLook"), Frame2);
    Label2->setObjectName(QStringLiteral("Label2"));
    setGeometryTwips(Label2, 200, 240, 855, 255);
    Command1 = makeButton(Frame2, "Command1", QStringLiteral("登録"), 120, 480, 975, 255, grey);
    Text3 = new IndicatorBox(Picture1);
    Text3->setObjectName(QStringLiteral("Text3"));
    setGeometryTwips(Text3, 120, 3720, 1215, 735);
    Text3->setReadOnly(true);
    connect(Text3, &QLineEdit::textChanged, this, &MainForm::mailIndicatorChanged);
    Text3->installEventFilter(this);

    // The browser pane's area: empty, as the pane is before its first page.
    m_emptyPane = new QWidget(this);
    m_emptyPane->setAutoFillBackground(true);
    m_emptyPane->setBackgroundRole(QPalette::Base);

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    setGeometryTwips(Text1, 1560, 3960, 4815, 1815);
    Text1->raise();

    Text2 = new QLineEdit(this);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->hide();
    Text4 = new QLineEdit(this);
    Text4->setObjectName(QStringLiteral("Text4"));
    Text4->hide();
    Command10 = new QPushButton(this);
    Command10->setObjectName(QStringLiteral("Command10"));
    Command10->hide();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    timTimer = new QTimer(this);
    timTimer->setObjectName(QStringLiteral("timTimer"));
    timTimer->setInterval(5);

    connect(Timer1, &QTimer::timeout, this, &MainForm::Timer1_Timer);
    connect(Command1, &QPushButton::clicked, this, &MainForm::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &MainForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &MainForm::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &MainForm::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &MainForm::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &MainForm::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &MainForm::Command8_Click);
    connect(Command10, &QPushButton::clicked, this, &MainForm::Command10_Click);
    connect(Command12, &QPushButton::clicked, this, &MainForm::Command12_Click);
    // Ctrl+Shift+F: the mail search, from anywhere in the window (the browser pane keeps Ctrl+F).
    auto *searchKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), this);
    searchKey->setObjectName(QStringLiteral("searchKey"));
    connect(searchKey, &QShortcut::activated, this, &openSearchWindow);

    auto *hover = new HoverHelp(this, [this](QWidget *control) { hoverOver(control); });
    hover->watch({Command1, Command2, Command3, Command4, Command5, Command6, Command7, Command8, Command9,
                  Command12, Command13, Text3, Frame1, Frame2, Picture1, lblAddress, tbToolBar});
    setUpBrowserPane();
}

void MainForm::Form_Load()
{
    // 1. Favourites first: a failure here is shown, the rest of start-up still runs.
    Command10_Click();

    // 3. Show, redraw the toolbar and lay out once.
    show();
    tbToolBar->update();
    Form_Resize();

    // 4. The address combo sits right below its label.
    cboAddress->move(twipsToPx(this, 50), lblAddress->y() + lblAddress->height() + twipsToPx(this, 15));

    // 5.
    Text1->clear();

    // 6. (the hidden compose window) comes after the first paint, see finishStartup().

    // 7. Servers, own address and APOP.
    if (Status s = readKestraIni(appPaths().kestraIni(), appState().settings); !s)
        showStorageError(s.error());

    // 9. Without a server to receive from (the POP3 server, or the IMAP server
    // when mail comes over IMAP) the server settings window opens over this one.
    if (receiveServer().isEmpty())
        showInFront(form<OptionForm>());

    Timer1_Timer();
    Timer1->start();

    // The compose window comes once this window has been painted (see event()).
    m_startupAfterFirstPaint = true;
}

bool MainForm::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    // The first paint has put the window on the screen; the rest of start-up
    // runs from the next round of the event loop, so the user sees the window at once.
    if (event->type() == QEvent::Paint && m_startupAfterFirstPaint) {
        m_startupAfterFirstPaint = false;
        QTimer::singleShot(0, this, &MainForm::finishStartup);
    }
    return handled;
}

void MainForm::finishStartup()
{
    // 6. The compose window is loaded hidden, with its fortune box clear. Nothing
    // on screen needs it, so it is built once the window is up.
    form<WriteForm>()->setFortune(false);
    Q_EMIT startupFinished();
}

bool MainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Text3 && event->type() == QEvent::MouseButtonRelease)
        Q_EMIT mailIndicatorClicked();
    return QWidget::eventFilter(watched, event);
}

void MainForm::showStatus(const QString &text)
{
    Text1->setPlainText(text);
}

QString MainForm::status() const
{
    return Text1->toPlainText();
}

void MainForm::setMailIndicator(const QString &text)
{
    Text3->setText(text);
}

QString MainForm::mailIndicator() const
{
    return Text3->text();
}

void MainForm::Form_Resize()
{
    const int w = pxToTwips(width());
    const int h = pxToTwips(height());
    tbToolBar->resize(width(), tbToolBar->height());
    cboAddress->resize(twipsToPx(w / 1.5), cboAddress->height());
    // The address bar grows with its box, or the box's drop-down arrow is cut off.
    picAddress->resize(qMax(width(), cboAddress->geometry().right() + 1), picAddress->height());
    layoutBrowserPane();
    Picture1->resize(Picture1->width(), twipsToPx(h));
}

void MainForm::updateMinimumSize()
{
    int minWidth = twipsToPx(this, kMinimumWidth);
    if (m_pane)
        minWidth = qMax(minWidth, twipsToPx(this, kPaneLeft) + m_pane->findBar()->minimumSizeHint().width());
    setMinimumSize(minWidth, twipsToPx(this, kDesignHeight));
}

void MainForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void MainForm::Timer1_Timer()
{
    const QString text = clockText(clock().now());
    Text2->setText(text);
    appState().clockText = text;
}

void MainForm::Command1_Click()
{
    Text4->clear();
    Text4->setText(QApplication::clipboard()->text());
    if (!Text4->text().isEmpty()) {
        // The address book window takes the copied address; the user adds a name.
        FriendForm *book = form<FriendForm>();
        book->showAddress(QApplication::clipboard()->text());
        showInFront(book);
        return;
    }
    prompt().info(QStringLiteral("アドレスがクリップボードにコピーされていません。\r\n"
                                 "OutLookは起動していますか。\r\n"
                                 "起動後、メールアドレスを選択し、コピーを行いましたか？"),
                  appTitle());
}

void MainForm::Command3_Click()
{
    newMailOrDraft();
}

void MainForm::Command4_Click()
{
    showStatus(QStringLiteral("メールを受信します。"));
    ReceiveMail(*this);
}

void MainForm::Command5_Click()
{
    showInFront(form<FriendForm>());
}

void MainForm::Command6_Click()
{
    openHistoryWindow(1);
}

void MainForm::Command7_Click()
{
    openHistoryWindow(2);
}

void MainForm::Command8_Click()
{
    showInFront(form<SetForm>());
}

void MainForm::Command10_Click()
{
    cboAddress->clear();
    cboAddress->setEditText(QString());
    Result<QStringList> urls = readFavourites(favouritesPath());
    if (urls)
        cboAddress->addItems(urls.value());
    cboAddress->setCurrentIndex(-1);
    cboAddress->setEditText(QString());
    if (!urls)
        showStorageError(urls.error());
}

void MainForm::hoverOver(QWidget *control)
{
    if (!control)
        return;
    const QString name = control->objectName();
    for (const char *hide : kHideHelp) {
        if (name == QLatin1String(hide)) {
            Text1->hide();
            return;
        }
    }
    const QString help = mainHelpText(name);
    // While finding in the page the help box stays away from what was found.
    if (help.isEmpty() || (m_pane && !m_pane->findBar()->isHidden()))
        return;
    Text1->show();
    Text1->setPlainText(help);
}

namespace {

// What closing the program would throw away and, with drafts on, what it
// keeps as drafts (offered again at the next start): one line per window.
struct UnsavedWork {
    QStringList lost;
    QStringList kept;
};

UnsavedWork unsavedWork()
{
    UnsavedWork work;
    QStringList &mail = readKeepDrafts(appPaths().extraIni()) ? work.kept : work.lost;
    if (const WriteForm *compose = loadedForm<WriteForm>()) {
        if (compose->hasTypedText())
            mail << QStringLiteral("・送信していないメール（新規作成・送信）");
    }
    if (const BackForm *reply = loadedForm<BackForm>()) {
        // A reply holding only the answered mail is no draft: it goes.
        (reply->drafts()->hasText() ? mail : work.lost) << QStringLiteral("・送信していない返事（返事を書く）");
    }
    if (const TyakuForm *history = loadedForm<TyakuForm>()) {
        if (history->hasUnsavedEdit())
            work.lost << QStringLiteral("・保存していない編集中の文章（%1）").arg(history->windowTitle());
    }
    return work;
}

QString quitQuestion(const UnsavedWork &work)
{
    QString text;
    if (!work.lost.isEmpty())
        text += QStringLiteral("終了すると、次の内容は失われます。\r\n") + work.lost.join(QStringLiteral("\r\n"))
                + QStringLiteral("\r\n");
    if (!work.kept.isEmpty())
        text += QStringLiteral("次の内容は下書きとして保存され、次に起動したときに開けます。\r\n")
                + work.kept.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    return text + QStringLiteral("終了しますか？");
}

} // namespace

void MainForm::closeEvent(QCloseEvent *event)
{
    const UnsavedWork unsaved = unsavedWork();
    if ((!unsaved.lost.isEmpty() || !unsaved.kept.isEmpty()) && !prompt().confirm(quitQuestion(unsaved))) {
        event->ignore();
        return;
    }
    // The question above was the one about the mail being written: the
    // windows are unloaded without asking again, keeping their drafts.
    unloadForm<WriteForm>();
    unloadForm<BackForm>();
    Timer1->stop();
    // Every other window, shown or only loaded, ends with the program.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows) {
        if (w != this && w->isWindow())
            w->close();
    }
    event->accept();
    QApplication::quit();
}

void MainForm::showStorageError(const Error &error)
{
    prompt().info(error.message(), appTitle(), PromptIcon::Exclamation);
}

} // namespace kestra
