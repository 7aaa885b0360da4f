// Receiving from the local test Dovecot server, timed.
//
//   receive_bench fill SERVER_DIR COUNT    puts the benchmark mail set into the
//                                          "bench" account's Maildir
//   receive_bench receive SERVER_DIR       the whole 受信 run (MainForm, store
//                                          written and flushed per message,
//                                          attachments expanded)
//   receive_bench fill-hostile SERVER_DIR  three hostile mails and an ordinary one
//   receive_bench fill-big SERVER_DIR      one message of 32 MiB
//   receive_bench session SERVER_DIR       the mailbox session and expansion of that run only
//                                          (connect, log-in, status, size, fetch,
//                                          expansion, delete, close)
//
// The application folder is a temporary one, or KESTRA_BENCH_FOLDER when set.
// Prints the messages received, the elapsed time and the peak resident memory.
// Run through receive_bench.sh, which also times a plain poplib script.
#include "app/MainForm.h"
#include "app/ReceiveMail.h"
#include "common/AppState.h"
#include "common/Paths.h"
#include "common/UserPrompt.h"
#include "app/NetworkMailPorts.h"
#include "mime/MessageExpansion.h"
#include "settings/MailOptionsInForce.h"
#include "servers/DovecotBox.h"
#include "servers/HostileMail.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/Settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

using namespace kestra;

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QByteArray jisText(int n)
{
    // A short Japanese text in ISO-2022-JP: "お世話になります。" and a number.
    return "\x1b$B$*@$OC$K$J$j$^$9!#\x1b(B No." + QByteArray::number(n) + "\r\n"
           "\x1b$B;qNA$r$40FFb$7$^$9!#\x1b(B\r\n";
}

QByteArray benchMail(int n)
{
    QByteArray m = "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <taro@example.jp>\r\n"
                   "To: bench@example.jp\r\n"
                   "Subject: =?ISO-2022-JP?B?GyRCMnE1RC0hGyhC?= "
                   + QByteArray::number(n)
                   + "\r\n"
                     "Date: Tue, 8 Dec 2026 10:00:00 +0900\r\nMIME-Version: 1.0\r\n";
    int attachment = 0;
    if (n % 200 == 100)
        attachment = 1024 * 1024; // a few of 1 MB
    else if (n % 20 == 0)
        attachment = 100 * 1024; // some with 100 KB
    if (attachment == 0) {
        m += "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
        m += jisText(n);
        return m;
    }
    m += "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
         "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
         + jisText(n) + "--b\r\nContent-Type: application/octet-stream\r\n"
         "Content-Disposition: attachment; filename=\"data" + QByteArray::number(n)
         + ".bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    QByteArray data(attachment, '\0');
    for (int i = 0; i < attachment; ++i)
        data[i] = char((i * 7 + n) & 0xFF);
    const QByteArray b64 = data.toBase64();
    for (qsizetype i = 0; i < b64.size(); i += 76)
        m += b64.mid(i, 76) + "\r\n";
    m += "--b--\r\n";
    return m;
}

