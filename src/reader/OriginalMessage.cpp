#include "reader/OriginalMessage.h"

#include "common/MailDate.h"
#include "mime/Charsets.h"
#include "mime/MimeMessage.h"

namespace kestra {

OriginalMessage readOriginal(QByteArrayView message)
{
    const mime::SplitMessage split = mime::splitMessage(message);
    const auto field = [&](const char *name) {
        return mime::decodeHeaderValue(mime::rawHeaderField(split.header, QByteArrayView(name))).trimmed();
    };
    OriginalMessage m;
    m.from = field("From");
    m.to = field("To");
    m.cc = field("Cc");
    m.dateText = field("Date");
    m.date = parseMailDate(m.dateText);
    m.subject = field("Subject");
    m.messageId = field("Message-ID");
    const mime::MessageContent content = mime::parseMessage(message);
    m.text = content.text;
    m.html = htmlPartOf(message);
    m.attachments = attachmentsOf(message);
    return m;
}

} // namespace kestra
