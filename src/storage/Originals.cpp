#include "storage/Originals.h"

#include "storage/RecordFile.h"
#include "storage/Records.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <filesystem>
#include <system_error>

namespace kestra::originals {

namespace {
constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
} // namespace

QString folderIn(const QString &dataFolder)
{
    return dataFolder + u'/' + QString::fromUtf16(folderName);
}

QString nameFor(QByteArrayView recordBytes)
{
    // Every field but Live: marking a record does not rename its original.
    const QByteArrayView fields = recordBytes.first(qMin<qsizetype>(recordBytes.size(), stores::received.liveOffset));
    return QString::fromLatin1(QCryptographicHash::hash(fields, QCryptographicHash::Sha256).toHex())
           + QStringLiteral(".eml");
}

QString pathFor(const QString &folder, const QString &name)
{
    return folder + u'/' + name;
}

QString originalFor(const QString &folder, QByteArrayView recordBytes)
{
    const QString path = pathFor(folder, nameFor(recordBytes));
    return QFileInfo(path).isFile() ? path : QString();
}

Status writeOriginal(const QString &folder, QByteArrayView recordBytes, const QByteArray &message, bool sync,
                     const StoreFaults &faults)
{
    return writeOriginalNamed(folder, nameFor(recordBytes), message, sync, faults);
}

Status writeOriginalNamed(const QString &folder, const QString &name, const QByteArray &message, bool sync,
                          const StoreFaults &faults)
{
    if (!QFileInfo(folder).isDir()) {
        if (!QDir().mkpath(folder))
            return Error::fileOperation(folder, QStringLiteral("フォルダを作成できません"));
        QFile::setPermissions(folder, kOwnerOnly | QFileDevice::ExeOwner);
    }
    const QString path = folder + u'/' + name;
    const QString temp = path + QStringLiteral(".tmp");
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return Error::fileOperation(temp, file.errorString());
    const auto fail = [&](const QString &reason) -> Status {
        file.close();
        QFile::remove(temp);
        return Error::fileOperation(path, reason);
    };
    if (!file.setPermissions(kOwnerOnly))
        return fail(file.errorString());
    if (faults.originalWrite && !faults.originalWrite(name))
        return fail(QStringLiteral("ディスクに書き込めません"));
    if (file.write(message) != message.size())
        return fail(file.errorString());
    if (sync ? !syncFile(file) : !file.flush())
        return fail(file.errorString());
    file.close();
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(temp.toStdU16String()), std::filesystem::path(path.toStdU16String()),
                            ec);
    if (ec) {
        QFile::remove(temp);
        return Error::fileOperation(path, QString::fromLocal8Bit(ec.message()));
    }
    if (sync)
        kestra::syncFolder(folder);
    return {};
}

Status syncFolder(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return {};
    // One flush of the whole file system puts every file written since on the
    // disk; far cheaper than one per file when a run received many messages.
    if (!syncFileSystemOf(folder))
        return Error::fileOperation(folder, QStringLiteral("ディスクに書き込めません"));
    kestra::syncFolder(folder);
    return {};
}

Status compactReceivedStore(const QString &dataPath, const QString &tempPath, const StoreFaults &faults)
{
    constexpr int length = MailRecord::kLength;
    const int liveOffset = stores::received.liveOffset;
    const QString folder = folderIn(QFileInfo(dataPath).absolutePath());
    // The originals of the records about to be dropped; stores from before
    // originals were kept have none, and then nothing more is hashed.
    QStringList dropped;
    const Status scanned = scanRecords(dataPath, length, [&](qint64, const QByteArray &bytes) {
        if (liveOfRaw(bytes, liveOffset) == 0) {
            const QString name = nameFor(bytes);
            if (QFileInfo::exists(folder + u'/' + name))
                dropped.append(name);
        }
        return true;
    });
    if (Status s = CompactStore(dataPath, tempPath, length, faults); !s)
        return s;
    if (!scanned || dropped.isEmpty())
        return {}; // when the scan failed, which originals to drop is unknown: all stay
    QSet<QString> kept;
    const Status survivors = scanRecords(dataPath, length, [&](qint64, const QByteArray &bytes) {
        kept.insert(nameFor(bytes));
        return true;
    });
    if (!survivors)
        return {};
    Status result;
    for (const QString &name : std::as_const(dropped)) {
        if (kept.contains(name))
            continue;
        QFile file(folder + u'/' + name);
        if (file.exists() && !file.remove() && result)
            result = Error::fileOperation(file.fileName(), file.errorString());
    }
    return result;
}

} // namespace kestra::originals
