#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
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
    QString sender; // the piece's From address
};

// Of a text part only this much is read into the text: the store keeps far
// less, and a giant text part must not become several giant strings.
inline constexpr qsizetype kMaxTextBytes = 1024 * 1024;

// At most this many attachments of one message are decoded; the rest are
// counted only, so a message of thousands of tiny parts costs no more than
// its size.
inline constexpr int kMaxAttachments = 500;

// A parsed message: its readable text and its attachments, decoded.
struct MessageContent {
    QString text;                   // the text part; line ends CR LF
    QList<Attachment> attachments;  // the first kMaxAttachments
    int attachmentsLeftOut = 0;     // attachments beyond those
    bool isPartial = false;         // message/partial: only `piece` is set
    PartialPiece piece;
};
MessageContent parseMessage(QByteArrayView message);
// The same for the message in an open file; an empty content when it cannot
// be read.
MessageContent parseMessageFile(QFile &file);

// Readable plain text of an HTML document: tags dropped, block ends as line
// breaks, script and style left out, character references resolved.
QString htmlToText(QStringView html);

} // namespace kestra::mime
