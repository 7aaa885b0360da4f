// The program's own receiving and deletion code in a process of its own, so
// that crash_test.py can kill it with SIGKILL at any instant and start it again.
//
//   crash_driver receive FOLDER SERVER USER PASSWORD CAFILE
//       receives every waiting message into FOLDER's received store through
//       the main window's receive step and the real POP3 session
//   crash_driver receive-keep FOLDER SERVER USER PASSWORD CAFILE
//       the same with the mail left on the server: only messages no earlier
//       run fetched are received
//   crash_driver receive-imap FOLDER SERVER USER PASSWORD CAFILE
//       the same over IMAP (STARTTLS), as the server settings window sets it up
//   crash_driver delete FOLDER ROW
//       deletes row ROW (from 0) of the received store through the history
//       window's delete button (mark, then compaction)
//   crash_driver path FOLDER
//       prints the path of the received store
//   crash_driver check FOLDER [tail-ok]
//       checks that the received store is whole and prints one line per
//       record: its live flag, a tab, its subject, a tab and the path of its
//       kept original (empty when it has none); with tail-ok a torn
//       last record (a kill in the middle of writing it) is reported on
//       standard error and the whole records before it are checked
//
// "start" on standard output marks the moment the work begins.
// Exit status: 0 done, 1 bad arguments, 2 a message box was shown (printed on
// standard error), 3 the store is not whole.
#include "app/MainForm.h"
#include "app/ReceiveMail.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/UserPrompt.h"
#include "history/HistoryListBox.h"
#include "history/TyakuForm.h"
#include "app/NetworkMailPorts.h"
#include "settings/MailOptionsInForce.h"
#include "storage/Originals.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "storage/Settings.h"
#include "support/FindControl.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

using namespace kestra;
using kestra::test::findControl;

namespace {

// Answers every box with Yes / Ok and remembers that one was shown.
class AnsweringPrompt final : public UserPrompt
{
public:
    int shown = 0;
    PromptAnswer message(const QString &text, const QString &title, PromptIcon, PromptButtons buttons,
                         PromptDefault) override
    {
        ++shown;
        std::fprintf(stderr, "box: %s: %s\n", qPrintable(title), qPrintable(text));
        return buttons == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    QString saveFileName(const QString &, const QString &, const QString &) override { return {}; }
};

QString receivedStore()
{
    return appPaths().dataFile(QString::fromUtf16(stores::received.fileName));
}

// Tells the harness that start-up is over and the work begins, so that its
// kills land in the work rather than in the loading of the program.
void announceStart()
{
    std::printf("start\n");
    std::fflush(stdout);
}

int check(bool tailAllowed)
{
    const QString path = receivedStore();
    const qint64 size = QFileInfo(path).size();
    if (tailAllowed && size % MailRecord::kLength != 0) {
        std::fprintf(stderr, "torn tail of %lld bytes\n", static_cast<long long>(size % MailRecord::kLength));
    } else if (size % MailRecord::kLength != 0) {
        std::fprintf(stderr, "store size %lld is not a multiple of %d\n", static_cast<long long>(size),
                     MailRecord::kLength);
        return 3;
    }
    QFile file(path);
    if (size > 0 && !file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot open the store\n");
        return 3;
    }
    QTextStream out(stdout);
    out.setEncoding(QStringConverter::Utf8);
    for (qint64 n = 0; n < size / MailRecord::kLength; ++n) {
        const QByteArray bytes = file.read(MailRecord::kLength);
        if (bytes.size() != MailRecord::kLength) {
            std::fprintf(stderr, "record %lld cannot be read\n", static_cast<long long>(n + 1));
            return 3;
        }
        const MailRecord r = MailRecord::decode(bytes);
        // A record reads back as it was written: encoding what was decoded
        // gives the same bytes.
        if (r.encode() != bytes) {
            std::fprintf(stderr, "record %lld does not read back whole\n", static_cast<long long>(n + 1));
            return 3;
        }
        QString subject = r.Subject;
        while (subject.endsWith(u' '))
            subject.chop(1);
        out << r.Live << '\t' << subject << '\t' << originals::originalFor(originals::folderIn(appPaths().dataFolder()), bytes) << '\n';
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 1;
    const QString mode = args.at(1);
    appState().appFolder = args.at(2);
    if (const Status made = appPaths().ensureFolders(); !made) {
        std::fprintf(stderr, "%s\n", qPrintable(made.error().message()));
        return 1;
    }
    AnsweringPrompt answers;
    setPrompt(&answers);

    if (mode == u"check")
        return check(args.size() > 3 && args.at(3) == u"tail-ok");
    if (mode == u"path") {
        std::printf("%s\n", qPrintable(receivedStore()));
        return 0;
    }

    if ((mode == u"receive" || mode == u"receive-keep" || mode == u"receive-imap") && args.size() == 7) {
        if (!writeIdPass(appPaths().idPassIni(), IdPass{args.at(4), args.at(5)}, true))
            return 1;
        ReceiveOptions options;
        options.leaveOnServer = mode == u"receive-keep";
        if (!writeReceiveOptions(appPaths().extraIni(), options))
            return 1;
        NetworkLimits limits;
        limits.pop3.connectTimeoutMs = limits.pop3.readTimeoutMs = 10000;
        limits.pop3.extraCaCertificates = QSslCertificate::fromPath(args.at(6), QSsl::Pem);
        limits.imap.connectTimeoutMs = limits.imap.readTimeoutMs = 10000;
        limits.imap.extraCaCertificates = limits.pop3.extraCaCertificates;
        installMailPorts(networkMailPorts(limits));
        if (mode == u"receive-imap") {
            ServerConnection imap;
            imap.receiving = true;
            imap.server = args.at(3);
            imap.security = Security::StartTls;
            if (!writeServerConnection(appPaths().extraIni(), MailProtocol::Imap, imap))
                return 1;
        } else {
            appState().settings.pop3Server = args.at(3);
        }
        MainForm main;
        announceStart();
        ReceiveMail(main);
        installMailPorts({});
        return answers.shown == 0 ? 0 : 2;
    }

    if (mode == u"delete" && args.size() == 4) {
        openHistoryWindow(1); // as the main window's history button does
        TyakuForm *history = form<TyakuForm>();
        const int row = args.at(3).toInt();
        if (row < 0 || row >= findControl<HistoryListBox>(history, "List1")->count())
            return 1;
        findControl<HistoryListBox>(history, "List1")->item(row)->setSelected(true);
        announceStart();
        history->Command1_Click();
        // The confirmation is the one box expected.
        return answers.shown == 1 ? 0 : 2;
    }
    return 1;
}
