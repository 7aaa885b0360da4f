#pragma once

#include "reader/MailAttachments.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>

namespace kestra {

// What the original view shows of a message: the main header fields decoded,
// the body as sent and the attachments.
struct OriginalMessage {
    QString from;
    QString to;
    QString cc;
    QString dateText; // the Date field as it stands
    QDateTime date;   // read from it; invalid when unreadable
    QString subject;
    QString messageId;
    QString text;     // the plain text (an HTML-only mail's text made readable)
    QString html;     // the first HTML part as sent; empty when there is none
    QList<AttachmentItem> attachments;
};

OriginalMessage readOriginal(QByteArrayView message);

// The first text/html part of a message, decoded to text; empty when none.
QString htmlPartOf(QByteArrayView message);

} // namespace kestra
