#pragma once

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

// Opens an attachment with the system's application: it is written into a
// folder of this user alone (never executable), and after a warning the user
// must accept for program and script types (isRiskyFileName).
// Every failure is shown in a message box. True when it was handed to the desktop.
bool openAttachment(const AttachmentItem &item);

// Asks for a file name and writes the attachment there. True when written.
bool saveAttachmentAs(const AttachmentItem &item);

} // namespace kestra
