#include "mime/AttachmentFiles.h"

#include "mime/MimeMessage.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>

namespace kestra::mime {

namespace {

constexpr int kMaxNameBytes = 200; // leaves room for " (n)" within the usual 255 bytes

bool isDeviceName(const QString &name)
{
    // Windows treats these as devices with any extension and any letter case.
    const QString stem = name.section(u'.', 0, 0).trimmed().toUpper();
    static const QStringList devices = {
        QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"), QStringLiteral("NUL"),
        QStringLiteral("CLOCK$"), QStringLiteral("CONIN$"), QStringLiteral("CONOUT$"),
    };
    if (devices.contains(stem))
        return true;
    if (stem.size() == 4 && (stem.startsWith(u"COM") || stem.startsWith(u"LPT"))) {
        const QChar d = stem[3];
        return (d >= u'0' && d <= u'9') || d == QChar(0x00B9) || d == QChar(0x00B2) || d == QChar(0x00B3);
    }
    return false;
}

QString cutToBytes(const QString &name, int maxBytes)
{
    if (name.toUtf8().size() <= maxBytes)
        return name;
    const qsizetype dot = name.lastIndexOf(u'.');
    QString ext = (dot > 0 && name.size() - dot <= 16) ? name.mid(dot) : QString();
    QString stem = name.left(name.size() - ext.size());
    while (!stem.isEmpty() && (stem + ext).toUtf8().size() > maxBytes) {
        stem.chop(1);
        if (!stem.isEmpty() && stem.back().isHighSurrogate())
            stem.chop(1);
    }
    return stem + ext;
}

QString numbered(const QString &name, int n)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return name + QStringLiteral(" (%1)").arg(n);
    return name.left(dot) + QStringLiteral(" (%1)").arg(n) + name.mid(dot);
}

// Whether `file`, just created, is the entry `name` of the folder at
// `resolvedFolder` (a path without symbolic links): the same file, by device
// and inode, seen both ways. Costs two status calls and no resolving of the
// path, which would read every link along it for each file.
bool insideFolder(const QString &resolvedFolder, const QString &name, const QFile &file)
{
    struct stat opened {};
    struct stat entry {};
    return !resolvedFolder.isEmpty() && ::fstat(file.handle(), &opened) == 0
        && ::lstat(QFile::encodeName(resolvedFolder + u'/' + name).constData(), &entry) == 0
        && opened.st_dev == entry.st_dev && opened.st_ino == entry.st_ino;
}

} // namespace

QString safeFileName(const QString &untrusted, const QString &fallback)
{
    QString name;
    name.reserve(untrusted.size());
    for (const QChar c : untrusted) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029 || u == 0xFEFF
            || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069)) {
            continue; // control and direction-changing characters
        }
        switch (u) {
        case u'/':
        case u'\\':
        case u':':
        case u'*':
        case u'?':
        case u'"':
        case u'<':
        case u'>':
        case u'|':
            name += u'_';
            break;
        default:
            name += c;
        }
    }
    // No "..": a run of dots shrinks to one.
    while (name.contains(QStringLiteral("..")))
        name.replace(QStringLiteral(".."), QStringLiteral("."));
    // Leading and trailing dots and blanks: no hidden files, no "..", nothing Windows would strip.
    while (!name.isEmpty() && (name.front() == u'.' || name.front() == u' ' || name.front() == QChar(0x3000)))
        name.remove(0, 1);
    while (!name.isEmpty() && (name.back() == u'.' || name.back() == u' ' || name.back() == QChar(0x3000)))
        name.chop(1);
    if (name.isEmpty() || name.count(u'_') == name.size())
        name = fallback;
    if (isDeviceName(name))
        name.prepend(u'_');
    return cutToBytes(name, kMaxNameBytes);
}

Result<QString> writeNewFile(const QString &folder, const QString &name, const QByteArray &data,
                             AttachmentWrites *writes)
{
    AttachmentWrites single;
    AttachmentWrites &run = writes ? *writes : single;
    if (run.folder != folder || run.resolvedFolder.isEmpty()) {
        run.folder = folder;
        run.resolvedFolder = QFileInfo(folder).canonicalFilePath();
    }
    const QString safe = safeFileName(name);
    QDir dir(folder);
    const QString key = dir.filePath(safe);
    for (int n = qMax(1, run.nextFree.value(key, 1)); n < 10000; ++n) {
        const QString candidate = n == 1 ? safe : numbered(safe, n);
        const QString path = dir.filePath(candidate);
        QFile file(path);
        // NewOnly fails on any existing entry, a dangling symbolic link included.
        // Readable by the user alone, whatever folder the user chose.
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner)) {
            if (QFileInfo(path).exists() || QFileInfo(path).isSymLink())
                continue;
            return Error(QStringLiteral("%1: %2").arg(path, file.errorString()));
        }
        if (!insideFolder(run.resolvedFolder, candidate, file)) {
            file.close();
            file.remove();
            return Error(QStringLiteral("%1: 添付フォルダの外を指しています").arg(path));
        }
        if (file.write(data) != data.size() || !file.flush()) {
            Error failed(QStringLiteral("%1: %2").arg(path, file.errorString()));
            file.close();
            file.remove();
            return failed;
        }
        file.close();
        run.nextFree.insert(key, n + 1);
        return path;
    }
    return Error(QStringLiteral("%1: 同じ名前のファイルが多すぎます").arg(dir.filePath(safe)));
}

