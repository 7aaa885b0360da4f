// Builds the MIME source of an outgoing mail with GMime.
#include "mimecodec/Codec.h"

#include "common/Text.h"
#include "mime/Charsets.h"

#include <gmime/gmime.h>

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>

#include <map>
#include <memory>

namespace kestra::mimecodec {

using mime::encodeText;

namespace {

// Owning pointers for GLib objects.
struct GObjectDeleter {
    void operator()(void *p) const
    {
        if (p)
            g_object_unref(p);
    }
};
template <class T> using GPtr = std::unique_ptr<T, GObjectDeleter>;

QString fromUtf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

bool hasLongLine(const QByteArray &bytes, int limit)
{
    qsizetype start = 0;
    while (start <= bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        if (end - start > limit)
            return true;
        start = end + 1;
    }
    return false;
}

// Headers may not carry line breaks of their own.
QString oneLine(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String(" "));
    out.replace(QLatin1Char('\r'), QLatin1Char(' '));
    out.replace(QLatin1Char('\n'), QLatin1Char(' '));
    out.replace(QChar(0), QLatin1Char(' '));
    return out;
}

// RFC 2047 encoded words (B encoding) for a header text, folded between the
// words. Each word is converted on its own, so an ISO-2022-JP word starts and
// ends in ASCII as decoders expect; a character is never split across words.
QByteArray encodedWords(const QString &text, const char *charset)
{
    const QByteArray prefix = QByteArray("=?") + charset + "?B?";
    const int maxBytes = (75 - int(prefix.size()) - 2) / 4 * 3;
    QList<QByteArray> words;
    QByteArray pending;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype step = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        QByteArray candidate;
        encodeText(text.mid(start, i + step - start), charset, candidate);
        if (candidate.size() > maxBytes && i > start) {
            words.append(pending);
            start = i;
            continue;
        }
        pending = candidate;
        i += step;
    }
    if (i > start)
        words.append(pending);
    QByteArray out;
    for (const QByteArray &w : words) {
        if (!out.isEmpty())
            out += "\n ";
        out += prefix + w.toBase64() + "?=";
    }
    return out;
}

bool isBareAddress(const QByteArray &addr)
{
    static const QRegularExpression pattern(
        QStringLiteral("^[!#-'*+\\-/-9=?A-Z^-~.]+@[A-Za-z0-9.\\-\\[\\]:]+$"));
    return pattern.match(QString::fromLatin1(addr)).hasMatch() && !addr.startsWith('.')
        && !addr.contains("..");
}

// Parses a list of addresses into `list` (owned by the caller) and collects the
// bare addresses for the envelope. The text may separate addresses with
// commas and, since the recipient box spans lines, with line breaks.
bool parseAddresses(const QString &text, InternetAddressList *list, QList<QByteArray> &bare, QString &bad)
{
    QString cleaned = text;
    cleaned.replace(QLatin1Char('\r'), QLatin1Char(','));
    cleaned.replace(QLatin1Char('\n'), QLatin1Char(','));
    const QByteArray utf8 = cleaned.toUtf8();
    GPtr<InternetAddressList> parsed(internet_address_list_parse(nullptr, utf8.constData()));
    if (!parsed) {
        if (trimBlanks(cleaned.replace(QLatin1Char(','), QLatin1Char(' '))).isEmpty())
            return true; // nothing given
        bad = text;
        return false;
    }

    const int count = internet_address_list_length(parsed.get());
    for (int i = 0; i < count; ++i) {
        InternetAddress *ia = internet_address_list_get_address(parsed.get(), i);
        QList<InternetAddressMailbox *> boxes;
        if (INTERNET_ADDRESS_IS_GROUP(ia)) {
            InternetAddressList *members = internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia));
            for (int j = 0; j < internet_address_list_length(members); ++j) {
                InternetAddress *m = internet_address_list_get_address(members, j);
                if (INTERNET_ADDRESS_IS_MAILBOX(m))
                    boxes.append(INTERNET_ADDRESS_MAILBOX(m));
            }
        } else if (INTERNET_ADDRESS_IS_MAILBOX(ia)) {
            boxes.append(INTERNET_ADDRESS_MAILBOX(ia));
        }
        for (InternetAddressMailbox *box : boxes) {
            const QByteArray addr = QByteArray(internet_address_mailbox_get_idn_addr(box));
            if (!isBareAddress(addr)) {
                bad = fromUtf8(internet_address_mailbox_get_addr(box));
                if (bad.isEmpty())
                    bad = text;
                return false;
            }
            bare.append(addr);
        }
    }
    internet_address_list_append(list, parsed.get());
    return true;
}

