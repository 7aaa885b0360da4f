// The program without its mail codec library (missing, not a library, a
// library without the entry point): a receive run leaves every message on the
// server and stores nothing, the original view says why it shows no text, and
// a mail fails to send before any connection is made; each says which file and
// why. Last, the library is loaded from its file the way the program loads it.
// This test does not link the library; KESTRA_MIME_LIBRARY points the loader.

#include "common/AppState.h"
#include "common/Paths.h"
#include "mime/MessageExpansion.h"
#include "mime/MimeCodec.h"
#include "reader/OriginalMessage.h"
#include "runs/ReceiveRun.h"
#include "smtp/MessageBuilder.h"
#include "smtp/SmtpSender.h"
#include "storage/Originals.h"
#include "support/FakeMailbox.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using namespace kestra;

namespace {

const QByteArray kMail = "From: =?UTF-8?B?" + QStringLiteral("山田").toUtf8().toBase64()
                         + "?= <yamada@example.jp>\r\nTo: me@example.jp\r\nSubject: test\r\n"
                           "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                           "--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n本文\r\n"
                           "--b\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>html</p>\r\n"
                           "--b\r\nContent-Type: application/octet-stream\r\n"
                           "Content-Disposition: attachment; filename=a.bin\r\n\r\nxyz\r\n--b--\r\n";

OutgoingMail outgoing()
{
    OutgoingMail mail;
    mail.from = QStringLiteral("me@example.jp");
    mail.to = QStringLiteral("you@example.jp");
    mail.subject = QStringLiteral("件名");
    mail.body = QStringLiteral("本文");
    return mail;
}

} // namespace

class TestMimeFallback : public QObject
{
    Q_OBJECT

    QTemporaryDir m_files;

    void useLibrary(const QString &path) { qputenv("KESTRA_MIME_LIBRARY", QFile::encodeName(path)); }

    // The broken libraries, each with a piece of what the error must say
    // besides the file's name.
    void brokenLibraries()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << m_files.filePath(QStringLiteral("missing/libkestra_mimecodec.so"))
                                 << QStringLiteral("No such file");
        QFile junk(m_files.filePath(QStringLiteral("junk.so")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray("not a library, but long enough to be read as an ELF header").repeated(8));
        junk.close();
        QTest::newRow("not a library") << junk.fileName() << QStringLiteral("ELF");
        // A real library without the entry point.
        QTest::newRow("no entry point") << QStringLiteral(KESTRA_OTHER_LIBRARY)
                                        << QStringLiteral(KESTRA_MIME_CODEC_ENTRY);
    }

private Q_SLOTS:
    void loaderNamesTheFileAndTheReason_data() { brokenLibraries(); }
    void loaderNamesTheFileAndTheReason()
    {
        QFETCH(QString, library);
        QFETCH(QString, reason);
        useLibrary(library);
        QString error;
        QVERIFY(!mime::mimeCodec(&error));
        QVERIFY2(error.contains(library) && error.contains(reason), qPrintable(error));
        // Asked again (another message, another thread): the same answer, no crash.
        QString again;
        const mime::MimeCodec *fromThread = nullptr;
        std::thread([&] { fromThread = mime::mimeCodec(&again); }).join();
        QVERIFY(!fromThread);
        QCOMPARE(again, error);
    }

