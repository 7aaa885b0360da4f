// Decoding of received mail: header words, charsets, parameters, whole test
// mails (also malformed ones), attachment file names and expansion, and the
// reassembly of split messages.
#include "mime/AttachmentFiles.h"
#include "mime/Charsets.h"
#include "mime/MimeMessage.h"
#include "mime/MessageExpansion.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace kestra;
using namespace kestra::mime;

namespace {

QByteArray readData(const QString &name)
{
    QFile f(QStringLiteral(KESTRA_MAIL_TESTDATA "/") + name);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing test mail %s", qPrintable(name));
    return f.readAll();
}

QByteArray b64word(const char *charset, const QByteArray &raw)
{
    return "=?" + QByteArray(charset) + "?B?" + raw.toBase64() + "?=";
}

// ISO-2022-JP bytes: ESC $ B <jis> ESC ( B
QByteArray jis(const QByteArray &codes)
{
    return "\x1b$B" + codes + "\x1b(B";
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// The path written, or the error's text (which then fails the comparison).
QString pathOrError(const Result<QString> &written)
{
    return written ? written.value() : written.error().message();
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Expands `raw` into `folder` as the receive run does. 1: attachments were
// written, 0: none, -6: a piece of a split message still waits for the rest,
// -5: an attachment could not be written; `text` says why for the last two.
int expand(const QByteArray &raw, const QString &folder, QString &body, QString *text = nullptr)
{
    const Result<ExpandedMail> expanded = expandMessage(RawMessage(raw), folder, 64 * 1024 * 1024);
    if (!expanded) {
        if (text)
            *text = expanded.error().message();
        return -5;
    }
    body = expanded.value().body;
    if (expanded.value().splitIncomplete) {
        if (text)
            *text = expanded.value().splitText;
        return -6;
    }
    return expanded.value().attachmentsWritten > 0 ? 1 : 0;
}

} // namespace

class TestMimeDecode : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void headerValues_data();
    void headerValues();
    void charsets_data();
    void charsets();
    void parameters_data();
    void parameters();
    void senderAddress_data();
    void senderAddress();
    void mailFiles_data();
    void mailFiles();
    void malformedMails();
    void longHeaderLine();
    void safeNames_data();
    void safeNames();
    void neverOverwritesNorLeavesFolder();
    void expandsAttachmentsSafely();
    void missingFolderGivesMinusFive();
    void reassemblesSplitMessage();
    void hostileShapesDecode_data();
    void hostileShapesDecode();
    void freeNameSearchGoesOnWhereItStopped();
    void aRunKeepsToTheFolderItResolved();
    void attachmentsBeyondTheCapAreLeftOut();
    void splitPiecesAreBounded();
};

void TestMimeDecode::headerValues_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("expected");

    // 会議①Ⅱ㈱: JIS 0x3271 0x355E, then row 13: 0x2D21 0x2D36 0x2D6A
    QTest::newRow("iso-2022-jp with windows extension characters")
        << b64word("ISO-2022-JP", jis("2q5D-!-6-j")) << u"会議①Ⅱ㈱"_qs;
    const QByteArray utf8 = QStringLiteral("日本語の件名").toUtf8();
    QTest::newRow("utf-8 character split across two words")
        << (b64word("UTF-8", utf8.left(4)) + "\r\n " + b64word("UTF-8", utf8.mid(4))) << u"日本語の件名"_qs;
    const QByteArray iso = jis("J,3d");
    QTest::newRow("iso-2022-jp split inside the escape run")
        << (b64word("ISO-2022-JP", iso.left(5)) + " " + b64word("iso-2022-jp", iso.mid(5))) << u"分割"_qs;
    QTest::newRow("q encoding with underscore")
        << QByteArray("=?utf-8?Q?=E3=81=8A_A?=") << u"お A"_qs;
    QTest::newRow("plain text around a word keeps its blanks")
        << (QByteArray("Re: ") + b64word("UTF-8", "件名") + " (2)") << u"Re: 件名 (2)"_qs;
    QTest::newRow("unlabelled shift_jis")
        << QByteArray("\x8c\xa9\x90\xcf\x8f\x91\x87\x40") << u"見積書①"_qs;
    QTest::newRow("unlabelled euc-jp")
        << QByteArray("\xc6\xfc\xcb\xdc\xb8\xec") << u"日本語"_qs;
    QTest::newRow("unlabelled utf-8") << QStringLiteral("こんにちは").toUtf8() << u"こんにちは"_qs;
    QTest::newRow("two charsets in a row")
        << (b64word("UTF-8", "あ") + " " + b64word("ISO-2022-JP", jis("$$"))) << u"あい"_qs;
    QTest::newRow("unterminated word stays as it is") << QByteArray("=?utf-8?B?abc") << u"=?utf-8?B?abc"_qs;
    QTest::newRow("iso-2022-jp word holding utf-8")
        << (b64word("ISO-2022-JP", QStringLiteral("配信不能").toUtf8()) + " ("
            + b64word("iso-2022-jp", jis("$\"")) + ")")
        << u"配信不能 (あ)"_qs;
    QTest::newRow("unknown charset is guessed")
        << b64word("x-nonsense", QStringLiteral("東京").toUtf8()) << u"東京"_qs;
    QTest::newRow("folded plain value") << QByteArray(" hello\r\n world") << u"hello world"_qs;
}

