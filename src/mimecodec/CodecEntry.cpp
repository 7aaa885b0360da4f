#include "mimecodec/Codec.h"

#include <gmime/gmime.h>

// The one symbol the library exports. Called once, by the loader, under its lock.
extern "C" __attribute__((visibility("default"))) const kestra::mime::MimeCodec *kestra_mime_codec()
{
    using namespace kestra::mimecodec;
    g_mime_init();
    static const kestra::mime::MimeCodec codec{
        parseMessage, parseMessageFile, firstMailbox, htmlPart, newAttachmentParts, freeAttachmentParts, buildMessage,
    };
    return &codec;
}
