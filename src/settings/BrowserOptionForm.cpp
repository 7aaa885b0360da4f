#include "settings/BrowserOptionForm.h"

#include "common/AppState.h"
#include "common/Controls.h"
#include "common/FormPlacement.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "common/Twips.h"
#include "common/UserPrompt.h"
#include "storage/BrowserOptions.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kestra {

BrowserOptionForm::BrowserOptionForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("BrowserOptionForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("ブラウザの設定"));
    setClientSizeTwips(this, 6000, 1500);

    Label1 = makeLabel(this, "Label1", QStringLiteral("検索アドレス（%s の所に検索する言葉が入ります）"), 120, 120,
                       5760, 255);
    SearchText = new QLineEdit(this);
    SearchText->setObjectName(QStringLiteral("SearchText"));
    setGeometryTwips(SearchText, 120, 420, 5760, 315);
    keepSingleLine(SearchText);
    SearchText->setText(readBrowserOptions(appPaths().extraIni()).searchAddress);
    DefaultCommand = makeButton(this, "DefaultCommand", QStringLiteral("標準に戻す"), 120, 960, 1455, 375);
    OkCommand = makeButton(this, "OkCommand", QStringLiteral("OK"), 3120, 960, 1335, 375);
    CancelCommand = makeButton(this, "CancelCommand", QStringLiteral("キャンセル"), 4545, 960, 1335, 375);

    connect(OkCommand, &QPushButton::clicked, this, &BrowserOptionForm::OkCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &BrowserOptionForm::CancelCommand_Click);
    connect(DefaultCommand, &QPushButton::clicked, this, &BrowserOptionForm::DefaultCommand_Click);
    closeOnEscape(this);
    centreOnScreen(this);
}

BrowserOptionForm::~BrowserOptionForm() = default;

void BrowserOptionForm::OkCommand_Click()
{
    const QString address = trimBlanks(SearchText->text());
    if (!isUsableSearchAddress(address)) {
        prompt().info(QStringLiteral("検索アドレスには、http:// か https:// で始まり、"
                                     "検索する言葉の入る所に %s を一つ含むアドレスを入力して下さい。\r\n"
                                     "例: %1")
                          .arg(BrowserOptions::defaultSearchAddress()),
                      appTitle(), PromptIcon::Exclamation);
        SearchText->setFocus();
        return;
    }
    if (Status s = writeSearchAddress(appPaths().extraIni(), address); !s) {
        prompt().info(s.error().message(), appTitle(), PromptIcon::Exclamation);
        return;
    }
    unloadSelf(this);
}

void BrowserOptionForm::CancelCommand_Click()
{
    unloadSelf(this);
}

void BrowserOptionForm::DefaultCommand_Click()
{
    SearchText->setText(BrowserOptions::defaultSearchAddress());
}

} // namespace kestra