void TestMimeDecode::headerValues()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, expected);
    QCOMPARE(decodeHeaderValue(raw), expected);
}

void TestMimeDecode::charsets_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("charset");
    QTest::addColumn<QString>("expected");

    QTest::newRow("iso-2022-jp roman numerals and wave dash")
        << jis("-5-6!A") << QByteArray("ISO-2022-JP") << u"ⅠⅡ～"_qs;
    QTest::newRow("iso-2022-jp half-width katakana")
        << QByteArray("a\x1b(I1\x1b(Bb") << QByteArray("iso-2022-jp") << u"aｱb"_qs;
    QTest::newRow("iso-2022-jp IBM extension row 92")
        << jis("|q") << QByteArray("iso-2022-jp") << u"ⅰ"_qs;
    QTest::newRow("euc-jp row 13") << QByteArray("\xad\xa1\xad\xe2") << QByteArray("EUC-JP") << u"①№"_qs;
    QTest::newRow("euc-jp half-width kana") << QByteArray("\x8e\xb1") << QByteArray("euc-jp") << u"ｱ"_qs;
    QTest::newRow("windows-31j label") << QByteArray("\x87\x54") << QByteArray("Windows-31J") << u"Ⅰ"_qs;
    QTest::newRow("shift_jis label reads cp932") << QByteArray("\x81\x60") << QByteArray("shift_jis") << u"～"_qs;
    QTest::newRow("quoted label") << QByteArray("\x82\xa0") << QByteArray("\"Shift_JIS\"") << u"あ"_qs;
    QTest::newRow("iconv charset") << QByteArray("\xa4") << QByteArray("iso-8859-15") << u"€"_qs;
    QTest::newRow("invalid utf-8 becomes replacement")
        << QByteArray("a\xff" "b") << QByteArray("utf-8") << u"a\uFFFDb"_qs;
    QTest::newRow("nul dropped") << QByteArray("a\0b", 3) << QByteArray("utf-8") << u"ab"_qs;

    // Labels the bytes belie: the bytes are sniffed.
    const QString bounce = u"送信先のメールアドレスが見つかりません"_qs;
    QTest::newRow("iso-2022-jp label on utf-8 bytes")
        << bounce.toUtf8() << QByteArray("ISO-2022-JP") << bounce;
    QTest::newRow("euc-jp label on utf-8 bytes") << bounce.toUtf8() << QByteArray("euc-jp") << bounce;
    QTest::newRow("no label on utf-8 bytes") << bounce.toUtf8() << QByteArray() << bounce;
    QTest::newRow("no label on euc-jp bytes")
        << QByteArray("\xc6\xfc\xcb\xdc\xb8\xec") << QByteArray() << u"日本語"_qs;
    QTest::newRow("us-ascii label on cp932 bytes")
        << QByteArray("\x8c\xa9\x90\xcf\x8f\x91\x87\x40") << QByteArray("us-ascii") << u"見積書①"_qs;
    QTest::newRow("utf-8 label on shift_jis bytes")
        << QByteArray("\x82\xa0\x82\xa2") << QByteArray("UTF-8") << u"あい"_qs;
    QTest::newRow("utf-8 label on iso-2022-jp bytes") << jis("$\"") << QByteArray("utf-8") << u"あ"_qs;

    // Labels the bytes fit are kept, even where another charset would read them too.
    QTest::newRow("iso-2022-jp label on jis bytes stays jis")
        << (jis("$\"") + "\x82\xa2") << QByteArray("iso-2022-jp") << u"あい"_qs;
    QTest::newRow("utf-8 label on utf-8 bytes that are also euc-jp")
        << QByteArray("\xc3\xa9") << QByteArray("utf-8") << u"é"_qs;
    QTest::newRow("euc-jp label on euc-jp bytes that are also utf-8")
        << QByteArray("\xc3\xa9") << QByteArray("euc-jp") << u"辿"_qs;
    QTest::newRow("shift_jis label on half-width katakana that are also euc-jp")
        << QByteArray("\xb1\xb2") << QByteArray("shift_jis") << u"ｱｲ"_qs;
    QTest::newRow("no label on the same bytes reads euc-jp")
        << QByteArray("\xb1\xb2") << QByteArray() << u"渦"_qs;
}

