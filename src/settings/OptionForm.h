#pragma once

#include "net/ServerSecurity.h"
#include "storage/Settings.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QKeyEvent;
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
// Enter in a box presses "設定", the default button.
// Connection settings, in a second column, kept in kestra2.ini:
//   SmtpSecurity / SmtpPort   SMTP connection security (STARTTLS, SSL/TLS, none) and port [6, 7]
//   Pop3Security / Pop3Port   the same for POP3 [8, 9]
//   SmtpUser / SmtpPass       SMTP log-in; empty: the POP3 ID and password [10, 11]
// Receiving options, below them, kept in kestra2.ini [receive] (all off by default):
//   KeepCheck                 leave received mail on the server [12]
//   DeleteDaysText            delete kept mail after so many days, 0 = never [13]
//   HistoryDeleteCheck        a mail deleted in the history goes on the server too [14]
//   CheckMinutesText          receive automatically every so many minutes, 0 = never [15]
//   DraftsCheck               keep what is being written as a draft (kestra2.ini [compose]) [16]
// Receiving over IMAP, in a block below, kept in kestra2.ini [imap] (written
// only once the user chose IMAP, so a POP3 user's files stay as they were):
//   ReceiveProtocol           受信の方式: POP3 or IMAP [17]
//   ImapText                  IMAP server name [18]
//   ImapSecurity / ImapPort   IMAP connection security (STARTTLS 143, SSL/TLS 993, none) and port [19, 20]
// With IMAP the mail always stays on the server: KeepCheck is on and fixed.
class OptionForm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OptionForm)

public:
    // The client area it opens with at least (twips); it grows with its texts.
    static constexpr int kClientWidth = 6120;
    static constexpr int kClientHeight = 3810;

    explicit OptionForm(QWidget *parent = nullptr);
    ~OptionForm() override;

    void OkCommand_Click();
    void CancelCommand_Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Form_Load();
    // The IMAP block: its rows, filling them from kestra2.ini, and writing them back.
    void buildImapRows();
    void loadImapRows(const ServerConnection &imap);
    Status saveImapRows(const QString &ini);

    // A choice stored by an earlier OK; false for settings of earlier versions,
    // which keep "STARTTLS when offered" until the user picks a choice here.
    bool m_smtpChosen = false;
    bool m_pop3Chosen = false;
    bool m_imapChosen = false;
    ServerConnection m_imap; // as read at load
    ReceiveOptions m_receive; // as read at load
    bool m_keepDrafts = false;

    // Controls, by their fixed names (the table above).
    QLabel *Label1 = nullptr;
    QLineEdit *SmtpText = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Pop3Text = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *MailText = nullptr;
    QCheckBox *ApopCheck = nullptr;
    QPushButton *OkCommand = nullptr;
    QPushButton *CancelCommand = nullptr;
    QLabel *SmtpSecurityLabel = nullptr;
    QComboBox *SmtpSecurity = nullptr;
    QLineEdit *SmtpPort = nullptr;
    QLabel *Pop3SecurityLabel = nullptr;
    QComboBox *Pop3Security = nullptr;
    QLineEdit *Pop3Port = nullptr;
    QLabel *SmtpLoginLabel = nullptr;
    QLineEdit *SmtpUser = nullptr;
    QLineEdit *SmtpPass = nullptr;
    QCheckBox *KeepCheck = nullptr;
    QLineEdit *DeleteDaysText = nullptr;
    QLabel *DeleteDaysLabel = nullptr;
    QCheckBox *HistoryDeleteCheck = nullptr;
    QLineEdit *CheckMinutesText = nullptr;
    QLabel *CheckMinutesLabel = nullptr;
    QCheckBox *DraftsCheck = nullptr;
    QLabel *ReceiveProtocolLabel = nullptr;
    QComboBox *ReceiveProtocol = nullptr;
    QLabel *ImapLabel = nullptr;
    QLineEdit *ImapText = nullptr;
    QLabel *ImapSecurityLabel = nullptr;
    QComboBox *ImapSecurity = nullptr;
    QLineEdit *ImapPort = nullptr;
};

} // namespace kestra
