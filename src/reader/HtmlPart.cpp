// GMime's headers use the names "signals" and "slots": this file includes no Qt
// header that needs them.
#include "reader/OriginalMessage.h"

#include "mime/Charsets.h"

#include <gmime/gmime.h>
#include "mime/GObjectRef.h"

#include <mutex>

namespace kestra {

namespace {

bool isHtml(GMimeObject *object)
{
    GMimeContentType *type = g_mime_object_get_content_type(object);
    return type && g_mime_content_type_is_type(type, "text", "html");
}

bool isAttachment(GMimeObject *object)
{
    GMimeContentDisposition *d = g_mime_object_get_content_disposition(object);
    return d && g_mime_content_disposition_is_attachment(d);
}

// Depth-first, the first HTML part that is not an attachment.
GMimeObject *findHtml(GMimeObject *object, int depth)
{
    if (!object || depth > 64)
        return nullptr;
    if (GMIME_IS_MULTIPART(object)) {
        auto *multipart = GMIME_MULTIPART(object);
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
            if (GMimeObject *found = findHtml(g_mime_multipart_get_part(multipart, i), depth + 1))
                return found;
        }
        return nullptr;
    }
    return GMIME_IS_PART(object) && isHtml(object) && !isAttachment(object) ? object : nullptr;
}

} // namespace

QString htmlPartOf(QByteArrayView message)
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
    if (message.isEmpty())
        return {};
    Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(message.data(), size_t(message.size())));
    Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    Ref<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!parsed.get())
        return {};
    GMimeObject *html = findHtml(g_mime_message_get_mime_part(parsed.get()), 0);
    if (!html)
        return {};
    GMimeDataWrapper *wrapper = g_mime_part_get_content(GMIME_PART(html));
    if (!wrapper)
        return {};
    Ref<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(wrapper, out.get());
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    const char *charset = g_mime_object_get_content_type_parameter(html, "charset");
    return mime::decodeText(QByteArrayView(reinterpret_cast<const char *>(bytes->data), qsizetype(bytes->len)),
                            QByteArrayView(charset ? charset : ""));
}

} // namespace kestra