void TestMimeDecode::charsets()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, charset);
    QFETCH(QString, expected);
    QCOMPARE(decodeText(bytes, charset), expected);
}

void TestMimeDecode::parameters_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("rfc 2231 with charset")
        << QByteArray("attachment; filename*=UTF-8''%E5%A0%B1%E5%91%8A.txt") << QByteArray("filename")
        << u"報告.txt"_qs;
    QTest::newRow("rfc 2231 continuations, mixed")
        << QByteArray("attachment;\r\n filename*0*=UTF-8'ja'%E5%A0;\r\n filename*1*=%B1%E5%91%8A;\r\n filename*2=\".txt\"")
        << QByteArray("filename") << u"報告.txt"_qs;
    QTest::newRow("rfc 2231 continuations out of order")
        << QByteArray("attachment; filename*1=\"b.txt\"; filename*0=\"a\"") << QByteArray("filename") << u"ab.txt"_qs;
    QTest::newRow("rfc 2231 iso-2022-jp")
        << QByteArray("attachment; filename*=iso-2022-jp''%1B%24B%3CL%3F%3F%1B%28B.jpg") << QByteArray("filename")
        << u"写真.jpg"_qs;
    QTest::newRow("rfc 2047 inside quotes")
        << (QByteArray("image/png; name=\"") + b64word("ISO-2022-JP", jis("<L??")) + ".png\"") << QByteArray("name")
        << u"写真.png"_qs;
    QTest::newRow("quoted value with semicolon and escape")
        << QByteArray("attachment; filename=\"a;b\\\"c.txt\"; size=3") << QByteArray("filename") << u"a;b\"c.txt"_qs;
    QTest::newRow("unlabelled shift_jis name")
        << QByteArray("attachment; filename=\"\x8e\xca\x90\x5e.jpg\"") << QByteArray("filename") << u"写真.jpg"_qs;
    QTest::newRow("charset token") << QByteArray("text/plain; charset=ISO-2022-JP") << QByteArray("charset")
                                   << u"ISO-2022-JP"_qs;
}

void TestMimeDecode::parameters()
{
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, name);
    QFETCH(QString, expected);
    QCOMPARE(headerParameters(raw).value(name), expected);
}

void TestMimeDecode::senderAddress_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("expected");
    QTest::newRow("name and address") << QByteArray(" Taro <taro@example.jp>") << u"taro@example.jp"_qs;
    QTest::newRow("quoted name with comma and bracket")
        << QByteArray(" \"Yamada, <T>\" <yamada@example.jp>") << u"yamada@example.jp"_qs;
    QTest::newRow("encoded name") << (" " + b64word("UTF-8", "山田") + " <y@example.jp>") << u"y@example.jp"_qs;
    QTest::newRow("bare address with comment") << QByteArray(" x@example.jp (X)") << u"x@example.jp"_qs;
    QTest::newRow("8-bit name") << QByteArray(" \x8e\x52\x93\x63 <s@example.jp>") << u"s@example.jp"_qs;
    QTest::newRow("group") << QByteArray(" team: a@example.jp, b@example.jp;") << u"a@example.jp"_qs;
}

