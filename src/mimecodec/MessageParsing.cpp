// Received mail parsed with GMime: the text and attachments of a message,
// its first HTML part, the first address of an address field.
#include "mimecodec/Codec.h"

#include "common/Text.h"
#include "mime/Charsets.h"

#include <gmime/gmime.h>
#include "mimecodec/GObjectRef.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>
#include <functional>
#include <limits>

namespace kestra::mimecodec {

using namespace kestra::mime;

namespace {

QByteArray rawHeaderOf(GMimeObject *object, const char *name)
{
    GMimeHeaderList *list = g_mime_object_get_header_list(object);
    if (!list)
        return {};
    GMimeHeader *header = g_mime_header_list_get_header(list, name);
    if (!header)
        return {};
    const char *raw = g_mime_header_get_raw_value(header);
    return raw ? QByteArray(raw) : QByteArray();
}

// The decoded content of a part, read through a decoding filter straight into
// one buffer (at most `limit` bytes of it).
QByteArray decodedContent(GMimePart *part, qint64 limit = std::numeric_limits<qint64>::max())
{
    GMimeDataWrapper *wrapper = g_mime_part_get_content(part);
    GMimeStream *source = wrapper ? g_mime_data_wrapper_get_stream(wrapper) : nullptr;
    if (!source)
        return {};
    g_mime_stream_reset(source);
    Ref<GMimeStream> filtered(g_mime_stream_filter_new(source));
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(wrapper);
    if (encoding != GMIME_CONTENT_ENCODING_DEFAULT) {
        GMimeFilter *decoder = g_mime_filter_basic_new(encoding, FALSE);
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), decoder);
        g_object_unref(decoder);
    }
    QByteArray out;
    // Decoding never makes the content longer than it is encoded.
    const gint64 encoded = g_mime_stream_length(source);
    if (encoded > 0)
        out.reserve(qsizetype(qMin<qint64>(encoded, limit)));
    char buffer[64 * 1024];
    while (out.size() < limit) {
        const gssize got = g_mime_stream_read(filtered.get(), buffer, sizeof buffer);
        if (got <= 0)
            break;
        out.append(buffer, qsizetype(qMin<qint64>(got, limit - out.size())));
    }
    return out;
}

QByteArray objectBytes(GMimeObject *object)
{
    Ref<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(object, nullptr, stream.get());
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
    return QByteArray(reinterpret_cast<const char *>(bytes->data), qsizetype(bytes->len));
}

QByteArray typeOf(GMimeObject *object)
{
    GMimeContentType *type = g_mime_object_get_content_type(object);
    if (!type)
        return QByteArrayLiteral("text/plain");
    const char *t = g_mime_content_type_get_media_type(type);
    const char *s = g_mime_content_type_get_media_subtype(type);
    return (QByteArray(t ? t : "text") + '/' + QByteArray(s ? s : "plain")).toLower();
}

struct Collector {
    QString plain;
    QString html;
    bool havePlain = false;
    QList<Attachment> attachments;
    int leftOut = 0;

    bool roomForAttachment()
    {
        if (attachments.size() < kMaxAttachments)
            return true;
        ++leftOut;
        return false;
    }
};

bool isAttachmentPart(GMimeObject *object, QString *name)
{
    const QByteArray disposition = rawHeaderOf(object, "Content-Disposition");
    const QByteArray contentType = rawHeaderOf(object, "Content-Type");
    QString fileName = headerParameters(disposition).value("filename");
    if (fileName.isEmpty())
        fileName = headerParameters(contentType).value("name");
    *name = fileName;
    if (headerToken(disposition) == "attachment" || !fileName.isEmpty())
        return true;
    const QByteArray type = typeOf(object);
    return type != "text/plain" && type != "text/html" && !type.startsWith("text/");
}

void collectPart(GMimePart *part, Collector &c)
{
    GMimeObject *object = GMIME_OBJECT(part);
    QString name;
    if (isAttachmentPart(object, &name)) {
        if (c.roomForAttachment())
            c.attachments.append(Attachment{name, decodedContent(part)});
        return;
    }
    const QByteArray type = typeOf(object);
    QByteArray charset = headerParameters(rawHeaderOf(object, "Content-Type")).value("charset").toLatin1();
    const QString text = decodeText(decodedContent(part, kMaxTextBytes), charset);
    if (type == "text/html") {
        if (c.html.isEmpty())
            c.html = text;
        else
            c.html += text;
        return;
    }
    if (c.havePlain)
        c.plain += QStringLiteral("\r\n");
    c.plain += text;
    c.havePlain = true;
}

void walk(GMimeObject *object, Collector &c, int depth);

// The branch of a multipart/alternative that shows best as plain text.
GMimeObject *bestAlternative(GMimeMultipart *multipart)
{
    const int count = g_mime_multipart_get_count(multipart);
    GMimeObject *html = nullptr;
    for (int i = 0; i < count; ++i) {
        GMimeObject *child = g_mime_multipart_get_part(multipart, i);
        const QByteArray type = typeOf(child);
        if (type == "text/plain")
            return child;
        if (!html && (type == "text/html" || type.startsWith("multipart/")))
            html = child;
    }
    return html ? html : (count > 0 ? g_mime_multipart_get_part(multipart, 0) : nullptr);
}

