// Figures for the mail search on two full stores: 32767 received and 32767 sent
// records (or the count given per store, about 400 MB each) built in a
// temporary folder with mixed Japanese and Latin bodies of 100 to 6000
// characters, then
//   read: one sequential read of both files, for comparison
//   index: the first search's reading of both stores into the search index,
//          with the index's memory
//   keys: the search after each key while typing some words, as the window
//         runs it (a longer text only narrows the previous hits), and each text
//         searched afresh over every record; the slowest key beside the same
//         text searched afresh, and the medians
// It fails (exit 1) when it measured nothing: no records indexed, no hits.
// Usage: search_bench [count per store] [folder for the temporary stores]
#include "history/MailSearch.h"
#include "storage/Records.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace kestra;

namespace {

double ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// CPU time of this thread, or of the whole process (the index is read on two
// threads): on a machine shared with other work the wall time also counts the
// waits for a core.
double cpuMs(clockid_t clock = CLOCK_THREAD_CPUTIME_ID)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

long currentKiB()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts.at(1).toLong() * 4 : -1;
}

const QStringList kPhrases = {
    QStringLiteral("お世話になっております。"), QStringLiteral("会議の資料を送ります。"),
    QStringLiteral("来週の打ち合わせは三時からです。"), QStringLiteral("ご確認のほどよろしくお願いいたします。"),
    QStringLiteral("The quarterly report is attached. "), QStringLiteral("Please find the invoice below. "),
    QStringLiteral("ｶﾀｶﾅのお知らせです。"), QStringLiteral("ＫＥＳＴＲＡ　ニュース第①号"),
    QStringLiteral("㈱髙橋商事の﨑です。"), QStringLiteral("\r\n"),
};

// Made-up words: three or four hiragana, or four to eight Latin letters, so
// that most words occur in few mails, as in real mail.
QStringList wordPool(QRandomGenerator &rng)
{
    QStringList pool;
    for (int i = 0; i < 20000; ++i) {
        QString w;
        if (i % 3 == 0) {
            const int n = 4 + int(rng.bounded(5));
            for (int k = 0; k < n; ++k)
                w += QChar(u'a' + int(rng.bounded(26)));
            w += QLatin1Char(' ');
        } else {
            const int n = 3 + int(rng.bounded(2));
            for (int k = 0; k < n; ++k)
                w += QChar(0x3041 + int(rng.bounded(83)));
        }
        pool << w;
    }
    return pool;
}

void writeStore(const QString &path, int count, bool sent, QRandomGenerator &rng)
{
    static const QStringList pool = wordPool(rng);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    QByteArray chunk;
    for (int i = 1; i <= count; ++i) {
        MailRecord r;
        const int person = int(rng.bounded(2000));
        const QString address = QStringLiteral("user%1@example%2.jp").arg(person).arg(person % 37);
        const QDateTime when = QDateTime(QDate(2010, 1, 1), QTime(9, 0)).addSecs(qint64(i) * 5000);
        r.Subject = QStringLiteral("件名 %1 %2").arg(i).arg(kPhrases.at(int(rng.bounded(9))));
        if (sent) {
            r.Header2 = when.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
            r.Header3 = address;
        } else {
            r.Header2 = address;
            r.Header3 = when.toString(Qt::RFC2822Date);
        }
        const int length = rng.bounded(100) < 5 ? 6000 : 100 + int(rng.bounded(3900));
        QString body;
        while (body.size() < length) {
            if (rng.bounded(40) == 0)
                body += kPhrases.at(int(rng.bounded(kPhrases.size())));
            else
                body += pool.at(int(rng.bounded(pool.size())));
        }
        r.Body = body.left(length);
        chunk += r.encode();
        if (chunk.size() > 8 << 20) {
            f.write(chunk);
            chunk.clear();
        }
    }
    f.write(chunk);
}

struct KeyFigures {
    double slowest = 0;
    double median = 0;
};

// A bench that measured nothing says so and fails.
int fail(const char *why)
{
    std::fprintf(stderr, "search_bench: %s\n", why);
    return 1;
}

