#include "addressbook/FriendForm.h"

#include "addressbook/AddressBook.h"
#include "common/AppState.h"
#include "common/Controls.h"
#include "common/FormPlacement.h"
#include "common/Twips.h"
#include "common/UserPrompt.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/StoreBuffers.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QPushButton>
#include <QShortcut>

namespace kestra {

namespace {

void showError(const Error &error)
{
    prompt().info(error.message(), appTitle(), PromptIcon::Exclamation);
}

// The padding of a field for the eye only: trailing blanks and ideographic spaces.
QString withoutPadding(const QString &field)
{
    qsizetype end = field.size();
    while (end > 0 && (field.at(end - 1) == QLatin1Char(' ') || field.at(end - 1) == QChar(0x3000)))
        --end;
    return field.left(end);
}

// Draws the address list's rows in two columns (see addressRowLook), so that a
// name stands in view beside a 60-character address and an entry without an
// address does not look like an empty line.
class AddressRowDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString rowText = opt.text;
        opt.text.clear();
        QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget); // background, selection
        const AddressRowLook look = addressRowLook(rowText, opt.rect, opt.fontMetrics);
        painter->save();
        painter->setFont(opt.font);
        painter->setPen(opt.palette.color(opt.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                              : QPalette::Text));
        painter->drawText(look.addressRect, Qt::AlignLeft | Qt::AlignVCenter, look.address);
        painter->drawText(look.nameRect, Qt::AlignLeft | Qt::AlignVCenter, look.name);
        painter->restore();
    }

    // As wide as the list: nothing to scroll sideways.
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return {1, QStyledItemDelegate::sizeHint(option, index).height()};
    }
};

} // namespace

AddressRowLook addressRowLook(const QString &rowText, const QRect &row, const QFontMetrics &metrics)
{
    constexpr int kMargin = 3;
    const QRect inner = row.adjusted(kMargin, 0, -kMargin, 0);
    // The name column begins a little past the middle: addresses are the longer part.
    const int split = inner.left() + inner.width() * 11 / 20;
    AddressRowLook look;
    look.addressRect = QRect(QPoint(inner.left(), inner.top()), QPoint(split - 2 * kMargin, inner.bottom()));
    look.nameRect = QRect(QPoint(split, inner.top()), inner.bottomRight());
    look.address = metrics.elidedText(withoutPadding(rowText.left(kAddressChars)), Qt::ElideRight,
                                      look.addressRect.width());
    look.name = metrics.elidedText(withoutPadding(rowText.mid(kAddressChars + 2)), Qt::ElideRight,
                                   look.nameRect.width());
    return look;
}

FriendForm::FriendForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FriendForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("アドレス帳"));
    setClientSizeTwips(this, kClientWidth, kClientHeight);

    // Address row.
    // The label column is as wide as "メールアドレス" needs in the window's font;
    // the two boxes start right of it and end where the design has them end.
    Label1 = makeLabel(this, "Label1", QStringLiteral("メールアドレス"), 120, 165, 1200, 255);
    const int labelWidth = qMax(1200, pxToTwips(Label1->sizeHint().width()) + 30);
    Label1->resize(twipsToPx(labelWidth), Label1->height());
    const int boxLeft = qMax(1380, 120 + labelWidth + 60);
    const int boxWidth = 1380 + 3960 - boxLeft;
    Text4 = new QLineEdit(this);
    Text4->setObjectName(QStringLiteral("Text4"));
    setGeometryTwips(Text4, boxLeft, 120, boxWidth, 300);
    Text4->setMaxLength(kAddressChars);
    keepSingleLine(Text4);
    Command1 = makeButton(this, "Command1", QStringLiteral("貼付"), 5460, 120, 780, 300);

    // Name row.
    Label2 = makeLabel(this, "Label2", QStringLiteral("名前"), 120, 585, labelWidth, 255);
    Text2 = new QLineEdit(this);
    Text2->setObjectName(QStringLiteral("Text2"));
    setGeometryTwips(Text2, boxLeft, 540, boxWidth, 300);
    Text2->setMaxLength(kNameChars);
    keepSingleLine(Text2);

    // Buttons and count.
    Command3 = makeButton(this, "Command3", QStringLiteral("ホーム"), 120, 1020, 1080, 375);
    Command4 = makeButton(this, "Command4", QStringLiteral("登録"), 1320, 1020, 1080, 375);
    Command5 = makeButton(this, "Command5", QStringLiteral("削除"), 2520, 1020, 1080, 375);
    Label3 = makeLabel(this, "Label3", QStringLiteral("登録件数"), 3840, 1080, 1080, 255);
    Text3 = new QLineEdit(this);
    Text3->setObjectName(QStringLiteral("Text3"));
    setGeometryTwips(Text3, 4980, 1050, 1260, 300);
    Text3->setReadOnly(true);
    Text3->setAttribute(Qt::WA_InputMethodEnabled, false);

    // The list fills the width; its rows are drawn in an address and a name column.
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    setGeometryTwips(List1, 120, 1560, 6120, 4920);
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setItemDelegate(new AddressRowDelegate(List1));
    List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    Label7 = makeLabel(this, "Label7", QString(), 0, 6600, kClientWidth, 360);
    Label7->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    // Outside the client area: the user can neither see nor press them.
    Command2 = makeButton(this, "Command2", QStringLiteral("Command2"), kClientWidth + 600, 120, 1200, 375);
    Label8 = makeLabel(this, "Label8", QStringLiteral("※重要削除するな！！"), kClientWidth + 600, 600, 2400, 255);

    connect(Command1, &QPushButton::clicked, this, &FriendForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &FriendForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &FriendForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &FriendForm::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &FriendForm::Command5_Click);
    // Esc leaves like ホーム; a name or address not yet registered is asked about first.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if ((!Text2->text().isEmpty() || !Text4->text().isEmpty())
            && !prompt().confirm(QStringLiteral("入力した名前とメールアドレスは登録されていません。閉じますか？")))
            return;
        Command3_Click();
    });

    centreOnScreen(this);
    Form_Load();
}

