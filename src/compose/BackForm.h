#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTextEdit;

namespace kestra {

class DraftKeeper;
struct Draft;

// The reply window "返事を書く": the history window fills recipient, subject
// and body from the mail being answered; the user edits them, may attach files
// and put clipboard text above the answered mail, and sends. No sent record,
// no fortune, no bulk mode.
//
// Controls:
//   Command1 ホーム (unload)     Command2 送信          Command3 送信中止 (back to the main window)
//   Command4 本文に貼付 (clipboard text above the answered mail)
//   Label1 宛先 / ToText recipient      Label2 題名 / SubjectText subject
//   Label3 添付File / AttachText paths joined by ","
//   AttachCommand 添付 (first file)   Command9 追加 (further file)   Command10 取り消し (drop all)
//   List2 one line per attached file (over the body when shown)     BodyText body
//
// Created on first use (the constructor is the load step); "送信" (when the
// mail went out), "ホーム" and closing unload it; "送信中止" only hides it.
// With drafts on, "ホーム" and closing ask whether to keep the text as a draft.
class BackForm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BackForm)

public:
    static constexpr int kDesignWidth = 7080; // client area in twips
    static constexpr int kDesignHeight = 7065;

    explicit BackForm(QWidget *parent = nullptr);
    ~BackForm() override;

    static QString caption();

    void Form_Resize();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void AttachCommand_Click();
    void Command9_Click();
    void Command10_Click();

    // Fills the window for a new reply: recipient, subject and body of the
    // answered mail and no attachments, also when the window was only hidden
    // by "送信中止" and still holds an earlier reply's files. An earlier reply
    // still in the window stays kept as its own draft.
    void prepareReply(const QString &to, const QString &subject, const QString &body);

    // The fields a draft keeps, and the window filled from a kept draft.
    Draft draft() const;
    void restoreDraft(const Draft &draft);
    DraftKeeper *drafts() const { return m_drafts; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    DraftKeeper *m_drafts = nullptr;

    // Controls, by their fixed names (the table above).
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *ToText = nullptr;
    QLineEdit *SubjectText = nullptr;
    QLineEdit *AttachText = nullptr;
    QPushButton *AttachCommand = nullptr;
    QPushButton *Command9 = nullptr;
    QPushButton *Command10 = nullptr;
    QListWidget *List2 = nullptr;
    QTextEdit *BodyText = nullptr;
};

// The line ends put between pasted text and the answered mail: CR LF CR LF CR LF CR.
QString replyPasteSeparator();

} // namespace kestra