// Content type from the file name's extension.
QByteArray contentTypeFor(const QString &fileName)
{
    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return QByteArrayLiteral("application/octet-stream");
    return type.name().toLatin1();
}

GMimeDataWrapper *wrapperFor(const QByteArray &bytes)
{
    GMimeStream *stream = g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size()));
    GMimeDataWrapper *wrapper = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_object_unref(stream);
    return wrapper;
}

GMimePart *attachmentPart(const QString &fileName, const QByteArray &bytes)
{
    const QByteArray type = contentTypeFor(fileName);
    const qsizetype slash = type.indexOf('/');
    GMimePart *part
        = g_mime_part_new_with_type(type.left(slash).constData(), type.mid(slash + 1).constData());
    GPtr<GMimeDataWrapper> wrapper(wrapperFor(bytes));
    g_mime_part_set_content(part, wrapper.get());
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    g_mime_object_set_disposition(GMIME_OBJECT(part), GMIME_DISPOSITION_ATTACHMENT);

    const QByteArray name = oneLine(fileName).toUtf8();
    // filename*= (RFC 2231) in the disposition, name="=?UTF-8?B?...?=" in the
    // content type: the first is the standard, the second what older mailers read.
    g_mime_part_set_filename(part, name.constData());
    GMimeContentDisposition *disposition = g_mime_object_get_content_disposition(GMIME_OBJECT(part));
    if (GMimeParam *p = g_mime_param_list_get_parameter(
            g_mime_content_disposition_get_parameters(disposition), "filename")) {
        g_mime_param_set_encoding_method(p, GMIME_PARAM_ENCODING_METHOD_RFC2231);
        g_mime_param_set_charset(p, "UTF-8");
    }
    GMimeContentType *contentType = g_mime_object_get_content_type(GMIME_OBJECT(part));
    if (GMimeParam *p
        = g_mime_param_list_get_parameter(g_mime_content_type_get_parameters(contentType), "name")) {
        g_mime_param_set_encoding_method(p, GMIME_PARAM_ENCODING_METHOD_RFC2047);
        g_mime_param_set_charset(p, "UTF-8");
    }
    return part;
}

GMimePart *bodyPart(const QString &body, QString &charset)
{
    const QString text = toCrLf(body);
    QByteArray bytes;
    GMimeContentEncoding encoding = GMIME_CONTENT_ENCODING_7BIT;
    if (encodeText(text, "ISO-2022-JP", bytes)) {
        charset = QStringLiteral("ISO-2022-JP");
        // SMTP lines end at 998 bytes; a longer line goes in base64.
        if (hasLongLine(bytes, 998))
            encoding = GMIME_CONTENT_ENCODING_BASE64;
    } else {
        charset = QStringLiteral("UTF-8");
        bytes = text.toUtf8();
        encoding = GMIME_CONTENT_ENCODING_BASE64;
    }
    GMimeTextPart *part = g_mime_text_part_new_with_subtype("plain");
    GPtr<GMimeDataWrapper> wrapper(wrapperFor(bytes));
    g_mime_part_set_content(GMIME_PART(part), wrapper.get());
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", charset.toLatin1().constData());
    g_mime_part_set_content_encoding(GMIME_PART(part), encoding);
    return GMIME_PART(part);
}

// The attachments of the mails of one send run: each file is read and made
// into its MIME part once, at the first mail that carries it.
class AttachmentParts
{
public:
    // The part of the file at `path`; an error when it cannot be read.
    Result<GMimePart *> part(const QString &path)
    {
        if (const auto known = m_parts.find(path); known != m_parts.end())
            return known->second.get();
        QFile file(path);
        if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
            return Error(QStringLiteral("添付ファイル「%1」を読み込めません。%2")
                             .arg(path,
                                 QFileInfo(path).isFile() ? file.errorString()
                                                          : QStringLiteral("ファイルがありません。")));
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return Error(QStringLiteral("添付ファイル「%1」を読み込めません。%2").arg(path, file.errorString()));
        GMimePart *made = attachmentPart(QFileInfo(path).fileName(), bytes);
        m_parts[path].reset(made);
        return made;
    }

private:
    std::map<QString, GPtr<GMimePart>> m_parts;
};

} // namespace

void *newAttachmentParts()
{
    return new AttachmentParts;
}

void freeAttachmentParts(void *parts)
{
    delete static_cast<AttachmentParts *>(parts);
}

