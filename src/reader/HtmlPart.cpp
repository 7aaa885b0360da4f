#include "reader/OriginalMessage.h"

#include "mime/MimeCodec.h"

namespace kestra {

QString htmlPartOf(QByteArrayView message)
{
    // Without the mail codec library the text part says why nothing is shown.
    const mime::MimeCodec *codec = message.isEmpty() ? nullptr : mime::mimeCodec();
    return codec ? codec->htmlPart(message) : QString();
}

} // namespace kestra
