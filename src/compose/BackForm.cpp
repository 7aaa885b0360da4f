#include "compose/BackForm.h"

#include "common/AppState.h"
#include "common/Controls.h"
#include "common/FormPlacement.h"
#include "common/Forms.h"
#include "common/SwapWindow.h"
#include "common/Text.h"
#include "common/Twips.h"
#include "common/UserPrompt.h"
#include "compose/AttachmentRow.h"
#include "compose/DraftKeeper.h"
#include "compose/SendMail.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>

namespace kestra {

namespace {

QLabel *label(QWidget *parent, const char *name, const QString &caption, int top)
{
    auto *l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The labels start left of the client area, so their left edge is cut off.
    setGeometryTwips(l, -120, top, 1095, 300);
    return l;
}

QLineEdit *box(QWidget *parent, const char *name, int l, int t, int w, int h)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    setGeometryTwips(e, l, t, w, h);
    keepSingleLine(e);
    return e;
}

} // namespace

QString replyPasteSeparator()
{
    return QStringLiteral("\r\n\r\n\r\n\r");
}

BackForm::BackForm(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("BackForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(caption());
    resize(twipsToPx(kDesignWidth), twipsToPx(kDesignHeight));

    Command1 = makeButton(this, "Command1", QStringLiteral("ホーム"), 120, 120, 1215, 375);
    Command2 = makeButton(this, "Command2", QStringLiteral("送信"), 1560, 120, 1215, 375);
    Command3 = makeButton(this, "Command3", QStringLiteral("送信中止"), 3000, 120, 1215, 375);
    Command4 = makeButton(this, "Command4", QStringLiteral("本文に貼付"), 4440, 120, 1215, 375);
    Label1 = label(this, "Label1", QStringLiteral("宛先"), 600);
    ToText = box(this, "ToText", 960, 600, 4212, 300);
    Label2 = label(this, "Label2", QStringLiteral("題名"), 960);
    SubjectText = box(this, "SubjectText", 960, 960, 6150, 300);
    Label3 = label(this, "Label3", QStringLiteral("添付File"), 1320);
    AttachText = box(this, "AttachText", 960, 1320, 2800, 300);
    AttachCommand = makeButton(this, "AttachCommand", QStringLiteral("添付"), 3840, 1320, 792, 300, QColor(224, 224, 224));
    Command9 = makeButton(this, "Command9", QStringLiteral("追加"), 4635, 1320, 855, 300, QColor(192, 192, 192));
    Command10 = makeButton(this, "Command10", QStringLiteral("取り消し"), 5475, 1320, 855, 300, QColor(255, 0, 0));
    BodyText = new QTextEdit(this);
    BodyText->setObjectName(QStringLiteral("BodyText"));
    BodyText->setAcceptRichText(false);
    setGeometryTwips(BodyText, 0, 1680, 7215, 5415);
    // The list lies over the body, right below the attachment row, so that
    // "添付", "追加" and "取り消し" stay where the pointer can reach them while it shows.
    List2 = new QListWidget(this);
    List2->setObjectName(QStringLiteral("List2"));
    setGeometryTwips(List2, 960, 1680, 3975, 1860);

    // Load: the attachment box at its design width, the list hidden.
    AttachText->resize(twipsToPx(2800), AttachText->height());
    List2->hide();

    connect(Command1, &QPushButton::clicked, this, &BackForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &BackForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &BackForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &BackForm::Command4_Click);
    connect(AttachCommand, &QPushButton::clicked, this, &BackForm::AttachCommand_Click);
    connect(Command9, &QPushButton::clicked, this, &BackForm::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &BackForm::Command10_Click);
    m_drafts = new DraftKeeper(this, QStringLiteral("BackForm"), [this] { return draft(); });
}

BackForm::~BackForm()
{
    // The fields are going: the hiding that follows is no change of the draft.
    m_drafts->stop();
}

QString BackForm::caption()
{
    return QStringLiteral("返事を書く");
}

Draft BackForm::draft() const
{
    return Draft{ToText->text(), SubjectText->text(), BodyText->toPlainText(), AttachText->text()};
}

void BackForm::restoreDraft(const Draft &draft)
{
    ToText->setText(draft.to);
    SubjectText->setText(draft.subject);
    BodyText->setPlainText(draft.body);
    const AttachmentRow row{AttachCommand, Command9, Command10, AttachText, List2};
    row.drop();
    row.restore(draft.attachments);
}

void BackForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void BackForm::Form_Resize()
{
    // The window's outer size, as the layout rules give it.
    const QRect outer = frameGeometry();
    const double w = pxToTwips(outer.width());
    const double h = pxToTwips(outer.height());
    BodyText->resize(twipsToPx(w * 0.99), twipsToPx(h * 0.74));
    ToText->resize(twipsToPx(w * 0.7), ToText->height());
    SubjectText->resize(twipsToPx(w * 0.7), SubjectText->height());
    const int attachWidth = int(w * 0.4);
    AttachText->resize(twipsToPx(attachWidth), AttachText->height());
    AttachCommand->move(twipsToPx(attachWidth + 1240), AttachCommand->y());
    Command9->move(twipsToPx(attachWidth + 2060), Command9->y());
    Command10->move(twipsToPx(attachWidth + 2940), Command10->y());
}

void BackForm::Command1_Click()
{
    if (m_drafts->confirmClose())
        unloadSelf(this);
}

void BackForm::closeEvent(QCloseEvent *event)
{
    // Only the frame's × asks here: the program lets go of the window before
    // it unloads it (after its own question, or when quitting).
    if (loadedForm<BackForm>() == this && !m_drafts->confirmClose())
        event->ignore();
}

void BackForm::Command2_Click()
{
    // The mail goes out on a worker thread behind a progress dialog whose
    // "キャンセル" ends the transfer at once; the windows stay responsive.
    const Status sent = sendOneMessage(ToText->text(), SubjectText->text(), BodyText->toPlainText(),
        AttachText->text(), this, caption());
    // A reply that did not go out (failed or stopped) stays on the screen
    // with everything the user wrote, after the box, so it can be sent again.
    if (sent) {
        m_drafts->discard();
        unloadSelf(this);
    }
}

void BackForm::Command3_Click()
{
    SwapWindow(mainWindowSlot(), this);
}

void BackForm::prepareReply(const QString &to, const QString &subject, const QString &body)
{
    m_drafts->startNew();
    ToText->setText(to);
    SubjectText->setText(subject);
    BodyText->setPlainText(body);
    AttachmentRow{AttachCommand, Command9, Command10, AttachText, List2}.drop();
    // A new reply starts with every attachment button usable, as at load.
    Command9->setEnabled(true);
    Command10->setEnabled(true);
    // The answered mail as filled in is nothing to keep until the user writes.
    m_drafts->setBaseline();
}

void BackForm::Command4_Click()
{
    // The clipboard text goes in at the cursor, as one step that Ctrl+Z takes
    // back; what the user wrote stays and the clipboard keeps its text. At the
    // start of the body (where a new reply puts the cursor) the answered mail
    // stays a few lines below the pasted text.
    QTextCursor cursor = BodyText->textCursor();
    QString text = QApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    if (cursor.atStart() && !BodyText->document()->isEmpty()) {
        QString separator = replyPasteSeparator();
        separator.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        separator.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        text += separator;
    }
    cursor.insertText(text);
    BodyText->setTextCursor(cursor);
}

void BackForm::AttachCommand_Click()
{
    AttachmentRow{AttachCommand, Command9, Command10, AttachText, List2}.pickFirst();
}

void BackForm::Command9_Click()
{
    AttachmentRow{AttachCommand, Command9, Command10, AttachText, List2}.pickMore();
}

void BackForm::Command10_Click()
{
    AttachmentRow{AttachCommand, Command9, Command10, AttachText, List2}.drop();
}

} // namespace kestra
