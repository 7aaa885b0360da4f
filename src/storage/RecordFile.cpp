#include "storage/RecordFile.h"

#include "common/Text.h"
#include "storage/Records.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>
#include <system_error>
#include <thread>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kestra {

namespace stores {
const StoreKind received{u"kstdata2.data", u"KSTDATA2.TMP", MailRecord::kLength, MailRecord::kLength - 2};
const StoreKind sent{u"kstdata5.data", u"KSTDATA5.TMP", MailRecord::kLength, MailRecord::kLength - 2};
const StoreKind addressBook{u"Kstdata20.data", u"KSTDATA20.TMP", AddressRecord::kLength, 62};
const StoreKind addressPreload{u"KSTASTER20.INI", u"KSTASTER20.TMP", AddressRecord::kLength, 62};
const StoreKind favourites{u"Kstdata90.data", u"KSTDATA90.TMP", FavouriteRecord::kLength, 202};
} // namespace stores

namespace {
#ifdef Q_OS_LINUX
// Every this many bytes copied, the disk starts writing them: the sync at the
// end then waits only for the last stretch instead of the whole copy, and the
// copying overlaps the writing.
constexpr qint64 kWriteBackStep = 16 << 20;

// Starts writing out the last `length` bytes before the end of `fd` (it is
// written at its end) without waiting; a failure only leaves it to the sync.
void startWriteBack(int fd, qint64 length)
{
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        ::sync_file_range(fd, qMax<off_t>(0, st.st_size - length), length, SYNC_FILE_RANGE_WRITE);
}
#endif

// Appends `length` bytes of `from`, starting at `offset`, to `to`. Uses the
// kernel's file-to-file copy where there is one and the bytes keep their place
// within a page, else reads and writes a mebibyte at a time: records are not a
// whole number of pages long, so after a dropped record every page of the
// copy straddles two pages of the store, and there the kernel's copy is slower
// (about 400 against 270 ms for a full mail store here).
bool copyRange(QFile &from, qint64 offset, QFile &to, qint64 length, QByteArray &buffer)
{
#ifdef Q_OS_LINUX
    if (!to.flush())
        return false;
    constexpr qint64 kPage = 4096;
    loff_t in = offset;
    qint64 left = length;
    bool kernel = (offset - to.size()) % kPage == 0;
    while (kernel && left > 0) {
        const ssize_t n = ::copy_file_range(
            from.handle(), &in, to.handle(), nullptr, size_t(qMin(left, kWriteBackStep)), 0);
        if (n <= 0) {
            kernel = false;
            break;
        }
        left -= n;
        startWriteBack(to.handle(), n);
    }
    if (kernel) {
        // Keep QFile's idea of the position in step with the descriptor.
        return to.seek(to.size());
    }
    offset = in;
    length = left;
    if (!to.seek(to.size()))
        return false;
#endif
    constexpr qint64 kChunk = 1 << 20;
    [[maybe_unused]] qint64 pending = 0; // written since the disk was last asked to write
    if (!from.seek(offset))
        return false;
    while (length > 0) {
        const qint64 n = qMin(kChunk, length);
        buffer.resize(n);
        if (from.read(buffer.data(), n) != n || to.write(buffer.constData(), n) != n)
            return false;
        length -= n;
#ifdef Q_OS_LINUX
        pending += n;
        if (pending >= kWriteBackStep) {
            if (!to.flush())
                return false;
            startWriteBack(to.handle(), pending);
            pending = 0;
        }
#endif
    }
    return true;
}

#ifdef Q_OS_UNIX
// Closes the last descriptor of a replaced store on a thread of its own: the
// system frees the old file's blocks and cached pages at that close (a fifth
// of a second for a full mail store here), and nobody need wait for it.
void releaseInBackground(int fd)
{
    try {
        std::thread([fd] { ::close(fd); }).detach();
    } catch (const std::system_error &) {
        ::close(fd);
    }
}
#endif

// Number for a new record after `size` bytes: size / length + 1, rounded half to even.
Result<qint16> numberAfter(const QString &path, qint64 size, int recordLength)
{
    const double number = double(size) / recordLength + 1.0;
    if (number > double(kMaxRecords) + 0.5)
        return Error::fileOperation(path, QStringLiteral("記録できる件数（%1件）の上限に達しています").arg(kMaxRecords));
    return roundHalfEvenToInt16(number);
}
} // namespace

