#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace kestra {

enum class PromptIcon { None, Information, Exclamation, Question, Critical };
enum class PromptButtons { Ok, OkCancel, YesNo };
enum class PromptAnswer { Ok, Cancel, Yes, No };
enum class SaveAnswer { Save, Discard, Cancel }; // 保存 / 破棄 / キャンセル
// The button that Enter presses. A question whose Yes/OK trusts, runs, sends
// or opens something has the other button as its default: a stray Enter
// then does nothing harmful. Esc always gives No/Cancel.
enum class PromptDefault { Affirmative, Safe };

// Every message box and file dialog of the program goes through this interface,
// so that tests can answer them in order and see what was shown.
class UserPrompt
{
public:
    virtual ~UserPrompt() = default;

    virtual PromptAnswer message(const QString &text, const QString &title, PromptIcon icon,
                                 PromptButtons buttons, PromptDefault byDefault = PromptDefault::Affirmative) = 0;
    // An empty result means the user cancelled.
    virtual QString openFileName(const QString &caption, const QString &dir,
                                 const QString &filter) = 0;
    virtual QString saveFileName(const QString &caption, const QString &dir,
                                 const QString &filter) = 0;
    // About unsaved text: 保存, 破棄 or キャンセル. A prompt that cannot ask
    // (a run in the background) answers キャンセル, which keeps the text.
    virtual SaveAnswer askSave(const QString &, const QString &) { return SaveAnswer::Cancel; }
    // One line of `items`: its index, or -1 when the user cancelled (also the
    // answer of a prompt that cannot ask).
    virtual int choose(const QString &, const QString &, const QStringList &) { return -1; }

    // Shorthands for the common forms.
    void info(const QString &text, const QString &title, PromptIcon icon = PromptIcon::None)
    {
        message(text, title, icon, PromptButtons::Ok);
    }
    // Yes/No, question icon, title "確認".
    bool confirm(const QString &text, PromptDefault byDefault = PromptDefault::Affirmative);
};

// The prompt in force: the real dialogs unless a test installed another one.
UserPrompt &prompt();
// Installs `p` (not owned); nullptr restores the real dialogs.
void setPrompt(UserPrompt *p);

// Shows real QMessageBox / QFileDialog windows, each in front of the window
// the user is in (frontWindow()).
class DialogPrompt final : public UserPrompt
{
public:
    PromptAnswer message(const QString &text, const QString &title, PromptIcon icon, PromptButtons buttons,
                         PromptDefault byDefault = PromptDefault::Affirmative) override;
    QString openFileName(const QString &caption, const QString &dir, const QString &filter) override;
    QString saveFileName(const QString &caption, const QString &dir, const QString &filter) override;
    SaveAnswer askSave(const QString &text, const QString &title) override;
    int choose(const QString &text, const QString &title, const QStringList &items) override;
};

} // namespace kestra
