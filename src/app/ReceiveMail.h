#pragma once

#include "common/Result.h"
#include "runs/ReceiveRun.h"
#include "storage/StoreFaults.h"

#include <QtGlobal>

#include <optional>

namespace kestra {

class MainForm;
class UserPrompt;

// Receives every message waiting on the POP3 server (a ReceiveRun, on a
// worker thread): each one is stored as a record of the received store, its
// attachments are expanded into the attachment folder, and only then is it
// deleted on the server. Sets the main window's status text and new-mail
// indicator, fills the history window's boxes with the last message, shows
// the boxes the run owes and lists an open history again.
//
// For the whole run an application-modal progress dialog shows "n / N" while
// the windows repaint and the clock ticks. Its cancel stops the run at once:
// between two messages every message stored so far is deleted on the server
// and every later one stays there; while the program waits for the server
// the session is dropped without committing anything and the records of the
// run are taken back, so every message stays on the server. The status box
// says how many of each. An automatic run still under way is waited for
// behind the same dialog (its cancel stops that run too) before this one starts.
//
// With the mail left on the server (an option of kestra2.ini, see
// LeaveOnServer) the messages an earlier run fetched are skipped, nothing is
// deleted after storing, and kept messages that are due are deleted instead.
void ReceiveMail(MainForm &main);

// The server 受信 talks to: the IMAP server when the account receives over
// IMAP (kestra2.ini [imap]), else the POP3 server of kestra.ini.
QString receiveServer();

// What a run needs, read on the main thread from the settings in force: the
// server, the account (confirmed in the account window this run, else the
// saved one), the size limit and the leave-on-server options. Nothing
// without a POP3 server.
std::optional<ReceiveInputs> receiveInputs(const StoreFaults &faults);

// Who a run's outcome is for. The user who pressed 受信 gets the boxes, the
// history window's boxes and the account window; an automatic run works
// beside whatever the user is doing and touches none of them: its boxes go
// to `boxes` (collected), and an open history only gets the new mail listed.
enum class ReceiveFor { User, Background };

// Mirrors the outcome of a run into the windows.
void showReceiveResult(MainForm &main, const ReceiveInputs &inputs, const ReceiveResult &result, ReceiveFor who,
                       UserPrompt &boxes);

// Writes the mail shown in the history window's boxes (subject, sender, date,
// body) as record `recordNumber` of the received store, flushed to the disk.
Status StoreReceivedMail(qint16 recordNumber);

// Puts a received mail into the history window's boxes (Text9, Text7, Text8,
// rtfEd), loading that window hidden when needed.
void showInHistoryBoxes(const ReceivedMail &mail);

// The indicator after a run.
QString indicatorAfter(const ReceiveResult &result);
// The indicator's text while new mail waits.
const QString &newMailIndicator();

} // namespace kestra
