#pragma once

#include <QString>
#include <QStringList>

namespace kestra {

// One outgoing mail as the windows give it.
struct OutgoingMail {
    QString from; // the user's own address
    QString to; // one or more addresses separated by commas
    QString cc; // optional, like `to`
    QString bcc; // optional, like `to`; never written into the message
    QString subject;
    QString body; // line ends CR LF, LF or CR
    QString extraHeader; // optional "Name: value" lines
    QStringList attachmentPaths;
};

// The comma-separated attachment list of the windows, as paths. Empty items
// (",," or a trailing comma) are skipped.
QStringList splitAttachmentPaths(const QString &joined);

} // namespace kestra
