#include "common/UserPrompt.h"

#include "common/FormPlacement.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace kestra {

namespace {
UserPrompt *g_installed = nullptr;
} // namespace

bool UserPrompt::confirm(const QString &text, PromptDefault byDefault)
{
    return message(text, QStringLiteral("確認"), PromptIcon::Question, PromptButtons::YesNo, byDefault)
           == PromptAnswer::Yes;
}

UserPrompt &prompt()
{
    static DialogPrompt real;
    return g_installed ? *g_installed : real;
}

void setPrompt(UserPrompt *p)
{
    g_installed = p;
}

namespace {
// A message too long for the screen (a list of many addresses, say) is shown
// in a box that scrolls, with the first line above it.
constexpr int kMaxPlainLines = 15;

// The buttons of a box, the one Enter presses and the one Esc presses.
struct ButtonSet {
    QMessageBox::StandardButtons all;
    QMessageBox::StandardButton enter;
    QMessageBox::StandardButton escape;
};

ButtonSet buttonSet(PromptButtons buttons, PromptDefault byDefault)
{
    const bool safe = byDefault == PromptDefault::Safe;
    switch (buttons) {
    case PromptButtons::OkCancel:
        return {QMessageBox::Ok | QMessageBox::Cancel, safe ? QMessageBox::Cancel : QMessageBox::Ok, QMessageBox::Cancel};
    case PromptButtons::YesNo:
        return {QMessageBox::Yes | QMessageBox::No, safe ? QMessageBox::No : QMessageBox::Yes, QMessageBox::No};
    case PromptButtons::Ok: break;
    }
    return {QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok};
}

// QMessageBox and QDialogButtonBox number their standard buttons alike.
PromptAnswer answerFor(int button)
{
    switch (button) {
    case QMessageBox::Yes: return PromptAnswer::Yes;
    case QMessageBox::No: return PromptAnswer::No;
    case QMessageBox::Cancel: return PromptAnswer::Cancel;
    default: return PromptAnswer::Ok;
    }
}

PromptAnswer scrollingMessage(const QString &text, const QString &title, const ButtonSet &set)
{
    QStringList lines = text.split(QStringLiteral("\r\n"));
    QDialog dialog(frontWindow());
    dialog.setWindowTitle(title);
    auto *layout = new QVBoxLayout(&dialog);
    auto *first = new QLabel(lines.takeFirst(), &dialog);
    first->setTextFormat(Qt::PlainText);
    layout->addWidget(first);
    auto *list = new QPlainTextEdit(lines.join(QLatin1Char('\n')), &dialog);
    list->setReadOnly(true);
    list->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(list);
    auto *box = new QDialogButtonBox(QDialogButtonBox::StandardButtons::fromInt(set.all.toInt()), &dialog);
    int pressed = set.escape; // also when the box is closed
    QObject::connect(box, &QDialogButtonBox::clicked, &dialog, [&](QAbstractButton *b) {
        pressed = box->standardButton(b);
        dialog.accept();
    });
    // The default button has the focus, so that Enter presses it whatever else the box holds.
    QPushButton *enter = box->button(QDialogButtonBox::StandardButton(set.enter));
    enter->setDefault(true);
    enter->setFocus();
    layout->addWidget(box);
    dialog.resize(dialog.sizeHint().width() * 2, dialog.sizeHint().height() * 2);
    dialog.exec();
    return answerFor(pressed);
}
} // namespace

PromptAnswer DialogPrompt::message(const QString &text, const QString &title, PromptIcon icon,
                                   PromptButtons buttons, PromptDefault byDefault)
{
    const ButtonSet set = buttonSet(buttons, byDefault);
    if (text.count(QStringLiteral("\r\n")) >= kMaxPlainLines)
        return scrollingMessage(text, title, set);
    QMessageBox box(frontWindow());
    // Texts carry names from mails, answers of servers and file names: shown
    // as they are, never read as HTML with links.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setWindowTitle(title);
    switch (icon) {
    case PromptIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case PromptIcon::Information: box.setIcon(QMessageBox::Information); break;
    case PromptIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case PromptIcon::Question: box.setIcon(QMessageBox::Question); break;
    case PromptIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    }
    box.setStandardButtons(set.all);
    box.setDefaultButton(set.enter);
    box.setEscapeButton(set.escape);
    return answerFor(box.exec());
}

SaveAnswer DialogPrompt::askSave(const QString &text, const QString &title)
{
    QMessageBox box(frontWindow());
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setWindowTitle(title);
    box.setIcon(QMessageBox::Question);
    QPushButton *save = box.addButton(QStringLiteral("保存"), QMessageBox::AcceptRole);
    QPushButton *discard = box.addButton(QStringLiteral("破棄"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    // Enter keeps the text; Esc and the frame's × go back to the window.
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save)
        return SaveAnswer::Save;
    return box.clickedButton() == discard ? SaveAnswer::Discard : SaveAnswer::Cancel;
}

int DialogPrompt::choose(const QString &text, const QString &title, const QStringList &items)
{
    QDialog dialog(frontWindow());
    dialog.setWindowTitle(title);
    auto *layout = new QVBoxLayout(&dialog);
    auto *label = new QLabel(text, &dialog);
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    auto *list = new QListWidget(&dialog);
    list->addItems(items);
    list->setCurrentRow(0);
    layout->addWidget(list);
    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(box);
    QObject::connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemActivated, &dialog, &QDialog::accept);
    list->setFocus();
    return dialog.exec() == QDialog::Accepted ? list->currentRow() : -1;
}

QString DialogPrompt::openFileName(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getOpenFileName(frontWindow(), caption, dir, filter);
}

QString DialogPrompt::saveFileName(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getSaveFileName(frontWindow(), caption, dir, filter);
}

} // namespace kestra
