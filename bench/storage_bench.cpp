// Figures for the record files: a received store of 32767 mail records (about
// 400 MB) is built in a temporary folder, then timed:
//   scan + list lines: one pass decoding the header fields and forming every history line
//   compaction: mark one record, CompactStore (written, synced and renamed)
//   cp + sync: copying the same file with cp and syncing it, for comparison
#include "storage/MailFields.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

using namespace kestra;

namespace {
double seconds(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e9;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : int(kMaxRecords);
    if (count < 2 || count > kMaxRecords) {
        std::fprintf(stderr, "storage_bench: the count is 2 to %lld\n", kMaxRecords);
        return 1;
    }
    QTemporaryDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/bench-XXXXXX") : QString());
    const QString store = dir.path() + QStringLiteral("/kstdata2.data");
    const QString temp = dir.path() + QStringLiteral("/KSTDATA2.TMP");

    {
        QFile f(store);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 1; i <= count; ++i) {
            MailRecord r;
            r.Subject = QStringLiteral("お知らせ その%1 ①②③").arg(i);
            r.Header2 = QStringLiteral("sender%1@example.co.jp").arg(i);
            r.Header3 = QStringLiteral("Mon, 7 Dec 2026 10:%1:00 +0900").arg(i % 60, 2, 10, QLatin1Char('0'));
            r.Body = QStringLiteral("本文です。").repeated(200) + QString::number(i);
            f.write(r.encode());
        }
        syncFile(f);
    }
    std::printf("store: %d records, %.1f MB\n", count, double(QFile(store).size()) / 1e6);

    QElapsedTimer t;
    t.start();
    QStringList lines;
    lines.reserve(count);
    const Status scanned = scanRecords(store, MailRecord::kLength, [&](qint64, const QByteArray &bytes) {
        lines.append(HistoryLine(mailFields(MailRecord::decodeHeaders(bytes), 1)));
        return true;
    });
    const double scan = seconds(t);
    if (!scanned || lines.size() != count)
        return 2;
    std::printf("scan + list lines: %.3f s (%lld lines)\n", scan, qlonglong(lines.size()));

    t.restart();
    if (!QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("cp \"$0\" \"$1\" && sync \"$1\""),
                                                  store, dir.path() + QStringLiteral("/copy.data")})
             == 0)
        return 3;
    const double copy = seconds(t);
    QFile::remove(dir.path() + QStringLiteral("/copy.data"));

    t.restart();
    QByteArray record;
    {
        RecordFile f(store, MailRecord::kLength);
        if (!f.open() || !f.read(count / 2, record).ok())
            return 4;
    }
    if (!markRecord(store, MailRecord::kLength, count / 2) || !CompactStore(store, temp, MailRecord::kLength))
        return 5;
    const double compact = seconds(t);
    std::printf("compaction after marking one record: %.3f s; cp + sync of the same file: %.3f s (%.2fx)\n",
                compact, copy, compact / copy);
    return QFile(store).size() == qint64(count - 1) * MailRecord::kLength ? 0 : 6;
}
