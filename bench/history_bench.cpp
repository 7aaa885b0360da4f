// Figures for the history window on a full received store: 32767 mail records
// (about 400 MB, or the count given) built in a temporary folder, then
//   cat: reading the file once (cat > /dev/null), for comparison
//   open: the history button's work from the click to the filled, painted window,
//         with the process's peak memory (a fresh process)
//   delete one: "１件削除" on row 0 (mark, compaction, list), and the mark and
//         compaction alone, each beside cp + sync of the same file in this run
// It fails (exit 1) when a step failed or measured nothing.
// Usage: history_bench [count] [folder for the temporary store]
//        history_bench --open <application folder>   one step on a kept store
//        history_bench --delete <application folder> <cp + sync ms>
// With HISTORY_BENCH_KEEP=1 in the environment the application folder is kept.
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/UserPrompt.h"
#include "history/HistoryListBox.h"
#include "history/HistoryStore.h"
#include "history/TyakuForm.h"
#include "storage/Cp932.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/StoreBuffers.h"
#include "support/FindControl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

using namespace kestra;
using kestra::test::findControl;

namespace {

double ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

long peakKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

long currentKiB()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts.at(1).toLong() * 4 : -1;
}

class YesPrompt final : public UserPrompt
{
public:
    PromptAnswer message(const QString &text, const QString &, PromptIcon, PromptButtons buttons, PromptDefault) override
    {
        if (buttons != PromptButtons::YesNo)
            std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return PromptAnswer::Yes;
    }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    QString saveFileName(const QString &, const QString &, const QString &) override { return {}; }
};

QString storePath(const QString &appFolder)
{
    appState().appFolder = appFolder;
    return historyStorePath(1);
}

