#pragma once

#include "common/Result.h"

#include <QtGlobal>

namespace kestra {

class MainForm;
struct ReceivedMail;

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
// says how many of each.
//
// With the mail left on the server (an option of kestra2.ini, see
// LeaveOnServer) the messages an earlier run fetched are skipped, nothing is
// deleted after storing, and kept messages that are due are deleted instead.
void ReceiveMail(MainForm &main);

// Writes the mail shown in the history window's boxes (subject, sender, date,
// body) as record `recordNumber` of the received store, flushed to the disk.
Status StoreReceivedMail(qint16 recordNumber);

// Puts a received mail into the history window's boxes (Text9, Text7, Text8,
// rtfEd), loading that window hidden when needed.
void showInHistoryBoxes(const ReceivedMail &mail);

} // namespace kestra