void walk(GMimeObject *object, Collector &c, int depth)
{
    if (!object || depth > 64)
        return;
    if (GMIME_IS_MULTIPART(object)) {
        auto *multipart = GMIME_MULTIPART(object);
        if (typeOf(object) == "multipart/alternative") {
            walk(bestAlternative(multipart), c, depth + 1);
            return;
        }
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i)
            walk(g_mime_multipart_get_part(multipart, i), c, depth + 1);
        return;
    }
    if (GMIME_IS_MESSAGE_PART(object)) {
        // An enclosed message is kept whole, as a file of its own.
        if (!c.roomForAttachment())
            return;
        GMimeMessage *inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        QString name;
        isAttachmentPart(object, &name);
        if (name.isEmpty() && inner) {
            name = decodeHeaderValue(rawHeaderOf(GMIME_OBJECT(inner), "Subject"));
            if (!name.isEmpty())
                name += QStringLiteral(".eml");
        }
        if (name.isEmpty())
            name = QStringLiteral("message.eml");
        c.attachments.append(Attachment{name, inner ? objectBytes(GMIME_OBJECT(inner)) : QByteArray()});
        return;
    }
    if (GMIME_IS_PART(object))
        collectPart(GMIME_PART(object), c);
}

QString firstMailboxIn(InternetAddressList *list, int depth)
{
    if (!list || depth > 8)
        return {};
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress *address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            const char *addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
            if (addr && *addr)
                return QString::fromUtf8(addr);
        } else if (INTERNET_ADDRESS_IS_GROUP(address)) {
            const QString inner
                = firstMailboxIn(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), depth + 1);
            if (!inner.isEmpty())
                return inner;
        }
    }
    return {};
}

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

// Parses the message that `stream` holds; `whole` gives its bytes for when
// not even a header can be made out.
MessageContent parseStream(GMimeStream *stream, const std::function<QByteArray()> &whole)
{
    MessageContent content;
    // The parser's loose reading of encoded words looks for "?=" after every
    // "=?", which takes quadratic time on a header value made of openers. The
    // header texts shown are decoded here (decodeHeaderValue); the parser
    // only has to find the structure.
    static GMimeParserOptions *const options = [] {
        GMimeParserOptions *o = g_mime_parser_options_new();
        g_mime_parser_options_set_rfc2047_compliance_mode(o, GMIME_RFC_COMPLIANCE_STRICT);
        return o;
    }();
    Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
    Ref<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), options));
    if (!parsed.get()) {
        // Not even a header could be made out: show what there is.
        content.text = toCrLf(decodeGuessed(whole()));
        return content;
    }
    GMimeObject *top = g_mime_message_get_mime_part(parsed.get());
    if (top && GMIME_IS_MESSAGE_PARTIAL(top)) {
        auto *partial = GMIME_MESSAGE_PARTIAL(top);
        const char *id = g_mime_message_partial_get_id(partial);
        content.isPartial = true;
        content.piece.id = id ? QByteArray(id) : QByteArray();
        content.piece.number = g_mime_message_partial_get_number(partial);
        content.piece.total = qMax(0, g_mime_message_partial_get_total(partial));
        content.piece.sender = firstMailboxIn(g_mime_message_get_from(parsed.get()), 0).toLower();
        return content;
    }
    Collector c;
    walk(top, c, 0);
    content.text = toCrLf(c.havePlain ? c.plain : htmlToText(c.html));
    content.attachments = std::move(c.attachments);
    content.attachmentsLeftOut = c.leftOut;
    return content;
}

} // namespace

MessageContent parseMessage(QByteArrayView message)
{
    Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(message.data(), size_t(message.size())));
    return parseStream(stream.get(), [&] { return message.toByteArray(); });
}

MessageContent parseMessageFile(QFile &file)
{
    // The parser reads the file through its own descriptor and keeps the
    // parts as ranges of it, so the message is not held in memory again.
    const int fd = file.isOpen() ? ::dup(file.handle()) : -1;
    if (fd < 0)
        return {};
    ::lseek(fd, 0, SEEK_SET);
    Ref<GMimeStream> stream(g_mime_stream_fs_new(fd));
    if (g_mime_stream_length(stream.get()) <= 0)
        return {};
    return parseStream(stream.get(), [&] {
        file.seek(0);
        return file.readAll();
    });
}

QString firstMailbox(QByteArrayView rawValue)
{
    QByteArray value = rawValue.toByteArray();
    value.replace('\0', ' ');
    InternetAddressList *list = internet_address_list_parse(nullptr, value.constData());
    if (!list)
        return {};
    const QString address = firstMailboxIn(list, 0);
    g_object_unref(list);
    return address;
}

QString htmlPart(QByteArrayView message)
{
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
    return decodeText(QByteArrayView(reinterpret_cast<const char *>(bytes->data), qsizetype(bytes->len)),
                      QByteArrayView(charset ? charset : ""));
}

} // namespace kestra::mimecodec
