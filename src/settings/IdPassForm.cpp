#include "settings/IdPassForm.h"

#include "common/AppState.h"
#include "common/FormPlacement.h"
#include "common/Paths.h"
#include "common/Twips.h"
#include "common/UserPrompt.h"
#include "storage/Cp932.h"
#include "storage/Settings.h"

#include <QCheckBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

namespace kestra {

IdPassForm::IdPassForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("IdPassForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("ID,PASS"));
    setClientSizeTwips(this, kClientWidth, kClientHeight);

    Label1 = new QLabel(QStringLiteral("ID"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    setGeometryTwips(Label1, 120, 165, 900, 255);
    IdText = new QLineEdit(this);
    IdText->setObjectName(QStringLiteral("IdText"));
    setGeometryTwips(IdText, 1080, 120, 1785, 300);
    keepSingleLine(IdText);

    Label2 = new QLabel(QStringLiteral("Password"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    setGeometryTwips(Label2, 120, 585, 900, 255);
    PassText = new QLineEdit(this);
    PassText->setObjectName(QStringLiteral("PassText"));
    setGeometryTwips(PassText, 1080, 540, 1785, 300);
    PassText->setEchoMode(QLineEdit::Password);
    // Each typed character shows as "*" (the style's own mask would be a dot).
    PassText->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    keepSingleLine(PassText);
    // Setting the echo mode decides about the input method again, so it is
    // switched off afterwards: a password is typed key by key, never composed.
    PassText->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText
                                  | Qt::ImhNoAutoUppercase);
    PassText->setAttribute(Qt::WA_InputMethodEnabled, false);

    Check1 = new QCheckBox(QStringLiteral("IDパスワードを保存する"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    setGeometryTwips(Check1, 120, 960, 2745, 300);

    OKCommand = new QPushButton(QStringLiteral("OK"), this);
    OKCommand->setObjectName(QStringLiteral("OKCommand"));
    setGeometryTwips(OKCommand, 240, 1320, 1200, 375);
    OKCommand->setDefault(true);
    CancelCommand = new QPushButton(QStringLiteral("Cancel"), this);
    CancelCommand->setObjectName(QStringLiteral("CancelCommand"));
    setGeometryTwips(CancelCommand, 1545, 1320, 1200, 375);

    // The save switch comes first in the tab order.
    setTabOrder(Check1, IdText);
    setTabOrder(IdText, PassText);
    setTabOrder(PassText, OKCommand);
    setTabOrder(OKCommand, CancelCommand);

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, CancelCommand, &QPushButton::click);
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        auto *enter = new QShortcut(QKeySequence(key), this);
        enter->setContext(Qt::WindowShortcut);
        connect(enter, &QShortcut::activated, this, &IdPassForm::enterPressed);
    }
    connect(OKCommand, &QPushButton::clicked, this, &IdPassForm::OKCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &IdPassForm::CancelCommand_Click);

    centreOnScreen(this);
    Form_Load();
}

IdPassForm::~IdPassForm() = default;

void IdPassForm::Form_Load()
{
    // A new window always starts with the save switch clear.
    Check1->setChecked(false);
    const IdPass saved = readIdPass(appPaths().idPassIni());
    IdText->setText(saved.id);
    PassText->setText(saved.password);
    Check1->setFocus();
}

void IdPassForm::showAccount(const QString &id, const QString &password)
{
    IdText->setText(id);
    PassText->setText(password);
}

void IdPassForm::enterPressed()
{
    // Enter presses the default button, unless another button has the focus.
    if (focusWidget() == CancelCommand)
        CancelCommand->click();
    else
        OKCommand->click();
}

void IdPassForm::OKCommand_Click()
{
    const IdPass values{IdText->text(), PassText->text()};
    if (Check1->isChecked()) {
        // The file holds code page 932: a character it has no code for would
        // be saved as "?", and the saved account would never log in.
        const struct {
            QLineEdit *box;
            QString name;
        } fields[] = {{IdText, QStringLiteral("ID")}, {PassText, QStringLiteral("パスワード")}};
        for (const auto &field : fields) {
            const QString lost = cp932::firstUnencodable(field.box->text());
            if (lost.isEmpty())
                continue;
            // A password is not shown, not even one character of it.
            const QString shown = field.box == PassText ? QString() : QStringLiteral("「%1」").arg(lost);
            prompt().info(QStringLiteral("%1に、保存できない文字%2があります。保存すると「?」に変わり、受信でログインできなくなります。\r\n"
                                         "%1を確かめるか、「IDパスワードを保存する」を外して、今回の起動中だけ使って下さい。")
                              .arg(field.name, shown),
                          appTitle(), PromptIcon::Exclamation);
            field.box->setFocus();
            return;
        }
    }
    if (Status s = writeIdPass(appPaths().idPassIni(), values, Check1->isChecked()); !s) {
        // The window stays open with what was typed, so nothing is lost silently.
        prompt().info(s.error().message(), appTitle(), PromptIcon::Exclamation);
        return;
    }
    SharedSettings &settings = appState().settings;
    settings.pop3Id = values.id.left(255);
    settings.pop3Password = values.password.left(255);
    settings.accountConfirmed = true;
    unloadSelf(this);
}

void IdPassForm::CancelCommand_Click()
{
    unloadSelf(this);
}

} // namespace kestra