void TestMimeDecode::senderAddress()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, expected);
    QCOMPARE(bareAddress(raw), expected);
}

void TestMimeDecode::mailFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("attachments");

    QTest::newRow("iso-2022-jp") << "iso2022jp_ext.eml" << u"会議①Ⅱ㈱のご案内"_qs << "taro@example.jp"
                                 << "Mon, 7 Dec 2026 10:15:00 +0900"
                                 << u"お世話になります。\r\n議題は①予算、②日程、Ⅲ部の件です。\r\n株式会社は㈱と書きます～\r\n"_qs
                                 << 0;
    QTest::newRow("split words") << "split_words.eml" << u"日本語の件名"_qs << "s@example.jp"
                                 << "Tue, 8 Dec 2026 09:00:00 +0900" << u"plain body\r\n"_qs << 0;
    QTest::newRow("shift_jis") << "sjis_unlabelled.eml" << u"見積書①の送付"_qs << "suzuki@example.jp"
                               << "Wed, 9 Dec 2026 12:00:00 +0900"
                               << u"見積書をお送りします。②番の項目をご確認ください～\r\n"_qs << 0;
    QTest::newRow("euc-jp") << "eucjp.eml" << u"日本語のテスト"_qs << "sato@example.jp"
                            << "Thu, 10 Dec 2026 08:30:00 +0900" << u"これはEUC-JPの本文です。\r\n"_qs << 0;
    QTest::newRow("utf-8 quoted-printable") << "utf8_qp.eml" << u"お知らせ No.1"_qs << "ichiro@example.jp"
                                            << "Fri, 11 Dec 2026 18:00:00 +0900"
                                            << u"こんにちは、世界。\r\n二行目です。\r\n"_qs << 0;
    QTest::newRow("multipart") << "multipart_attach.eml" << u"資料送付"_qs << "boss@example.jp"
                               << "Sat, 12 Dec 2026 07:00:00 +0900" << u"資料を添付します。"_qs << 5;
    QTest::newRow("html only") << "html_only.eml" << "HTML" << "news@example.jp"
                               << "Sun, 13 Dec 2026 10:00:00 +0900"
                               << u"こんにちは&ようこそ\r\n二行目 です①\r\n三行目"_qs << 0;
    QTest::newRow("alternative") << "alternative.eml" << "alt" << "shop@example.jp"
                                 << "Mon, 14 Dec 2026 10:00:00 +0900" << u"平文の本文"_qs << 0;
    QTest::newRow("utf-8 under iso-2022-jp labels") << "mislabelled_bounce.eml" << u"配信不能のお知らせ"_qs
                                                    << "postmaster@example.ne.jp" << "Tue, 15 Dec 2026 11:00:00 +0900"
                                                    << u"送信先のメールアドレスが見つかりません。\r\n元のメール"_qs << 0;
}

void TestMimeDecode::mailFiles()
{
    QFETCH(QString, file);
    QFETCH(QString, subject);
    QFETCH(QString, from);
    QFETCH(QString, date);
    QFETCH(QString, body);
    QFETCH(int, attachments);

    const QByteArray raw = readData(file);
    const HeaderSummary summary = summariseHeader(splitMessage(raw).header);
    QCOMPARE(summary.subject, subject);
    QCOMPARE(summary.from, from);
    QCOMPARE(summary.date, date);
    const MessageContent content = parseMessage(raw);
    QCOMPARE(content.text, body);
    QCOMPARE(content.attachments.size(), attachments);
}