FriendForm::~FriendForm() = default;

void FriendForm::Form_Load()
{
    Text3->setText(QString::number(List1->count()));
    Label7->setText(QString());
    ReloadAddressList();
}

void FriendForm::ReloadAddressList()
{
    List1->clear();
    m_rowRecords.clear();
    const QString path = addressBookPath();
    // Opening creates an empty book when there is none.
    Status status = RecordFile(path, AddressRecord::kLength).open();
    if (status) {
        // An entry marked deleted whose compaction failed is not listed.
        status = scanLiveRecords(path, AddressRecord::kLength, [this](qint64 number, const QByteArray &bytes) {
            AddressRecord &buffer = addressBuffer();
            buffer = AddressRecord::decode(bytes);
            List1->addItem(addressListRow(buffer));
            m_rowRecords.append(number);
            return true;
        });
    }
    Text3->setText(QString::number(List1->count()));
    if (!status)
        showError(status.error());
}

bool FriendForm::SaveAddressRecord(qint16 recordNumber)
{
    AddressRecord &buffer = addressBuffer();
    buffer = newAddressRecord(Text2->text(), Text4->text());
    const Status s = writeRecordAt(addressBookPath(), AddressRecord::kLength, recordNumber, buffer.encode());
    if (!s)
        showError(s.error());
    return s.ok();
}

void FriendForm::showAddress(const QString &address)
{
    Text4->setText(address);
}

void FriendForm::Command1_Click()
{
    Text4->setText(QApplication::clipboard()->text());
}

void FriendForm::Command2_Click()
{
    ReloadAddressList();
}

void FriendForm::Command3_Click()
{
    unloadSelf(this);
}

void FriendForm::Command4_Click()
{
    if (Text2->text().isEmpty()) {
        prompt().info(QStringLiteral("氏名（名称）が入力されていません。"), appTitle());
        return;
    }
    if (Text4->text().isEmpty()) {
        prompt().info(QStringLiteral("メールアドレスが入力されていません。"), appTitle());
        return;
    }
    const Status whole = dropTornTail(addressBookPath(), AddressRecord::kLength);
    const Result<qint16> number = whole ? AppendRecordNumber(addressBookPath(), AddressRecord::kLength)
                                        : Result<qint16>(whole.error());
    if (!number) {
        showError(number.error());
        return;
    }
    // On a failed write the boxes keep what was typed.
    if (!SaveAddressRecord(number.value()))
        return;
    appState().currentRecord = number.value();
    Label7->setText(QStringLiteral("　登録が完了しました。"));
    Command2_Click();
    Text2->clear();
    Text4->clear();
}

void FriendForm::Command5_Click()
{
    const QList<QListWidgetItem *> selected = List1->selectedItems();
    if (selected.isEmpty()) {
        prompt().info(QStringLiteral("データが選択されていません。"), appTitle());
        return;
    }
    const int row = List1->row(selected.first());
    const qint64 number = row < m_rowRecords.size() ? m_rowRecords.at(row) : 0;
    appState().currentRecord = qint16(qMin(number, kMaxRecords));
    Label7->setText(QStringLiteral(" "));
    if (prompt().confirm(QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"))) {
        const Status marked = markRecord(addressBookPath(), AddressRecord::kLength, number);
        if (!marked) {
            showError(marked.error());
            Command2_Click();
            return;
        }
        Label7->setText(QStringLiteral("削除が完了しました"));
    }
    // The book is compacted after either answer; after "No" it keeps every record.
    const Status compacted = CompactStore(addressBookPath(), addressBookTempPath(), AddressRecord::kLength, m_storeFaults);
    if (!compacted)
        showError(compacted.error());
    Command2_Click();
}

} // namespace kestra
