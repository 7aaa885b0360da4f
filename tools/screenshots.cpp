// Renders the main, compose, history and address book windows with sample data
// into PNG files for the README: screenshots <output folder>. The README's
// pictures are taken on a virtual display:
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/tools/screenshots docs
#include "app/MainForm.h"
#include "app/Startup.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "compose/WriteForm.h"
#include "addressbook/FriendForm.h"
#include "history/SearchForm.h"
#include "history/TyakuForm.h"
#include "web/MailHtmlView.h"
#include "reader/OriginalForm.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"

#include "storage/Originals.h"
#include "support/FindControl.h"
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>

using namespace kestra;
using kestra::test::findControl;

namespace {

void writeSamples()
{
    const AppPaths paths = appPaths();
    QByteArray received;
    const struct {
        const char16_t *subject, *from, *date, *body;
    } mails[] = {
        {u"週末の打ち合わせについて", u"tanaka@example.jp", u"Mon, 7 Dec 2026 09:12:00 +0900",
         u"田中です。\r\n土曜日の打ち合わせは十時からでお願いします。\r\n資料は当日お持ちします。"},
        {u"【お知らせ】年末年始の営業について", u"info@shop.example.jp", u"Mon, 7 Dec 2026 13:40:00 +0900",
         u"いつもご利用ありがとうございます。\r\n年末年始は12月29日から1月3日までお休みをいただきます。"},
        {u"Re: 写真を送ります", u"hanako@example.jp", u"Tue, 8 Dec 2026 08:05:00 +0900",
         u"写真ありがとう！\r\nとてもよく撮れていますね。"},
    };
    for (const auto &m : mails) {
        MailRecord r;
        r.Subject = QString::fromUtf16(m.subject);
        r.Header2 = QString::fromUtf16(m.from);
        r.Header3 = QString::fromUtf16(m.date);
        r.Body = QString::fromUtf16(m.body);
        received += r.encode();
    }
    // The newsletter also has its original kept, for the original view.
    MailRecord news;
    news.Subject = QStringLiteral("【ニュース】冬のセールのご案内");
    news.Header2 = QStringLiteral("news@shop.example.jp");
    news.Header3 = QStringLiteral("Tue, 8 Dec 2026 09:30:00 +0900");
    news.Body = QStringLiteral("冬のセールのご案内\r\n12月10日から始まります。");
    received += news.encode();
    (void)originals::writeOriginal(originals::folderIn(appPaths().dataFolder()), news.encode(), "From: =?UTF-8?B?44K344On44OD44OX?= <news@shop.example.jp>\r\nTo: me@example.jp\r\n"
                  "Date: Tue, 8 Dec 2026 09:30:00 +0900\r\nSubject: =?UTF-8?B?"
                  + QStringLiteral("【ニュース】冬のセールのご案内").toUtf8().toBase64()
                  + "?=\r\nMessage-ID: <news-1208@shop.example.jp>\r\nMIME-Version: 1.0\r\n"
                    "Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\n"
                    "Content-Type: text/html; charset=utf-8\r\n\r\n"
                  + QStringLiteral("<html><body style=\"font-family:sans-serif\"><h2 style=\"color:#c0392b\">冬のセールのご案内</h2>"
                                   "<p>いつもご利用ありがとうございます。<b>12月10日</b>から冬のセールを始めます。</p>"
                                   "<p><img src=\"https://shop.example.jp/banner.png\" alt=\"(外部の画像)\" width=\"300\" height=\"60\"></p>"
                                   "<ul><li>コート 30% 引き</li><li>手袋 20% 引き</li></ul>"
                                   "<p><a href=\"https://shop.example.jp/sale\">セール会場へ</a></p></body></html>")
                        .toUtf8()
                  + "\r\n--x\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"catalog.pdf\"\r\n"
                    "Content-Transfer-Encoding: base64\r\n\r\n"
                  + QByteArray("%PDF-1.4 sample").toBase64() + "\r\n--x--\r\n");
    QFile f(paths.dataFile(QString::fromUtf16(names::receivedStore)));
    if (f.open(QIODevice::WriteOnly))
        f.write(received);
    f.close();

    QByteArray book;
    const QPair<const char16_t *, const char16_t *> people[] = {
        {u"田中　一郎", u"tanaka@example.jp"}, {u"山田　花子", u"hanako@example.jp"}, {u"鈴木商店", u"info@shop.example.jp"}};
    for (const auto &p : people) {
        AddressRecord r;
        r.Name = QString::fromUtf16(p.first) + QString(30 - int(QString::fromUtf16(p.first).size()), QChar(0x3000));
        r.Address = QString::fromUtf16(p.second);
        book += r.encode();
    }
    QFile b(paths.dataFile(QString::fromUtf16(names::addressBook)));
    if (b.open(QIODevice::WriteOnly))
        b.write(book);
    QFile ini(paths.kestraIni());
    if (ini.open(QIODevice::WriteOnly))
        ini.write("SMTP=smtp.example.jp\r\nPOP3=pop3s://pop.example.jp\r\nMAIL=me@example.jp\r\nAPOP=0\r\n");
}

void save(QWidget *w, const QString &folder, const char *name)
{
    w->grab().save(folder + QLatin1Char('/') + QLatin1String(name));
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    const RenderingChoice rendering = chooseRendering();
    QApplication app(argc, argv);
    settleRendering(rendering);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    installJapaneseTranslations(app);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    QTemporaryDir folder;
    appState().appFolder = folder.path();
    (void)appPaths().ensureFolders();
    writeSamples();

    auto *main = new MainForm;
    main->Form_Load();
    QTimer::singleShot(500, [&] {
        save(main, out, "main-window.png");
        WriteForm *compose = form<WriteForm>();
        compose->show();
        compose->Command4_Click(); // wide, with the address panel
        save(compose, out, "compose-window.png");
        openHistoryWindow(1);
        TyakuForm *history = loadedForm<TyakuForm>();
        history->resize(760, 560);
        save(history, out, "history-window.png");
        FriendForm *book = form<FriendForm>();
        book->show();
        save(book, out, "address-book.png");
        openSearchWindow();
        SearchForm *search = loadedForm<SearchForm>();
        search->resize(760, 300);
        findControl<QLineEdit>(search, "Text1")->setText(QStringLiteral("example.jp"));
        QElapsedTimer searching;
        searching.start();
        while (!findControl<QLabel>(search, "Label1")->text().endsWith(QStringLiteral("件"))
            && searching.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        save(search, out, "search-window.png");
        openOriginalWindow(1, 4);
        OriginalForm *original = loadedForm<OriginalForm>();
        original->resize(760, 640);
        QEventLoop loading;
        QObject::connect(findControl<MailHtmlView>(original, "Web1"), &QWebEngineView::loadFinished, &loading,
            &QEventLoop::quit);
        QTimer::singleShot(10000, &loading, &QEventLoop::quit);
        loading.exec();
        QElapsedTimer painting;
        painting.start();
        while (painting.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        save(original, out, "original-view.png");
        QApplication::quit();
    });
    return QApplication::exec();
}