void TestMimeDecode::malformedMails()
{
    // No closing boundary: the text and the part that was cut short are still there.
    MessageContent open = parseMessage(readData(QStringLiteral("missing_boundary.eml")));
    QVERIFY2(open.text.startsWith(u"閉じない本文"_qs), qPrintable(open.text));
    QCOMPARE(open.attachments.size(), 1);
    QCOMPARE(open.attachments[0].name, QStringLiteral("cut.bin"));
    QCOMPARE(open.attachments[0].data, QByteArray("\x00\x01\x02\x03\x04\x05", 6));

    // Broken base64: what can be decoded is shown, the garbage is not.
    MessageContent broken = parseMessage(readData(QStringLiteral("broken_base64.eml")));
    QVERIFY2(broken.text.startsWith(u"壊れた"_qs), qPrintable(broken.text));

    // NUL bytes never reach the texts, so nothing after them is cut off later.
    const QByteArray nul = readData(QStringLiteral("nul_bytes.eml"));
    QCOMPARE(summariseHeader(splitMessage(nul).header).subject, QStringLiteral("nulhere"));
    QCOMPARE(parseMessage(nul).text, QStringLiteral("beforeafter\r\nline two\r\n"));

    // No header at all, and nothing at all.
    QCOMPARE(parseMessage("\r\njust text\r\n").text, QStringLiteral("just text\r\n"));
    QCOMPARE(parseMessage(QByteArray()).text, QString());
    QCOMPARE(summariseHeader(QByteArray()).subject, QString());
}

void TestMimeDecode::longHeaderLine()
{
    QByteArray raw = "X-Junk: " + QByteArray(1024 * 1024, 'a') + "\r\n";
    raw += "Subject: " + QByteArray(1024 * 1024, 'b') + "\r\n";
    raw += "From: Long <long@example.jp>\r\n\r\nbody\r\n";
    const HeaderSummary summary = summariseHeader(splitMessage(raw).header);
    QCOMPARE(summary.subject.size(), 1024 * 1024);
    QCOMPARE(summary.from, QStringLiteral("long@example.jp"));
    QCOMPARE(parseMessage(raw).text, QStringLiteral("body\r\n"));

    // Expanded whole, the subject kept whole.
    QTemporaryDir dir;
    const Result<ExpandedMail> expanded = expandMessage(RawMessage(raw), dir.path() + u'/', 1 << 30);
    QVERIFY(expanded);
    QCOMPARE(expanded.value().subject.size(), 1024 * 1024);
    QCOMPARE(expanded.value().body, QStringLiteral("body\r\n"));
}

void TestMimeDecode::safeNames_data()
{
    QTest::addColumn<QString>("untrusted");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain japanese") << u"報告書.pdf"_qs << u"報告書.pdf"_qs;
    QTest::newRow("parent path") << "../../etc/passwd" << "_._etc_passwd";
    QTest::newRow("windows path") << "C:\\Windows\\win.ini" << "C__Windows_win.ini";
    QTest::newRow("only dots") << "..." << "attachment.dat";
    QTest::newRow("empty") << "" << "attachment.dat";
    QTest::newRow("only separators") << "///" << "attachment.dat";
    QTest::newRow("device name") << "CON.txt" << "_CON.txt";
    QTest::newRow("device name lower case") << "nul" << "_nul";
    QTest::newRow("com port") << "com1.log" << "_com1.log";
    QTest::newRow("not a device") << "console.txt" << "console.txt";
    QTest::newRow("control characters") << "a\x01" "b\nc\t.txt" << "abc.txt";
    QTest::newRow("direction override") << u"txt.\u202Eexe"_qs << "txt.exe";
    QTest::newRow("trailing dot and blank") << "name. " << "name";
    QTest::newRow("hidden file") << ".bashrc" << "bashrc";
    QTest::newRow("reserved characters") << "a*b?c\"d<e>f|g.txt" << "a_b_c_d_e_f_g.txt";
}

void TestMimeDecode::safeNames()
{
    QFETCH(QString, untrusted);
    QFETCH(QString, expected);
    QCOMPARE(safeFileName(untrusted), expected);
}

