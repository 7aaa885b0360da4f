#include "common/UserPrompt.h"

#include <QApplication>
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

PromptAnswer DialogPrompt::message(const QString &text, const QString &title, PromptIcon icon,
                                   PromptButtons buttons)
{
    QMessageBox box(dialogParent());
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

QString DialogPrompt::openFileName(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getOpenFileName(dialogParent(), caption, dir, filter);
}

QString DialogPrompt::saveFileName(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getSaveFileName(dialogParent(), caption, dir, filter);
}

} // namespace kestra
