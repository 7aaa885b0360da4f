// Handing the mail on the screen to the reply window or its sender to the
// address book. Both work in the received history only; the receiving window
// takes the history window's place, and the history window is hidden with its
// list and boxes intact.
#include "addressbook/FriendForm.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/SwapWindow.h"
#include "common/Text.h"
#include "common/UserPrompt.h"
#include "compose/BackForm.h"
#include "history/HistoryListBox.h"
#include "history/TyakuForm.h"

#include <QLineEdit>
#include <QTextEdit>

namespace kestra {

namespace {

// The two refusals shared by both buttons; true when the hand-over may go on.
bool mayHandOver(const TyakuForm &history, bool refuseUnlessReceived)
{
    const bool refused = refuseUnlessReceived ? appState().historyMode != 1 : appState().historyMode == 2;
    if (refused) {
        prompt().info(QStringLiteral("自分宛となっています。"), appTitle());
        return false;
    }
    if (history.selectedRow() < 0) {
        prompt().info(QStringLiteral("データが選択されていません。"), appTitle());
        return false;
    }
    return true;
}

} // namespace

void TyakuForm::Command4_Click()
{
    if (!mayHandOver(*this, false))
        return;
    BackForm *reply = form<BackForm>();
    // "Re:" goes in front every time, also before an existing "Re:".
    reply->prepareReply(trimBlanks(Text8->text()), QStringLiteral("Re:  ") + trimBlanks(Text9->text()),
        trimBlanks(rtfEd->toPlainText()));
    SwapWindow(reply, this);
}

void TyakuForm::Command3_Click()
{
    if (!mayHandOver(*this, true))
        return;
    FriendForm *book = form<FriendForm>();
    // The address goes over as it stands in the box, blanks included.
    book->showAddress(Text8->text());
    SwapWindow(book, this);
}

} // namespace kestra