void TestMimeDecode::neverOverwritesNorLeavesFolder()
{
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("attach"));
    QVERIFY(QDir().mkpath(folder));
    const QString first = pathOrError(writeNewFile(folder, QStringLiteral("memo.txt"), "one"));
    const QString second = pathOrError(writeNewFile(folder, QStringLiteral("memo.txt"), "two"));
    const QString third = pathOrError(writeNewFile(folder, QStringLiteral("memo.txt"), "three"));
    QCOMPARE(QFileInfo(first).fileName(), QStringLiteral("memo.txt"));
    QCOMPARE(QFileInfo(second).fileName(), QStringLiteral("memo (2).txt"));
    QCOMPARE(QFileInfo(third).fileName(), QStringLiteral("memo (3).txt"));
    QCOMPARE(fileBytes(first), QByteArray("one"));

    // The folder may be one the user made, open to others: each file is the user's alone.
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                              | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    for (const QString &path : {first, second, third}) {
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0600));
    }

    // A symbolic link planted under the name is neither followed nor replaced.
    const QString outside = root.filePath(QStringLiteral("victim.txt"));
    QFile victim(outside);
    QVERIFY(victim.open(QIODevice::WriteOnly));
    victim.write("keep");
    victim.close();
    QVERIFY(QFile::link(outside, QDir(folder).filePath(QStringLiteral("photo.jpg"))));
    const QString written = pathOrError(writeNewFile(folder, QStringLiteral("photo.jpg"), "evil"));
    QCOMPARE(QFileInfo(written).fileName(), QStringLiteral("photo (2).jpg"));
    QCOMPARE(fileBytes(outside), QByteArray("keep"));

    // A very long name is cut, its extension kept.
    const QString longName = QString(300, QChar(u'あ')) + QStringLiteral(".pdf");
    const QString cut = pathOrError(writeNewFile(folder, longName, "x"));
    QVERIFY2(QFileInfo::exists(cut), qPrintable(cut));
    QVERIFY(QFileInfo(cut).fileName().endsWith(QStringLiteral(".pdf")));
    QVERIFY(QFileInfo(cut).fileName().toUtf8().size() <= 200);
}

void TestMimeDecode::expandsAttachmentsSafely()
{
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("attach"));
    QVERIFY(QDir().mkpath(folder));
    const QByteArray source = readData(QStringLiteral("multipart_attach.eml"));
    QString body;
    QCOMPARE(expand(source, folder + u'/', body), 1);
    QCOMPARE(body, u"資料を添付します。"_qs);
    QCOMPARE(filesIn(folder), (QStringList{QStringLiteral("_._evil.txt"), QStringLiteral("_CON.txt"),
                                           QStringLiteral("a_bc.bin"), u"写真１.png"_qs, u"報告書（最終版）.pdf"_qs}));
    QCOMPARE(fileBytes(QDir(folder).filePath(u"報告書（最終版）.pdf"_qs)), QByteArray("%PDF-1.4 fake document\n"));
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    QCOMPARE(fileBytes(QDir(folder).filePath(u"写真１.png"_qs)), all);
    // Nothing landed next to the folder.
    QCOMPARE(filesIn(root.path()), QStringList());

    // The same mail again: new names, the first files untouched.
    QCOMPARE(expand(source, folder + u'/', body), 1);
    QVERIFY(filesIn(folder).contains(u"報告書（最終版） (2).pdf"_qs));
    QCOMPARE(filesIn(folder).size(), 10);
}

void TestMimeDecode::missingFolderGivesMinusFive()
{
    QTemporaryDir root;
    QString body;
    QString text;
    QCOMPARE(expand(readData(QStringLiteral("multipart_attach.eml")), root.filePath(QStringLiteral("none/")), body, &text),
             -5);
    QVERIFY2(text.startsWith(u"添付ファイルを保存できません。"_qs), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("none")));
}

void TestMimeDecode::reassemblesSplitMessage()
{
    QTemporaryDir root;
    const QString folder = root.path() + u'/';
    const auto piece = [&](const char *file, QString &body) {
        return expand(readData(QString::fromLatin1(file)), folder, body);
    };
    QString body;
    QCOMPARE(piece("partial_3.eml", body), -6); // the last piece first: total now known
    QCOMPARE(piece("partial_1.eml", body), -6);
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("data.bin")));
    QCOMPARE(piece("partial_2.eml", body), 1);
    QCOMPARE(body, u"分割の本文"_qs);
    QByteArray expected;
    for (int r = 0; r < 4; ++r)
        for (int i = 0; i < 256; ++i)
            expected.append(char(i));
    QCOMPARE(fileBytes(folder + QStringLiteral("data.bin")), expected);
    // The kept pieces are gone once the message is whole.
    QCOMPARE(QDir(folder + QStringLiteral(".partial")).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
}

