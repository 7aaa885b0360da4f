#include "reader/OriginalForm.h"

#include "common/AppState.h"
#include "common/DesktopServices.h"
#include "common/FormPlacement.h"
#include "common/Forms.h"
#include "common/MailDate.h"
#include "common/Paths.h"
#include "common/Twips.h"
#include "common/UserPrompt.h"
#include "mime/Charsets.h"
#include "storage/MailFields.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "web/WebLoader.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kestra {

namespace {
constexpr int kAttachmentRows = 4;
// setHtml hands the page over as a data: URL, which the web engine caps at 2 MB.
constexpr qsizetype kMaxHtml = 1500 * 1000;

QPushButton *button(QWidget *parent, const char *name, const QString &caption)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

QPlainTextEdit *textBox(QWidget *parent, const char *name)
{
    auto *t = new QPlainTextEdit(parent);
    t->setObjectName(QLatin1String(name));
    t->setReadOnly(true);
    return t;
}
} // namespace

OriginalForm::OriginalForm(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("OriginalForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("原文"));
    resize(twipsToPx(10500), twipsToPx(9000));

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setWordWrap(true);
    Text1 = textBox(this, "Text1");
    Text1->setMaximumHeight(twipsToPx(1700));
    Command1 = button(this, "Command1", QStringLiteral("画像を表示"));
    Command2 = button(this, "Command2", QStringLiteral("ソース"));
    Command2->setToolTip(QStringLiteral("Ctrl+U"));

    Body = new QStackedWidget(this);
    Body->setObjectName(QStringLiteral("Body"));
    Text2 = textBox(Body, "Text2");
    Text3 = textBox(Body, "Text3");
    QFont fixed(QStringLiteral("monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    Text3->setFont(fixed);
    Text3->setLineWrapMode(QPlainTextEdit::NoWrap);
    Body->addWidget(Text2);
    Body->addWidget(Text3);

    Grid1 = new QTableWidget(0, 3, this);
    Grid1->setObjectName(QStringLiteral("Grid1"));
    Grid1->setHorizontalHeaderLabels({QStringLiteral("名前"), QStringLiteral("種類"), QStringLiteral("サイズ")});
    Grid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid1->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid1->verticalHeader()->hide();
    // The name takes what the type and size leave; a long one loses its middle,
    // never its extension, and shows whole in its tooltip.
    Grid1->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Grid1->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    Grid1->setTextElideMode(Qt::ElideMiddle);
    Grid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Four rows in view; more scroll.
    Grid1->setFixedHeight(Grid1->horizontalHeader()->sizeHint().height()
                          + kAttachmentRows * Grid1->verticalHeader()->defaultSectionSize() + 2 * Grid1->frameWidth());
    Command3 = button(this, "Command3", QStringLiteral("開く"));
    Command4 = button(this, "Command4", QStringLiteral("名前を付けて保存"));
    Command5 = button(this, "Command5", QStringLiteral("添付フォルダを開く"));

    auto *top = new QHBoxLayout;
    top->addWidget(Label1, 1);
    top->addWidget(Command1);
    top->addWidget(Command2);
    auto *files = new QHBoxLayout;
    files->addWidget(Command3);
    files->addWidget(Command4);
    files->addWidget(Command5);
    files->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(Text1);
    layout->addWidget(Body, 1);
    layout->addWidget(Grid1);
    layout->addLayout(files);

    connect(Command1, &QPushButton::clicked, this, &OriginalForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &OriginalForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &OriginalForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &OriginalForm::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &OriginalForm::Command5_Click);
    connect(Grid1, &QTableWidget::cellDoubleClicked, this, &OriginalForm::Command3_Click);
    auto *source = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_U), this);
    connect(source, &QShortcut::activated, this, &OriginalForm::Command2_Click);
    closeOnEscape(this);
}

OriginalForm::~OriginalForm() = default;

void OriginalForm::showOriginal(const QByteArray &message)
{
    m_message = readOriginal(message);
    const QString date = m_message.date.isValid()
                             ? localDateText(m_message.date) + QStringLiteral("  (") + m_message.dateText
                                   + QLatin1Char(')')
                             : m_message.dateText;
    QStringList lines = {QStringLiteral("From: ") + m_message.from, QStringLiteral("To: ") + m_message.to};
    if (!m_message.cc.isEmpty())
        lines << QStringLiteral("Cc: ") + m_message.cc;
    lines << QStringLiteral("Date: ") + date << QStringLiteral("Subject: ") + m_message.subject
          << QStringLiteral("Message-ID: ") + m_message.messageId;
    Text1->setPlainText(lines.join(QLatin1Char('\n')));
    Text3->setPlainText(mime::decodeGuessed(message));
    Text2->setPlainText(m_message.text);
    Label1->clear();
    Command2->setEnabled(true);
    Command5->setEnabled(false);
    showBody();
    listAttachments();
}

void OriginalForm::showRecordOnly(const QString &date, const QString &address, const QString &subject,
                                  const QString &body, bool sent)
{
    m_message = {};
    Label1->setText(sent ? QStringLiteral("送信したメールの原文は保存されていません。記録にある内容を表示します。")
                         : QStringLiteral("このメールの原文は保存されていません（原文を保存しない以前の版で受信したメールです）。"
                                          "記録にある内容を表示します。添付ファイルは受信のときに添付フォルダに展開されています。"));
    const QDateTime when = sent ? parseLocalDate(date) : parseMailDate(date);
    Text1->setPlainText((sent ? QStringLiteral("To: ") : QStringLiteral("From: ")) + address
                        + QStringLiteral("\nDate: ") + (when.isValid() ? localDateText(when) : date)
                        + QStringLiteral("\nSubject: ") + subject);
    Text2->setPlainText(body);
    Text3->clear();
    Body->setCurrentWidget(Text2);
    Command1->setEnabled(false);
    Command2->setEnabled(false);
    Command5->setEnabled(!sent);
    listAttachments();
}

bool OriginalForm::showsHtml() const
{
    return Web1 && !m_message.html.isEmpty() && m_message.html.size() <= kMaxHtml;
}

void OriginalForm::showBody()
{
    // The web view is made for the first HTML mail: the web engine is loaded then.
    if (!Web1 && !m_message.html.isEmpty() && m_message.html.size() <= kMaxHtml) {
        QString error;
        if (WebEngine *engine = webEngine(&error)) {
            Web1 = engine->createMailView(Body, [this](const QUrl &url) { linkActivated(url); });
            Web1->widget()->setObjectName(QStringLiteral("Web1"));
            Body->insertWidget(0, Web1->widget());
        } else {
            // Without the engine the mail is still read: its HTML made plain text.
            Label1->setText(QStringLiteral("ブラウザを開けませんでした。HTML のメールを文字だけで表示します。\n") + error);
        }
    }
    if (showsHtml()) {
        Web1->showHtml(m_message.html);
        Body->setCurrentWidget(Web1->widget());
        Command1->setEnabled(true);
        Label1->setText(QStringLiteral("外部の画像などは表示していません。"));
    } else {
        Body->setCurrentWidget(Text2);
        Command1->setEnabled(false);
    }
    Command2->setText(QStringLiteral("ソース"));
}

void OriginalForm::listAttachments()
{
    Grid1->setRowCount(0);
    for (const AttachmentItem &a : m_message.attachments) {
        const int row = Grid1->rowCount();
        Grid1->insertRow(row);
        auto *name = new QTableWidgetItem(a.name);
        name->setToolTip(a.name);
        Grid1->setItem(row, 0, name);
        Grid1->setItem(row, 1, new QTableWidgetItem(a.type));
        Grid1->setItem(row, 2, new QTableWidgetItem(sizeText(a.data.size())));
    }
    const bool any = !m_message.attachments.isEmpty();
    Command3->setEnabled(any);
    Command4->setEnabled(any);
}

void OriginalForm::Command1_Click()
{
    Web1->allowRemoteContent();
    Label1->clear();
    Command1->setEnabled(false);
}

void OriginalForm::Command2_Click()
{
    if (!Command2->isEnabled())
        return;
    if (Body->currentWidget() == Text3) {
        // The page stays loaded behind the source, with what it was allowed to load.
        Body->setCurrentWidget(showsHtml() ? Web1->widget() : static_cast<QWidget *>(Text2));
        Command2->setText(QStringLiteral("ソース"));
    } else {
        Body->setCurrentWidget(Text3);
        Command2->setText(QStringLiteral("本文"));
    }
}

const AttachmentItem *OriginalForm::selectedAttachment()
{
    const int row = Grid1->currentRow();
    if (row < 0 || row >= m_message.attachments.size()) {
        prompt().info(QStringLiteral("添付ファイルが選択されていません。一覧から選んで下さい。"), appTitle());
        return nullptr;
    }
    return &m_message.attachments.at(row);
}

void OriginalForm::Command3_Click()
{
    if (const AttachmentItem *a = selectedAttachment())
        openAttachment(*a);
}

void OriginalForm::Command4_Click()
{
    if (const AttachmentItem *a = selectedAttachment())
        saveAttachmentAs(*a);
}

void OriginalForm::Command5_Click()
{
    if (!desktop().openUrl(QUrl::fromLocalFile(appPaths().attachFolder())))
        prompt().info(QStringLiteral("添付フォルダ %1 を開けませんでした。ファイルマネージャーで開いて下さい。")
                          .arg(appPaths().attachFolder()),
                      appTitle(), PromptIcon::Exclamation);
}

void OriginalForm::linkActivated(const QUrl &url)
{
    const QString scheme = url.scheme();
    // The encoded form shows the real host (punycode) and every hidden character.
    const QString target = url.toString(QUrl::FullyEncoded);
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https") && scheme != QLatin1String("mailto")) {
        prompt().info(QStringLiteral("このリンクは開けません。\n\n%1").arg(target), appTitle(), PromptIcon::Exclamation);
        return;
    }
    if (prompt().message(QStringLiteral("次のアドレスをブラウザで開きます。よろしいですか？\n\n%1").arg(target),
                         QStringLiteral("確認"), PromptIcon::Question, PromptButtons::YesNo, PromptDefault::Safe)
        != PromptAnswer::Yes)
        return;
    if (!desktop().openUrl(url))
        prompt().info(QStringLiteral("ブラウザを起動できませんでした。アドレスをコピーしてブラウザに貼り付けて下さい。\n\n%1")
                          .arg(target),
                      appTitle(), PromptIcon::Exclamation);
}

void openOriginalWindow(qint16 historyMode, qint64 number)
{
    const QString store = appPaths().dataFile(
        QString::fromUtf16(historyMode == 2 ? names::sentStore : names::receivedStore));
    RecordFile file(store, MailRecord::kLength);
    QByteArray bytes;
    Status opened = file.openReadOnly();
    Result<bool> found = opened ? file.read(number, bytes) : Result<bool>(opened.error());
    if (!found) {
        prompt().info(found.error().message(), appTitle(), PromptIcon::Exclamation);
        return;
    }
    if (!found.value()) {
        prompt().info(QStringLiteral("このメールは履歴にもうありません。"), appTitle(), PromptIcon::Exclamation);
        return;
    }
    OriginalForm *f = form<OriginalForm>();
    if (std::optional<QByteArray> original = originalMessage(bytes)) {
        f->showOriginal(*original);
    } else {
        const MailFields fields = mailFields(MailRecord::decode(bytes), historyMode);
        f->showRecordOnly(fields.date, fields.address, fields.subject, fields.body, historyMode == 2);
    }
    f->show();
    f->raise();
    f->activateWindow();
}

} // namespace kestra
