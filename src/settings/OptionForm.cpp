#include "settings/OptionForm.h"

#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Twips.h"
#include "common/UserPrompt.h"
#include "settings/FormPlacement.h"
#include "storage/Settings.h"

#include <QCheckBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

namespace kestra {

namespace {

QLineEdit *makeBox(QWidget *parent, const char *name, int top)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    setGeometryTwips(box, 120, top, 2760, 300);
    keepSingleLine(box);
    return box;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, int top, QWidget *buddy)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    setGeometryTwips(label, 120, top, 2760, 255);
    // The access key in the caption moves the focus to the box below.
    label->setBuddy(buddy);
    return label;
}

} // namespace

OptionForm::OptionForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                          | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("OptionForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("サーバー設定"));
    setClientSizeTwips(this, kClientWidth, kClientHeight);

    SmtpText = makeBox(this, "SmtpText", 375);
    Label1 = makeLabel(this, "Label1", QStringLiteral("SMTPサーバー名(&S)"), 120, SmtpText);
    Pop3Text = makeBox(this, "Pop3Text", 1020);
    Label2 = makeLabel(this, "Label2", QStringLiteral("POP3サーバー名(&P)"), 765, Pop3Text);
    MailText = makeBox(this, "MailText", 1665);
    Label3 = makeLabel(this, "Label3", QStringLiteral("メールアドレス(&M)"), 1410, MailText);

    ApopCheck = new QCheckBox(QStringLiteral("APOP を使用する(&A)"), this);
    ApopCheck->setObjectName(QStringLiteral("ApopCheck"));
    setGeometryTwips(ApopCheck, 120, 2070, 2760, 300);

    OkCommand = new QPushButton(QStringLiteral("設定"), this);
    OkCommand->setObjectName(QStringLiteral("OkCommand"));
    setGeometryTwips(OkCommand, 240, 2520, 1200, 375);
    CancelCommand = new QPushButton(QStringLiteral("中止"), this);
    CancelCommand->setObjectName(QStringLiteral("CancelCommand"));
    setGeometryTwips(CancelCommand, 1560, 2520, 1200, 375);

    // Tab order: MailText, CancelCommand, OkCommand, ApopCheck, Pop3Text, SmtpText.
    setTabOrder(MailText, CancelCommand);
    setTabOrder(CancelCommand, OkCommand);
    setTabOrder(OkCommand, ApopCheck);
    setTabOrder(ApopCheck, Pop3Text);
    setTabOrder(Pop3Text, SmtpText);

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, CancelCommand, &QPushButton::click);
    connect(OkCommand, &QPushButton::clicked, this, &OptionForm::OkCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &OptionForm::CancelCommand_Click);

    centreOnScreen(this);
    Form_Load();
}

OptionForm::~OptionForm() = default;

void OptionForm::Form_Load()
{
    const SharedSettings &s = appState().settings;
    SmtpText->setText(s.smtpServer);
    Pop3Text->setText(s.pop3Server);
    MailText->setText(s.mailAddress);
    ApopCheck->setChecked(s.apop == 1);
    MailText->setFocus();
}

void OptionForm::OkCommand_Click()
{
    SharedSettings &s = appState().settings;
    s.smtpServer = SmtpText->text();
    s.pop3Server = Pop3Text->text();
    s.mailAddress = MailText->text();
    s.apop = ApopCheck->isChecked() ? 1 : 0;
    if (Status st = writeKestraIni(appPaths().kestraIni(), s); !st) {
        // The values hold for this run; the window stays so that the user can
        // try again or leave with "中止" knowing the file was not written.
        prompt().info(st.error().message(), appTitle(), PromptIcon::Exclamation);
        return;
    }
    unloadSelf(this);
}

void OptionForm::CancelCommand_Click()
{
    unloadSelf(this);
}

} // namespace kestra
