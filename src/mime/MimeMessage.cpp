#include "mime/MimeMessage.h"

#include "mime/Charsets.h"
#include "mime/MimeCodec.h"

#include <QFile>

namespace kestra::mime {

namespace {

QString addressFromText(const QString &text)
{
    const qsizetype open = text.lastIndexOf(u'<');
    if (open >= 0) {
        const qsizetype close = text.indexOf(u'>', open);
        return text.mid(open + 1, close < 0 ? -1 : close - open - 1).trimmed();
    }
    // Drop comments: "a@b (Name)". One pass: removing them one by one from
    // the front is quadratic in a value made of many "()".
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'(') {
            plain += text[i];
            continue;
        }
        const qsizetype q = text.indexOf(u')', i);
        if (q < 0)
            break;
        i = q;
    }
    const qsizetype comma = plain.indexOf(u',');
    return (comma < 0 ? plain : plain.left(comma)).trimmed();
}

} // namespace

SplitMessage splitMessage(QByteArrayView message)
{
    // The header ends at the first empty line; a message that starts with one has no header.
    qsizetype lineStart = 0;
    while (lineStart < message.size()) {
        const qsizetype nl = message.indexOf('\n', lineStart);
        const qsizetype lineEnd = nl < 0 ? message.size() : nl + 1;
        const QByteArrayView line = message.sliced(lineStart, lineEnd - lineStart);
        if (line == "\r\n" || line == "\n" || line == "\r")
            return {message.first(lineStart), message.sliced(lineEnd)};
        lineStart = lineEnd;
    }
    return {message, {}};
}

QByteArray rawHeaderField(QByteArrayView header, QByteArrayView name)
{
    qsizetype lineStart = 0;
    while (lineStart < header.size()) {
        qsizetype nl = header.indexOf('\n', lineStart);
        qsizetype lineEnd = nl < 0 ? header.size() : nl + 1;
        const QByteArrayView line = header.sliced(lineStart, lineEnd - lineStart);
        if (line.size() > name.size() && line[name.size()] == ':'
            && line.first(name.size()).compare(name, Qt::CaseInsensitive) == 0) {
            // The value runs on over the following folded lines.
            qsizetype end = lineEnd;
            while (end < header.size() && (header[end] == ' ' || header[end] == '\t')) {
                nl = header.indexOf('\n', end);
                end = nl < 0 ? header.size() : nl + 1;
            }
            return header.sliced(lineStart + name.size() + 1, end - lineStart - name.size() - 1).toByteArray();
        }
        lineStart = lineEnd;
    }
    return {};
}

QString bareAddress(QByteArrayView rawValue)
{
    // Without the library the address is read from the decoded text alone.
    if (const MimeCodec *codec = mimeCodec()) {
        const QString address = codec->firstMailbox(rawValue);
        if (!address.isEmpty())
            return address;
    }
    return addressFromText(decodeHeaderValue(rawValue));
}

HeaderSummary summariseHeader(QByteArrayView header)
{
    HeaderSummary s;
    s.subject = decodeHeaderValue(rawHeaderField(header, "Subject"));
    s.date = decodeHeaderValue(rawHeaderField(header, "Date"));
    QByteArray from = rawHeaderField(header, "From");
    if (from.trimmed().isEmpty())
        from = rawHeaderField(header, "Sender");
    s.from = bareAddress(from);
    return s;
}

namespace {

// What a message shows when the library that parses mail cannot be loaded.
MessageContent unreadable(const QString &why)
{
    MessageContent content;
    content.text = QStringLiteral("このメールは表示できません。%1\r\n").arg(why);
    return content;
}

} // namespace

MessageContent parseMessage(QByteArrayView message)
{
    if (message.isEmpty())
        return {};
    QString why;
    const MimeCodec *codec = mimeCodec(&why);
    return codec ? codec->parseMessage(message) : unreadable(why);
}

MessageContent parseMessageFile(QFile &file)
{
    QString why;
    const MimeCodec *codec = mimeCodec(&why);
    return codec ? codec->parseMessageFile(file) : unreadable(why);
}

} // namespace kestra::mime
