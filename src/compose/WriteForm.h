#pragma once

#include "compose/AttachmentRow.h"
#include "compose/Greetings.h"
#include "common/Result.h"

#include <QList>

#include <functional>
#include <QListWidget>
#include <QString>
#include <QWidget>
#include <QtGlobal>

class QCheckBox;
class QProgressDialog;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace kestra {

class DraftKeeper;
struct Draft;

// A list box that reports a mouse press after the press has moved the
// current line, the way the address list reacts to a press.
class PressList final : public QListWidget
{
    Q_OBJECT

public:
    using QListWidget::QListWidget;

Q_SIGNALS:
    void mouseDown();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

// The compose window "新規作成・送信": recipient, subject, greeting box, body,
// attachments, fortune, and an address panel for picking names or sending the
// same mail to the whole address book.
//
// Controls:
//   Command1 送信          Command3 送信中止      Command4 アドレス帳     Command5 本文に貼付
//   Command6 元のサイズ    Command7 宛先に貼付    Command8 ホーム         Command11 クリア
//   ToText recipient (typing stops at 60 characters)   SubjectText subject
//   Combo1 greeting box    AttachCommand 添付File  Command9 追加   Command10 取り消し
//   AttachText attachment paths joined by ","          List2 one line per attachment
//   Label3 fortune note    Check1 fortune on/off     BodyText body
//   Text14 hover help      Label7 status line
//   AddressPanel: HeaderStrip (Text1 count), List1 names, Frame4 (Option2 一括送信, Option1 取消)
//
// The window is created by its first use (the constructor is the load step)
// and unloaded by "送信", "ホーム", "送信中止" and closing. With drafts on, the
// user's ways out ask whether to keep the text as a draft.
class WriteForm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WriteForm)

public:
    static constexpr int kNarrowWidth = 7100;
    static constexpr int kWideWidth = 9700;
    static constexpr int kHeight = 8200;
    static constexpr int kToMaxLength = 60;

    explicit WriteForm(QWidget *parent = nullptr);
    ~WriteForm() override;

    static QString caption();

    void Command1_Click(); // send
    void Command3_Click(); // close without sending
    void Command4_Click(); // widen and fill the address list
    void Command5_Click(); // clipboard onto the body
    void Command6_Click(); // narrow
    void Command7_Click(); // clipboard into the recipient
    void Command8_Click(); // home
    void Command9_Click(); // further attachment
    void Command10_Click(); // drop the attachments
    void Command11_Click(); // clear
    void AttachCommand_Click();
    void Option1_Click();
    void Option2_Click();
    void List1_MouseDown();
    void Combo1_LostFocus();

    // Hover help for the control under the mouse.
    void hoverOver(QWidget *control);

    // Ticks or clears the fortune box (start-up loads the window with it clear).
    void setFortune(bool on);
    // Whether the user has put anything into recipient, subject, body or attachments.
    bool hasTypedText() const;

    // Fortune draws come from here (tests install a scripted source).
    void setRandomSource(RandomSource source) { m_random = std::move(source); }

    // Position in List1 -> address-book record number; always one spare slot.
    QList<qint16> AddressIndex;

    // Texts of the boxes as the rest of the program sees them: line ends CR LF.
    QString toText() const;
    QString bodyText() const;
    void setToText(const QString &text);
    void setBodyText(const QString &text);

    // The fields a draft keeps, and the window filled from a kept draft.
    Draft draft() const;
    void restoreDraft(const Draft &draft);
    DraftKeeper *drafts() const { return m_drafts; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void Form_Load();
    void fillAddressList(const QString &path);
    void setListColour(bool bulk);
    void setWidthAndCentre(int widthTwips);
    AttachmentRow attachmentRow() const;
    void clearBulkOption();
    void limitToText();
    void unload();

    RandomSource m_random;
    bool m_settingTo = false;
    DraftKeeper *m_drafts = nullptr;

    // Controls, by their fixed names (the table above).
    QPushButton *Command1 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command5 = nullptr;
    QPushButton *Command6 = nullptr;
    QPushButton *Command7 = nullptr;
    QPushButton *Command8 = nullptr;
    QPushButton *Command11 = nullptr;
    QLabel *LabelTo = nullptr;
    QPlainTextEdit *ToText = nullptr;
    QLabel *LabelSubject = nullptr;
    QLineEdit *SubjectText = nullptr;
    QLabel *LabelGreeting = nullptr;
    QComboBox *Combo1 = nullptr;
    QPushButton *AttachCommand = nullptr;
    QPushButton *Command9 = nullptr;
    QPushButton *Command10 = nullptr;
    QLineEdit *AttachText = nullptr;
    QListWidget *List2 = nullptr;
    QLabel *LabelFortune = nullptr;
    QWidget *Label3Strip = nullptr;
    QLabel *Label3 = nullptr;
    QCheckBox *Check1 = nullptr;
    QPlainTextEdit *BodyText = nullptr;
    QPlainTextEdit *Text14 = nullptr;
    QWidget *Label7Strip = nullptr;
    QLabel *Label7 = nullptr;
    QWidget *AddressPanel = nullptr;
    QWidget *HeaderStrip = nullptr;
    QLabel *LabelBook = nullptr;
    QLabel *LabelCount = nullptr;
    QLineEdit *Text1 = nullptr;
    PressList *List1 = nullptr;
    QGroupBox *Frame4 = nullptr;
    QRadioButton *Option2 = nullptr;
    QLabel *LabelOption2 = nullptr;
    QRadioButton *Option1 = nullptr;
    QLabel *LabelOption1 = nullptr;
};

// The hover-help text of a compose-window control, by name; empty for none.
QString writeHelpText(const QString &controlName);

} // namespace kestra