    void receivingLeavesMailOnTheServer_data() { brokenLibraries(); }
    void receivingLeavesMailOnTheServer()
    {
        QFETCH(QString, library);
        useLibrary(library);
        test::TempAppFolder folder;
        FakeMailbox server;
        FakeMailbox::Message message;
        message.raw = kMail;
        server.mailbox = {message, message};
        ReceiveInputs in;
        in.server = QStringLiteral("pop.example.jp");
        in.id = QStringLiteral("user");
        in.password = QStringLiteral("secret");
        in.storePath = appPaths().dataFile(QStringLiteral("received.dat"));
        in.attachFolder = appPaths().attachFolder() + u'/';
        const ReceiveResult result = ReceiveRun(*server.session(), in).run();

        QCOMPARE(result.received, 0);
        QCOMPARE(result.stayed.size(), 2);
        // The reason is the library's, not an attachment's.
        for (const StayedMessage &stayed : result.stayed) {
            QVERIFY2(stayed.reason.contains(library), qPrintable(stayed.reason));
            QVERIFY2(!stayed.reason.contains(QStringLiteral("添付ファイル")), qPrintable(stayed.reason));
        }
        QCOMPARE(server.count(QStringLiteral("remove")), 0);
        QCOMPARE(server.mailbox.size(), 2);
        // Nothing kept of them: no record, no original, no attachment.
        QVERIFY(!QFile::exists(in.storePath) || QFileInfo(in.storePath).size() == 0);
        QVERIFY(QDir(originals::folderIn(appPaths().dataFolder())).entryList(QDir::Files).isEmpty());
        QVERIFY(QDir(appPaths().attachFolder()).entryList(QDir::Files).isEmpty());

        // The expansion alone: an error, never an empty mail.
        const Result<mime::ExpandedMail> expanded
            = mime::expandMessage(RawMessage(kMail), appPaths().attachFolder() + u'/', 1 << 20);
        QVERIFY(!expanded);
        QVERIFY(expanded.error().message().contains(library));
    }

    void originalViewSaysWhy_data() { brokenLibraries(); }
    void originalViewSaysWhy()
    {
        QFETCH(QString, library);
        useLibrary(library);
        const OriginalMessage original = readOriginal(kMail);
        QVERIFY2(original.text.startsWith(QStringLiteral("このメールは表示できません。")), qPrintable(original.text));
        QVERIFY(original.text.contains(library));
        QVERIFY(original.html.isEmpty());
        QVERIFY(original.attachments.isEmpty());
        // The header fields need no library.
        QCOMPARE(original.from, QStringLiteral("山田 <yamada@example.jp>"));
        QCOMPARE(original.subject, QStringLiteral("test"));
        // The address of a list entry is read from the text.
        QCOMPARE(mime::summariseHeader(kMail).from, QStringLiteral("yamada@example.jp"));
        // An empty message is empty, library or not.
        QCOMPARE(mime::parseMessage(QByteArray()).text, QString());
    }

    void sendingFailsBeforeConnecting_data() { brokenLibraries(); }
    void sendingFailsBeforeConnecting()
    {
        QFETCH(QString, library);
        useLibrary(library);
        const Result<BuiltMessage> built = buildMessage(outgoing(), QDateTime::currentDateTime());
        QVERIFY(!built);
        QVERIFY2(built.error().message().contains(library), qPrintable(built.error().message()));

        QTcpServer smtp;
        QVERIFY(smtp.listen(QHostAddress::LocalHost));
        SmtpSetup setup;
        setup.server = QStringLiteral("127.0.0.1:%1").arg(smtp.serverPort());
        SmtpSender sender(std::move(setup));
        const Status sent = sender.send(outgoing());
        QVERIFY(!sent);
        QVERIFY(sent.error().message().contains(library));
        QVERIFY(!smtp.waitForNewConnection(200));
    }

    // Loaded from its file, as the program loads it, after the failures above.
    void libraryLoadsFromItsFile()
    {
        useLibrary(QStringLiteral(KESTRA_MIME_LIBRARY_FILE));
        QString error;
        QVERIFY2(mime::mimeCodec(&error), qPrintable(error));
        const OriginalMessage original = readOriginal(kMail);
        QCOMPARE(original.text, QStringLiteral("本文"));
        QCOMPARE(original.html, QStringLiteral("<p>html</p>"));
        QCOMPARE(original.attachments.size(), 1);
        QCOMPARE(original.attachments.first().data, QByteArray("xyz"));
        QCOMPARE(mime::bareAddress("group: a@example.jp, b@example.jp;"), QStringLiteral("a@example.jp"));
        const Result<BuiltMessage> built = buildMessage(outgoing(), QDateTime::currentDateTime());
        QVERIFY(built);
        QCOMPARE(built.value().recipients, QList<QByteArray>{"you@example.jp"});
        // Once loaded, a broken path named later changes nothing.
        useLibrary(m_files.filePath(QStringLiteral("missing/libkestra_mimecodec.so")));
        QVERIFY(mime::mimeCodec());
    }
};

QTEST_GUILESS_MAIN(TestMimeFallback)
#include "tst_mimefallback.moc"
