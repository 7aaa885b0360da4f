#include "common/UserPrompt.h"

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

namespace kestra {

namespace {
UserPrompt *g_installed = nullptr;

QWidget *dialogParent()
{
    return QApplication::activeWindow();
}
} // namespace

bool UserPrompt::confirm(const QString &text)
{
    return message(text, QStringLiteral("確認"), PromptIcon::Question, PromptButtons::YesNo)
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

PromptAnswer scrollingMessage(const QString &text, const QString &title, PromptButtons buttons)
{
    QStringList lines = text.split(QStringLiteral("\r\n"));
    QDialog dialog(dialogParent());
    dialog.setWindowTitle(title);
    auto *layout = new QVBoxLayout(&dialog);
    auto *first = new QLabel(lines.takeFirst(), &dialog);
    first->setTextFormat(Qt::PlainText);
    layout->addWidget(first);
    auto *list = new QPlainTextEdit(lines.join(QLatin1Char('\n')), &dialog);
    list->setReadOnly(true);
    list->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(list);
    auto *box = new QDialogButtonBox(buttons == PromptButtons::Ok ? QDialogButtonBox::Ok
                                     : buttons == PromptButtons::OkCancel
                                         ? QDialogButtonBox::Ok | QDialogButtonBox::Cancel
                                         : QDialogButtonBox::Yes | QDialogButtonBox::No,
        &dialog);
    PromptAnswer answer = buttons == PromptButtons::YesNo ? PromptAnswer::No
                          : buttons == PromptButtons::OkCancel ? PromptAnswer::Cancel
                                                               : PromptAnswer::Ok;
    QObject::connect(box, &QDialogButtonBox::clicked, &dialog, [&](QAbstractButton *b) {
        switch (box->standardButton(b)) {
        case QDialogButtonBox::Yes: answer = PromptAnswer::Yes; break;
        case QDialogButtonBox::No: answer = PromptAnswer::No; break;
        case QDialogButtonBox::Cancel: answer = PromptAnswer::Cancel; break;
        default: answer = PromptAnswer::Ok; break;
        }
        dialog.accept();
    });
    layout->addWidget(box);
    dialog.resize(dialog.sizeHint().width() * 2, dialog.sizeHint().height() * 2);
    dialog.exec();
    return answer;
}
} // namespace

PromptAnswer DialogPrompt::message(const QString &text, const QString &title, PromptIcon icon,
                                   PromptButtons buttons)
{
    if (text.count(QStringLiteral("\r\n")) >= kMaxPlainLines)
        return scrollingMessage(text, title, buttons);
    QMessageBox box(dialogParent());
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
    switch (buttons) {
    case PromptButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case PromptButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case PromptButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return PromptAnswer::Yes;
    case QMessageBox::No: return PromptAnswer::No;
    case QMessageBox::Cancel: return PromptAnswer::Cancel;
    default: return buttons == PromptButtons::YesNo ? PromptAnswer::No : PromptAnswer::Ok;
    }
}

SaveAnswer DialogPrompt::askSave(const QString &text, const QString &title)
{
    QMessageBox box(dialogParent());
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
    QDialog dialog(dialogParent());
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
    return QFileDialog::getOpenFileName(dialogParent(), caption, dir, filter);
}

QString DialogPrompt::saveFileName(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getSaveFileName(dialogParent(), caption, dir, filter);
}

} // namespace kestra