// The shapes that made the decoders quadratic still decode right: whatever
// surrounds them, the real words and references among them are found.
void TestMimeDecode::hostileShapesDecode_data()
{
    QTest::addColumn<QByteArray>("header");
    const QByteArray word = b64word("UTF-8", "件名");
    QTest::newRow("openers without closers") << QByteArray("=?a?B?AAAA").repeated(5000) + ' ' + word;
    QTest::newRow("word after broken words") << QByteArray("=?x?B?a b ").repeated(5000) + word;
    QTest::newRow("opener flood then word") << QByteArray("=?").repeated(20000) + ' ' + word;
}

void TestMimeDecode::hostileShapesDecode()
{
    QFETCH(QByteArray, header);
    const QString decoded = decodeHeaderValue(header);
    QVERIFY2(decoded.endsWith(u"件名"_qs), qPrintable(decoded.right(40)));
    // The junk before the word stays text, nothing of it is lost.
    QVERIFY(decoded.size() > header.size() / 2);

    // "&" without ";" nearby is text; a reference after a flood of them is still resolved.
    const QString html = QString(QStringLiteral("&amp &x")).repeated(20000) + QStringLiteral("&lt;end&gt;");
    const QString text = htmlToText(html);
    QVERIFY2(text.endsWith(QStringLiteral("<end>")), qPrintable(text.right(40)));
    QVERIFY(text.startsWith(QStringLiteral("&amp &x&amp")));
    // An address field of many comments keeps its address.
    QCOMPARE(bareAddress(QByteArray("a@b.jp ") + QByteArray("()").repeated(50000) + " ("), QStringLiteral("a@b.jp"));
}

void TestMimeDecode::freeNameSearchGoesOnWhereItStopped()
{
    QTemporaryDir root;
    const QString folder = root.path();
    AttachmentWrites writes;
    QStringList written;
    for (int i = 0; i < 4; ++i)
        written << QFileInfo(pathOrError(writeNewFile(folder, QStringLiteral("a.txt"), "x", &writes))).fileName();
    QCOMPARE(written, (QStringList{QStringLiteral("a.txt"), QStringLiteral("a (2).txt"), QStringLiteral("a (3).txt"),
                                   QStringLiteral("a (4).txt")}));
    // The search does not start again from the bottom: a gap below is left alone...
    QVERIFY(QFile::remove(QDir(folder).filePath(QStringLiteral("a (2).txt"))));
    QCOMPARE(QFileInfo(pathOrError(writeNewFile(folder, QStringLiteral("a.txt"), "y", &writes))).fileName(),
             QStringLiteral("a (5).txt"));
    // ...and a file that appeared above is still never overwritten.
    QFile planted(QDir(folder).filePath(QStringLiteral("a (6).txt")));
    QVERIFY(planted.open(QIODevice::WriteOnly));
    planted.write("keep");
    planted.close();
    QCOMPARE(QFileInfo(pathOrError(writeNewFile(folder, QStringLiteral("a.txt"), "z", &writes))).fileName(),
             QStringLiteral("a (7).txt"));
    QCOMPARE(fileBytes(planted.fileName()), QByteArray("keep"));
}

void TestMimeDecode::aRunKeepsToTheFolderItResolved()
{
    QTemporaryDir root;
    // The attachment folder may itself be a link to a folder elsewhere.
    const QString real = root.filePath(QStringLiteral("real"));
    const QString folder = root.filePath(QStringLiteral("attach"));
    QVERIFY(QDir().mkpath(real));
    QVERIFY(QFile::link(real, folder));
    AttachmentWrites writes;
    QCOMPARE(pathOrError(writeNewFile(folder, QStringLiteral("a.txt"), "one", &writes)),
             QDir(folder).filePath(QStringLiteral("a.txt")));
    QCOMPARE(fileBytes(QDir(real).filePath(QStringLiteral("a.txt"))), QByteArray("one"));

    // Pointed elsewhere while the run goes on: nothing is written there.
    const QString elsewhere = root.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(QFile::remove(folder));
    QVERIFY(QFile::link(elsewhere, folder));
    QVERIFY(!writeNewFile(folder, QStringLiteral("b.txt"), "two", &writes));
    QCOMPARE(filesIn(elsewhere), QStringList());

    // The next run looks the folder up afresh.
    AttachmentWrites next;
    QCOMPARE(fileBytes(pathOrError(writeNewFile(folder, QStringLiteral("b.txt"), "two", &next))), QByteArray("two"));
    QCOMPARE(filesIn(elsewhere), QStringList{QStringLiteral("b.txt")});
}

