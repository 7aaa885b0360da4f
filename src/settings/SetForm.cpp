#include "settings/SetForm.h"

#include "common/FormPlacement.h"
#include "common/Forms.h"
#include "common/Twips.h"
#include "settings/BrowserOptionForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"

#include <QPushButton>

namespace kestra {

SetForm::SetForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("SetForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("設定"));
    growWithText(this);
    setClientSizeTwips(this, kClientWidth, kClientHeight);

    Command1 = new QPushButton(QStringLiteral("ID/PASS"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    setGeometryTwips(Command1, 120, 120, 1410, 375);
    Command2 = new QPushButton(QStringLiteral("POPサーバー"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    setGeometryTwips(Command2, 1665, 120, 1410, 375);
    Command3 = new QPushButton(QStringLiteral("ブラウザ"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    setGeometryTwips(Command3, 120, 615, 2955, 375);

    connect(Command1, &QPushButton::clicked, this, &SetForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &SetForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &SetForm::Command3_Click);

    closeOnEscape(this);
    centreOnScreen(this);
}

SetForm::~SetForm() = default;

void SetForm::Command1_Click()
{
    showInFront(form<IdPassForm>());
}

void SetForm::Command2_Click()
{
    showInFront(form<OptionForm>());
}

void SetForm::Command3_Click()
{
    showInFront(form<BrowserOptionForm>());
}

} // namespace kestra
