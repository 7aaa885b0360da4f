// Fetches every INBOX message over the program's IMAP mailbox, timed: log-in,
// listing, ranged UID FETCH of each message, \Seen marks and LOGOUT.
//
//   imap_bench HOST:PORT USER PASSWORD CAFILE
//
// Prints the messages fetched, the elapsed and CPU time and the megabytes.
// Run through imap_bench.sh, which times a plain imaplib script beside it.
#include "imap/ImapMailbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <ctime>

using namespace kestra;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s HOST:PORT USER PASSWORD CAFILE\n", argv[0]);
        return 2;
    }
    ImapMailboxSetup setup;
    setup.connection.security = Security::StartTls;
    setup.transport.extraCaCertificates = QSslCertificate::fromPath(QString::fromLocal8Bit(argv[4]), QSsl::Pem);
    ImapMailbox mailbox(setup);
    MailboxAccount account;
    account.server = QString::fromLocal8Bit(argv[1]);
    account.id = QString::fromLocal8Bit(argv[2]);
    account.password = QString::fromLocal8Bit(argv[3]);

    QElapsedTimer clock;
    clock.start();
    const std::clock_t cpu = std::clock();
    Status done = mailbox.open(account);
    const Result<int> count = done ? mailbox.login() : Result<int>(done.error());
    qint64 bytes = 0;
    int fetched = 0;
    for (int n = 1; count && n <= count.value(); ++n) {
        const Result<RawMessage> message = mailbox.fetch(n);
        if (!message) {
            done = message.error();
            break;
        }
        bytes += message.value().size();
        ++fetched;
    }
    if (done && count)
        done = mailbox.close();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (!done || !count) {
        std::fprintf(stderr, "%s\n", qPrintable((count ? done.error() : count.error()).message()));
        return 1;
    }
    std::printf("kestra imap:   %d waiting, %d fetched, %.3f s, cpu %.3f s (%.1f MB)\n", count.value(), fetched, seconds,
                double(std::clock() - cpu) / CLOCKS_PER_SEC, double(bytes) / 1048576.0);
    return fetched == count.value() && fetched > 0 ? 0 : 1;
}
