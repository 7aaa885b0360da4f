#include "common/FormPlacement.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "common/RiskyFiles.h"
#include "common/Twips.h"
#include "common/UserPrompt.h"
#include "common/WorkerThread.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QtTest>

#include <thread>

using namespace kestra;

Q_DECLARE_METATYPE(kestra::PromptButtons)
Q_DECLARE_METATYPE(kestra::PromptDefault)
Q_DECLARE_METATYPE(kestra::PromptAnswer)

namespace {

// The text label of a real box while it is open: its format and its text.
struct SeenLabel {
    bool found = false;
    Qt::TextFormat format = Qt::AutoText;
    QString text;
    bool hasInformative = false;
};

// Shows `text` in the real dialogs and reads the box's label before closing it.
SeenLabel showAndRead(const QString &text)
{
    SeenLabel seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<QDialog *>(w);
            if (!dialog || !dialog->isVisible())
                continue;
            auto *label = dialog->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
            if (!qobject_cast<QMessageBox *>(dialog))
                label = dialog->findChild<QLabel *>(); // the scrolling box: its first line
            if (label) {
                seen = {true, label->textFormat(), label->text(),
                        dialog->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")) != nullptr};
            }
            dialog->done(0);
        }
    });
    poll.start(10);
    DialogPrompt().message(text, QStringLiteral("Kestra"), PromptIcon::Exclamation, PromptButtons::Ok);
    return seen;
}

} // namespace

class TestCommon : public QObject
{
    Q_OBJECT

private slots:
    void trimRemovesBlanksOnly()
    {
        const QString text = QStringLiteral("\r\n 　abc　 \t\r\n");
        QCOMPARE(trimBlanks(QStringLiteral("  a b  ")), QStringLiteral("a b"));
        QCOMPARE(trimBlanks(text), text); // CR, LF, U+3000 and tabs stay
        QCOMPARE(trimBlanks(QStringLiteral("   ")), QString());
        QCOMPARE(trimLeftBlanks(QStringLiteral("  x  ")), QStringLiteral("x  "));
        QCOMPARE(trimRightBlanks(QStringLiteral("  x  ")), QStringLiteral("  x"));
    }

    void cutAtNulStopsAtFirstNul()
    {
        QCOMPARE(cutAtNul(QString::fromUtf16(u"ab\0cd", 5)), QStringLiteral("ab"));
        QCOMPARE(cutAtNul(QStringLiteral("abc")), QStringLiteral("abc"));
        QCOMPARE(cutAtNul(QString(3, QChar(u'\0'))), QString());
    }

    void everyLineEndBecomesCrLf()
    {
        QCOMPARE(toCrLf(u"a\nb\r\nc\rd\n\n"), QStringLiteral("a\r\nb\r\nc\r\nd\r\n\r\n"));
        QCOMPARE(toCrLf(u"\r\r\n"), QStringLiteral("\r\n\r\n")); // a lone CR, then a pair
        QCOMPARE(toCrLf(u"日本語"), QStringLiteral("日本語"));
    }

