// The compose window with a fake sender: layout, address panel,
// attachment row, help, greetings and fortune, and the send procedure.

#include "support/FakeSender.h"
#include "common/WorkerThread.h"

#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Twips.h"
#include "compose/Greetings.h"
#include "compose/WriteForm.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QMessageBox>
#include <QtTest>

using namespace kestra;
using kestra::test::findControl;

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString dataPath(const char16_t *name)
{
    return appPaths().dataFile(QString::fromUtf16(name));
}

// Entries whose position is in `deleted` are written with Live 0, as the
// address book window leaves a deleted entry until the file is compacted.
void writeAddressBook(const QList<QPair<QString, QString>> &entries,
    const char16_t *file = names::addressBook, const QList<int> &deleted = {})
{
    QByteArray bytes;
    for (const auto &e : entries) {
        AddressRecord r;
        r.Name = e.first;
        r.Address = e.second;
        r.Live = deleted.contains(int(bytes.size() / AddressRecord::kLength)) ? 0 : 1;
        bytes += r.encode();
    }
    test::writeBytes(dataPath(file), bytes);
}

QList<MailRecord> sentRecords()
{
    QList<MailRecord> out;
    const Status s
        = scanRecords(dataPath(names::sentStore), MailRecord::kLength, [&](qint64, const QByteArray &b) {
              out.append(MailRecord::decode(b));
              return true;
          });
    if (!s)
        qWarning("%s", qPrintable(s.error().message()));
    return out;
}

QString trimmedField(const QString &field)
{
    QString t = field;
    while (t.endsWith(QLatin1Char(' ')))
        t.chop(1);
    return t;
}

// A random source that gives the listed numbers in turn.
RandomSource sequence(QList<float> values)
{
    auto shared = std::make_shared<QList<float>>(std::move(values));
    return [shared] {
        const float v = shared->isEmpty() ? 0.0f : shared->takeFirst();
        return v;
    };
}

} // namespace

class TestWriteForm : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::TempAppFolder> m_app;
    std::unique_ptr<test::FakePrompt> m_prompt;
    std::unique_ptr<test::FakeSender> m_sender;

    WriteForm *openForm()
    {
        WriteForm *w = form<WriteForm>();
        w->show();
        return w;
    }

