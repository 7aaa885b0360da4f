#include "compose/WriteForm.h"

#include "common/AppState.h"
#include "common/Controls.h"
#include "common/FormPlacement.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "common/Twips.h"
#include "common/UserPrompt.h"
#include "common/WorkerThread.h"
#include "compose/AttachmentRow.h"
#include "runs/BulkSend.h"
#include "compose/DraftKeeper.h"
#include "compose/SendMail.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTextCursor>

namespace kestra {

namespace {

const HelpEntry kHelp[] = {
    { "Command1", u"送信します。電話回線が接続されていない場合は、自動的に接続してメールを送信します。" },
    { "Command3", u"送信を中止します。" },
    { "Command4",
        u"このフォーム（新規作成）が拡張され、登録したメールアドレスの名称が一覧（リスト）に現れます。送信したい名称をクリックすると、メールアドレスが自動的に入力されます。" },
    { "Command5", u"本ソフト、他のアプリからのテキスト文書を本文中に貼付けます。" },
    { "Command6", u"アドレス帳を含むサイズから、元のサイズに戻します。" },
    { "Command7", u"コピーして来た内容を宛先に貼付ます。" },
    { "Command8", u"メイン画面に戻ります。" },
    { "Command11", u"宛先、件名、本文他、設定等が初期状態に戻せます。" },
    { "Command9",
        u"添付ファイルを複数送信する際に使用します。確認しやすいように、リストボックスが表示されます。" },
    { "AttachCommand", u"各種ファイルを添付して送信できます。" },
};

const QColor kGrey(192, 192, 192);
const QColor kLightGrey(224, 224, 224);
const QColor kRed(255, 0, 0);
const QColor kWhite(255, 255, 255); // palette entry 15
const QColor kGreen(0, 128, 0); // palette entry 2
const QColor kLightCyan(192, 255, 255);

QString sendingText()
{
    return QStringLiteral("メールを送信中です。しばらくお待ち下さい。");
}

void paint(QWidget *w, QPalette::ColorRole role, const QColor &colour)
{
    QPalette p = w->palette();
    p.setColor(role, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

QString withoutCr(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

// The text of the one box after a bulk send with failures: every address
// that did not get the mail (the box scrolls when the list is long).
QString failureList(const QStringList &failed)
{
    return QStringLiteral("次の宛先へは送信できませんでした。") + QStringLiteral("\r\n") + failed.join(QStringLiteral("\r\n"));
}

// An address-book entry with the number of its record.
struct BookEntry {
    qint16 number;
    AddressRecord record;
};

// The live entries of an address-book file, in file order: an entry deleted
// in the address book window but not yet compacted away is passed over.
Status readLiveEntries(const QString &path, QList<BookEntry> &out)
{
    out.clear();
    return scanLiveRecords(path, AddressRecord::kLength, [&out](qint64 number, const QByteArray &bytes) {
        if (number > kMaxRecords)
            return false;
        out.append({ qint16(number), AddressRecord::decode(bytes) });
        return true;
    });
}

} // namespace

void PressList::mousePressEvent(QMouseEvent *event)
{
    QListWidget::mousePressEvent(event);
    Q_EMIT mouseDown();
}

QString writeHelpText(const QString &controlName)
{
    return helpTextIn(kHelp, controlName);
}

QString WriteForm::caption()
{
    return QStringLiteral("新規作成・送信");
}

WriteForm::WriteForm(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_random(systemRandom())
{
    setObjectName(QStringLiteral("WriteForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(caption());
    buildControls();
    Form_Load();
    // The window has no position of its own until it is widened or narrowed:
    // it starts in the middle of the screen.
    setWidthAndCentre(kNarrowWidth);
    m_drafts = new DraftKeeper(this, QStringLiteral("WriteForm"), [this] { return draft(); });
}

Draft WriteForm::draft() const
{
    return Draft{toText(), SubjectText->text(), bodyText(), AttachText->text()};
}

void WriteForm::restoreDraft(const Draft &draft)
{
    setToText(draft.to);
    SubjectText->setText(draft.subject);
    setBodyText(draft.body);
    attachmentRow().drop();
    attachmentRow().restore(draft.attachments);
}

WriteForm::~WriteForm()
{
    // The fields are going: the hiding that follows is no change of the draft.
    m_drafts->stop();
}

void WriteForm::buildControls()
{
    Command1 = makeButton(this, "Command1", QStringLiteral("送信"), 240, 120, 1335, 375);
    Command3 = makeButton(this, "Command3", QStringLiteral("送信中止"), 240, 600, 1335, 375);
    Command4 = makeButton(this, "Command4", QStringLiteral("アドレス帳"), 1800, 120, 1335, 375);
    Command5 = makeButton(this, "Command5", QStringLiteral("本文に貼付"), 1800, 600, 1335, 375);
    Command6 = makeButton(this, "Command6", QStringLiteral("元のサイズ"), 3360, 120, 1335, 375);
    Command7 = makeButton(this, "Command7", QStringLiteral("宛先に貼付"), 3360, 600, 1335, 375);
    Command8 = makeButton(this, "Command8", QStringLiteral("ホーム"), 4920, 120, 1335, 375);
    Command11 = makeButton(this, "Command11", QStringLiteral("クリア"), 4920, 600, 1335, 375);

    LabelTo = makeLabel(this, "LabelTo", QStringLiteral("宛先"), 240, 1200, 1095, 300);
    // One line high: an address runs on in that line instead of wrapping
    // into a second line that the box has no room to show.
    ToText = new QPlainTextEdit(this);
    ToText->setObjectName(QStringLiteral("ToText"));
    ToText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ToText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ToText->setLineWrapMode(QPlainTextEdit::NoWrap);
    ToText->setTabChangesFocus(true);
    setGeometryTwips(ToText, 1320, 1200, 5415, 300);
    LabelSubject = makeLabel(this, "LabelSubject", QStringLiteral("件名"), 240, 1560, 1095, 300);
    SubjectText = new QLineEdit(this);
    SubjectText->setObjectName(QStringLiteral("SubjectText"));
    setGeometryTwips(SubjectText, 1320, 1560, 5415, 300);
    LabelGreeting = makeLabel(this, "LabelGreeting", QStringLiteral("首記例"), 240, 1920, 1095, 300);
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    setGeometryTwips(Combo1, 1320, 1920, 5415, 300);

    AttachCommand = makeButton(this, "AttachCommand", QStringLiteral("添付File"), 240, 2280, 855, 300, kGrey);
    Command9 = makeButton(this, "Command9", QStringLiteral("追加"), 1080, 2280, 855, 300, kLightGrey);
    Command10 = makeButton(this, "Command10", QStringLiteral("取り消し"), 1920, 2280, 855, 300, kRed);
    AttachText = new QLineEdit(this);
    AttachText->setObjectName(QStringLiteral("AttachText"));
    setGeometryTwips(AttachText, 2760, 2280, 3975, 300);

    LabelFortune = makeLabel(this, "LabelFortune", QStringLiteral("占い添付"), 240, 2640, 1095, 300);
    Label3Strip = new QWidget(this);
    Label3Strip->setObjectName(QStringLiteral("Label3Strip"));
    setGeometryTwips(Label3Strip, 1320, 2640, 4935, 300);
    paint(Label3Strip, QPalette::Window, kWhite);
    Label3 = makeLabel(Label3Strip, "Label3",
        QStringLiteral("★　親しい人に占いを添付する　★ （一括送信では使用不可）"), 0, 0, 4935, 300);
    Check1 = new QCheckBox(this);
    Check1->setObjectName(QStringLiteral("Check1"));
    setGeometryTwips(Check1, 6360, 2640, 255, 300);

    BodyText = new QPlainTextEdit(this);
    BodyText->setObjectName(QStringLiteral("BodyText"));
    BodyText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setGeometryTwips(BodyText, 240, 2880, 6495, 4455);

    Label7Strip = new QWidget(this);
    Label7Strip->setObjectName(QStringLiteral("Label7Strip"));
    setGeometryTwips(Label7Strip, 240, 7320, 6495, 375);
    Label7 = makeLabel(Label7Strip, "Label7", QString(), 0, 0, 6495, 375);

    // Lies over the attachment box and the body when shown.
    List2 = new QListWidget(this);
    List2->setObjectName(QStringLiteral("List2"));
    setGeometryTwips(List2, 2760, 2280, 3975, 1860);

    // The help box lies over the body.
    Text14 = new QPlainTextEdit(this);
    Text14->setObjectName(QStringLiteral("Text14"));
    Text14->setReadOnly(true);
    paint(Text14, QPalette::Base, kLightCyan);
    setGeometryTwips(Text14, 960, 4200, 5175, 975);

    // The address panel sits beyond the narrow width.
    AddressPanel = new QWidget(this);
    AddressPanel->setObjectName(QStringLiteral("AddressPanel"));
    setGeometryTwips(AddressPanel, 7080, 1200, 2350, 6495);
    HeaderStrip = new QWidget(AddressPanel);
    HeaderStrip->setObjectName(QStringLiteral("HeaderStrip"));
    setGeometryTwips(HeaderStrip, 120, 120, 2055, 495);
    paint(HeaderStrip, QPalette::Window, kGrey);
    LabelBook = makeLabel(HeaderStrip, "LabelBook", QStringLiteral("アドレス帳"), 120, 120, 800, 255);
    LabelCount = makeLabel(HeaderStrip, "LabelCount", QStringLiteral("件数"), 1080, 120, 375, 255);
    Text1 = new QLineEdit(HeaderStrip);
    Text1->setObjectName(QStringLiteral("Text1"));
    setGeometryTwips(Text1, 1560, 80, 375, 270);
    List1 = new PressList(AddressPanel);
    List1->setObjectName(QStringLiteral("List1"));
    setGeometryTwips(List1, 120, 600, 2055, 5100);
    Frame4 = new QGroupBox(AddressPanel);
    Frame4->setObjectName(QStringLiteral("Frame4"));
    setGeometryTwips(Frame4, 120, 5760, 2055, 615);
    Option2 = new QRadioButton(Frame4);
    Option2->setObjectName(QStringLiteral("Option2"));
    setGeometryTwips(Option2, 120, 240, 255, 255);
    LabelOption2 = makeLabel(Frame4, "LabelOption2", QStringLiteral("一括送信"), 375, 240, 855, 255);
    Option1 = new QRadioButton(Frame4);
    Option1->setObjectName(QStringLiteral("Option1"));
    setGeometryTwips(Option1, 1280, 240, 255, 255);
    LabelOption1 = makeLabel(Frame4, "LabelOption1", QStringLiteral("取消"), 1535, 240, 495, 255);

    connect(Command1, &QPushButton::clicked, this, &WriteForm::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &WriteForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &WriteForm::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &WriteForm::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &WriteForm::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &WriteForm::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &WriteForm::Command8_Click);
    connect(Command9, &QPushButton::clicked, this, &WriteForm::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &WriteForm::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &WriteForm::Command11_Click);
    connect(AttachCommand, &QPushButton::clicked, this, &WriteForm::AttachCommand_Click);
    connect(Option1, &QRadioButton::clicked, this, &WriteForm::Option1_Click);
    connect(Option2, &QRadioButton::clicked, this, &WriteForm::Option2_Click);
    connect(List1, &PressList::mouseDown, this, &WriteForm::List1_MouseDown);
    connect(ToText, &QPlainTextEdit::textChanged, this, &WriteForm::limitToText);

    Combo1->installEventFilter(this);
    const QList<QWidget *> helped = { Command1, Command3, Command4, Command5, Command6, Command7, Command8,
        Command11, Command9, AttachCommand };
    for (QWidget *w : helped) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
    BodyText->viewport()->setMouseTracking(true);
    BodyText->viewport()->installEventFilter(this);
}

void WriteForm::Form_Load()
{
    // 1.
    setFixedSize(twipsToPx(kNarrowWidth), twipsToPx(kHeight));
    // 2.
    clearBulkOption();
    Command9->setEnabled(false);
    List2->hide();
    Check1->setChecked(false);
    // 3.
    AddressIndex = { 0 };
    // 4.
    Combo1->addItems(greetingPhrases());
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QString());
    // 5. The read-only preload list. Nothing in the program writes it, so a
    //    missing file reads as empty and is not created.
    fillAddressList(appPaths().dataFile(QString::fromUtf16(names::addressPreload)));
    setListColour(false);
}

void WriteForm::fillAddressList(const QString &path)
{
    AddressIndex = { 0 };
    List1->clear();
    QList<BookEntry> entries;
    const Status s = readLiveEntries(path, entries);
    for (const BookEntry &e : entries) {
        List1->addItem(e.record.Name);
        AddressIndex.last() = e.number;
        AddressIndex.append(0);
    }
    Text1->setText(QString::number(List1->count()));
    if (!s)
        prompt().info(s.error().message(), appTitle(), PromptIcon::Exclamation);
}

void WriteForm::setListColour(bool bulk)
{
    paint(List1, QPalette::Base, bulk ? kGreen : kWhite);
}

void WriteForm::setWidthAndCentre(int widthTwips)
{
    setFixedSize(twipsToPx(widthTwips), twipsToPx(kHeight));
    QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    const QRect area = s->geometry();
    move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
}

void WriteForm::setFortune(bool on)
{
    Check1->setChecked(on);
}

bool WriteForm::hasTypedText() const
{
    return !toText().isEmpty() || !SubjectText->text().isEmpty() || !bodyText().isEmpty()
        || !AttachText->text().isEmpty();
}

QString WriteForm::toText() const
{
    return toCrLf(ToText->toPlainText());
}

QString WriteForm::bodyText() const
{
    return toCrLf(BodyText->toPlainText());
}

void WriteForm::setToText(const QString &text)
{
    m_settingTo = true;
    ToText->setPlainText(withoutCr(text));
    m_settingTo = false;
    // The view goes back to the start, where the new address begins.
    ToText->moveCursor(QTextCursor::Start);
    ToText->ensureCursorVisible();
}

void WriteForm::setBodyText(const QString &text)
{
    BodyText->setPlainText(withoutCr(text));
}

void WriteForm::limitToText()
{
    // Typing stops at the limit; texts put in by the program are not cut.
    if (m_settingTo)
        return;
    const QString text = ToText->toPlainText();
    if (text.size() <= kToMaxLength)
        return;
    m_settingTo = true;
    ToText->setPlainText(text.left(kToMaxLength));
    ToText->moveCursor(QTextCursor::End);
    m_settingTo = false;
}

void WriteForm::Command4_Click()
{
    setWidthAndCentre(kWideWidth);
    fillAddressList(appPaths().dataFile(QString::fromUtf16(names::addressBook)));
}

void WriteForm::Command6_Click()
{
    setWidthAndCentre(kNarrowWidth);
    // With the panel hidden nothing shows that the mail would go to the whole
    // address book, so bulk mode ends here.
    clearBulkOption();
    setListColour(false);
}

void WriteForm::List1_MouseDown()
{
    const int row = List1->currentRow();
    if (row < 0) {
        prompt().info(QStringLiteral("データが選択されていません"), appTitle(), PromptIcon::Exclamation);
        List1->setFocus();
        return;
    }
    const qint16 number = row < AddressIndex.size() ? AddressIndex.at(row) : 0;
    RecordFile book(appPaths().dataFile(QString::fromUtf16(names::addressBook)), AddressRecord::kLength);
    QByteArray bytes;
    const Status s = book.openReadOnly();
    const Result<bool> found = s ? book.read(number, bytes) : Result<bool>(s.error());
    if (!found) {
        prompt().info(found.error().message(), appTitle(), PromptIcon::Exclamation);
        return;
    }
    const AddressRecord entry = found.value() ? AddressRecord::decode(bytes) : AddressRecord();
    if (!found.value() || entry.Live == 0 || entry.Name != List1->item(row)->text()) {
        // The book changed since the list was filled (an entry deleted, the file
        // compacted or replaced): the line no longer names this record.
        fillAddressList(book.path());
        prompt().info(QStringLiteral("アドレス帳が変更されていました。一覧を読み直しましたので、もう一度名前を選んで下さい。"),
            appTitle(), PromptIcon::Exclamation);
        return;
    }
    setToText(trimBlanks(entry.Address));
}

void WriteForm::Option2_Click()
{
    setListColour(true);
}

void WriteForm::Option1_Click()
{
    setToText(QString());
    setListColour(false);
}

void WriteForm::Command7_Click()
{
    setToText(QApplication::clipboard()->text());
}

void WriteForm::Command5_Click()
{
    setBodyText(bodyText() + QApplication::clipboard()->text());
}

void WriteForm::Combo1_LostFocus()
{
    // The greeting becomes the opening line of the body; what was typed stays
    // below it, and Ctrl+Z in the body takes the insertion back.
    const QString greeting = withoutCr(Combo1->currentText());
    const QString body = BodyText->toPlainText();
    if (greeting.isEmpty() || body.startsWith(greeting))
        return;
    QTextCursor cursor(BodyText->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.insertText(body.isEmpty() ? greeting : greeting + QLatin1Char('\n'));
}

void WriteForm::AttachCommand_Click()
{
    attachmentRow().pickFirst();
}

void WriteForm::Command9_Click()
{
    attachmentRow().pickMore();
}

void WriteForm::Command10_Click()
{
    attachmentRow().drop();
}

void WriteForm::Command11_Click()
{
    setToText(QString());
    SubjectText->clear();
    BodyText->clear();
    clearBulkOption();
    attachmentRow().drop();
    Check1->setChecked(false);
    setListColour(false);
    // Clearing throws the mail away: its kept draft goes too.
    m_drafts->discard();
}

AttachmentRow WriteForm::attachmentRow() const
{
    return AttachmentRow{AttachCommand, Command9, Command10, AttachText, List2};
}

void WriteForm::clearBulkOption()
{
    // A checked radio button of an exclusive pair cannot simply be unchecked.
    Option2->setAutoExclusive(false);
    Option2->setChecked(false);
    Option2->setAutoExclusive(true);
}

void WriteForm::Command1_Click()
{
    // The attachment row stays as it is: after a failed send the paths, the
    // list and the buttons still agree.
    const bool bulk = Option2->isChecked();
    const SharedSettings &settings = appState().settings;
    BulkSendInputs inputs;
    inputs.server = settings.smtpServer;
    inputs.from = settings.mailAddress;
    inputs.subject = SubjectText->text();
    inputs.body = bodyText();
    inputs.attachments = AttachText->text();
    inputs.sentStorePath = appPaths().dataFile(QString::fromUtf16(names::sentStore));
    // The main window's clock text as each mail goes out, read on the sending
    // thread without waiting for the main one.
    inputs.dateText = [] { return QString(appState().clockText); };

    if (bulk) {
        const Result<QStringList> recipients
            = bulkRecipients(appPaths().dataFile(QString::fromUtf16(names::addressBook)));
        if (!recipients) {
            prompt().info(recipients.error().message(), appTitle(), PromptIcon::Exclamation);
            return;
        }
        inputs.recipients = recipients.value();
        if (inputs.recipients.isEmpty()) {
            prompt().info(QStringLiteral("アドレス帳にメールアドレスの登録がないため、一括送信の送り先がありません。"
                                         "アドレス帳に登録するか、「取消」で一括送信をやめて宛先を入れて下さい。"),
                appTitle(), PromptIcon::Exclamation);
            return;
        }
        if (!prompt().confirm(
                QStringLiteral("アドレス帳の %1 件に送信します。よろしいですか？").arg(inputs.recipients.size()),
                PromptDefault::Safe))
            return;
    } else {
        inputs.recipients.append(toText());
    }
    const int count = int(inputs.recipients.size());
    if (Check1->isChecked()) {
        for (int i = 0; i < count; ++i)
            inputs.fortunes.append(drawFortuneNumber(m_random));
    }
    Label7->setText(sendingText());

    const BulkSendResult result = sendWithProgress(inputs, this, caption());

    if (result.storeError)
        prompt().info(result.storeError->message(), appTitle(), PromptIcon::Exclamation);
    if (result.stopped) {
        // The window keeps everything; the status says how far the run came.
        if (!result.failed.isEmpty())
            prompt().info(failureList(result.failed), sendErrorTitle());
        Label7->setText(QStringLiteral("送信を中止しました。（%1 件中 %2 件送信）").arg(count).arg(result.sent));
        return;
    }
    if (!result.failed.isEmpty()) {
        // Nothing the user typed is lost: the window stays for another try.
        if (bulk) {
            prompt().info(failureList(result.failed), sendErrorTitle());
            Label7->setText(
                QStringLiteral("送信できなかった宛先があります。（%1 件中 %2 件送信）").arg(count).arg(result.sent));
        } else {
            // A single mail reports the library's whole text; after a
            // question the user answered No there is nothing to add.
            if (result.lastError && !result.lastError->is(Error::Kind::Answered))
                prompt().info(result.lastError->message(), sendErrorTitle());
            Label7->setText(QStringLiteral("送信できませんでした。"));
        }
        return;
    }
    Label7->setText(QStringLiteral("送信完了です。"));

    setToText(QString());
    SubjectText->clear();
    BodyText->clear();
    Check1->setChecked(false);
    AttachText->clear();
    clearBulkOption();
    m_drafts->discard();
    unload();
}

void WriteForm::Command3_Click()
{
    if (m_drafts->confirmClose())
        unload();
}

void WriteForm::Command8_Click()
{
    if (!m_drafts->confirmClose())
        return;
    setListColour(false);
    clearBulkOption();
    unload();
}

void WriteForm::unload()
{
    unloadSelf(this);
}

void WriteForm::closeEvent(QCloseEvent *event)
{
    // Only the frame's × asks here: the program lets go of the window before
    // it unloads it (after its own question, or when quitting).
    if (loadedForm<WriteForm>() == this && !m_drafts->confirmClose())
        event->ignore();
}

void WriteForm::hoverOver(QWidget *control)
{
    if (!control)
        return;
    if (control == BodyText || control == BodyText->viewport()) {
        Text14->hide();
        return;
    }
    const QString help = writeHelpText(control->objectName());
    if (help.isEmpty())
        return;
    Text14->show();
    Text14->raise();
    Text14->setPlainText(help);
}

bool WriteForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Combo1 && event->type() == QEvent::FocusOut) {
        // Only moving on to another control of this window puts the greeting
        // in: not opening the drop-down list, not switching to another
        // application or window.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        QWidget *next = QApplication::focusWidget();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason && next && next != Combo1
            && isAncestorOf(next))
            Combo1_LostFocus();
    } else if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
        hoverOver(qobject_cast<QWidget *>(watched));
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kestra