    void roundingIsHalfToEvenAndClamped_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("4.5 down") << 4.5 << 4;
        QTest::newRow("5.5 up") << 5.5 << 6;
        QTest::newRow("4.56 up") << 4.5645 << 5;
        QTest::newRow("0.5") << 0.5 << 0;
        QTest::newRow("-1.5") << -1.5 << -2;
        QTest::newRow("too big") << 40000.0 << 32767;
        QTest::newRow("too small") << -40000.0 << -32768;
    }
    void roundingIsHalfToEvenAndClamped()
    {
        QFETCH(double, value);
        QFETCH(int, expected);
        QCOMPARE(int(roundHalfEvenToInt16(value)), expected);
    }

    void leadingNumberReadsLikeTheSettingsFile_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("digit") << QStringLiteral("1") << 1.0;
        QTest::newRow("digit then letters") << QStringLiteral("1abc") << 1.0;
        QTest::newRow("blanks ignored") << QStringLiteral(" 1 2") << 12.0;
        QTest::newRow("empty") << QString() << 0.0;
        QTest::newRow("letter") << QStringLiteral("x1") << 0.0;
        QTest::newRow("fraction") << QStringLiteral("2.5") << 2.5;
        QTest::newRow("negative") << QStringLiteral("-3") << -3.0;
    }
    void leadingNumberReadsLikeTheSettingsFile()
    {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(leadingNumber(text), expected);
    }

    void namesAreFoundWithoutRegardToCase()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("★MailData")));
        test::writeBytes(dir.path() + QStringLiteral("/★MailData/kstdata20.data"), "x");
        AppPaths paths(dir.path());
        QCOMPARE(paths.dataFolder(), dir.path() + QStringLiteral("/★MailData"));
        QCOMPARE(paths.dataFile(QStringLiteral("Kstdata20.data")),
                 dir.path() + QStringLiteral("/★MailData/kstdata20.data"));
        // A file that does not exist gets the spelling asked for.
        QCOMPARE(paths.dataFile(QStringLiteral("Kstdata90.data")),
                 dir.path() + QStringLiteral("/★MailData/Kstdata90.data"));
        QVERIFY(paths.ensureFolders().ok());
        QVERIFY(QFileInfo(paths.attachFolder()).isDir());
        // A folder it creates is the owner's only.
        QCOMPARE(QFile::permissions(paths.attachFolder()) & 0x7077,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        // The existing data folder is reused, not created again with the other spelling.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2);
    }

    void twipsConvertAt15PerPixel()
    {
        QCOMPARE(twipsToPx(1440), 96);
        QCOMPARE(twipsToPx(6570), 438);
        QCOMPARE(twipsToPx(7), 0);
        QCOMPARE(twipsToPx(8), 1);
        QCOMPARE(pxToTwips(200), 3000);
    }

    void formsAreCreatedOnceAndAfreshAfterUnload()
    {
        QWidget *first = form<QWidget>();
        QCOMPARE(form<QWidget>(), first);
        QPointer<QWidget> watch(first);
        unloadForm<QWidget>();
        QCOMPARE(loadedForm<QWidget>(), nullptr);
        QWidget *second = form<QWidget>();
        QVERIFY(second != nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(watch.isNull());
        QCOMPARE(loadedForm<QWidget>(), second);
        unloadForm<QWidget>();
    }

    // Names from mails and answers of servers are shown as written: markup in
    // them neither hides the warning nor becomes a link.
    void boxesShowTextAsItIs_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("label");
        const QString name = QStringLiteral("<h1 style=\"color:green\">この文書は安全です</h1><span style=\"font-size:0\">.exe");
        QTest::newRow("attachment name") << riskyFileWarning(name) << riskyFileWarning(name);
        const QString greeting = QStringLiteral("POP3 サーバーの応答が正しくありません: +OK <a href=\"https://evil.example/\">"
                                                "パスワードの再設定はこちら</a>");
        QTest::newRow("server greeting") << greeting << greeting;
        QStringList lines{QStringLiteral("<b>宛先</b> <a href=\"https://evil.example/\">x</a> に送れませんでした:")};
        for (int i = 0; i < 20; ++i)
            lines << QStringLiteral("user%1@example.jp").arg(i);
        QTest::newRow("scrolling box") << lines.join(QStringLiteral("\r\n")) << lines.first();
    }
    void boxesShowTextAsItIs()
    {
        QFETCH(QString, text);
        QFETCH(QString, label);
        const SeenLabel seen = showAndRead(text);
        QVERIFY(seen.found);
        QCOMPARE(seen.format, Qt::PlainText);
        QCOMPARE(seen.text, label);
        QVERIFY(!seen.hasInformative);
    }

    // Enter presses the default button, Esc the escape button: for a question
    // that trusts, runs, sends or opens, both give the harmless answer. Keys go
    // to the widget that has the focus, in the plain box and in the scrolling one.
    void enterAndEscGiveTheDefaultAndTheSafeAnswer_data()
    {
        QTest::addColumn<bool>("scrolling");
        QTest::addColumn<PromptButtons>("buttons");
        QTest::addColumn<PromptDefault>("byDefault");
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<PromptAnswer>("answer");
        QTest::addColumn<int>("defaultButton");
        constexpr auto safe = PromptDefault::Safe;
        constexpr auto affirmative = PromptDefault::Affirmative;
        for (const bool scrolling : {false, true}) {
            const char *kind = scrolling ? "scrolling " : "";
            QTest::addRow("%sYes/No safe, Enter", kind) << scrolling << PromptButtons::YesNo << safe << Qt::Key_Return
                                                       << PromptAnswer::No << int(QMessageBox::No);
            QTest::addRow("%sYes/No safe, Esc", kind) << scrolling << PromptButtons::YesNo << safe << Qt::Key_Escape
                                                     << PromptAnswer::No << int(QMessageBox::No);
            QTest::addRow("%sYes/No, Enter", kind) << scrolling << PromptButtons::YesNo << affirmative << Qt::Key_Return
                                                  << PromptAnswer::Yes << int(QMessageBox::Yes);
            QTest::addRow("%sYes/No, Esc", kind) << scrolling << PromptButtons::YesNo << affirmative << Qt::Key_Escape
                                                << PromptAnswer::No << int(QMessageBox::Yes);
            QTest::addRow("%sOK/Cancel safe, Enter", kind) << scrolling << PromptButtons::OkCancel << safe
                                                          << Qt::Key_Enter << PromptAnswer::Cancel << int(QMessageBox::Cancel);
            QTest::addRow("%sOK/Cancel, Enter", kind) << scrolling << PromptButtons::OkCancel << affirmative
                                                     << Qt::Key_Return << PromptAnswer::Ok << int(QMessageBox::Ok);
        }
    }
    void enterAndEscGiveTheDefaultAndTheSafeAnswer()
    {
        QFETCH(bool, scrolling);
        QFETCH(PromptButtons, buttons);
        QFETCH(PromptDefault, byDefault);
        QFETCH(Qt::Key, key);
        QFETCH(PromptAnswer, answer);
        QFETCH(int, defaultButton);
        QStringList lines{QStringLiteral("次の宛先に送信しますか？")};
        for (int i = 0; scrolling && i < 20; ++i)
            lines << QStringLiteral("user%1@example.jp").arg(i);
        test::RealBoxKey person(key);
        QCOMPARE(DialogPrompt().message(lines.join(QStringLiteral("\r\n")), QStringLiteral("確認"), PromptIcon::Question,
                                        buttons, byDefault),
                 answer);
        QVERIFY(person.seen);
        QCOMPARE(person.defaultButton, defaultButton);
        if (!scrolling) // the scrolling box answers Esc by closing, not by a button
            QCOMPARE(person.escapeButton,
                     int(buttons == PromptButtons::YesNo ? QMessageBox::No : QMessageBox::Cancel));
    }

    // A window kept on top of the others covers every box that is not its
    // own: a box asked for while one is up stands in front of it.
    void boxesStandInFrontOfAWindowKeptOnTop()
    {
        QWidget main;
        main.show();
        main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        {
            test::RealBoxKey person(Qt::Key_Escape);
            DialogPrompt().info(QStringLiteral("エラー"), QStringLiteral("Kestra"));
            QCOMPARE(person.parent, &main); // the window the user is in
        }
        QWidget onTop(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
        onTop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&onTop));
        main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        test::RealBoxKey person(Qt::Key_Escape);
        DialogPrompt().info(QStringLiteral("エラー"), QStringLiteral("Kestra"));
        QCOMPARE(person.parent, &onTop);
        QCOMPARE(person.transient, onTop.windowHandle());

        // A modeless window shown meanwhile is made its transient too.
        QWidget chooser;
        showInFront(&chooser);
        QCOMPARE(chooser.windowHandle()->transientParent(), onTop.windowHandle());
    }

    // A worker's progress reaches the window as the latest figures, with at
    // most one call waiting: a thousand steps while the window is busy are
    // one update, and a later step is still shown once the first is taken.
    void progressShowsTheLatestStepWithOneCallWaiting()
    {
        QObject window;
        QList<QPair<int, int>> shown;
        LatestProgress latest(&window, [&](int n, int count) { shown.append({n, count}); });
        // The window's thread takes no events meanwhile.
        std::thread worker([&] {
            for (int n = 1; n <= 1000; ++n)
                latest.post(n, 1000);
        });
        worker.join();
        QCoreApplication::sendPostedEvents(&window);
        QCOMPARE(shown, (QList<QPair<int, int>>{{1000, 1000}}));
        latest.post(3, 4);
        latest.post(4, 4);
        QCoreApplication::sendPostedEvents(&window);
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.last(), qMakePair(4, 4));
        QCoreApplication::sendPostedEvents(&window);
        QCOMPARE(shown.size(), 2);
    }
};

QTEST_MAIN(TestCommon)
#include "tst_common.moc"
