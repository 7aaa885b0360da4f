#pragma once

#include "storage/Result.h"

#include <QtGlobal>

namespace kestra {

class MainForm;

// Receives every message waiting on the POP3 server: each one is stored as a
// record of the received store, its attachments are expanded into the
// attachment folder, and only then is it deleted on the server. Sets the main
// window's new-mail indicator at the end. Runs to completion without returning
// to the event loop.
//
// A message is deleted on the server only once its record is on the disk. When
// the store cannot be written, or the connection fails while a message is being
// fetched, the run stops with a message box: that message and every later one
// stay on the server, everything stored before stays stored.
void ReceiveMail(MainForm &main);

// Writes the mail shown in the history window's boxes (subject, sender, date,
// body) as record `recordNumber` of the received store, flushed to the disk.
Status StoreReceivedMail(qint16 recordNumber);

} // namespace kestra
