#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace kestra::mime {

// The header block of a message (up to, not including, the blank line) and
// where its body starts.
struct SplitMessage {
    QByteArrayView header; // each field line with its own line end
    QByteArrayView body;
};
SplitMessage splitMessage(QByteArrayView message);

// Raw value of the first header field called `name` (any case), folding kept;
// empty when there is none.
QByteArray rawHeaderField(QByteArrayView header, QByteArrayView name);

// What the mail list shows of a message, from its header block.
struct HeaderSummary {
    QString subject;
    QString date; // the Date field's text
    QString from; // the sender's bare address
};
HeaderSummary summariseHeader(QByteArrayView header);

// The first mailbox address in an address field's decoded or raw value.
QString bareAddress(QByteArrayView rawValue);

struct Attachment {
    QString name; // as the mail gives it, untrusted; may be empty
    QByteArray data;
};

// A piece of a message split with message/partial.
struct PartialPiece {
    QByteArray id;
    int number = 0;
    int total = 0; // 0 while unknown (only the last piece must carry it)
};

// A parsed message: its readable text and its attachments, decoded.
struct MessageContent {
    QString text;                   // the text part; line ends CR LF
    QList<Attachment> attachments;
    bool isPartial = false;         // message/partial: only `piece` is set
    PartialPiece piece;
};
MessageContent parseMessage(QByteArrayView message);

// Readable plain text of an HTML document: tags dropped, block ends as line
// breaks, script and style left out, character references resolved.
QString htmlToText(QStringView html);

// Makes every line end CR LF.
QString withCrLf(QStringView text);

} // namespace kestra::mime
