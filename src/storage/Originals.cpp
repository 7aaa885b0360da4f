#include "storage/Originals.h"

#include "storage/RecordFile.h"
#include "storage/Records.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    // The originals of the records about to be dropped, found from the Live
    // fields alone; only a dropped record is read whole and hashed. Stores
    // from before originals were kept have none, and then nothing more is read.
    struct Dropped {
        QString name;
        QByteArray fields; // the record without its Live field
        bool shared = false; // a surviving record has the same bytes, and so the same original
    };
    QList<Dropped> dropped;
    QList<qint64> survivors;
    const auto findDropped = [&]() -> bool {
        QFile data(dataPath);
        if (!data.exists())
            return true;
        if (!data.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return false;
        const qint64 records = data.size() / length;
        QByteArray record(length, Qt::Uninitialized);
        for (qint64 i = 0; i < records; ++i) {
            char live[2];
            if (!readAt(data, i * length + liveOffset, live, 2).isEmpty())
                return false;
            if (live[0] != 0 || live[1] != 0) {
                survivors.append(i);
                continue;
            }
            if (!readAt(data, i * length, record.data(), length).isEmpty())
                return false;
            const QString name = nameFor(record);
            if (QFileInfo::exists(folder + u'/' + name))
                dropped.append({name, record.first(liveOffset), false});
        }
        if (dropped.isEmpty())
            return true;
        // Two records share an original only when every byte but Live is the
        // same. The leading header fields tell nearly every pair apart, so a
        // survivor is read whole only when those match.
        constexpr qsizetype kHead = MailRecord::kSubjectWidth + MailRecord::kHeader2Width + MailRecord::kHeader3Width;
        QByteArray head(kHead, Qt::Uninitialized);
        for (const qint64 i : std::as_const(survivors)) {
            if (!readAt(data, i * length, head.data(), kHead).isEmpty())
                return false;
            bool read = false;
            for (Dropped &d : dropped) {
                if (d.shared || !d.fields.startsWith(head))
                    continue;
                if (!read && !readAt(data, i * length, record.data(), length).isEmpty())
                    return false;
                read = true;
                d.shared = QByteArrayView(record).first(liveOffset) == QByteArrayView(d.fields);
            }
        }
        return true;
    };
    // When the scan failed, which originals to drop is unknown: all stay.
    const bool known = findDropped();

    // A compaction stopped by `faults` stands for a program that died there:
    // nothing after it happens.
    bool stopped = false;
    StoreFaults inner = faults;
    if (faults.compaction)
        inner.compaction = [&](CompactionStep step, qint64 index) {
            stopped = stopped || !faults.compaction(step, index);
            return !stopped;
        };
    if (Status s = CompactStore(dataPath, tempPath, length, inner); !s)
        return s;
    if (!known || stopped)
        return {};
    Status result;
    for (const Dropped &d : std::as_const(dropped)) {
        if (d.shared)
            continue;
        QFile file(folder + u'/' + d.name);
        if (file.exists() && !file.remove() && result)
            result = Error::fileOperation(file.fileName(), file.errorString());
    }
    return result;
}

} // namespace kestra::originals
