#include "mime/MessageExpansion.h"

#include "common/Text.h"
#include "mime/Charsets.h"
#include "mime/MimeCodec.h"
#include "mime/MimeMessage.h"

#include <QBuffer>
#include <QDir>
#include <QStringList>
#include <QTemporaryFile>

namespace kestra::mime {

namespace {

// Reads `in` from `from` to its end in pieces, NULs left out, and tells
// whether `word` occurs; memory holds one piece at a time.
bool mentions(QIODevice &in, qint64 from, QByteArrayView word)
{
    if (!in.seek(from))
        return false;
    QByteArray carried;
    while (!in.atEnd()) {
        QByteArray piece = carried + in.read(256 * 1024);
        piece.replace('\0', QByteArrayView());
        if (piece.contains(word))
            return true;
        carried = piece.right(word.size() - 1);
        if (piece.size() <= carried.size())
            break;
    }
    return false;
}

// The body of the message in `in` (after its header block, NULs left out,
// at most kMaxTextBytes), decoded by guess: what a piece of a split message
// shows until the rest arrives.
QString pieceText(QIODevice &in, qint64 bodyOffset)
{
    if (!in.seek(bodyOffset))
        return {};
    QByteArray bytes = in.read(kMaxTextBytes);
    bytes.replace('\0', QByteArrayView());
    return toCrLf(decodeGuessed(bytes));
}

} // namespace

Result<ExpandedMail> expandMessage(const RawMessage &message, const QString &attachFolder, qint64 maxBytes,
                                   AttachmentWrites *writes)
{
    // Nothing is made of a message that cannot be parsed: it stays on the server.
    QString why;
    if (!mimeCodec(&why))
        return Error(why);
    ExpandedMail out;
    QBuffer memory;
    memory.setData(message.bytes());
    QIODevice &in = message.inFile() ? static_cast<QIODevice &>(*message.file()) : memory;
    if (!in.isOpen())
        in.open(QIODevice::ReadOnly);

    out.header = message.headerBlock();
    const HeaderSummary summary = summariseHeader(out.header);
    out.subject = summary.subject;
    out.date = summary.date;
    out.from = summary.from;
    // Where the body starts: after the header block and its blank line.
    qint64 bodyOffset = out.header.size();
    if (in.seek(bodyOffset)) {
        const QByteArray blank = in.readLine(3);
        bodyOffset += blank.size();
    }
    out.mentionsAttachment = mentions(in, bodyOffset, "attachment");

    MessageContent content = message.inFile() ? parseMessageFile(*message.file()) : parseMessage(message.bytes());
    PartialStore partials(attachFolder);
    QByteArray partialId;
    if (content.isPartial) {
        const PartialPiece piece = content.piece;
        // Until the message is whole, the piece's own text is what is shown.
        const auto incomplete = [&](const QString &why) {
            out.body = pieceText(in, bodyOffset);
            out.splitIncomplete = true;
            out.splitText = why;
            return out;
        };
        in.seek(0);
        if (const Status kept = partials.keep(piece.id, piece.number, piece.total, piece.sender, in); !kept)
            return incomplete(QStringLiteral("分割されたメールの一部を保存できません。(%1)").arg(kept.error().message()));
        QTemporaryFile whole(QDir(QDir::tempPath()).filePath(QString::fromLatin1(kReceiveFilePattern)));
        if (!whole.open())
            return Error(QStringLiteral("分割されたメールを組み立てる一時ファイルを作れません。(%1)").arg(whole.errorString()));
        const Result<bool> completed = partials.complete(piece.id, whole, maxBytes);
        if (!completed) {
            partials.drop(piece.id);
            return incomplete(QStringLiteral("分割されたメールを組み立てられません。(%1)").arg(completed.error().message()));
        }
        if (!completed.value() || !whole.flush())
            return incomplete(QStringLiteral("分割されたメールの %1 番目を受け取りました。残りが揃うまで展開できません。").arg(piece.number));
        partialId = piece.id;
        content = parseMessageFile(whole);
    }

    out.body = content.text;
    if (content.attachmentsLeftOut > 0)
        out.body = QStringLiteral("（添付ファイルが多すぎるため、最初の%1個だけを添付フォルダに展開しました。残りの%2個は展開していません。）\r\n")
                       .arg(kMaxAttachments)
                       .arg(content.attachmentsLeftOut)
                   + out.body;
    QStringList problems;
    for (Attachment &a : content.attachments) {
        if (const Result<QString> path = writeNewFile(attachFolder, a.name, a.data, writes); !path)
            problems << path.error().message();
        else
            ++out.attachmentsWritten;
        a.data = QByteArray(); // written: its memory goes back at once
    }
    if (!problems.isEmpty())
        return Error(QStringLiteral("添付ファイルを保存できません。(%1)").arg(problems.join(QStringLiteral(", "))));
    if (!partialId.isEmpty())
        partials.drop(partialId);
    return out;
}

} // namespace kestra::mime