class QuietPrompt final : public UserPrompt
{
public:
    int shown = 0;
    PromptAnswer message(const QString &text, const QString &, PromptIcon, PromptButtons, PromptDefault) override
    {
        ++shown;
        std::fprintf(stderr, "message box: %s\n", qPrintable(text));
        return PromptAnswer::Ok;
    }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    QString saveFileName(const QString &, const QString &, const QString &) override { return {}; }
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s fill|fill-hostile|fill-big|receive|session SERVER_DIR [COUNT]\n", argv[0]);
        return 2;
    }
    const QByteArray mode = argv[1];
    test::DovecotBox box(QString::fromLocal8Bit(argv[2]), QStringLiteral("bench"));

    if (mode == "fill-hostile") {
        // The three hostile shapes and an ordinary mail, as a user would meet them.
        box.clear();
        for (const test::HostileShape &shape : test::hostileShapes())
            box.put(shape.make(1));
        box.put(test::ordinaryMail(1));
        std::printf("filled 3 hostile messages and an ordinary one\n");
        return 0;
    }
    if (mode == "fill-big") {
        // One message of 32 MiB: a short text and a base64 attachment.
        box.clear();
        const qint64 target = 32LL * 1024 * 1024 - 4096;
        QByteArray m = "From: big@example.jp\r\nSubject: big\r\nDate: Tue, 8 Dec 2026 10:00:00 +0900\r\n"
                       "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                       "Content-Type: text/plain\r\n\r\nbig\r\n--b\r\nContent-Type: application/octet-stream\r\n"
                       "Content-Disposition: attachment; filename=big.bin\r\nContent-Transfer-Encoding: base64\r\n\r\n";
        QByteArray line(76, 'A');
        line += "\r\n";
        m.reserve(target + 100);
        while (m.size() < target)
            m += line;
        m += "--b--\r\n";
        box.put(m);
        std::printf("filled 1 message of %.1f MiB\n", m.size() / 1048576.0);
        return 0;
    }
    if (mode == "fill") {
        const int count = argc > 3 ? std::atoi(argv[3]) : 1000;
        box.clear();
        qint64 bytes = 0;
        for (int n = 1; n <= count; ++n) {
            const QByteArray m = benchMail(n);
            bytes += m.size();
            box.put(m);
        }
        std::printf("filled %d messages, %.1f MB\n", count, bytes / 1048576.0);
        return 0;
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    // The application folder: a fresh temporary one, or the empty folder
    // KESTRA_BENCH_FOLDER names (receive_bench.sh removes those after its last
    // round: files deleted just before a round would slow the creation of the
    // next round's files, the file system passing over recently freed entries).
    QTemporaryDir temporary;
    const QString given = qEnvironmentVariable("KESTRA_BENCH_FOLDER");
    appState().appFolder = given.isEmpty() ? temporary.path() : given;
    if (const Status made = appPaths().ensureFolders(); !made) {
        std::fprintf(stderr, "%s\n", qPrintable(made.error().message()));
        return 1;
    }
    NetworkLimits limits;
    limits.pop3.extraCaCertificates = QSslCertificate::fromPath(box.caFile(), QSsl::Pem);
    installMailPorts(networkMailPorts(limits));
    QuietPrompt quiet;
    setPrompt(&quiet);
    const int waiting = box.count();

    long baseline = 0;
    QElapsedTimer timer;
    if (mode == "receive") {
        appState().settings.pop3Server = box.plainServer();
        if (!writeIdPass(appPaths().idPassIni(), IdPass{box.user(), box.password()}, true))
            return 1;
        MainForm main;
        baseline = peakKiB();
        const double cpuBefore = cpuSeconds();
        timer.start();
        ReceiveMail(main);
        const qint64 ms = timer.elapsed();
        const qint64 stored = QFileInfo(appPaths().dataFile(QString::fromUtf16(stores::received.fileName))).size()
                              / MailRecord::kLength;
        std::printf("kestra receive: %d waiting, %lld stored, %.3f s, cpu %.3f s, peak RSS %ld KiB (%ld KiB before the run)\n",
                    waiting, stored, ms / 1000.0, cpuSeconds() - cpuBefore, peakKiB(), baseline);
        return stored == waiting && quiet.shown == 0 ? 0 : 1;
    }
    if (mode == "session") {
        baseline = peakKiB();
        const double cpuBefore = cpuSeconds();
        timer.start();
        const std::unique_ptr<MailboxSession> session = mailPorts().mailbox(MailOptions(), nullptr);
        if (!session->open({box.plainServer(), box.user(), box.password(), false, qint64(32) * 1024 * 1024}))
            return 1;
        const Result<int> count = session->login();
        if (!count || !session->list(false))
            return 1;
        const QString attach = appPaths().attachFolder() + u'/';
        mime::AttachmentWrites writes;
        for (int n = 1; n <= count.value(); ++n) {
            const Result<RawMessage> fetched = session->fetch(n);
            if (!fetched)
                return 1;
            (void)mime::expandMessage(fetched.value(), attach, qint64(32) * 1024 * 1024, &writes);
            (void)session->remove(n);
        }
        (void)session->close();
        const qint64 ms = timer.elapsed();
        std::printf("kestra session: %d waiting, %d fetched, %.3f s, cpu %.3f s, peak RSS %ld KiB (%ld KiB before the run)\n",
                    waiting, count.value(), ms / 1000.0, cpuSeconds() - cpuBefore, peakKiB(), baseline);
        return count.value() == waiting ? 0 : 1;
    }
    std::fprintf(stderr, "unknown mode %s\n", mode.constData());
    return 2;
}
