#pragma once

#include "common/AppState.h"
#include "runs/BulkSend.h"

#include <QString>

class QWidget;

namespace kestra {

// Sends `inputs` as a BulkSend on a worker thread. Meanwhile an
// application-modal progress dialog over `parent`, titled `title`, shows
// "n / N"; the windows repaint, and the dialog's "キャンセル" stops the run
// before the next mail or in the middle of a transfer. The server settings
// and the account in force are read here, on the main thread, and handed to
// the sender before the run starts. The compose and the reply windows
// both send through here.
BulkSendResult sendWithProgress(const BulkSendInputs &inputs, QWidget *parent, const QString &title);

// The reply window's send: one message through the sender with the SMTP
// server and the own address from the settings in force, no Cc, Bcc or extra
// header, and no sent record. `attachments` is the comma-separated
// list of full paths (or empty). A failure shows the sender's text in the
// "送信エラー" box (OK only) and comes back as that error; a send the user
// stopped says so in a box titled `title` and comes back Canceled.
Status sendOneMessage(const QString &to, const QString &subject, const QString &body,
    const QString &attachments, QWidget *parent = nullptr, const QString &title = appTitle());

// The title of the failure box.
QString sendErrorTitle();

// The text of the box after the user stopped a reply.
QString sendStoppedText();

} // namespace kestra
