#include "storage/Originals.h"

#include "storage/RecordFile.h"
#include "storage/Records.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

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

namespace {

Status makeFolder(const QString &folder)
{
    if (QFileInfo(folder).isDir())
        return {};
    if (!QDir().mkpath(folder))
        return Error::fileOperation(folder, QStringLiteral("フォルダを作成できません"));
    QFile::setPermissions(folder, kOwnerOnly | QFileDevice::ExeOwner);
    return {};
}

// Writes `message` into a temporary file of the folder, then renames it to
// `name`: a file under that name is whole at every instant.
Status replaceOriginal(const QString &folder, const QString &name, const QByteArray &message, bool sync,
                       const StoreFaults &faults)
{
    const QString path = pathFor(folder, name);
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

// Creates `path` (0600; never over an existing entry, a dangling link
// included) and writes `data` into it. Gives false when the name is taken.
Result<bool> writeNew(const QString &path, const QByteArray &data)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno == EEXIST ? Result<bool>(false) : Error::fileOperation(path, qt_error_string(errno));
    const char *from = data.constData();
    qsizetype left = data.size();
    int failed = 0;
    while (left > 0 && failed == 0) {
        const ssize_t n = ::write(fd, from, size_t(left));
        if (n > 0) {
            from += n;
            left -= n;
        } else if (n == 0 || errno != EINTR) {
            failed = n == 0 ? ENOSPC : errno;
        }
    }
    if (::close(fd) != 0 && failed == 0)
        failed = errno;
    if (failed == 0)
        return true;
    ::unlink(QFile::encodeName(path).constData());
    return Error::fileOperation(path, qt_error_string(failed));
#else
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly))
        return file.exists() ? Result<bool>(false) : Error::fileOperation(path, file.errorString());
    if (file.write(data) == data.size() && file.flush())
        return true;
    const Error failed = Error::fileOperation(path, file.errorString());
    file.close();
    file.remove();
    return failed;
#endif
}

} // namespace

Status writeOriginalNamed(const QString &folder, const QString &name, const QByteArray &message, bool sync,
                          const StoreFaults &faults)
{
    if (Status made = makeFolder(folder); !made)
        return made;
    return replaceOriginal(folder, name, message, sync, faults);
}

OriginalWriter::OriginalWriter(QString folder, StoreFaults faults)
    : m_folder(std::move(folder)), m_faults(std::move(faults))
{
}

Result<bool> OriginalWriter::write(const QString &name, const QByteArray &message)
{
    if (!m_folderMade) {
        if (Status made = makeFolder(m_folder); !made)
            return made.error();
        m_folderMade = true;
    }
    const QString path = pathFor(m_folder, name);
    if (m_faults.originalWrite && !m_faults.originalWrite(name))
        return Error::fileOperation(path, QStringLiteral("ディスクに書き込めません"));
    const Result<bool> created = writeNew(path, message);
    if (!created || created.value())
        return created;
    if (Status replaced = replaceOriginal(m_folder, name, message, false, {}); !replaced)
        return replaced.error();
    return false;
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
