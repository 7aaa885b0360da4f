#pragma once

#include "reader/OriginalMessage.h"

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QTableWidget;

namespace kestra {

class MailView;

// The original view "原文" of one mail: its header fields decoded, the body as
// sent (HTML in a locked-down web view, or made plain text when the web engine
// cannot be loaded), the raw source one key away (Ctrl+U),
// and its attachments to open or save. Mail kept before originals were kept
// shows what its record holds, with a notice saying so.
//
// Controls:
//   Label1    notice (no original kept; remote content blocked)
//   Text1     From, To, Cc, Date (local time), Subject, Message-ID
//   Web1      HTML body (made for the first HTML mail); Text2 plain body; Text3 raw source
//   Command1  画像を表示: loads the remote content of this mail
//   Command2  ソース (Ctrl+U): switches between the body and the raw source
//   Grid1     attachments: 名前, 種類, サイズ
//   Command3  開く, Command4 名前を付けて保存, Command5 添付フォルダを開く
class OriginalForm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OriginalForm)

public:
    explicit OriginalForm(QWidget *parent = nullptr);
    ~OriginalForm() override;

    // Shows a message from its original bytes.
    void showOriginal(const QByteArray &message);
    // Shows a mail kept without its original: what its record holds.
    void showRecordOnly(const QString &date, const QString &address, const QString &subject,
                        const QString &body, bool sent);

    void Command1_Click(); // 画像を表示
    void Command2_Click(); // source / body
    void Command3_Click(); // open attachment
    void Command4_Click(); // save attachment
    void Command5_Click(); // open the attachment folder
    // A link in the mail was clicked: shows where it really goes before opening it.
    void linkActivated(const QUrl &url);

private:
    void showBody();
    bool showsHtml() const; // the body is shown in the web view
    void listAttachments();
    const AttachmentItem *selectedAttachment();

    OriginalMessage m_message;
    QWidget *m_bodyPage = nullptr;

    // Controls, by their fixed names (the table above).
    QLabel *Label1 = nullptr;
    QPlainTextEdit *Text1 = nullptr;
    QStackedWidget *Body = nullptr;
    MailView *Web1 = nullptr;
    QPlainTextEdit *Text2 = nullptr;
    QPlainTextEdit *Text3 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QTableWidget *Grid1 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command5 = nullptr;
};

// Opens the original view for record `number` of the store of `historyMode`.
void openOriginalWindow(qint16 historyMode, qint64 number);

} // namespace kestra
