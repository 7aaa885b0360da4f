// Bulk send from the compose window to an address book through an SMTP server:
// prints the time of the whole run. Started by smtp_bulk_bench.py, which runs
// the test server and the plain smtplib comparison.
//
//   smtp_bulk_bench SERVER CA_FILE USER PASSWORD COUNT

#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/UserPrompt.h"
#include "compose/WriteForm.h"
#include "settings/MailOptionsInForce.h"
#include "smtp/SmtpSender.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "support/FindControl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>

#include <cstdio>

using namespace kestra;
using kestra::test::findControl;

namespace {

// Message boxes are printed, never shown: a failure must not stop the run.
// The question before a bulk send is answered Yes, as the user does.
class PrintingPrompt final : public UserPrompt
{
public:
    int shown = 0;
    PromptAnswer message(const QString &text, const QString &title, PromptIcon, PromptButtons buttons, PromptDefault) override
    {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(title), qPrintable(text));
        if (buttons == PromptButtons::YesNo)
            return PromptAnswer::Yes;
        ++shown;
        return PromptAnswer::Ok;
    }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    QString saveFileName(const QString &, const QString &, const QString &) override { return {}; }
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 6) {
        std::fprintf(stderr, "usage: smtp_bulk_bench SERVER CA_FILE USER PASSWORD COUNT\n");
        return 2;
    }
    const int count = args[5].toInt();
    if (count < 1) {
        std::fprintf(stderr, "smtp_bulk_bench: the count is at least 1\n");
        return 2;
    }

    QTemporaryDir dir;
    appState().appFolder = dir.path();
    if (const Status made = appPaths().ensureFolders(); !made) {
        std::fprintf(stderr, "%s\n", qPrintable(made.error().message()));
        return 1;
    }
    QByteArray book;
    for (int i = 1; i <= count; ++i) {
        AddressRecord r;
        r.Name = QStringLiteral("宛先 %1").arg(i);
        r.Address = QStringLiteral("bench-%1@example.test").arg(i, 3, 10, QLatin1Char('0'));
        book += r.encode();
    }
    QFile file(appPaths().dataFile(QString::fromUtf16(names::addressBook)));
    if (!file.open(QIODevice::WriteOnly) || file.write(book) != book.size())
        return 1;
    file.close();

    PrintingPrompt printing;
    setPrompt(&printing);
    // Real SMTP senders trusting the test server's authority, as the program builds them.
    const QString caFile = args[2];
    MailPorts ports;
    ports.sender = [caFile](const QString &server, const MailOptions &options) -> std::unique_ptr<MailSender> {
        return std::make_unique<SmtpSender>(
            SmtpSetup{server, options.smtp, options.memoryIni, options.smtpAccount, SmtpLimits(), caFile, nullptr});
    };
    installMailPorts(std::move(ports));
    SharedSettings &s = appState().settings;
    s.smtpServer = args[1];
    s.mailAddress = QStringLiteral("bench@example.test");
    s.pop3Id = args[3];
    s.pop3Password = args[4];
    appState().clockText = QStringLiteral("2026/12/08 02:00:00");

    WriteForm *w = form<WriteForm>();
    findControl<QLineEdit>(w, "SubjectText")->setText(QStringLiteral("一斉送信のお知らせ"));
    w->setBodyText(QStringLiteral(
        "皆様\r\n\r\nいつもお世話になっております。\r\n来週の定例会は会議室Ａで行います。\r\n"));
    w->Command4_Click();
    findControl<QRadioButton>(w, "Option2")->setChecked(true);
    w->Option2_Click();

    QElapsedTimer timer;
    timer.start();
    w->Command1_Click();
    const qint64 ms = timer.elapsed();

    int records = 0;
    (void)scanRecords(appPaths().dataFile(QString::fromUtf16(names::sentStore)), MailRecord::kLength,
        [&](qint64, const QByteArray &) {
            ++records;
            return true;
        });
    std::printf("kestra bulk send: %d mails, %d sent records, %d boxes, %.3f s\n", count, records,
        printing.shown, ms / 1000.0);
    setPrompt(nullptr);
    installMailPorts({});
    return records == count && printing.shown == 0 ? 0 : 1;
}