PartialStore::PartialStore(QString folder) : m_folder(std::move(folder)) {}

QString PartialStore::dirFor(const QByteArray &id) const
{
    const QByteArray hash = QCryptographicHash::hash(id, QCryptographicHash::Sha1).toHex().left(20);
    return QDir(m_folder).filePath(QStringLiteral(".partial/") + QString::fromLatin1(hash));
}

namespace {

QFileInfoList pieceFiles(const QString &dir)
{
    return QDir(dir).entryInfoList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden);
}

bool copyStream(QIODevice &from, QIODevice &to)
{
    char buffer[64 * 1024];
    for (;;) {
        const qint64 got = from.read(buffer, sizeof buffer);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (to.write(buffer, got) != got)
            return false;
    }
}

} // namespace

void PartialStore::expire(const QDateTime &now)
{
    const QDateTime limit = now.addDays(-kKeepDays);
    const QDir root(QDir(m_folder).filePath(QStringLiteral(".partial")));
    for (const QFileInfo &id : root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QFileInfoList pieces = pieceFiles(id.filePath());
        for (const QFileInfo &piece : pieces) {
            if (piece.lastModified() < limit)
                QFile::remove(piece.filePath());
        }
        if (pieceFiles(id.filePath()).isEmpty())
            QDir(id.filePath()).removeRecursively();
    }
}

Status PartialStore::keep(const QByteArray &id, int number, int total, const QString &sender, QIODevice &piece)
{
    if (number < 1 || number > kMaxPiecesPerId || total < 0 || total > kMaxPiecesPerId) {
        return Error(QStringLiteral("分割メールの番号 %1/%2 が正しくないか、分割数が %3 を超えています")
                         .arg(number)
                         .arg(total)
                         .arg(kMaxPiecesPerId));
    }
    expire(QDateTime::currentDateTime());
    const QString dir = dirFor(id);
    const QDir folder(dir);
    const QByteArray from = sender.toUtf8();
    QFile senderFile(folder.filePath(QStringLiteral("sender")));
    if (senderFile.open(QIODevice::ReadOnly)) {
        // Ids are easy to guess: only the first piece's sender may add more.
        if (senderFile.readAll() != from) {
            return Error(QStringLiteral("分割メールの %1 番目の送信者 %2 が最初の部分の送信者と違います").arg(number).arg(sender));
        }
    } else {
        int inAll = 0;
        const QDir root(QDir(m_folder).filePath(QStringLiteral(".partial")));
        for (const QFileInfo &other : root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
            inAll += int(pieceFiles(other.filePath()).size());
        if (inAll >= kMaxPiecesInAll) {
            return Error(QStringLiteral("揃っていない分割メールが多すぎます (%1 個)").arg(inAll));
        }
    }
    if (!QDir().mkpath(dir)) {
        return Error(QStringLiteral("%1: フォルダを作れません").arg(dir));
    }
    const auto save = [&](const QString &name, QIODevice &bytes) -> Status {
        QSaveFile file(folder.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || !copyStream(bytes, file) || !file.commit())
            return Error(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
        return {};
    };
    const auto saveBytes = [&](const QString &name, QByteArray bytes) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        return save(name, buffer);
    };
    if (!senderFile.exists()) {
        if (Status saved = saveBytes(QStringLiteral("sender"), from); !saved)
            return saved;
    }
    if (total > 0) {
        if (Status saved = saveBytes(QStringLiteral("total"), QByteArray::number(total)); !saved)
            return saved;
    }
    return save(QStringLiteral("%1.part").arg(number), piece);
}

Result<bool> PartialStore::complete(const QByteArray &id, QIODevice &out, qint64 maxBytes) const
{
    const QDir dir(dirFor(id));
    QFile totalFile(dir.filePath(QStringLiteral("total")));
    if (!totalFile.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const int total = totalFile.read(16).trimmed().toInt(&ok);
    if (!ok || total < 1 || total > kMaxPiecesPerId)
        return false;
    for (int n = 1; n <= total; ++n) {
        if (!QFileInfo::exists(dir.filePath(QStringLiteral("%1.part").arg(n))))
            return false;
    }
    // The whole message is the pieces' bodies in order: the first body begins
    // with the enclosed message's own header. One piece at a time is in memory.
    qint64 written = 0;
    for (int n = 1; n <= total; ++n) {
        QFile file(dir.filePath(QStringLiteral("%1.part").arg(n)));
        if (!file.open(QIODevice::ReadOnly))
            return Error(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
        const QByteArray piece = file.readAll();
        const QByteArrayView body = splitMessage(piece).body;
        written += body.size();
        if (written > maxBytes)
            return Error(QStringLiteral("分割メールを合わせると %1 バイトを超えます").arg(maxBytes));
        if (out.write(body.data(), body.size()) != body.size())
            return Error(out.errorString());
    }
    return true;
}

void PartialStore::drop(const QByteArray &id)
{
    QDir(dirFor(id)).removeRecursively();
}

} // namespace kestra::mime
