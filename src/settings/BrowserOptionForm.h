#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kestra {

// Browser settings ("ブラウザの設定"), opened from the settings chooser: the
// search address that words typed into the address box and the toolbar's
// search key go to. Kept in kestra2.ini.
//
// Controls:
//   Label1         what the address is for
//   SearchText     the search address, %s where the words go
//   DefaultCommand "標準に戻す": puts the default address in the box
//   OkCommand      "OK": checks and stores the address, then closes
//   CancelCommand  "キャンセル": closes without storing
class BrowserOptionForm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BrowserOptionForm)

public:
    explicit BrowserOptionForm(QWidget *parent = nullptr);
    ~BrowserOptionForm() override;

    void OkCommand_Click();
    void CancelCommand_Click();
    void DefaultCommand_Click();

private:
    // Controls, by their fixed names (the table above).
    QLabel *Label1 = nullptr;
    QLineEdit *SearchText = nullptr;
    QPushButton *DefaultCommand = nullptr;
    QPushButton *OkCommand = nullptr;
    QPushButton *CancelCommand = nullptr;
};

} // namespace kestra
