#pragma once

#include "common/Result.h"
#include "mail/MailSender.h"
#include "mime/MimeMessage.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QFile>
#include <QList>
#include <QString>

namespace kestra {

// An outgoing mail as built: the message source with CR LF line ends, and the
// envelope.
struct BuiltMessage {
    QByteArray source;
    QByteArray envelopeFrom; // bare address
    QList<QByteArray> recipients; // bare addresses of To, Cc and Bcc
    QString bodyCharset; // "ISO-2022-JP" or "UTF-8"
};

} // namespace kestra

namespace kestra::mime {

// The mail codec library (libkestra_mimecodec.so) holds every piece of the
// program that parses or builds mail with GMime. The program does not link it:
// GMime and the GLib object system it brings (gobject, gio, gpgme ...) cost
// start-up time that the first window does not need. It is loaded the first
// time a mail is parsed or built, from whichever thread that happens on, and
// stays loaded. The functions below are its whole interface; only Qt and
// standard types cross it.
struct MimeCodec {
    MessageContent (*parseMessage)(QByteArrayView message);
    MessageContent (*parseMessageFile)(QFile &file);
    // The first mailbox address of an address field's raw value, groups
    // looked into; empty when the value holds none the parser can make out.
    QString (*firstMailbox)(QByteArrayView rawValue);
    // The first text/html part that is not an attachment, decoded; empty when none.
    QString (*htmlPart)(QByteArrayView message);
    // The attachment parts of one send run (see AttachmentParts in
    // smtp/MessageBuilder.h): made empty, freed by freeAttachmentParts.
    void *(*newAttachmentParts)();
    void (*freeAttachmentParts)(void *parts);
    Result<BuiltMessage> (*buildMessage)(const OutgoingMail &mail, const QDateTime &date, void *parts);
};

// The library's one exported function: gives the table, GMime set up.
#define KESTRA_MIME_CODEC_ENTRY "kestra_mime_codec"
using MimeCodecEntry = const MimeCodec *(*)();

// The file the program loads: <program folder>/../lib/kestra/libkestra_mimecodec.so
// (the installed layout, <prefix>/bin and <prefix>/lib/kestra, and the build
// tree's, <build>/src and <build>/lib/kestra). KESTRA_MIME_LIBRARY names another file.
QString mimeCodecLibraryPath();

// The library's functions, loaded at the first call. Null when the library
// cannot be loaded; `error` then names the file and gives the system's reason.
// A failed load is tried again at the next call; a loaded one is kept.
const MimeCodec *mimeCodec(QString *error = nullptr);

} // namespace kestra::mime
