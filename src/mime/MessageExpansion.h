#pragma once

#include "common/Result.h"
#include "mail/RawMessage.h"
#include "mime/AttachmentFiles.h"

#include <QByteArray>
#include <QString>

namespace kestra::mime {

// A received message made readable.
struct ExpandedMail {
    QString subject;  // decoded
    QString date;     // the Date field's text
    QString from;     // the sender's bare address
    QByteArray header; // the header block as sent
    QString body;     // the readable text, line ends CR LF
    // The body as sent contains the word "attachment" (the mark the history
    // window's attachment notice follows).
    bool mentionsAttachment = false;
    int attachmentsWritten = 0;
    // A piece of a split message whose other pieces have not all come (or
    // could not be kept): `body` is the piece's own text, `splitText` says why.
    bool splitIncomplete = false;
    QString splitText;
};

// Parses `message`, writes its attachments into `attachFolder` (a path
// ending in a separator) under safe new names, and gives its readable text.
// The pieces of a split message are kept in the attachment folder until the
// last one arrives; the whole message (at most `maxBytes`) is then expanded.
// An error when an attachment (or a piece) could not be written: the message
// should then stay on the server.
Result<ExpandedMail> expandMessage(const RawMessage &message, const QString &attachFolder, qint64 maxBytes,
                                   AttachmentWrites *writes = nullptr);

} // namespace kestra::mime