bool generate(const QString &path, int count)
{
    QList<QByteArray> templates;
    for (int t = 0; t < 8; ++t) {
        MailRecord r;
        r.Header3 = QStringLiteral("Tue, %1 Dec 2026 10:%2:00 +0900").arg(t + 1).arg(t * 7, 2, 10, QLatin1Char('0'));
        QString body;
        for (int line = 0; line < 60 + t * 10; ++line)
            body += QStringLiteral("本文の%1行目です。メールの履歴を一覧にして表示します。\r\n").arg(line + 1);
        r.Body = body;
        templates.append(r.encode());
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray chunk;
    for (int i = 1; i <= count; ++i) {
        QByteArray rec = templates.at(i % templates.size());
        rec.replace(0, MailRecord::kSubjectWidth,
                    cp932::encodeField(QStringLiteral("件名 その%1 のお知らせ").arg(i), MailRecord::kSubjectWidth));
        rec.replace(MailRecord::kSubjectWidth, MailRecord::kHeader2Width,
                    cp932::encodeField(QStringLiteral("sender%1@example.jp").arg(i), MailRecord::kHeader2Width));
        chunk += rec;
        if (chunk.size() > (8 << 20) || i == count) {
            if (f.write(chunk) != chunk.size())
                return false;
            chunk.clear();
        }
    }
    return true;
}

int childOpen(const QString &appFolder)
{
    storePath(appFolder);
    YesPrompt prompts;
    setPrompt(&prompts);
    const long before = currentKiB();
    QElapsedTimer t;
    t.start();
    openHistoryWindow(1); // what the "着信履歴" button runs
    const double filled = ms(t);
    TyakuForm *f = loadedForm<TyakuForm>();
    f->repaint();
    QApplication::processEvents();
    const double painted = ms(t);
    std::printf("open: handler %.0f ms, to painted window %.0f ms; %d lines, count box \"%s\"\n", filled,
        painted, findControl<HistoryListBox>(f, "List1")->count(),
        qPrintable(findControl<QLineEdit>(f, "Text2")->text()));
    std::printf("open: memory before %ld MiB, peak %ld MiB\n", before / 1024, peakKiB() / 1024);
    if (findControl<HistoryListBox>(f, "List1")->count() == 0) {
        std::fprintf(stderr, "history_bench: the history list is empty\n");
        return 1;
    }
    return 0;
}

int childDelete(const QString &appFolder, double copySyncMs)
{
    const QString store = storePath(appFolder);
    YesPrompt prompts;
    setPrompt(&prompts);
    openHistoryWindow(1);
    TyakuForm *f = loadedForm<TyakuForm>();
    const int before = findControl<HistoryListBox>(f, "List1")->count();
    if (before < 2) {
        std::fprintf(stderr, "history_bench: the history list is empty\n");
        return 1;
    }
    findControl<HistoryListBox>(f, "List1")->item(0)->setSelected(true);
    f->ShowSelectedMail();
    QElapsedTimer t;
    t.start();
    findControl<QPushButton>(f, "Command1")->click();
    const double whole = ms(t);
    std::printf("delete one mail (row 0, as the window runs it: mark, compaction, list): %.0f ms; lines %d -> %d; "
                "cp + sync: %.0f ms "
                "(%.2fx)\n",
                whole, before, findControl<HistoryListBox>(f, "List1")->count(), copySyncMs, whole / copySyncMs);
    if (findControl<HistoryListBox>(f, "List1")->count() != before - 1) {
        std::fprintf(stderr, "history_bench: the mail was not deleted\n");
        return 1;
    }

    // The store the delete replaced is freed in the background; a second
    // delete at once would share the disk and a core with that.
    QThread::msleep(1000);
    t.restart();
    if (Status s = markRecord(store, MailRecord::kLength, 1); !s)
        return 1;
    const double mark = ms(t);
    if (Status s = CompactStore(store, historyTempPath(1), MailRecord::kLength); !s)
        return 1;
    const double compaction = ms(t);
    std::printf("mark + compaction alone: %.0f ms (mark %.0f ms); cp + sync: %.0f ms (%.2fx)\n", compaction, mark,
                copySyncMs, compaction / copySyncMs);
    if (QFile(store).size() != qint64(before - 2) * MailRecord::kLength) {
        std::fprintf(stderr, "history_bench: the compaction did not drop the record\n");
        return 1;
    }
    return 0;
}

// Runs `program` and gives its wall time; a failed run makes the bench fail.
double runTimed(const QString &program, const QStringList &args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(program, args);
    p.waitForFinished(-1);
    const double took = ms(t);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "history_bench: %s %s failed\n", qPrintable(program), qPrintable(args.join(u' ')));
        std::exit(1);
    }
    return took;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 2 && args.at(1) == QLatin1String("--open"))
        return childOpen(args.at(2));
    if (args.size() > 3 && args.at(1) == QLatin1String("--delete"))
        return childDelete(args.at(2), args.at(3).toDouble());

    const int count = args.size() > 1 ? args.at(1).toInt() : int(kMaxRecords);
    if (count < 3 || count > kMaxRecords) {
        std::fprintf(stderr, "history_bench: the count is 3 to %lld\n", kMaxRecords);
        return 1;
    }
    QTemporaryDir dir(args.size() > 2 ? args.at(2) + QStringLiteral("/history-bench-XXXXXX") : QString());
    dir.setAutoRemove(qEnvironmentVariableIsEmpty("HISTORY_BENCH_KEEP"));
    if (!dir.autoRemove())
        std::printf("kept: %s\n", qPrintable(dir.path()));
    appState().appFolder = dir.path();
    if (!appPaths().ensureFolders())
        return 1;
    const QString store = storePath(dir.path());
    if (!generate(store, count)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(store));
        return 1;
    }
    std::printf("store: %d records, %.0f MB\n", count, double(QFile(store).size()) / 1e6);

    const QString sh = QStringLiteral("/bin/sh");
    const QString quoted = QLatin1Char('\'') + store + QLatin1Char('\'');
    std::printf("cat > /dev/null: %.0f ms\n", runTimed(sh, {QStringLiteral("-c"), QStringLiteral("cat %1 > /dev/null").arg(quoted)}));
    std::fflush(stdout);
    const QString self = QCoreApplication::applicationFilePath();
    runTimed(self, {QStringLiteral("--open"), dir.path()});
    std::printf("cat > /dev/null again: %.0f ms\n", runTimed(sh, {QStringLiteral("-c"), QStringLiteral("cat %1 > /dev/null").arg(quoted)}));

    const QString copy = quoted.chopped(1) + QStringLiteral(".copy'");
    std::printf("cp: %.0f ms\n", runTimed(sh, {QStringLiteral("-c"), QStringLiteral("cp %1 %2").arg(quoted, copy)}));
    const double copySync =
        runTimed(sh, {QStringLiteral("-c"), QStringLiteral("rm -f %2; cp %1 %2 && sync %2").arg(quoted, copy)});
    std::printf("cp + sync: %.0f ms\n", copySync);
    QFile::remove(store + QStringLiteral(".copy"));
    std::fflush(stdout);
    runTimed(self, {QStringLiteral("--delete"), dir.path(), QString::number(copySync)});
    return 0;
}
