#pragma once

// Reads a received message back with GMime, the way a mail program would:
// decoded subject, addresses, text body and attachments. Files including this
// are built with QT_NO_KEYWORDS (GLib uses Qt's keywords as names).

#include <gmime/gmime.h>

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace kestra::test {

struct ParsedAttachment {
    QString fileName; // as a modern mailer reads it
    QString contentType; // "type/subtype"
    QString encoding; // Content-Transfer-Encoding
    QByteArray rawContentType; // the header as written, to see the RFC 2047 name
    QByteArray rawDisposition; // the header as written, to see the RFC 2231 name
    QByteArray bytes;
};

struct ParsedMail {
    bool ok = false;
    QString subject;
    QByteArray rawSubject;
    QStringList to; // bare addresses
    QStringList cc;
    QString from;
    QByteArray rawHeaders; // the header block as written
    QString bodyCharset;
    QString bodyEncoding;
    QString body;
    QList<ParsedAttachment> attachments;

    QByteArray header(const char *name) const
    {
        // The raw value of the first header of that name, unfolded.
        const QByteArray key = QByteArray(name).toLower() + ':';
        const QList<QByteArray> lines = rawHeaders.split('\n');
        QByteArray value;
        bool in = false;
        for (QByteArray line : lines) {
            if (line.endsWith('\r'))
                line.chop(1);
            if (in && (line.startsWith(' ') || line.startsWith('\t'))) {
                value += line;
                continue;
            }
            if (in)
                break;
            if (line.toLower().startsWith(key)) {
                value = line.mid(key.size()).trimmed();
                in = true;
            }
        }
        return value;
    }
};

namespace detail {
inline QByteArray contentOf(GMimePart *part)
{
    GMimeDataWrapper *wrapper = g_mime_part_get_content(part);
    GMimeStream *mem = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(wrapper, mem);
    GByteArray *arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    QByteArray out(reinterpret_cast<const char *>(arr->data), qsizetype(arr->len));
    g_object_unref(mem);
    return out;
}

inline QStringList addresses(InternetAddressList *list)
{
    QStringList out;
    for (int i = 0; list && i < internet_address_list_length(list); ++i) {
        InternetAddress *a = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(a))
            out.append(QString::fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a))));
    }
    return out;
}

inline QByteArray rawHeaderOf(GMimeObject *o, const char *name)
{
    GMimeHeader *h = g_mime_header_list_get_header(g_mime_object_get_header_list(o), name);
    return h ? QByteArray(g_mime_header_get_raw_value(h)).simplified() : QByteArray();
}

inline QString headerOf(GMimeObject *o, const char *name)
{
    const char *v = g_mime_object_get_header(o, name);
    return v ? QString::fromUtf8(v) : QString();
}
} // namespace detail

// A text body that does not end in a line break gets one on the way: SMTP
// carries whole lines only. True when `received` is `sent` in that sense.
inline bool sameBody(const QString &received, const QString &sent)
{
    return received == sent
        || (!sent.endsWith(QLatin1String("\r\n")) && received == sent + QLatin1String("\r\n"));
}

inline ParsedMail parseMail(const QByteArray &source)
{
    g_mime_init();
    ParsedMail out;
    const qsizetype end = source.indexOf("\r\n\r\n");
    out.rawHeaders = end >= 0 ? source.left(end + 2) : source;
    out.rawSubject = out.header("Subject");

    GMimeStream *stream = g_mime_stream_mem_new_with_buffer(source.constData(), size_t(source.size()));
    GMimeParser *parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage *message = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(stream);
    if (!message)
        return out;
    out.ok = true;
    out.subject = QString::fromUtf8(g_mime_message_get_subject(message));
    out.to = detail::addresses(g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_TO));
    out.cc = detail::addresses(g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_CC));
    const QStringList from = detail::addresses(g_mime_message_get_from(message));
    out.from = from.isEmpty() ? QString() : from.first();

    QList<GMimeObject *> leaves;
    GMimeObject *top = g_mime_message_get_mime_part(message);
    if (GMIME_IS_MULTIPART(top)) {
        GMimeMultipart *mp = GMIME_MULTIPART(top);
        for (int i = 0; i < g_mime_multipart_get_count(mp); ++i)
            leaves.append(g_mime_multipart_get_part(mp, i));
    } else if (top) {
        leaves.append(top);
    }
    bool haveBody = false;
    for (GMimeObject *leaf : leaves) {
        if (!GMIME_IS_PART(leaf))
            continue;
        GMimePart *part = GMIME_PART(leaf);
        GMimeContentType *ct = g_mime_object_get_content_type(leaf);
        char *mimeType = g_mime_content_type_get_mime_type(ct); // an allocated copy
        const QString type = QString::fromUtf8(mimeType);
        g_free(mimeType);
        const QString encoding = detail::headerOf(leaf, "Content-Transfer-Encoding");
        if (!haveBody && GMIME_IS_TEXT_PART(leaf) && !g_mime_part_is_attachment(part)) {
            haveBody = true;
            char *text = g_mime_text_part_get_text(GMIME_TEXT_PART(leaf));
            out.body = QString::fromUtf8(text);
            g_free(text);
            out.bodyCharset = QString::fromUtf8(g_mime_object_get_content_type_parameter(leaf, "charset"));
            out.bodyEncoding = encoding;
            continue;
        }
        ParsedAttachment a;
        a.fileName = QString::fromUtf8(g_mime_part_get_filename(part));
        a.contentType = type;
        a.encoding = encoding;
        a.rawContentType = detail::rawHeaderOf(leaf, "Content-Type");
        a.rawDisposition = detail::rawHeaderOf(leaf, "Content-Disposition");
        a.bytes = detail::contentOf(part);
        out.attachments.append(a);
    }
    g_object_unref(message);
    return out;
}

} // namespace kestra::test
