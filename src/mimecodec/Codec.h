#pragma once

// The functions of the mail codec library behind the table of mime/MimeCodec.h.
// Their files include GMime, whose GLib headers use the names "signals" and
// "slots": the library is built with QT_NO_KEYWORDS.
#include "mime/MimeCodec.h"

namespace kestra::mimecodec {

mime::MessageContent parseMessage(QByteArrayView message);
mime::MessageContent parseMessageFile(QFile &file);
QString firstMailbox(QByteArrayView rawValue);
QString htmlPart(QByteArrayView message);

void *newAttachmentParts();
void freeAttachmentParts(void *parts);
Result<BuiltMessage> buildMessage(const OutgoingMail &mail, const QDateTime &date, void *parts);

} // namespace kestra::mimecodec