Result<BuiltMessage> buildMessage(const OutgoingMail &mail, const QDateTime &date, void *partsOfRun)
{
    AttachmentParts &parts = *static_cast<AttachmentParts *>(partsOfRun);
    BuiltMessage out;
    const auto fail = [](const QString &why) { return Error(why); };

    // Attachments first: nothing is sent when one of them cannot be read.
    QList<GMimePart *> attached;
    for (const QString &path : mail.attachmentPaths) {
        const Result<GMimePart *> part = parts.part(path);
        if (!part)
            return part.error();
        attached.append(part.value());
    }

    GPtr<GMimeMessage> message(g_mime_message_new(TRUE));
    GMimeObject *object = GMIME_OBJECT(message.get());

    QString bad;
    QList<QByteArray> fromBare;
    if (trimBlanks(mail.from).isEmpty())
        return fail(QStringLiteral("差出人（自分のメールアドレス）が設定されていません。"));
    if (!parseAddresses(mail.from, g_mime_message_get_from(message.get()), fromBare, bad)
        || fromBare.size() != 1)
        return fail(QStringLiteral("差出人のメールアドレス「%1」が正しくありません。").arg(mail.from));
    out.envelopeFrom = fromBare.first();

    if (!parseAddresses(
            mail.to, g_mime_message_get_addresses(message.get(), GMIME_ADDRESS_TYPE_TO), out.recipients, bad))
        return fail(QStringLiteral("宛先のメールアドレス「%1」が正しくありません。").arg(bad));
    if (!parseAddresses(
            mail.cc, g_mime_message_get_addresses(message.get(), GMIME_ADDRESS_TYPE_CC), out.recipients, bad))
        return fail(QStringLiteral("宛先のメールアドレス「%1」が正しくありません。").arg(bad));
    {
        GPtr<InternetAddressList> bccList(internet_address_list_new());
        if (!parseAddresses(mail.bcc, bccList.get(), out.recipients, bad))
            return fail(QStringLiteral("宛先のメールアドレス「%1」が正しくありません。").arg(bad));
    }
    if (out.recipients.isEmpty())
        return fail(QStringLiteral("宛先が指定されていません。"));

    const QString subject = oneLine(mail.subject);
    g_mime_message_set_subject(message.get(), subject.toUtf8().constData(), nullptr);
    bool plainAscii = true;
    for (QChar c : subject)
        plainAscii = plainAscii && c.unicode() >= 0x20 && c.unicode() < 0x7F;
    if (!plainAscii) {
        // Japanese mailers expect B-encoded ISO-2022-JP words; GMime would pick Q.
        QByteArray ignored;
        const char *charset = encodeText(subject, "ISO-2022-JP", ignored) ? "ISO-2022-JP" : "UTF-8";
        GMimeHeader *header = g_mime_header_list_get_header(g_mime_object_get_header_list(object), "Subject");
        const QByteArray raw = ' ' + encodedWords(subject, charset) + '\n';
        g_mime_header_set_raw_value(header, raw.constData());
    }

    GDateTime *when = g_date_time_new_from_unix_local(date.toSecsSinceEpoch());
    g_mime_message_set_date(message.get(), when);
    g_date_time_unref(when);

    const QByteArray domain = out.envelopeFrom.mid(out.envelopeFrom.indexOf('@') + 1);
    char *messageId = g_mime_utils_generate_message_id(domain.constData());
    g_mime_message_set_message_id(message.get(), messageId);
    g_free(messageId);
    g_mime_object_set_header(object, "MIME-Version", "1.0", nullptr);

    const QStringList extra = toCrLf(mail.extraHeader).split(QLatin1String("\r\n"), Qt::SkipEmptyParts);
    static const QRegularExpression headerLine(QStringLiteral("^([!-9;-~]+):[ ]?(.*)$"));
    for (const QString &line : extra) {
        const QRegularExpressionMatch m = headerLine.match(line);
        if (!m.hasMatch())
            return fail(QStringLiteral("追加ヘッダー「%1」が正しくありません。").arg(line));
        g_mime_object_append_header(
            object, m.captured(1).toUtf8().constData(), m.captured(2).toUtf8().constData(), "utf-8");
    }

    GPtr<GMimePart> text(bodyPart(mail.body, out.bodyCharset));
    if (attached.isEmpty()) {
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(text.get()));
    } else {
        GPtr<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
        g_mime_multipart_add(mixed.get(), GMIME_OBJECT(text.get()));
        for (GMimePart *part : std::as_const(attached))
            g_mime_multipart_add(mixed.get(), GMIME_OBJECT(part));
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
    }

    GMimeFormatOptions *options = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
    GPtr<GMimeStream> stream(g_mime_stream_mem_new());
    const ssize_t written = g_mime_object_write_to_stream(object, options, stream.get());
    g_mime_format_options_free(options);
    if (written < 0)
        return fail(QStringLiteral("メールを組み立てられません。"));
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
    out.source = QByteArray(reinterpret_cast<const char *>(bytes->data), qsizetype(bytes->len));
    return out;
}

} // namespace kestra::mimecodec
