#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestra {

// The server settings window ("サーバー設定"): SMTP and POP3 server names, the
// own mail address and the APOP switch. It always stays in front of the other
// windows. Its load fills the boxes from the shared settings; "設定" stores them
// back and rewrites kestra.ini, "中止" (or Esc) leaves everything as it was.
//
// Controls (tab order in brackets):
//   Label1 / SmtpText   SMTP server name [5]
//   Label2 / Pop3Text   POP3 server name [4]
//   Label3 / MailText   own mail address [0, focused when the window opens]
//   ApopCheck           "APOP を使用する(&A)" [3]
//   OkCommand           "設定" [2]
//   CancelCommand       "中止", also Esc [1]
class OptionForm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OptionForm)

public:
    static constexpr int kClientWidth = 3000; // twips
    static constexpr int kClientHeight = 3015;

    explicit OptionForm(QWidget *parent = nullptr);
    ~OptionForm() override;

    void OkCommand_Click();
    void CancelCommand_Click();

    QLabel *Label1 = nullptr;
    QLineEdit *SmtpText = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Pop3Text = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *MailText = nullptr;
    QCheckBox *ApopCheck = nullptr;
    QPushButton *OkCommand = nullptr;
    QPushButton *CancelCommand = nullptr;

private:
    void Form_Load();
};

} // namespace kestra
