#pragma once

#include "common/Clock.h"
#include "common/DesktopServices.h"
#include "common/UserPrompt.h"

#include <QList>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>

class QTimer;
class QWidget;
class QWindow;

namespace kestra::test {

// A dialog the code under test asked for, as the fake prompt saw it.
struct ShownPrompt {
    enum class Kind { Message, OpenFile, SaveFile, SaveQuestion, Choice } kind = Kind::Message;
    QString text;    // message text, or the dialog caption
    QString title;
    PromptIcon icon = PromptIcon::None;
    PromptButtons buttons = PromptButtons::Ok;
    PromptDefault byDefault = PromptDefault::Affirmative;
    QStringList items; // the lines offered by a choice
};

// Answers message boxes and file dialogs from a script, in order, and records
// what was shown. A dialog with no scripted answer is a test failure (recorded
// in unexpected()); message boxes then get Ok / No, file dialogs an empty name.
class FakePrompt final : public UserPrompt
{
public:
    FakePrompt();  // installs itself
    ~FakePrompt() override; // restores the real dialogs

    void answer(PromptAnswer a) { m_answers.append(a); }
    void answerFile(const QString &path) { m_files.append(path); }
    void answerSave(SaveAnswer a) { m_saveAnswers.append(a); }
    void answerChoice(int index) { m_choices.append(index); }
    // Message boxes are answered Ok (Yes/No boxes: Yes) without a script.
    void setAutoAnswer(bool on) { m_auto = on; }

    PromptAnswer message(const QString &text, const QString &title, PromptIcon icon, PromptButtons buttons,
                         PromptDefault byDefault) override;
    QString openFileName(const QString &caption, const QString &dir, const QString &filter) override;
    QString saveFileName(const QString &caption, const QString &dir, const QString &filter) override;
    SaveAnswer askSave(const QString &text, const QString &title) override;
    int choose(const QString &text, const QString &title, const QStringList &items) override;

    const QList<ShownPrompt> &shown() const { return m_shown; }
    QStringList texts() const;
    int unexpected() const { return m_unexpected; }
    int pendingAnswers() const
    {
        return int(m_answers.size() + m_files.size() + m_saveAnswers.size() + m_choices.size());
    }
    void clear() { m_shown.clear(); }

private:
    QList<PromptAnswer> m_answers;
    QStringList m_files;
    QList<SaveAnswer> m_saveAnswers;
    QList<int> m_choices;
    QList<ShownPrompt> m_shown;
    int m_unexpected = 0;
    bool m_auto = false;
};

// Records what would have been handed to the desktop instead of opening it.
class RecordingDesktop final : public DesktopServices
{
public:
    RecordingDesktop();           // installs itself
    ~RecordingDesktop() override; // restores the real desktop
    bool openUrl(const QUrl &url) override
    {
        opened.append(url);
        return succeed;
    }
    QList<QUrl> opened;
    bool succeed = true;
};

// A clock standing at a fixed time until moved.
class FixedClock final : public Clock
{
public:
    explicit FixedClock(QDateTime when);
    ~FixedClock() override;
    QDateTime now() const override { return m_now; }
    void set(QDateTime when) { m_now = std::move(when); }

private:
    QDateTime m_now;
};

// A fresh application folder in a temporary directory, with the data and
// attachment folders, installed as the program's folder; program-wide state and
// store buffers are reset.
class TempAppFolder
{
public:
    TempAppFolder();
    ~TempAppFolder();
    QString path() const { return m_dir.path(); }
    QString dataFile(const QString &name) const;

private:
    QTemporaryDir m_dir;
};

// Types `text` into the widget that has the focus, one key press per character
// (a surrogate pair is one character), as a keyboard or an input method sends
// it. QTest::keyClicks takes ASCII only.
void typeText(const QString &text);

// Pointer input as the window system delivers it: events go to the window at
// a place in it, and Qt hands them to whatever widget lies there. The window
// must be shown.
QPoint centreIn(QWidget *control); // the control's centre in its window
void pointAt(QWidget *control);    // the pointer comes to rest on the control
void clickAt(QWidget *window, QPoint pos);
void clickOn(QWidget *control);

// Answers the next real box (DialogPrompt, with no fake prompt installed) as
// a person at the keyboard would: once the box has the focus, notes its
// default and escape buttons (QDialogButtonBox::StandardButton values; the
// escape button of a plain QMessageBox only) and its parent, then presses
// `key` on the widget that has the focus.
class RealBoxKey
{
public:
    explicit RealBoxKey(Qt::Key key);
    ~RealBoxKey();
    Q_DISABLE_COPY_MOVE(RealBoxKey)
    bool seen = false;
    int defaultButton = 0;
    int escapeButton = 0;
    QWidget *parent = nullptr;   // the box's parent widget
    QWindow *transient = nullptr; // the window the box is transient for

private:
    QTimer *m_poll;
    QPointer<QWidget> m_unfocused; // the modal box last seen without the focus
    int m_unfocusedPolls = 0;
};

// Deletes every window without a parent, as at the end of a test; a window
// deletes the top-level popups it owns (a combo box's list, for one) itself.
void closeAllWindows();

// Writes raw bytes to a file, replacing it.
void writeBytes(const QString &path, const QByteArray &bytes);
QByteArray readBytes(const QString &path);

} // namespace kestra::test
