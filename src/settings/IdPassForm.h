#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestra {

// The account window ("ID,PASS"): POP3 ID and password, saved to iniIdPass.ini
// when the save switch is ticked. Each load fills the boxes from the file and
// starts with the save switch clear. Receiving loads it hidden and hands it the
// saved ID and password (showAccount).
//
// Controls:
//   Label1 "ID" / IdText            POP3 account ID
//   Label2 "Password" / PassText    password, shown as "*", no input method
//   Check1                          "IDパスワードを保存する": save switch (first in tab order)
//   OKCommand                       "OK", also Enter
//   CancelCommand                   "Cancel", also Esc
class IdPassForm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(IdPassForm)

public:
    static constexpr int kClientWidth = 2985; // twips
    static constexpr int kClientHeight = 1785;

    explicit IdPassForm(QWidget *parent = nullptr);
    ~IdPassForm() override;

    void OKCommand_Click();
    void CancelCommand_Click();

    // Puts an ID and a password into the boxes (receiving loads the window
    // hidden with the saved ones).
    void showAccount(const QString &id, const QString &password);

private:
    void Form_Load();
    void enterPressed();

public:
private:
    // Controls, by their fixed names (the table above).
    QLineEdit *IdText = nullptr;
    QLineEdit *PassText = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QCheckBox *Check1 = nullptr;
    QPushButton *OKCommand = nullptr;
    QPushButton *CancelCommand = nullptr;
};

} // namespace kestra
