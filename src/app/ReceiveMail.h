#pragma once

#include "storage/Result.h"

#include <QtGlobal>

#include <functional>

class QProgressDialog;

namespace kestra {

class MainForm;

// Receives every message waiting on the POP3 server: each one is stored as a
// record of the received store, its attachments are expanded into the
// attachment folder, and only then is it deleted on the server. Sets the main
// window's new-mail indicator at the end.
//
// While messages are fetched a modal progress dialog shows "n / N" and keeps
// the windows painted; other input is blocked until the run ends. Its cancel
// stops the run between two messages: every message stored so far is deleted
// on the server, every later one stays there, and the status box says how
// many of each.
//
// A message is deleted on the server only once its record is on the disk:
// deletions take effect when the session ends with QUIT, and the store is put
// on the disk once just before that. When that fails the session is dropped
// without QUIT, so every message of the run stays on the server (records
// already handed to the store may then be received a second time). When
// the store cannot be written, or the connection fails while a message is being
// fetched, the run stops with a message box: that message and every later one
// stay on the server, everything stored before stays stored.
void ReceiveMail(MainForm &main);

// Writes the mail shown in the history window's boxes (subject, sender, date,
// body) as record `recordNumber` of the received store, flushed to the disk.
Status StoreReceivedMail(qint16 recordNumber);

// Test hook: called each time the progress dialog has been set to message `n`
// of `count`, before that message is fetched. Tests cancel the dialog from it
// or look at it. An empty hook removes it.
using ReceiveProgressHook = std::function<void(QProgressDialog &dialog, int n, int count)>;
void setReceiveProgressHook(ReceiveProgressHook hook);

} // namespace kestra