private Q_SLOTS:
    void init()
    {
        m_sender.reset();
        m_prompt.reset();
        m_app.reset();
        m_app = std::make_unique<test::TempAppFolder>();
        m_prompt = std::make_unique<test::FakePrompt>();
        m_sender = std::make_unique<test::FakeSender>();
        appState().settings.smtpServer = QStringLiteral("smtp.example.test");
        appState().settings.mailAddress = QStringLiteral("me@example.test");
        appState().clockText = QStringLiteral("2026/12/08 10:20:30");
    }

    void cleanup()
    {
        unloadForm<WriteForm>();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const int unexpected = m_prompt->unexpected();
        m_sender.reset();
        m_prompt.reset();
        m_app.reset();
        QCOMPARE(unexpected, 0);
    }

    // ---- greetings and fortune -------------------------------------------

    void greetingBox()
    {
        WriteForm *w = openForm();
        QCOMPARE(findControl<QComboBox>(w, "Combo1")->count(), 8);
        QCOMPARE(findControl<QComboBox>(w, "Combo1")->currentText(), QString());
        QCOMPARE(findControl<QComboBox>(w, "Combo1")->itemText(3),
            QStringLiteral("いつもお世話になっております。"));
        QCOMPARE(findControl<QComboBox>(w, "Combo1")->itemText(7),
            QStringLiteral("こんにちわ。お変わりなく、お元気ですか？"));

        // Leaving the box puts its text in as the opening line; an empty box
        // and a body that already opens with the greeting change nothing.
        w->setBodyText(QStringLiteral("前の本文"));
        findControl<QComboBox>(w, "Combo1")->setCurrentIndex(3);
        w->Combo1_LostFocus();
        QCOMPARE(w->bodyText(), QStringLiteral("いつもお世話になっております。\r\n前の本文"));
        w->Combo1_LostFocus();
        QCOMPARE(w->bodyText(), QStringLiteral("いつもお世話になっております。\r\n前の本文"));
        findControl<QComboBox>(w, "Combo1")->setEditText(QString());
        w->Combo1_LostFocus();
        QCOMPARE(w->bodyText(), QStringLiteral("いつもお世話になっております。\r\n前の本文"));
        w->setBodyText(QString());
        findControl<QComboBox>(w, "Combo1")->setCurrentIndex(3);
        w->Combo1_LostFocus();
        QCOMPARE(w->bodyText(), QStringLiteral("いつもお世話になっております。"));
    }

    // The greeting goes in when the focus moves to another control of the
    // window (Tab, a click), not when the user switches to another
    // application; Ctrl+Z takes it back; pressing 送信 sends greeting and body.
    void greetingOnFocusChange()
    {
        WriteForm *w = openForm();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        w->setToText(QStringLiteral("you@example.test"));
        w->setBodyText(QStringLiteral("本文"));
        findControl<QComboBox>(w, "Combo1")->setFocus(Qt::MouseFocusReason);
        QCOMPARE(QApplication::focusWidget(), findControl<QComboBox>(w, "Combo1"));
        test::typeText(QStringLiteral("拝啓"));
        QCOMPARE(findControl<QComboBox>(w, "Combo1")->currentText(), QStringLiteral("拝啓"));

        QLineEdit other; // another program's window, its box taking the focus
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QCOMPARE(w->bodyText(), QStringLiteral("本文"));
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QCOMPARE(QApplication::focusWidget(), findControl<QComboBox>(w, "Combo1"));
        QCOMPARE(w->bodyText(), QStringLiteral("本文"));

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != findControl<QComboBox>(w, "Combo1"));
        QCOMPARE(w->bodyText(), QStringLiteral("拝啓\r\n本文"));
        QTest::mouseClick(
            findControl<QPlainTextEdit>(w, "BodyText")->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(QApplication::focusWidget(), findControl<QPlainTextEdit>(w, "BodyText"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w->bodyText(), QStringLiteral("本文"));

        // The greeting still stands in the box; a click on 送信 leaves the box.
        findControl<QComboBox>(w, "Combo1")->setFocus(Qt::MouseFocusReason);
        QTest::mouseClick(findControl<QPushButton>(w, "Command1"), Qt::LeftButton);
        QCOMPARE(m_sender->calls.size(), 1);
        QCOMPARE(m_sender->calls[0].body, QStringLiteral("拝啓\r\n本文"));
    }

    void fortuneDraw_data()
    {
        QTest::addColumn<float>("r");
        QTest::addColumn<int>("k");
        QTest::newRow("zero") << 0.0f << 1;
        QTest::newRow("just below 1/12") << 0.0833f << 1;
        QTest::newRow("a third") << 0.34f << 5;
        QTest::newRow("half") << 0.5f << 7;
        QTest::newRow("near one") << 0.9999f << 12;
        QTest::newRow("largest float below one") << std::nextafter(1.0f, 0.0f) << 12;
        QTest::newRow("one (a rounded double)") << 1.0f << 12;
    }
    void fortuneDraw()
    {
        QFETCH(float, r);
        QFETCH(int, k);
        QCOMPARE(drawFortuneNumber([r] { return r; }), k);
    }

    void fortuneTextsAndBlock()
    {
        const QStringList &texts = fortuneTexts();
        QCOMPARE(texts.size(), 12);
        int grades[4] = { 0, 0, 0, 0 };
        const QString names[4] = { QStringLiteral("大吉："), QStringLiteral("中吉："), QStringLiteral("吉："),
            QStringLiteral("凶：") };
        for (const QString &t : texts)
            for (int g = 0; g < 4; ++g)
                if (t.startsWith(names[g]))
                    ++grades[g];
        QCOMPARE(grades[0], 3);
        QCOMPARE(grades[1], 5);
        QCOMPARE(grades[2], 2);
        QCOMPARE(grades[3], 2);
        QVERIFY(texts.at(6).endsWith(QChar(0x3000)));
        QVERIFY(fortuneBanner().startsWith(QStringLiteral("★★★　この占いは")));
        QVERIFY(fortuneBanner().endsWith(QStringLiteral("当たらぬも八卦。★★★")));

        QCOMPARE(withFortune(QStringLiteral("本文"), 4),
            QStringLiteral("本文") + kCrLf + kCrLf + fortuneBanner() + kCrLf + kCrLf + texts.at(3));
        QCOMPARE(withFortune(QString(), 12), kCrLf + kCrLf + fortuneBanner() + kCrLf + kCrLf + texts.at(11));
    }

    // The program's own source reaches every text and no other.
    void systemDrawCoversAll()
    {
        const RandomSource random = systemRandom();
        QSet<int> seen;
        for (int i = 0; i < 5000; ++i) {
            const int k = drawFortuneNumber(random);
            QVERIFY(k >= 1 && k <= 12);
            seen.insert(k);
        }
        QCOMPARE(seen.size(), 12);
    }

    // ---- layout -------------------------------------------------------------

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("twips");
        QTest::newRow("Command1") << "Command1"
                                  << "送信" << QRect(240, 120, 1335, 375);
        QTest::newRow("Command3") << "Command3"
                                  << "送信中止" << QRect(240, 600, 1335, 375);
        QTest::newRow("Command4") << "Command4"
                                  << "アドレス帳" << QRect(1800, 120, 1335, 375);
        QTest::newRow("Command5") << "Command5"
                                  << "本文に貼付" << QRect(1800, 600, 1335, 375);
        QTest::newRow("Command6") << "Command6"
                                  << "元のサイズ" << QRect(3360, 120, 1335, 375);
        QTest::newRow("Command7") << "Command7"
                                  << "宛先に貼付" << QRect(3360, 600, 1335, 375);
        QTest::newRow("Command8") << "Command8"
                                  << "ホーム" << QRect(4920, 120, 1335, 375);
        QTest::newRow("Command11") << "Command11"
                                   << "クリア" << QRect(4920, 600, 1335, 375);
        QTest::newRow("AttachCommand") << "AttachCommand"
                                       << "添付File" << QRect(240, 2280, 855, 300);
        QTest::newRow("Command9") << "Command9"
                                  << "追加" << QRect(1080, 2280, 855, 300);
        QTest::newRow("Command10") << "Command10"
                                   << "取り消し" << QRect(1920, 2280, 855, 300);
        QTest::newRow("ToText") << "ToText"
                                << "" << QRect(1320, 1200, 5415, 300);
        QTest::newRow("SubjectText") << "SubjectText"
                                     << "" << QRect(1320, 1560, 5415, 300);
        QTest::newRow("Combo1") << "Combo1"
                                << "" << QRect(1320, 1920, 5415, 300);
        QTest::newRow("AttachText") << "AttachText"
                                    << "" << QRect(2760, 2280, 3975, 300);
        QTest::newRow("List2") << "List2"
                               << "" << QRect(2760, 2280, 3975, 1860);
        QTest::newRow("Check1") << "Check1"
                                << "" << QRect(6360, 2640, 255, 300);
        QTest::newRow("BodyText") << "BodyText"
                                  << "" << QRect(240, 2880, 6495, 4455);
        QTest::newRow("Text14") << "Text14"
                                << "" << QRect(960, 4200, 5175, 975);
        QTest::newRow("Label7 strip") << "Label7Strip"
                                      << "" << QRect(240, 7320, 6495, 375);
        QTest::newRow("Label3 strip") << "Label3Strip"
                                      << "" << QRect(1320, 2640, 4935, 300);
        QTest::newRow("address panel") << "AddressPanel"
                                       << "" << QRect(7080, 1200, 2350, 6495);
        QTest::newRow("List1 in panel") << "List1"
                                        << "" << QRect(120, 600, 2055, 5100);
        QTest::newRow("Frame4 in panel") << "Frame4"
                                         << "" << QRect(120, 5760, 2055, 615);
        QTest::newRow("header strip") << "HeaderStrip"
                                      << "" << QRect(120, 120, 2055, 495);
        QTest::newRow("Text1 in strip") << "Text1"
                                        << "" << QRect(1560, 80, 375, 270);
        QTest::newRow("Option2 in frame") << "Option2"
                                          << "" << QRect(120, 240, 255, 255);
        QTest::newRow("Option1 in frame") << "Option1"
                                          << "" << QRect(1280, 240, 255, 255);
    }
    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QRect, twips);
        WriteForm *w = form<WriteForm>();
        QWidget *c = w->findChild<QWidget *>(name);
        QVERIFY2(c, qPrintable(name));
        if (auto *b = qobject_cast<QPushButton *>(c))
            QCOMPARE(b->text(), caption);
        QCOMPARE(c->geometry(),
            QRect(twipsToPx(twips.x()), twipsToPx(twips.y()), twipsToPx(twips.width()),
                twipsToPx(twips.height())));
    }

    void initialState()
    {
        WriteForm *w = form<WriteForm>();
        QVERIFY(!w->isVisible()); // loading does not show the window
        QCOMPARE(w->windowTitle(), QStringLiteral("新規作成・送信"));
        QCOMPARE(w->size(), QSize(twipsToPx(7100), twipsToPx(8200)));
        QVERIFY(findControl<QPushButton>(w, "Command1")->isEnabled()
            && findControl<QPushButton>(w, "AttachCommand")->isEnabled()
            && findControl<QPushButton>(w, "Command10")->isEnabled());
        QVERIFY(!findControl<QPushButton>(w, "Command9")->isEnabled());
        QVERIFY(findControl<QListWidget>(w, "List2")->isHidden());
        QVERIFY(!findControl<QCheckBox>(w, "Check1")->isChecked());
        QVERIFY(!findControl<QRadioButton>(w, "Option2")->isChecked());
        QVERIFY(!findControl<QPlainTextEdit>(w, "Text14")->isHidden());
        QCOMPARE(findControl<QPlainTextEdit>(w, "Text14")->toPlainText(), QString());
        QCOMPARE(
            findControl<QPlainTextEdit>(w, "Text14")->palette().color(QPalette::Base), QColor(192, 255, 255));
        QCOMPARE(findControl<PressList>(w, "List1")->palette().color(QPalette::Base), QColor(255, 255, 255));
        QCOMPARE(
            findControl<QPushButton>(w, "Command10")->palette().color(QPalette::Button), QColor(255, 0, 0));
        QCOMPARE(findControl<QLabel>(w, "Label3")->text(),
            QStringLiteral("★　親しい人に占いを添付する　★ （一括送信では使用不可）"));
        QCOMPARE(findControl<QLabel>(w, "LabelOption2")->text(), QStringLiteral("一括送信"));
        QCOMPARE(findControl<QLabel>(w, "LabelOption1")->text(), QStringLiteral("取消"));
        QCOMPARE(w->AddressIndex, QList<qint16> { 0 });
        QCOMPARE(findControl<QLineEdit>(w, "Text1")->text(), QStringLiteral("0"));
        // The preload list is read, never created.
        QVERIFY(!QFile::exists(dataPath(names::addressPreload)));
    }

    void preloadList()
    {
        writeAddressBook(
            { { QStringLiteral("前からの人"), QStringLiteral("old@example.test") } }, names::addressPreload);
        WriteForm *w = form<WriteForm>();
        QCOMPARE(findControl<PressList>(w, "List1")->count(), 1);
        QCOMPARE(
            trimmedField(findControl<PressList>(w, "List1")->item(0)->text()), QStringLiteral("前からの人"));
        QCOMPARE(w->AddressIndex, (QList<qint16> { 1, 0 }));
    }

    // Widening and narrowing centre the window; the mode survives narrowing.
    void sizesAndModes()
    {
        WriteForm *w = openForm();
        const QRect screen = w->screen()->geometry();
        auto centred = [&](int widthTwips) {
            const int wpx = twipsToPx(widthTwips), hpx = twipsToPx(8200);
            return QPoint(
                screen.left() + (screen.width() - wpx) / 2, screen.top() + (screen.height() - hpx) / 2);
        };
        findControl<QPushButton>(w, "Command4")->click();
        QCOMPARE(w->width(), twipsToPx(9700));
        QCOMPARE(w->pos(), centred(9700));
        findControl<QRadioButton>(w, "Option2")->click();
        QCOMPARE(findControl<PressList>(w, "List1")->palette().color(QPalette::Base), QColor(0, 128, 0));
        findControl<QPushButton>(w, "Command6")->click();
        QCOMPARE(w->width(), twipsToPx(7100));
        QCOMPARE(w->pos(), centred(7100));
        QCOMPARE(findControl<PressList>(w, "List1")->palette().color(QPalette::Base), QColor(255, 255, 255));
        // With the panel hidden the mail must not go to the whole book.
        QVERIFY(!findControl<QRadioButton>(w, "Option2")->isChecked());
        findControl<QRadioButton>(w, "Option2")->click();

        // "取消" leaves bulk mode and empties the recipient, even a typed one.
        findControl<QPushButton>(w, "Command4")->click();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        findControl<QPlainTextEdit>(w, "ToText")->setFocus();
        QCOMPARE(QApplication::focusWidget(), findControl<QPlainTextEdit>(w, "ToText"));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("typed@example.test"));
        findControl<QRadioButton>(w, "Option1")->click();
        QCOMPARE(w->toText(), QString());
        QVERIFY(!findControl<QRadioButton>(w, "Option2")->isChecked());
        QCOMPARE(findControl<PressList>(w, "List1")->palette().color(QPalette::Base), QColor(255, 255, 255));
    }

    // ---- address panel -------------------------------------------------------

    void addressList()
    {
        const QString address60 = QString(47, QLatin1Char('a')) + QStringLiteral("@example.test");
        QCOMPARE(address60.size(), 60);
        writeAddressBook({ { QStringLiteral("山田太郎"), QStringLiteral("yamada@example.test") },
            { QString(), QStringLiteral("noname@example.test") },
            { QStringLiteral("長いアドレス"), address60 } });
        WriteForm *w = openForm();
        findControl<QPushButton>(w, "Command4")->click();
        QCOMPARE(findControl<PressList>(w, "List1")->count(), 3);
        QCOMPARE(findControl<QLineEdit>(w, "Text1")->text(), QStringLiteral("3"));
        // Names go in with their padding; an empty name is listed too.
        QCOMPARE(findControl<PressList>(w, "List1")->item(0)->text().size(), 60);
        QCOMPARE(
            trimmedField(findControl<PressList>(w, "List1")->item(0)->text()), QStringLiteral("山田太郎"));
        QCOMPARE(trimmedField(findControl<PressList>(w, "List1")->item(1)->text()), QString());
        QCOMPARE(w->AddressIndex, (QList<qint16> { 1, 2, 3, 0 }));

        const QPoint second = findControl<PressList>(w, "List1")
                                  ->visualItemRect(findControl<PressList>(w, "List1")->item(1))
                                  .center();
        QTest::mouseClick(findControl<PressList>(w, "List1")->viewport(), Qt::LeftButton, {}, second);
        QCOMPARE(w->toText(), QStringLiteral("noname@example.test"));
        const QPoint third = findControl<PressList>(w, "List1")
                                 ->visualItemRect(findControl<PressList>(w, "List1")->item(2))
                                 .center();
        QTest::mouseClick(findControl<PressList>(w, "List1")->viewport(), Qt::LeftButton, {}, third);
        QCOMPARE(w->toText(), address60);
        QVERIFY(m_prompt->shown().isEmpty());

        // Typing stops at 60 characters.
        w->setToText(QString());
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        findControl<QPlainTextEdit>(w, "ToText")->setFocus();
        QCOMPARE(QApplication::focusWidget(), findControl<QPlainTextEdit>(w, "ToText"));
        QTest::keyClicks(QApplication::focusWidget(), QString(70, QLatin1Char('x')));
        QCOMPARE(w->toText(), QString(60, QLatin1Char('x')));
    }

    // Deleted entries are not listed; a line whose record changed after the
    // list was filled never gives another entry's address.
    void addressListAfterBookChanged()
    {
        writeAddressBook({ { QStringLiteral("削除済み"), QStringLiteral("gone@example.test") },
                             { QStringLiteral("二郎"), QStringLiteral("jiro@example.test") },
                             { QStringLiteral("三郎"), QStringLiteral("saburo@example.test") } },
            names::addressBook, { 0 });
        WriteForm *w = openForm();
        findControl<QPushButton>(w, "Command4")->click();
        QCOMPARE(findControl<PressList>(w, "List1")->count(), 2);
        QCOMPARE(w->AddressIndex, (QList<qint16> { 2, 3, 0 }));
        QCOMPARE(findControl<QLineEdit>(w, "Text1")->text(), QStringLiteral("2"));

        // The book is compacted and 二郎 deleted meanwhile: record 2 is now 三郎.
        writeAddressBook({ { QStringLiteral("三郎"), QStringLiteral("saburo@example.test") } });
        m_prompt->answer(PromptAnswer::Ok);
        QTest::mouseClick(findControl<PressList>(w, "List1")->viewport(), Qt::LeftButton, {},
            findControl<PressList>(w, "List1")
                ->visualItemRect(findControl<PressList>(w, "List1")->item(0))
                .center());
        QCOMPARE(w->toText(), QString());
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown()[0].text,
            QStringLiteral("アドレス帳が変更されていました。一覧を読み直しましたので、もう一度名前を選んで下さい。"));
        QCOMPARE(findControl<PressList>(w, "List1")->count(), 1);
        QTest::mouseClick(findControl<PressList>(w, "List1")->viewport(), Qt::LeftButton, {},
            findControl<PressList>(w, "List1")
                ->visualItemRect(findControl<PressList>(w, "List1")->item(0))
                .center());
        QCOMPARE(w->toText(), QStringLiteral("saburo@example.test"));
    }

    void pressWithoutCurrentLine()
    {
        WriteForm *w = openForm();
        findControl<QPushButton>(w, "Command4")->click();
        m_prompt->answer(PromptAnswer::Ok);
        QTest::mouseClick(findControl<PressList>(w, "List1")->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown()[0].text, QStringLiteral("データが選択されていません"));
        QCOMPARE(m_prompt->shown()[0].icon, PromptIcon::Exclamation);
        QCOMPARE(w->toText(), QString());
    }

    // The one-line recipient box shows the address it holds after every kind
    // of change, also after a long typed address had scrolled the view.
    void recipientStaysInView_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("クリア then typing") << QStringLiteral("clear");
        QTest::newRow("宛先に貼付") << QStringLiteral("paste");
        QTest::newRow("name from the address panel") << QStringLiteral("pick");
    }
    void recipientStaysInView()
    {
        QFETCH(QString, how);
        writeAddressBook({ { QStringLiteral("山田太郎"), QStringLiteral("yamada@example.test") } });
        WriteForm *w = openForm();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        findControl<QPushButton>(w, "Command4")->click(); // widened: the panel's list is in the window
        test::clickOn(findControl<QPlainTextEdit>(w, "ToText"));
        QCOMPARE(QApplication::focusWidget(), findControl<QPlainTextEdit>(w, "ToText"));
        QTest::keyClicks(QApplication::focusWidget(), QString(47, QLatin1Char('a')) + QStringLiteral("@example.test"));
        QString expected = QStringLiteral("yamada@example.test");
        if (how == QLatin1String("clear")) {
            test::clickOn(findControl<QPushButton>(w, "Command11"));
            test::clickOn(findControl<QPlainTextEdit>(w, "ToText"));
            expected = QStringLiteral("b@example.test");
            QTest::keyClicks(QApplication::focusWidget(), expected);
        } else if (how == QLatin1String("paste")) {
            QApplication::clipboard()->setText(expected);
            test::clickOn(findControl<QPushButton>(w, "Command7"));
        } else {
            test::clickAt(w,
                findControl<PressList>(w, "List1")
                    ->viewport()
                    ->mapTo(w,
                        findControl<PressList>(w, "List1")
                            ->visualItemRect(findControl<PressList>(w, "List1")->item(0))
                            .center()));
        }
        QCOMPARE(w->toText(), expected);
        // The box's one line holds the start of the address: the place before
        // its first character lies inside the visible part of the box.
        QTextCursor start(findControl<QPlainTextEdit>(w, "ToText")->document());
        const QRect first = findControl<QPlainTextEdit>(w, "ToText")->cursorRect(start);
        QVERIFY2(findControl<QPlainTextEdit>(w, "ToText")->viewport()->rect().contains(first.center()),
            qPrintable(QStringLiteral("first character at %1,%2").arg(first.x()).arg(first.y())));
        QCOMPARE(findControl<QPlainTextEdit>(w, "ToText")->verticalScrollBar()->value(), 0);
    }

    void pasteButtons()
    {
        WriteForm *w = openForm();
        QApplication::clipboard()->setText(QStringLiteral("copied@example.test"));
        w->setToText(QStringLiteral("old@example.test"));
        findControl<QPushButton>(w, "Command7")->click();
        QCOMPARE(w->toText(), QStringLiteral("copied@example.test"));
        w->setBodyText(QStringLiteral("一行目\r\n"));
        QApplication::clipboard()->setText(QStringLiteral("貼り付けた文"));
        findControl<QPushButton>(w, "Command5")->click();
        QCOMPARE(w->bodyText(), QStringLiteral("一行目\r\n貼り付けた文"));
        QApplication::clipboard()->clear();
        findControl<QPushButton>(w, "Command7")->click();
        QCOMPARE(w->toText(), QString());
        findControl<QPushButton>(w, "Command5")->click();
        QCOMPARE(w->bodyText(), QStringLiteral("一行目\r\n貼り付けた文"));
    }

    // ---- attachments -----------------------------------------------------------

    void attachmentRow()
    {
        WriteForm *w = openForm();
        // "追加" with nothing attached only shows the empty list.
        findControl<QPushButton>(w, "Command9")->setEnabled(true);
        findControl<QPushButton>(w, "Command9")->click();
        QVERIFY(!findControl<QListWidget>(w, "List2")->isHidden());
        QCOMPARE(m_prompt->shown().size(), 0);
        findControl<QPushButton>(w, "Command10")->click();

        // Two files picked in turn.
        m_prompt->answerFile(QStringLiteral("/home/user/first file.txt"));
        findControl<QPushButton>(w, "AttachCommand")->click();
        QVERIFY(!findControl<QPushButton>(w, "AttachCommand")->isEnabled());
        QVERIFY(findControl<QPushButton>(w, "Command9")->isEnabled());
        QCOMPARE(
            findControl<QLineEdit>(w, "AttachText")->text(), QStringLiteral("/home/user/first file.txt"));
        m_prompt->answerFile(QStringLiteral("/home/user/二つ目.pdf"));
        findControl<QPushButton>(w, "Command9")->click();
        QCOMPARE(findControl<QLineEdit>(w, "AttachText")->text(),
            QStringLiteral("/home/user/first file.txt,/home/user/二つ目.pdf"));
        QCOMPARE(findControl<QListWidget>(w, "List2")->count(), 2);
        QVERIFY(!findControl<QListWidget>(w, "List2")->isHidden());
        // A cancelled dialog adds nothing.
        m_prompt->answerFile(QString());
        findControl<QPushButton>(w, "Command9")->click();
        QCOMPARE(findControl<QListWidget>(w, "List2")->count(), 2);
        QCOMPARE(m_prompt->shown().size(), 3);
    }

    void attachmentButtonRules()
    {
        WriteForm *w = openForm();
        // A cancelled first pick still disables "添付File" and enables "追加".
        m_prompt->answerFile(QString());
        findControl<QPushButton>(w, "AttachCommand")->click();
        QVERIFY(!findControl<QPushButton>(w, "AttachCommand")->isEnabled());
        QVERIFY(findControl<QPushButton>(w, "Command9")->isEnabled());
        QCOMPARE(findControl<QLineEdit>(w, "AttachText")->text(), QString());

        // "取り消し" makes "添付File" usable and disables itself for good.
        findControl<QPushButton>(w, "Command10")->click();
        QVERIFY(findControl<QPushButton>(w, "AttachCommand")->isEnabled());
        QVERIFY(!findControl<QPushButton>(w, "Command9")->isEnabled());
        QVERIFY(!findControl<QPushButton>(w, "Command10")->isEnabled());
        QVERIFY(findControl<QListWidget>(w, "List2")->isHidden());
        m_prompt->answerFile(QStringLiteral("/tmp/a.txt"));
        findControl<QPushButton>(w, "AttachCommand")->click();
        QCOMPARE(findControl<QLineEdit>(w, "AttachText")->text(), QStringLiteral("/tmp/a.txt"));
        QVERIFY(!findControl<QPushButton>(w, "Command10")->isEnabled());

        // "クリア" empties the whole window and resets the row the same way.
        w->setToText(QStringLiteral("a@example.test"));
        findControl<QLineEdit>(w, "SubjectText")->setText(QStringLiteral("件名"));
        w->setBodyText(QStringLiteral("本文"));
        findControl<QCheckBox>(w, "Check1")->setChecked(true);
        findControl<QPushButton>(w, "Command4")->click();
        findControl<QRadioButton>(w, "Option2")->click();
        findControl<QPushButton>(w, "Command11")->click();
        QCOMPARE(w->toText(), QString());
        QCOMPARE(findControl<QLineEdit>(w, "SubjectText")->text(), QString());
        QCOMPARE(w->bodyText(), QString());
        QCOMPARE(findControl<QLineEdit>(w, "AttachText")->text(), QString());
        QVERIFY(!findControl<QCheckBox>(w, "Check1")->isChecked());
        QVERIFY(!findControl<QRadioButton>(w, "Option2")->isChecked());
        QVERIFY(findControl<QPushButton>(w, "AttachCommand")->isEnabled());
        QVERIFY(!findControl<QPushButton>(w, "Command9")->isEnabled()
            && !findControl<QPushButton>(w, "Command10")->isEnabled());
        QCOMPARE(w->width(), twipsToPx(9700)); // the size stays
        QCOMPARE(findControl<PressList>(w, "List1")->palette().color(QPalette::Base), QColor(255, 255, 255));
    }

    // ---- hover help ------------------------------------------------------------

    void hoverHelp()
    {
        WriteForm *w = openForm();
        const QStringList names = { QStringLiteral("Command1"), QStringLiteral("Command3"),
            QStringLiteral("Command4"), QStringLiteral("Command5"), QStringLiteral("Command6"),
            QStringLiteral("Command7"), QStringLiteral("Command8"), QStringLiteral("Command11"),
            QStringLiteral("Command9"), QStringLiteral("AttachCommand") };
        QSet<QString> texts;
        for (const QString &name : names) {
            w->hoverOver(findControl<QPlainTextEdit>(w, "BodyText")->viewport());
            QVERIFY(findControl<QPlainTextEdit>(w, "Text14")->isHidden());
            QEvent enter(QEvent::Enter);
            QApplication::sendEvent(w->findChild<QWidget *>(name), &enter);
            QVERIFY2(!findControl<QPlainTextEdit>(w, "Text14")->isHidden(), qPrintable(name));
            QCOMPARE(findControl<QPlainTextEdit>(w, "Text14")->toPlainText(), writeHelpText(name));
            texts.insert(findControl<QPlainTextEdit>(w, "Text14")->toPlainText());
        }
        QCOMPARE(texts.size(), 10);
        QCOMPARE(writeHelpText(QStringLiteral("Command3")), QStringLiteral("送信を中止します。"));
        // "取り消し" leaves the box as it is.
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(findControl<QPushButton>(w, "Command10"), &enter);
        QCOMPARE(findControl<QPlainTextEdit>(w, "Text14")->toPlainText(),
            writeHelpText(QStringLiteral("AttachCommand")));
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), QPointF(5, 5), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(findControl<QPlainTextEdit>(w, "BodyText")->viewport(), &move);
        QVERIFY(findControl<QPlainTextEdit>(w, "Text14")->isHidden());
    }

    // ---- closing -----------------------------------------------------------------

    void closingWithoutSending_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("送信中止") << "Command3";
        QTest::newRow("ホーム") << "Command8";
    }
    void closingWithoutSending()
    {
        QFETCH(QString, button);
        WriteForm *w = openForm();
        w->setToText(QStringLiteral("a@example.test"));
        findControl<QLineEdit>(w, "SubjectText")->setText(QStringLiteral("件名"));
        findControl<QPushButton>(w, "Command4")->click();
        findControl<QRadioButton>(w, "Option2")->click();
        w->findChild<QPushButton *>(button)->click();
        QVERIFY(!loadedForm<WriteForm>());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(m_sender->calls.isEmpty());
        QVERIFY(sentRecords().isEmpty());
        // Opened again: empty and narrow.
        WriteForm *again = form<WriteForm>();
        QCOMPARE(again->toText(), QString());
        QCOMPARE(findControl<QLineEdit>(again, "SubjectText")->text(), QString());
        QCOMPARE(again->width(), twipsToPx(7100));
        QVERIFY(!findControl<QRadioButton>(again, "Option2")->isChecked());
    }

    // ---- sending -------------------------------------------------------------------

    void sendSingle()
    {
        WriteForm *w = openForm();
        w->setToText(QStringLiteral("  you@example.test "));
        findControl<QLineEdit>(w, "SubjectText")->setText(QStringLiteral(" 件名です "));
        w->setBodyText(QStringLiteral("  本文\r\n二行目  "));
        m_prompt->answerFile(QStringLiteral("/tmp/one.txt"));
        findControl<QPushButton>(w, "AttachCommand")->click();
        m_prompt->answerFile(QString()); // a second pick, cancelled
        findControl<QPushButton>(w, "Command9")->click();
        QVERIFY(!findControl<QListWidget>(w, "List2")->isHidden());
        findControl<QPushButton>(w, "Command1")->click();

        QCOMPARE(m_sender->calls.size(), 1);
        const auto &c = m_sender->calls.first();
        QCOMPARE(c.server, QStringLiteral("smtp.example.test"));
        QCOMPARE(c.to, QStringLiteral("  you@example.test ")); // as typed
        QCOMPARE(c.cc, QString());
        QCOMPARE(c.bcc, QString());
        QCOMPARE(c.from, QStringLiteral("me@example.test"));
        QCOMPARE(c.subject, QStringLiteral(" 件名です "));
        QCOMPARE(c.body, QStringLiteral("  本文\r\n二行目  "));
        QCOMPARE(c.extraHeader, QString());
        QCOMPARE(c.attachments, QStringLiteral("/tmp/one.txt"));

        const QList<MailRecord> records = sentRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(trimmedField(records[0].Subject), QStringLiteral("件名です"));
        QCOMPARE(trimmedField(records[0].Header2), QStringLiteral("2026/12/08 10:20:30"));
        QCOMPARE(trimmedField(records[0].Header3), QStringLiteral("you@example.test"));
        QCOMPARE(trimmedField(records[0].Body), QStringLiteral("本文\r\n二行目"));
        QCOMPARE(records[0].Live, qint16(1));

        QCOMPARE(findControl<QLabel>(w, "Label7")->text(), QStringLiteral("送信完了です。"));
        QVERIFY(!loadedForm<WriteForm>());
        QCOMPARE(m_prompt->shown().size(), 2); // the file dialogs only
    }

    // After a failed send the row, the list and the paths agree, and a further
    // pick adds to the files already attached.
    void attachmentsAfterFailedSend()
    {
        m_sender->refused.insert(QStringLiteral("bad@example.test"));
        m_prompt->setAutoAnswer(true);
        WriteForm *w = openForm();
        w->setToText(QStringLiteral("bad@example.test"));
        m_prompt->answerFile(QStringLiteral("/tmp/a.txt"));
        findControl<QPushButton>(w, "AttachCommand")->click();
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(loadedForm<WriteForm>(), w);
        QVERIFY(!findControl<QPushButton>(w, "AttachCommand")->isEnabled());
        QVERIFY(findControl<QPushButton>(w, "Command9")->isEnabled());
        QCOMPARE(findControl<QLineEdit>(w, "AttachText")->text(), QStringLiteral("/tmp/a.txt"));
        QCOMPARE(findControl<QListWidget>(w, "List2")->count(), 1);
        m_prompt->answerFile(QStringLiteral("/tmp/b.txt"));
        findControl<QPushButton>(w, "Command9")->click();
        QCOMPARE(findControl<QLineEdit>(w, "AttachText")->text(), QStringLiteral("/tmp/a.txt,/tmp/b.txt"));
        QCOMPARE(findControl<QListWidget>(w, "List2")->count(), 2);
        QCOMPARE(findControl<QListWidget>(w, "List2")->item(1)->text(), QStringLiteral("/tmp/b.txt"));
        w->setToText(QStringLiteral("good@example.test"));
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(m_sender->calls.last().attachments, QStringLiteral("/tmp/a.txt,/tmp/b.txt"));
        QVERIFY(!loadedForm<WriteForm>());
    }

    void sendLongTexts()
    {
        WriteForm *w = openForm();
        const QString subject = QString(150, QChar(0x4EF6));
        const QString body = QString(13000, QLatin1Char('b'));
        w->setToText(QStringLiteral("you@example.test"));
        findControl<QLineEdit>(w, "SubjectText")->setText(subject);
        w->setBodyText(body);
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(m_sender->calls.first().subject, subject);
        QCOMPARE(m_sender->calls.first().body, body);
        const MailRecord r = sentRecords().value(0);
        // 100 bytes of code page 932: fifty of these characters.
        QCOMPARE(trimmedField(r.Subject), subject.left(50));
        QCOMPARE(r.Body, body.left(12000));
    }

    // A refused single mail: one box with the sender's text; nothing stored; the
    // window stays with what the user typed.
    void sendSingleRefused()
    {
        m_sender->refused.insert(QStringLiteral("bad@example.test"));
        m_prompt->setAutoAnswer(true);
        WriteForm *w = openForm();
        w->setToText(QStringLiteral("bad@example.test"));
        findControl<QLineEdit>(w, "SubjectText")->setText(QStringLiteral("件名"));
        w->setBodyText(QStringLiteral("大事な本文"));
        findControl<QCheckBox>(w, "Check1")->setChecked(true);
        w->setRandomSource(sequence({ 0.5f }));
        findControl<QPushButton>(w, "Command1")->click();

        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown()[0].title, QStringLiteral("送信エラー"));
        QCOMPARE(m_prompt->shown()[0].text,
            QStringLiteral("宛先「bad@example.test」はサーバーに受け付けられませんでした。"));
        QCOMPARE(m_prompt->shown()[0].buttons, PromptButtons::Ok);
        QVERIFY(sentRecords().isEmpty());
        QCOMPARE(loadedForm<WriteForm>(), w);
        QCOMPARE(w->toText(), QStringLiteral("bad@example.test"));
        QCOMPARE(findControl<QLineEdit>(w, "SubjectText")->text(), QStringLiteral("件名"));
        QCOMPARE(w->bodyText(), QStringLiteral("大事な本文")); // without the fortune
        QVERIFY(findControl<QCheckBox>(w, "Check1")->isChecked());
        QVERIFY(findControl<QLabel>(w, "Label7")->text() != QStringLiteral("送信完了です。"));

        // Corrected and sent again: one mail, one record, with one fortune.
        w->setToText(QStringLiteral("good@example.test"));
        w->setRandomSource(sequence({ 0.0f }));
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(m_sender->calls.size(), 2);
        QCOMPARE(m_sender->calls[1].body.count(fortuneBanner()), 1);
        QCOMPARE(sentRecords().size(), 1);
        QVERIFY(!loadedForm<WriteForm>());
    }

    // The real question before a bulk send: Enter on the focused button sends nothing.
    void enterOnTheBulkQuestionSendsNothing()
    {
        writeAddressBook({ { QStringLiteral("一"), QStringLiteral("one@example.test") } });
        WriteForm *w = openForm();
        findControl<QRadioButton>(w, "Option2")->click();
        findControl<QLineEdit>(w, "SubjectText")->setText(QStringLiteral("お知らせ"));
        m_prompt.reset(); // the real boxes
        const auto restore = qScopeGuard([&] { m_prompt = std::make_unique<test::FakePrompt>(); });
        test::RealBoxKey person(Qt::Key_Return);
        findControl<QPushButton>(w, "Command1")->click();
        QVERIFY(person.seen);
        QCOMPARE(person.defaultButton, int(QMessageBox::No));
        QCOMPARE(person.escapeButton, int(QMessageBox::No));
        QVERIFY(m_sender->calls.isEmpty());
        QCOMPARE(loadedForm<WriteForm>(), w);
    }

    void sendBulk()
    {
        writeAddressBook({ { QStringLiteral("一"), QStringLiteral("one@example.test") },
            { QStringLiteral("二"), QStringLiteral("two@example.test") },
            { QStringLiteral("三"), QStringLiteral("three@example.test") } });
        WriteForm *w = openForm();
        findControl<QPushButton>(w, "Command4")->click();
        findControl<QRadioButton>(w, "Option2")->click();
        w->setToText(QStringLiteral("typed@example.test"));
        findControl<QLineEdit>(w, "SubjectText")->setText(QStringLiteral("お知らせ"));
        w->setBodyText(QStringLiteral("皆様へ"));
        // Asked first; "いいえ" sends nothing and keeps the window.
        m_prompt->answer(PromptAnswer::No);
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown()[0].text, QStringLiteral("アドレス帳の 3 件に送信します。よろしいですか？"));
        QCOMPARE(m_prompt->shown()[0].title, QStringLiteral("確認"));
        QCOMPARE(m_prompt->shown()[0].buttons, PromptButtons::YesNo);
        QVERIFY(m_sender->calls.isEmpty());
        QCOMPARE(loadedForm<WriteForm>(), w);
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(w, "Command1")->click();

        QCOMPARE(m_sender->calls.size(), 3);
        QCOMPARE(m_sender->calls[0].to, QStringLiteral("one@example.test"));
        QCOMPARE(m_sender->calls[1].to, QStringLiteral("two@example.test"));
        QCOMPARE(m_sender->calls[2].to, QStringLiteral("three@example.test"));
        const QList<MailRecord> records = sentRecords();
        QCOMPARE(records.size(), 3);
        // Each record names the address its mail went to.
        QCOMPARE(trimmedField(records[0].Header3), QStringLiteral("one@example.test"));
        QCOMPARE(trimmedField(records[2].Header3), QStringLiteral("three@example.test"));
        QCOMPARE(trimmedField(records[1].Body), QStringLiteral("皆様へ"));
        QCOMPARE(findControl<QLabel>(w, "Label7")->text(), QStringLiteral("送信完了です。"));
        QCOMPARE(m_prompt->shown().size(), 2);
        QVERIFY(!loadedForm<WriteForm>());
    }

    // The bulk run shows "n / N" in a modal dialog while the mails go out;
    // its cancel button, pressed during the second of four mails, ends that
    // transfer: one mail is sent and recorded, and the window keeps its text.
    void bulkProgressAndStop()
    {
        writeAddressBook({ { QStringLiteral("一"), QStringLiteral("one@example.test") },
            { QStringLiteral("二"), QStringLiteral("two@example.test") },
            { QStringLiteral("三"), QStringLiteral("three@example.test") },
            { QStringLiteral("四"), QStringLiteral("four@example.test") } });
        WriteForm *w = openForm();
        findControl<QPushButton>(w, "Command4")->click();
        findControl<QRadioButton>(w, "Option2")->click();
        findControl<QLineEdit>(w, "SubjectText")->setText(QStringLiteral("お知らせ"));
        w->setBodyText(QStringLiteral("皆様へ"));
        m_prompt->answer(PromptAnswer::Yes);
        QStringList seen;
        m_sender->onSend = [&](int n) {
            runOnMainThread([&] {
                auto *dialog = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
                QVERIFY(dialog && dialog->isVisible());
                QCOMPARE(dialog->maximum(), 4);
                QCOMPARE(dialog->value(), n - 1);
                seen << dialog->labelText();
                if (n == 2)
                    QTest::mouseClick(dialog->findChild<QPushButton *>(), Qt::LeftButton);
            });
        };
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(seen, (QStringList { QStringLiteral("メールを送信しています。（1 / 4）"),
                           QStringLiteral("メールを送信しています。（2 / 4）") }));
        QCOMPARE(m_sender->calls.size(), 2);
        QCOMPARE(m_sender->calls[1].to, QStringLiteral("two@example.test"));
        QCOMPARE(sentRecords().size(), 1);
        QCOMPARE(loadedForm<WriteForm>(), w);
        QCOMPARE(findControl<QLineEdit>(w, "SubjectText")->text(), QStringLiteral("お知らせ"));
        QCOMPARE(findControl<QLabel>(w, "Label7")->text(),
            QStringLiteral("送信を中止しました。（4 件中 1 件送信）"));
        QCOMPARE(m_prompt->shown().size(), 1); // the question before the run
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    // Nobody to send to: said so, nothing sent, the window keeps the mail.
    void sendBulkNobody_data()
    {
        QTest::addColumn<bool>("withBook");
        QTest::newRow("no address book") << false;
        QTest::newRow("deleted and blank entries only") << true;
    }
    void sendBulkNobody()
    {
        QFETCH(bool, withBook);
        if (withBook)
            writeAddressBook({ { QStringLiteral("削除済み"), QStringLiteral("gone@example.test") },
                                 { QStringLiteral("空"), QStringLiteral("   ") } },
                names::addressBook, { 0 });
        WriteForm *w = openForm();
        findControl<QPushButton>(w, "Command4")->click();
        findControl<QRadioButton>(w, "Option2")->click();
        w->setBodyText(QStringLiteral("大事な本文"));
        m_prompt->answer(PromptAnswer::Ok);
        findControl<QPushButton>(w, "Command1")->click();
        QVERIFY(m_sender->calls.isEmpty());
        QVERIFY(sentRecords().isEmpty());
        QCOMPARE(m_prompt->shown().size(), 1);
        QCOMPARE(m_prompt->shown()[0].text,
            QStringLiteral("アドレス帳にメールアドレスの登録がないため、一括送信の送り先がありません。"
                           "アドレス帳に登録するか、「取消」で一括送信をやめて宛先を入れて下さい。"));
        QCOMPARE(loadedForm<WriteForm>(), w);
        QCOMPARE(w->bodyText(), QStringLiteral("大事な本文"));
        QVERIFY(findControl<QLabel>(w, "Label7")->text() != QStringLiteral("送信完了です。"));
    }

    // Deleted and blank entries are skipped; every failed address is listed in
    // one box; the window stays with the mail.
    void sendBulkWithFailures()
    {
        QList<QPair<QString, QString>> book = { { QStringLiteral("一"), QStringLiteral("one@example.test") },
            { QStringLiteral("空"), QString() }, { QStringLiteral("削除"), QStringLiteral("gone@example.test") },
            { QStringLiteral("四"), QStringLiteral("four@example.test") } };
        for (int i = 1; i <= 25; ++i) {
            const QString address = QStringLiteral("bad%1@example.test").arg(i);
            book.append({ QStringLiteral("名前%1").arg(i), address });
            m_sender->refused.insert(address);
        }
        writeAddressBook(book, names::addressBook, { 2 });
        m_prompt->setAutoAnswer(true);
        WriteForm *w = openForm();
        findControl<QPushButton>(w, "Command4")->click();
        findControl<QRadioButton>(w, "Option2")->click();
        findControl<QLineEdit>(w, "SubjectText")->setText(QStringLiteral("お知らせ"));
        findControl<QPushButton>(w, "Command1")->click();

        QCOMPARE(m_prompt->shown().size(), 2);
        QCOMPARE(m_prompt->shown()[0].text, QStringLiteral("アドレス帳の 27 件に送信します。よろしいですか？"));
        QCOMPARE(m_sender->calls.size(), 27);
        QCOMPARE(m_sender->calls[1].to, QStringLiteral("four@example.test"));
        const QList<MailRecord> records = sentRecords();
        QCOMPARE(records.size(), 2);
        QCOMPARE(trimmedField(records[1].Header3), QStringLiteral("four@example.test"));
        const test::ShownPrompt box = m_prompt->shown().at(1);
        QCOMPARE(box.title, QStringLiteral("送信エラー"));
        QVERIFY(box.text.startsWith(QStringLiteral("次の宛先へは送信できませんでした。\r\n")));
        QCOMPARE(box.text.count(QStringLiteral("\r\n")), 25);
        for (int i = 1; i <= 25; ++i)
            QVERIFY(box.text.contains(QStringLiteral("bad%1@example.test：").arg(i)));
        QVERIFY(!box.text.contains(QStringLiteral("one@example.test")));
        QCOMPARE(loadedForm<WriteForm>(), w);
        QCOMPARE(findControl<QLineEdit>(w, "SubjectText")->text(), QStringLiteral("お知らせ"));
        QCOMPARE(findControl<QLabel>(w, "Label7")->text(),
            QStringLiteral("送信できなかった宛先があります。（27 件中 2 件送信）"));
    }

    void sendWithFortuneSingle()
    {
        WriteForm *w = openForm();
        w->setToText(QStringLiteral("you@example.test"));
        w->setBodyText(QStringLiteral("短い本文"));
        findControl<QCheckBox>(w, "Check1")->setChecked(true);
        w->setRandomSource(sequence({ 0.34f }));
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(m_sender->calls.first().body,
            QStringLiteral("短い本文") + kCrLf + kCrLf + fortuneBanner() + kCrLf + kCrLf
                + fortuneTexts().at(4));
        QCOMPARE(trimmedField(sentRecords().value(0).Body), QStringLiteral("短い本文"));
    }

    void sendWithFortuneEmptyBody()
    {
        WriteForm *w = openForm();
        w->setToText(QStringLiteral("you@example.test"));
        findControl<QCheckBox>(w, "Check1")->setChecked(true);
        w->setRandomSource(sequence({ 0.0f }));
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(m_sender->calls.first().body,
            kCrLf + kCrLf + fortuneBanner() + kCrLf + kCrLf + fortuneTexts().at(0));
    }

    // Every bulk mail carries exactly its own fortune; blocks never pile up.
    void sendBulkWithFortune()
    {
        writeAddressBook({ { QStringLiteral("一"), QStringLiteral("one@example.test") },
            { QStringLiteral("二"), QStringLiteral("two@example.test") },
            { QStringLiteral("三"), QStringLiteral("three@example.test") } });
        WriteForm *w = openForm();
        findControl<QPushButton>(w, "Command4")->click();
        findControl<QRadioButton>(w, "Option2")->click();
        w->setBodyText(QStringLiteral("本文"));
        findControl<QCheckBox>(w, "Check1")->setChecked(true);
        w->setRandomSource(sequence({ 0.0f, 0.5f, 0.99f }));
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(m_sender->calls.size(), 3);
        const int expected[3] = { 0, 6, 11 };
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(m_sender->calls[i].body, withFortune(QStringLiteral("本文"), expected[i] + 1));
            QCOMPARE(m_sender->calls[i].body.count(fortuneBanner()), 1);
        }
        for (const MailRecord &r : sentRecords())
            QCOMPARE(trimmedField(r.Body), QStringLiteral("本文"));
    }

    // "元のサイズ" after choosing bulk mode: the mail goes to the recipient only.
    void narrowingEndsBulkMode()
    {
        writeAddressBook({ { QStringLiteral("一"), QStringLiteral("one@example.test") },
            { QStringLiteral("二"), QStringLiteral("two@example.test") } });
        WriteForm *w = openForm();
        findControl<QPushButton>(w, "Command4")->click();
        findControl<QRadioButton>(w, "Option2")->click();
        findControl<QPushButton>(w, "Command6")->click();
        w->setToText(QStringLiteral("solo@example.test"));
        findControl<QPushButton>(w, "Command1")->click();
        QCOMPARE(m_sender->calls.size(), 1);
        QCOMPARE(m_sender->calls[0].to, QStringLiteral("solo@example.test"));
        QVERIFY(m_prompt->shown().isEmpty());
    }
};

QTEST_MAIN(TestWriteForm)
#include "tst_writeform.moc"