int liveOffsetFor(int recordLength)
{
    switch (recordLength) {
    case AddressRecord::kLength: return 62;
    case FavouriteRecord::kLength: return 202;
    default: return recordLength - 2;
    }
}

QString readAt(QFile &file, qint64 offset, char *out, qint64 n)
{
#ifdef Q_OS_UNIX
    qint64 done = 0;
    while (done < n) {
        const ssize_t got = ::pread(file.handle(), out + done, size_t(n - done), off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return qt_error_string(errno);
        if (got == 0)
            return QStringLiteral("レコードの途中でファイルが終わっています");
        done += got;
    }
    return {};
#else
    if (!file.seek(offset) || file.read(out, n) != n)
        return file.errorString();
    return {};
#endif
}

bool syncFile(QFile &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

void syncFolder(const QString &folder)
{
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder);
#endif
}

bool syncFileSystemOf(const QString &path)
{
#if defined(Q_OS_LINUX)
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::syncfs(fd) == 0;
    ::close(fd);
    return ok;
#elif defined(Q_OS_WIN)
    Q_UNUSED(path);
    return true; // files are committed one by one there
#else
    Q_UNUSED(path);
    ::sync();
    return true;
#endif
}

RecordFile::RecordFile(QString path, int recordLength, StoreFaults faults)
    : m_path(std::move(path)), m_length(recordLength), m_file(m_path), m_faults(std::move(faults))
{
}

RecordFile::~RecordFile()
{
    close();
}

Error RecordFile::error(const QString &reason) const
{
    return Error::fileOperation(m_path, reason);
}

Status RecordFile::open()
{
    close();
    const bool created = !m_file.exists();
    if (!m_file.open(QIODevice::ReadWrite))
        return error(m_file.errorString());
    // A new store is readable by its owner only.
    if (created && !m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return error(m_file.errorString());
    return {};
}

Status RecordFile::openReadOnly()
{
    close();
    if (!QFileInfo::exists(m_path)) {
        m_readOnlyMissing = true;
        return {};
    }
    if (!m_file.open(QIODevice::ReadOnly))
        return error(m_file.errorString());
    return {};
}

void RecordFile::close()
{
    m_file.close();
    m_readOnlyMissing = false;
}

qint64 RecordFile::count() const
{
    if (m_readOnlyMissing || !m_file.isOpen())
        return 0;
    return m_file.size() / m_length;
}

Result<qint16> RecordFile::appendNumber() const
{
    return numberAfter(m_path, m_readOnlyMissing || !m_file.isOpen() ? 0 : m_file.size(), m_length);
}

Result<bool> RecordFile::read(qint64 number, QByteArray &out)
{
    if (number < 1 || number > count())
        return false;
    if (!m_file.seek((number - 1) * m_length))
        return error(m_file.errorString());
    out.resize(m_length);
    const qint64 got = m_file.read(out.data(), m_length);
    if (got != m_length)
        return error(got < 0 ? m_file.errorString() : QStringLiteral("レコードの途中でファイルが終わっています"));
    return true;
}

Status RecordFile::write(qint64 number, const QByteArray &bytes, bool sync)
{
    if (!m_file.isOpen() || !m_file.isWritable())
        return error(QStringLiteral("ファイルが書き込み用に開かれていません"));
    if (bytes.size() != m_length)
        return error(QStringLiteral("レコードの長さが正しくありません"));
    if (number < 1 || number > kMaxRecords)
        return error(QStringLiteral("レコード番号 %1 は範囲外です（1～%2）").arg(number).arg(kMaxRecords));
    if (!m_file.seek((number - 1) * m_length))
        return error(m_file.errorString());
    if (m_file.write(bytes) != m_length)
        return error(m_file.errorString());
    if (sync ? !syncFile(m_file) : !m_file.flush())
        return error(m_file.errorString());
    return {};
}

Status RecordFile::dropTornTail()
{
    if (!m_file.isOpen() || m_readOnlyMissing)
        return error(QStringLiteral("ファイルが開かれていません"));
    const qint64 size = m_file.size();
    const qint64 torn = size % m_length;
    if (torn == 0)
        return {};
    if (!m_file.resize(size - torn))
        return error(m_file.errorString());
    return {};
}

Status RecordFile::truncate(qint64 count)
{
    if (!m_file.isOpen() || !m_file.isWritable())
        return error(QStringLiteral("ファイルが書き込み用に開かれていません"));
    if (m_file.size() > count * m_length && !m_file.resize(count * m_length))
        return error(m_file.errorString());
    return {};
}

Status RecordFile::sync()
{
    if (!m_file.isOpen() || !m_file.isWritable())
        return error(QStringLiteral("ファイルが書き込み用に開かれていません"));
    if (m_faults.sync && !m_faults.sync(m_path))
        return error(QStringLiteral("ディスクに書き込めません"));
    if (!syncFile(m_file))
        return error(m_file.errorString());
    return {};
}

Status scanRecords(const QString &path, int recordLength,
                   const std::function<bool(qint64, const QByteArray &)> &visit)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return Error::fileOperation(path, file.errorString());
    // Read many records at a time: one sequential pass over the file.
    const qint64 records = file.size() / recordLength;
    const qint64 perChunk = qMax<qint64>(1, (4 << 20) / recordLength);
    QByteArray chunk;
    QByteArray record;
    qint64 number = 1;
    while (number <= records) {
        const qint64 n = qMin(perChunk, records - number + 1);
        chunk.resize(n * recordLength);
        if (file.read(chunk.data(), chunk.size()) != chunk.size())
            return Error::fileOperation(path, file.errorString());
        for (qint64 i = 0; i < n; ++i, ++number) {
            record = chunk.mid(i * recordLength, recordLength);
            if (!visit(number, record))
                return {};
        }
    }
    return {};
}

Status scanLiveRecords(const QString &path, int recordLength,
                       const std::function<bool(qint64, const QByteArray &)> &visit)
{
    const int live = liveOffsetFor(recordLength);
    return scanRecords(path, recordLength, [&](qint64 number, const QByteArray &bytes) {
        return liveOfRaw(bytes, live) == 0 || visit(number, bytes);
    });
}

Result<qint16> AppendRecordNumber(const QString &path, int recordLength)
{
    const QFileInfo info(path);
    return numberAfter(path, info.exists() ? info.size() : 0, recordLength);
}

Status writeRecordAt(const QString &path, int recordLength, qint64 number, const QByteArray &bytes)
{
    RecordFile file(path, recordLength);
    if (Status s = file.open(); !s)
        return s;
    return file.write(number, bytes);
}

Status dropTornTail(const QString &path, int recordLength)
{
    RecordFile file(path, recordLength);
    if (Status s = file.open(); !s)
        return s;
    return file.dropTornTail();
}

Result<qint16> appendRecord(const QString &path, int recordLength, const QByteArray &bytes)
{
    RecordFile file(path, recordLength);
    if (Status s = file.open(); !s)
        return s.error();
    if (Status s = file.dropTornTail(); !s)
        return s.error();
    Result<qint16> number = AppendRecordNumber(path, recordLength);
    if (!number)
        return number;
    if (Status s = file.write(number.value(), bytes); !s)
        return s.error();
    return number;
}

Status markRecords(const QString &path, int recordLength, const QList<qint64> &numbers)
{
    if (numbers.isEmpty())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return Error::fileOperation(path, file.errorString());
    const qint64 records = file.size() / recordLength;
    const int live = liveOffsetFor(recordLength);
    static const char zero[2] = {0, 0};
    for (const qint64 number : numbers) {
        if (number < 1 || number > records)
            continue;
        if (!file.seek((number - 1) * recordLength + live) || file.write(zero, 2) != 2)
            return Error::fileOperation(path, file.errorString());
    }
    if (!syncFile(file))
        return Error::fileOperation(path, file.errorString());
    return {};
}

Status markRecord(const QString &path, int recordLength, qint64 number)
{
    return markRecords(path, recordLength, {number});
}

Status CompactStore(const QString &dataPath, const QString &tempPath, int recordLength, const StoreFaults &faults)
{
    const auto hook = [&faults](CompactionStep step, qint64 index) {
        return !faults.compaction || faults.compaction(step, index);
    };
    QFile data(dataPath);
    if (!data.exists())
        return {};
    // Unbuffered: the scan below reads two bytes per record at scattered offsets.
    if (!data.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return Error::fileOperation(dataPath, data.errorString());

    QFile temp(tempPath);
    if (!temp.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return Error::fileOperation(tempPath, temp.errorString());
    if (!hook(CompactionStep::TempOpened, 0))
        return {};

    const auto fail = [&](const QString &file, const QString &reason) -> Status {
        temp.close();
        QFile::remove(tempPath);
        return Error::fileOperation(file, reason);
    };

    // First find the runs of consecutive live records from their Live fields
    // alone, then copy each run as it stands, byte for byte.
    const int liveOffset = liveOffsetFor(recordLength);
    const qint64 records = data.size() / recordLength;
    struct Run {
        qint64 first; // 0-based record index
        qint64 count;
    };
    QList<Run> runs;
    for (qint64 i = 0; i < records; ++i) {
        char live[2];
        if (const QString e = readAt(data, i * recordLength + liveOffset, live, 2); !e.isEmpty())
            return fail(dataPath, e);
        if (live[0] == 0 && live[1] == 0)
            continue;
        if (!runs.isEmpty() && runs.last().first + runs.last().count == i)
            ++runs.last().count;
        else
            runs.append({i, 1});
    }

    qint64 copied = 0;
    QByteArray chunk;
    for (const Run &run : runs) {
        const qint64 offset = run.first * recordLength;
        const qint64 length = run.count * recordLength;
        if (!copyRange(data, offset, temp, length, chunk))
            return fail(tempPath, temp.errorString().isEmpty() ? data.errorString() : temp.errorString());
        copied += run.count;
        if (!hook(CompactionStep::RecordCopied, copied))
            return {};
    }
    data.close();
    // The rewritten store keeps the mode the store had.
    if (!temp.setPermissions(QFile::permissions(dataPath)))
        return fail(tempPath, temp.errorString());
    if (!syncFile(temp))
        return fail(tempPath, temp.errorString());
    temp.close();
    if (!hook(CompactionStep::TempSynced, 0))
        return {};

#ifdef Q_OS_UNIX
    // The old store stays open over the rename, so that freeing it happens at
    // a later close instead of inside the rename.
    const int old = ::open(QFile::encodeName(dataPath).constData(), O_RDONLY | O_CLOEXEC);
#endif
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(tempPath.toStdU16String()),
                            std::filesystem::path(dataPath.toStdU16String()), ec);
#ifdef Q_OS_UNIX
    if (old >= 0) {
        if (ec)
            ::close(old);
        else
            releaseInBackground(old);
    }
#endif
    if (ec) {
        QFile::remove(tempPath);
        return Error::fileOperation(dataPath, QString::fromLocal8Bit(ec.message()));
    }
    if (!hook(CompactionStep::Renamed, 0))
        return {};
    syncFolder(QFileInfo(dataPath).absolutePath());
    return {};
}

} // namespace kestra
