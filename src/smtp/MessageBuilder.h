#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>

#include "common/Result.h"
#include "mail/MailSender.h"
#include "mime/MimeCodec.h"

namespace kestra {

// Builds the MIME message: From, To, Cc, Subject (RFC 2047), Date, Message-ID,
// MIME-Version; a text body in ISO-2022-JP when every character has a code
// there, UTF-8 otherwise; attachments in base64 with their names both as
// RFC 2231 parameters and as RFC 2047 words (which older mailers read), and a
// content type from the file's extension. Every attachment is read here, so a
// path that cannot be read fails before anything is sent.
Result<BuiltMessage> buildMessage(const OutgoingMail &mail, const QDateTime &date);

// The attachments of the mails of one run: each file is read and made into
// its MIME part once, at the first mail that carries it, and that part goes
// into every mail after it, so a bulk send neither reads nor holds a copy of
// an attachment per recipient (and every recipient gets the same file).
class AttachmentParts;
struct AttachmentPartsDeleter {
    void operator()(AttachmentParts *parts) const;
};
using AttachmentPartsPtr = std::unique_ptr<AttachmentParts, AttachmentPartsDeleter>;
AttachmentPartsPtr newAttachmentParts();
// buildMessage with the attachments taken from `parts`.
Result<BuiltMessage> buildMessage(const OutgoingMail &mail, const QDateTime &date, AttachmentParts &parts);

// True when `text` can be written in ISO-2022-JP (ASCII and JIS X 0208).
bool fitsIso2022Jp(const QString &text);

} // namespace kestra
