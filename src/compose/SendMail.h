#pragma once

#include <QString>

namespace kestra {

struct SendResult {
    bool ok = false;
    QString error; // the mail layer's text, cut at its first NUL, when !ok
};

// Sends one message through the mail layer: the SMTP server and the own
// address from the settings in force, no Cc, Bcc or extra header, flag 0.
// `attachments` is the comma-separated list of full paths (or empty). On
// failure the layer's message text is fetched and, with `showErrorBox`, shown
// in the "送信エラー" box (OK only). The compose and the reply windows both send
// through here.
SendResult sendOneMessage(const QString &to, const QString &subject, const QString &body,
    const QString &attachments, bool showErrorBox = true);

// The title of the failure box.
QString sendErrorTitle();

} // namespace kestra