void TestMimeDecode::attachmentsBeyondTheCapAreLeftOut()
{
    QByteArray mail = "From: a@b.jp\r\nSubject: many\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\ntext\r\n";
    const int count = kMaxAttachments + 7;
    for (int i = 0; i < count; ++i)
        mail += "--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=same.bin\r\n\r\nx\r\n";
    mail += "--b--\r\n";
    QTemporaryDir root;
    QString body;
    QCOMPARE(expand(mail, root.path() + u'/', body), 1);
    QCOMPARE(filesIn(root.path()).size(), kMaxAttachments);
    QVERIFY(filesIn(root.path()).contains(QStringLiteral("same (500).bin")));
    QVERIFY2(body.startsWith(u"（添付ファイルが多すぎるため、最初の500個だけを添付フォルダに展開しました。残りの7個は展開していません。）\r\n"_qs),
             qPrintable(body));
    QVERIFY(body.endsWith(QStringLiteral("text")));
}

void TestMimeDecode::splitPiecesAreBounded()
{
    QTemporaryDir root;
    const QString folder = root.path() + u'/';
    QString text;
    const auto from = [&](QByteArray raw, const QByteArray &sender, QString &body) {
        raw.replace("From: Big <big@example.jp>\r\n", "From: " + sender + "\r\n");
        return expand(raw, folder, body, &text);
    };
    QString body;
    // Another sender cannot add to pieces someone else started.
    QCOMPARE(from(readData(QStringLiteral("partial_1.eml")), "big@example.jp", body), -6);
    QCOMPARE(from(readData(QStringLiteral("partial_3.eml")), "mallory@example.jp", body), -6);
    QVERIFY2(text.contains(QStringLiteral("mallory@example.jp")), qPrintable(text));
    QVERIFY2(!body.isEmpty(), "the refused piece's own text is still shown");
    QCOMPARE(from(readData(QStringLiteral("partial_2.eml")), "big@example.jp", body), -6); // still no total
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("data.bin")));

    // Pieces nobody completed within 30 days are gone at the next piece.
    const QDateTime old = QDateTime::currentDateTime().addDays(-31);
    QDirIterator pieces(folder + QStringLiteral(".partial"), {QStringLiteral("*.part")}, QDir::Files,
                        QDirIterator::Subdirectories);
    int aged = 0;
    while (pieces.hasNext()) {
        QFile piece(pieces.next());
        QVERIFY(piece.open(QIODevice::ReadWrite));
        QVERIFY(piece.setFileTime(old, QFileDevice::FileModificationTime));
        ++aged;
    }
    QCOMPARE(aged, 2);
    QCOMPARE(from(readData(QStringLiteral("partial_3.eml")), "big@example.jp", body), -6);
    QDirIterator left(folder + QStringLiteral(".partial"), {QStringLiteral("*.part")}, QDir::Files,
                      QDirIterator::Subdirectories);
    QStringList names;
    while (left.hasNext())
        names << QFileInfo(left.next()).fileName();
    QCOMPARE(names, QStringList{QStringLiteral("3.part")});

    // A piece number beyond what one message may have is refused.
    QByteArray far = readData(QStringLiteral("partial_2.eml"));
    far.replace("number=2", "number=" + QByteArray::number(PartialStore::kMaxPiecesPerId + 1));
    QCOMPARE(from(far, "big@example.jp", body), -6);
}

QTEST_GUILESS_MAIN(TestMimeDecode)
#include "tst_mimedecode.moc"
