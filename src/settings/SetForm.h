#pragma once

#include <QWidget>

class QPushButton;

namespace kestra {

// The settings chooser ("設定"): opens the account window or the server
// settings window and stays open after either.
//
// Controls:
//   Command1  "ID/PASS": shows IdPassForm
//   Command2  "POPサーバー": shows OptionForm
//   Command3  "ブラウザ": shows BrowserOptionForm (search address)
class SetForm final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SetForm)

public:
    static constexpr int kClientWidth = 3195; // twips
    static constexpr int kClientHeight = 1110; // a second row holds the browser settings key

    explicit SetForm(QWidget *parent = nullptr);
    ~SetForm() override;

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

private:
    // Controls, by their fixed names (the table above).
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command3 = nullptr;
};

} // namespace kestra
