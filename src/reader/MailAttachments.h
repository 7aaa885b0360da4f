#pragma once

#include "common/RiskyFiles.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace kestra {

// One attachment of a mail, decoded from the mail's original message.
struct AttachmentItem {
    QString name; // as the mail gives it (untrusted); a made-up name when it gives none
    QString type; // MIME type, from the name and the contents
    QByteArray data;
};

// The attachments of a message, in the order the message holds them.
QList<AttachmentItem> attachmentsOf(QByteArrayView message);

// The original message kept for a record (the bytes as received), looked up
// by the record's bytes; nullopt for sent mail and for mail received by
// versions that did not keep originals.
std::optional<QByteArray> originalMessage(const QByteArray &recordBytes);

// A size as the list shows it: bytes, KB or MB.
QString sizeText(qint64 bytes);

// What opening an attachment written at `writtenPath` would do: judged on the
// name it was written under (cleaning a name can change its ending), on the
// written file's bits and contents, and on the name the mail gave.
FileRisk judgeAttachment(const QString &writtenPath, const QString &mailName);

// Opens an attachment: it is written into a folder of this user alone (never
// executable) and judged there (judgeAttachment). A program or script is
// handed to the system's application only after a warning the user accepts;
// HTML and SVG are shown in the program's own safe view instead of a browser.
// Every failure is shown in a message box. True when it was shown or handed
// to the desktop.
bool openAttachment(const AttachmentItem &item);

// Asks for a file name and writes the attachment there. True when written.
bool saveAttachmentAs(const AttachmentItem &item);

} // namespace kestra
