#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

namespace kestra {

// Record shapes of the data files. In memory every text field holds its width in
// characters (the texts as set; encoding fits them); on disk it holds as many
// code page 932 bytes, blank padded. Integers are 16-bit little-endian.

struct MailRecord {
    static constexpr int kLength = 12284;
    static constexpr int kSubjectWidth = 100;
    static constexpr int kHeader2Width = 90;
    static constexpr int kHeader3Width = 90;
    static constexpr int kBodyWidth = 12000;
    static constexpr int kHeadersLength = kSubjectWidth + kHeader2Width + kHeader3Width; // 280

    QString Subject;
    QString Header2; // received: sender; sent: date and time
    QString Header3; // received: date; sent: recipient(s)
    QString Body;
    QString LineEnd = QStringLiteral("\r\n");
    qint16 Live = 1;

    QByteArray encode() const;
    // Decodes a whole record; each text comes back padded to its width.
    static MailRecord decode(QByteArrayView bytes);
    // Decodes Subject, Header2 and Header3 only (for list lines); Body stays empty.
    static MailRecord decodeHeaders(QByteArrayView bytes);
};

struct AddressRecord {
    static constexpr int kLength = 124;
    static constexpr int kNameWidth = 60;
    static constexpr int kAddressWidth = 60;

    QString Name;
    QString LineEnd = QStringLiteral("\r\n");
    qint16 Live = 1;
    QString Address;

    QByteArray encode() const;
    static AddressRecord decode(QByteArrayView bytes);
};

struct FavouriteRecord {
    static constexpr int kLength = 404;
    static constexpr int kSpareWidth = 200;
    static constexpr int kUrlWidth = 200;

    QString Spare;
    QString LineEnd = QStringLiteral("\r\n");
    qint16 Live = 1;
    QString Url;

    QByteArray encode() const;
    static FavouriteRecord decode(QByteArrayView bytes);
};

// The Live field of a raw record of any shape, read without decoding the texts.
qint16 liveOfRaw(QByteArrayView record, int liveOffset);

// 16-bit little-endian helpers.
void putInt16(QByteArray &out, qint16 value);
qint16 getInt16(QByteArrayView bytes, qsizetype offset);

} // namespace kestra
