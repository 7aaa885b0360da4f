// The MIME building itself is done by the mail codec library (mime/MimeCodec.h),
// loaded at the first mail built.
#include "smtp/MessageBuilder.h"

#include "mime/Charsets.h"

namespace kestra {

// The library's attachment parts of one run, made at the first mail built
// with them: a sender made while the library cannot be loaded still has a
// (then empty) set of parts, and its mails fail one by one with the reason.
class AttachmentParts
{
public:
    ~AttachmentParts()
    {
        if (m_parts)
            m_codec->freeAttachmentParts(m_parts);
    }
    void *of(const mime::MimeCodec *codec)
    {
        if (!m_parts) {
            m_codec = codec;
            m_parts = codec->newAttachmentParts();
        }
        return m_parts;
    }

private:
    const mime::MimeCodec *m_codec = nullptr;
    void *m_parts = nullptr;
};

void AttachmentPartsDeleter::operator()(AttachmentParts *parts) const
{
    delete parts;
}

AttachmentPartsPtr newAttachmentParts()
{
    return AttachmentPartsPtr(new AttachmentParts);
}

Result<BuiltMessage> buildMessage(const OutgoingMail &mail, const QDateTime &date)
{
    AttachmentParts parts;
    return buildMessage(mail, date, parts);
}

Result<BuiltMessage> buildMessage(const OutgoingMail &mail, const QDateTime &date, AttachmentParts &parts)
{
    QString why;
    const mime::MimeCodec *codec = mime::mimeCodec(&why);
    if (!codec)
        return Error(QStringLiteral("メールを組み立てられないため、送信しませんでした。%1").arg(why));
    return codec->buildMessage(mail, date, parts.of(codec));
}

bool fitsIso2022Jp(const QString &text)
{
    QByteArray ignored;
    return mime::encodeText(text, "ISO-2022-JP", ignored);
}

} // namespace kestra