KeyFigures figures(QList<double> times)
{
    std::sort(times.begin(), times.end());
    return {times.back(), times.at(times.size() / 2)};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 32767;
    if (count < 1 || count > 32767)
        return fail("the count per store is 1 to 32767");
    QTemporaryDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/search_bench-XXXXXX")
                               : QString());
    dir.setAutoRemove(qEnvironmentVariableIsEmpty("SEARCH_BENCH_KEEP"));
    if (!dir.autoRemove())
        std::printf("kept: %s\n", qPrintable(dir.path()));
    const QString received = dir.filePath(QStringLiteral("kstdata2.data"));
    const QString sent = dir.filePath(QStringLiteral("kstdata5.data"));
    QRandomGenerator rng(17);
    writeStore(received, count, false, rng);
    writeStore(sent, count, true, rng);
    std::printf("stores: %d + %d records, %.0f MB\n", count, count,
                double(QFile(received).size() + QFile(sent).size()) / 1e6);

    QElapsedTimer t;
    t.start();
    qint64 bytes = 0;
    for (const QString &path : {received, sent}) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return fail("cannot read the stores");
        QByteArray buffer(1 << 20, Qt::Uninitialized);
        for (qint64 n; (n = f.read(buffer.data(), buffer.size())) > 0;)
            bytes += n;
    }
    const double readMs = ms(t);
    if (bytes != QFile(received).size() + QFile(sent).size())
        return fail("the stores were not read whole");
    std::printf("read: both files once, %.0f MB: %.0f ms\n", double(bytes) / 1e6, readMs);

    const long before = currentKiB();
    t.restart();
    const double buildCpu = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
    Result<std::shared_ptr<const MailSearchIndex>> built = MailSearchIndex::build(received, sent);
    if (!built)
        return fail(qPrintable(built.error().message()));
    const double buildMs = ms(t);
    const MailSearchIndex &index = *built.value();
    std::printf("index: %d records read and folded: %.0f ms (CPU of both threads %.0f ms), %ld MB in memory (folded "
                "texts %.0f MB); reading both files: %.0f ms\n",
                index.size(), buildMs, cpuMs(CLOCK_PROCESS_CPUTIME_ID) - buildCpu, (currentKiB() - before) / 1024,
                double(index.textBytes()) / 1e6, readMs);
    if (index.size() != 2 * count)
        return fail("the index does not hold every record");

    const QStringList typed = {QStringLiteral("打ち合わせ"), QStringLiteral("kestra"), QStringLiteral("ﾊﾟｿｺﾝ"),
                               QStringLiteral("user1234@example"), QStringLiteral("invoice below"),
                               QStringLiteral("髙橋 請求"), QStringLiteral("いろは"), QStringLiteral("qwerty")};
    QList<double> narrowed;
    QList<double> fresh;
    QList<double> narrowedCpu;
    QStringList texts;
    qsizetype found = 0;
    for (const QString &text : typed) {
        QStringList shownWords;
        QList<int> shown;
        for (int n = 1; n <= text.size(); ++n) {
            const QStringList words = searchWords(QStringView(text).left(n));
            if (words.isEmpty())
                continue;
            t.restart();
            const double cpu = cpuMs();
            const bool narrow = refines(words, shownWords);
            std::optional<QList<int>> hits = index.search(words, narrow ? &shown : nullptr);
            narrowed << ms(t);
            narrowedCpu << cpuMs() - cpu;
            t.restart();
            std::optional<QList<int>> all = index.search(words);
            fresh << ms(t);
            texts << words.join(u' ');
            if (!hits || !all || *all != *hits)
                return fail(qPrintable(QStringLiteral("narrowed search differs for ") + texts.last()));
            shown = *hits;
            shownWords = words;
        }
        std::printf("  \"%s\": %lld hits\n", qPrintable(text), qlonglong(shown.size()));
        found += shown.size();
    }
    if (narrowed.isEmpty() || found == 0)
        return fail("no search found anything");
    const qsizetype slowest = std::max_element(narrowed.begin(), narrowed.end()) - narrowed.begin();
    const KeyFigures a = figures(narrowed);
    const KeyFigures b = figures(fresh);
    const KeyFigures c = figures(narrowedCpu);
    std::printf("keys: %lld keystrokes; slowest as typed %.1f ms (CPU %.1f ms) at \"%s\"; the same search from "
                "scratch: %.1f ms\n",
                qlonglong(narrowed.size()), a.slowest, narrowedCpu.at(slowest), qPrintable(texts.at(slowest)),
                fresh.at(slowest));
    std::printf("keys: as typed, median %.1f ms (CPU: slowest %.1f ms, median %.1f ms)\n", a.median, c.slowest,
                c.median);
    std::printf("keys: every text from scratch: slowest %.1f ms, median %.1f ms\n", b.slowest, b.median);
    return 0;
}
