#include "addressbook/AddressBook.h"
#include "addressbook/FriendForm.h"
#include "common/AppState.h"
#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Twips.h"
#include "storage/Cp932.h"
#include "storage/RecordFile.h"
#include "storage/Records.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

using namespace kestra;
using kestra::test::FakePrompt;
using kestra::test::findControl;
using kestra::test::readBytes;
using kestra::test::TempAppFolder;
using kestra::test::writeBytes;

namespace {

const QChar kIdeoSpace(0x3000);

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// A record as the address book stores it, built byte by byte.
QByteArray recordBytes(const QByteArray &name, const QByteArray &address, char live = 1)
{
    QByteArray out = name.leftJustified(60, ' ');
    out += "\r\n";
    out += live;
    out += '\0';
    out += address.leftJustified(60, ' ');
    return out;
}

QByteArray ideoSpaces(int n)
{
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out += "\x81\x40";
    return out;
}

QStringList rows(const FriendForm *w)
{
    QStringList out;
    for (int i = 0; i < findControl<QListWidget>(w, "List1")->count(); ++i)
        out.append(findControl<QListWidget>(w, "List1")->item(i)->text());
    return out;
}

QString bookPath()
{
    return addressBookPath();
}

FriendForm *addEntry(const QString &name, const QString &address)
{
    FriendForm *w = form<FriendForm>();
    findControl<QLineEdit>(w, "Text2")->setText(name);
    findControl<QLineEdit>(w, "Text4")->setText(address);
    findControl<QPushButton>(w, "Command4")->click();
    return w;
}

} // namespace

class FriendFormTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void storedNameBytes_data();
    void storedNameBytes();
    void addToEmptyBook();
    void emptyFieldMessages_data();
    void emptyFieldMessages();
    void deleteRow0OfThree();
    void answeringNoKeepsRecords();
    void deleteWithoutSelection();
    void charactersOutsideCodePage_data();
    void charactersOutsideCodePage();
    void boxLimitsCountCharacters();
    void paste();
    void loadListsFileAndReloadButtonIsHidden();
    void namesInViewBesideLongAddresses();
    void createdAfreshAfterHome();
    void escapeAsksBeforeTypedTextIsLost();
    void writeFailureIsReported();
    void fullBookRefusesAdd();
    void markedEntryOfAFailedCompactionIsNotListed();
};

void FriendFormTest::cleanup()
{
    unloadForm<FriendForm>();
    settle();
    QApplication::clipboard()->clear();
}

void FriendFormTest::storedNameBytes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("nameBytes"); // the 60-byte name field on disk

    QTest::newRow("two characters") << QStringLiteral("山田") << cp932::encode(u"山田") + ideoSpaces(28);
    const QString thirty = QString(30, QChar(0x3042)); // あ x 30
    QTest::newRow("thirty characters") << thirty << cp932::encode(thirty);
    QTest::newRow("single-byte name") << QStringLiteral("Bob") << QByteArray("Bob") + ideoSpaces(27) + "   ";
    QTest::newRow("half-width kana and kanji")
        << QStringLiteral("ｶﾅ太郎") << QByteArray("\xB6\xC5") + cp932::encode(u"太郎") + ideoSpaces(26) + "  ";
}

void FriendFormTest::storedNameBytes()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, nameBytes);
    TempAppFolder folder;
    FakePrompt prompts;
    FriendForm *w = addEntry(name, QStringLiteral("taro@example.jp"));

    QCOMPARE(nameBytes.size(), 60);
    const QByteArray expected = recordBytes(nameBytes, "taro@example.jp");
    QCOMPARE(readBytes(bookPath()), expected);

    // The row shows the address field, two blanks, the name field, all as read.
    const AddressRecord back = AddressRecord::decode(expected);
    QCOMPARE(rows(w), QStringList{back.Address + QStringLiteral("  ") + back.Name});
    QVERIFY(rows(w).first().startsWith(QStringLiteral("taro@example.jp") + QString(45, u' ') + QStringLiteral("  ")
                                       + name));
    QCOMPARE(prompts.shown().size(), 0);
}

void FriendFormTest::addToEmptyBook()
{
    TempAppFolder folder;
    FakePrompt prompts;
    FriendForm *w = form<FriendForm>();
    QVERIFY(QFile::exists(bookPath())); // the load opened, and so created, the book
    QCOMPARE(findControl<QLineEdit>(w, "Text3")->text(), QStringLiteral("0"));
    QCOMPARE(findControl<QListWidget>(w, "List1")->count(), 0);

    findControl<QLineEdit>(w, "Text2")->setText(QStringLiteral("花子"));
    findControl<QLineEdit>(w, "Text4")->setText(QStringLiteral("hanako@example.jp"));
    findControl<QPushButton>(w, "Command4")->click();
    QCOMPARE(readBytes(bookPath()).size(), 124);
    QCOMPARE(findControl<QListWidget>(w, "List1")->count(), 1);
    QCOMPARE(findControl<QLineEdit>(w, "Text3")->text(), QStringLiteral("1"));
    QCOMPARE(appState().currentRecord, qint16(1));
    QCOMPARE(findControl<QLabel>(w, "Label7")->text(), QStringLiteral("　登録が完了しました。"));
    QVERIFY(findControl<QLineEdit>(w, "Text2")->text().isEmpty());
    QVERIFY(findControl<QLineEdit>(w, "Text4")->text().isEmpty());

    // The next entry goes after it.
    addEntry(QStringLiteral("次郎"), QStringLiteral("jiro@example.jp"));
    QCOMPARE(appState().currentRecord, qint16(2));
    QCOMPARE(findControl<QLineEdit>(w, "Text3")->text(), QStringLiteral("2"));
    QVERIFY(findControl<QListWidget>(w, "List1")->item(1)->text().startsWith(QStringLiteral("jiro@")));
}

void FriendFormTest::emptyFieldMessages_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty address with a name")
        << QStringLiteral("花子") << QString() << QStringLiteral("メールアドレスが入力されていません。");
    QTest::newRow("empty name") << QString() << QStringLiteral("a@b") << QStringLiteral("氏名（名称）が入力されていません。");
    QTest::newRow("both empty: name first") << QString() << QString() << QStringLiteral("氏名（名称）が入力されていません。");
}

void FriendFormTest::emptyFieldMessages()
{
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(QString, message);
    TempAppFolder folder;
    FakePrompt prompts;
    FriendForm *w = addEntry(name, address);
    QCOMPARE(prompts.texts(), QStringList{message});
    QCOMPARE(prompts.shown().first().title, appTitle());
    QCOMPARE(prompts.shown().first().icon, PromptIcon::None);
    QCOMPARE(prompts.shown().first().buttons, PromptButtons::Ok);
    QCOMPARE(readBytes(bookPath()).size(), 0); // nothing written
    QCOMPARE(findControl<QLineEdit>(w, "Text2")->text(), name); // the boxes keep what was typed
    QCOMPARE(findControl<QLineEdit>(w, "Text4")->text(), address);
    QVERIFY(findControl<QLabel>(w, "Label7")->text().isEmpty());

    // Blanks are not empty.
    prompts.clear();
    addEntry(QStringLiteral(" "), QStringLiteral(" "));
    QCOMPARE(prompts.shown().size(), 0);
    QCOMPARE(readBytes(bookPath()).size(), 124);
}

void FriendFormTest::deleteRow0OfThree()
{
    TempAppFolder folder;
    FakePrompt prompts;
    const QByteArray r1 = recordBytes("one", "1@x");
    const QByteArray r2 = recordBytes("two", "2@x");
    const QByteArray r3 = recordBytes("three", "3@x");
    writeBytes(bookPath(), r1 + r2 + r3);
    FriendForm *w = form<FriendForm>();
    QCOMPARE(findControl<QLineEdit>(w, "Text3")->text(), QStringLiteral("3"));

    findControl<QListWidget>(w, "List1")->setCurrentRow(0);
    prompts.answer(PromptAnswer::Yes);
    findControl<QPushButton>(w, "Command5")->click();

    QCOMPARE(prompts.shown().size(), 1);
    const test::ShownPrompt &asked = prompts.shown().first();
    QCOMPARE(asked.text, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"));
    QCOMPARE(asked.title, QStringLiteral("確認"));
    QCOMPARE(asked.buttons, PromptButtons::YesNo);
    QCOMPARE(asked.icon, PromptIcon::Question);

    QCOMPARE(readBytes(bookPath()), r2 + r3); // copied byte for byte, renumbered
    QVERIFY(!QFile::exists(appPaths().dataFile(QStringLiteral("KSTDATA20.TMP"))));
    QCOMPARE(findControl<QListWidget>(w, "List1")->count(), 2);
    QVERIFY(findControl<QListWidget>(w, "List1")->item(0)->text().startsWith(QStringLiteral("2@x")));
    QVERIFY(findControl<QListWidget>(w, "List1")->item(1)->text().startsWith(QStringLiteral("3@x")));
    QCOMPARE(findControl<QLineEdit>(w, "Text3")->text(), QStringLiteral("2"));
    QCOMPARE(findControl<QLabel>(w, "Label7")->text(), QStringLiteral("削除が完了しました"));
    QCOMPARE(appState().currentRecord, qint16(1));

    // The last row of the rest, then the only one: the book ends empty.
    findControl<QListWidget>(w, "List1")->setCurrentRow(1);
    prompts.answer(PromptAnswer::Yes);
    findControl<QPushButton>(w, "Command5")->click();
    QCOMPARE(readBytes(bookPath()), r2);
    findControl<QListWidget>(w, "List1")->setCurrentRow(0);
    prompts.answer(PromptAnswer::Yes);
    findControl<QPushButton>(w, "Command5")->click();
    QCOMPARE(readBytes(bookPath()).size(), 0);
    QVERIFY(QFile::exists(bookPath()));
    QCOMPARE(findControl<QLineEdit>(w, "Text3")->text(), QStringLiteral("0"));
    QCOMPARE(prompts.unexpected(), 0);
}

void FriendFormTest::answeringNoKeepsRecords()
{
    TempAppFolder folder;
    FakePrompt prompts;
    // Double-byte text that decodes and encodes to other bytes must survive untouched.
    const QByteArray before = recordBytes("\x87\x90 name", "a@x") + recordBytes("b", "b@x")
                              + recordBytes("c", "c@x");
    writeBytes(bookPath(), before);
    FriendForm *w = form<FriendForm>();
    findControl<QListWidget>(w, "List1")->setCurrentRow(1);
    prompts.answer(PromptAnswer::No);
    findControl<QPushButton>(w, "Command5")->click();
    QCOMPARE(prompts.shown().size(), 1);
    QCOMPARE(readBytes(bookPath()), before);
    QCOMPARE(findControl<QLabel>(w, "Label7")->text(), QStringLiteral(" "));
    QCOMPARE(findControl<QListWidget>(w, "List1")->count(), 3);
    QCOMPARE(findControl<QLineEdit>(w, "Text3")->text(), QStringLiteral("3"));
}

void FriendFormTest::deleteWithoutSelection()
{
    TempAppFolder folder;
    FakePrompt prompts;
    const QByteArray before = recordBytes("a", "a@x");
    writeBytes(bookPath(), before);
    FriendForm *w = form<FriendForm>();
    findControl<QListWidget>(w, "List1")->clearSelection();
    findControl<QPushButton>(w, "Command5")->click();
    QCOMPARE(prompts.texts(), QStringList{QStringLiteral("データが選択されていません。")});
    QCOMPARE(prompts.shown().first().buttons, PromptButtons::Ok);
    QCOMPARE(readBytes(bookPath()), before);
}

void FriendFormTest::charactersOutsideCodePage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("nameBytes");
    QTest::addColumn<QByteArray>("addressBytes");
    // U+1F600 is an emoji, U+8FD9 a character used only in Chinese.
    QTest::newRow("emoji in the name")
        << (QStringLiteral("山田") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("花"))
        << QStringLiteral("a@example.jp")
        << cp932::encode(u"山田") + "?" + cp932::encode(u"花") + ideoSpaces(26) + " "
        << QByteArray("a@example.jp");
    QTest::newRow("Chinese-only character")
        << QStringLiteral("李\u8FD9") << QStringLiteral("li@example.cn")
        << cp932::encode(u"李") + "?" + ideoSpaces(28) + " " << QByteArray("li@example.cn");
    QTest::newRow("emoji in the address")
        << QStringLiteral("x") << (QStringLiteral("x") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("@例.jp"))
        << QByteArray("x") + ideoSpaces(29) + " " << QByteArray("x?@") + cp932::encode(u"例") + ".jp";
    QTest::newRow("only emoji")
        << QString::fromUcs4(U"\U0001F600\U0001F601") << QStringLiteral("e@x")
        << QByteArray("??") + ideoSpaces(28) + "  " << QByteArray("e@x");
}

void FriendFormTest::charactersOutsideCodePage()
{
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(QByteArray, nameBytes);
    QFETCH(QByteArray, addressBytes);
    TempAppFolder folder;
    FakePrompt prompts;
    FriendForm *w = addEntry(name, address);
    QCOMPARE(prompts.shown().size(), 0);
    QCOMPARE(nameBytes.size(), 60);
    QCOMPARE(readBytes(bookPath()), recordBytes(nameBytes, addressBytes));
    QCOMPARE(findControl<QListWidget>(w, "List1")->count(), 1);
    QVERIFY(findControl<QListWidget>(w, "List1")->item(0)->text().contains(QLatin1Char('?')));

    // The entry can be deleted like any other.
    findControl<QListWidget>(w, "List1")->setCurrentRow(0);
    prompts.answer(PromptAnswer::Yes);
    findControl<QPushButton>(w, "Command5")->click();
    QCOMPARE(readBytes(bookPath()).size(), 0);
}

void FriendFormTest::boxLimitsCountCharacters()
{
    TempAppFolder folder;
    FakePrompt prompts;
    FriendForm *w = form<FriendForm>();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));

    // Thirty double-byte characters fit the name box (60 bytes), a 31st does not.
    // Japanese arrives from the input method, one committed character at a time.
    findControl<QLineEdit>(w, "Text2")->setFocus();
    for (int i = 0; i < 31; ++i) {
        QInputMethodEvent commit;
        commit.setCommitString(QString(QChar(0x3042)));
        QApplication::sendEvent(findControl<QLineEdit>(w, "Text2"), &commit);
    }
    QCOMPARE(findControl<QLineEdit>(w, "Text2")->text(), QString(30, QChar(0x3042)));
    findControl<QLineEdit>(w, "Text4")->setFocus();
    QCOMPARE(QApplication::focusWidget(), findControl<QLineEdit>(w, "Text4"));
    QTest::keyClicks(QApplication::focusWidget(), QString(61, QLatin1Char('m')));
    QCOMPARE(findControl<QLineEdit>(w, "Text4")->text().size(), 60);

    findControl<QLineEdit>(w, "Text4")->setText(QString(59, QLatin1Char('m')) + QStringLiteral("漢字"));
    QCOMPARE(findControl<QLineEdit>(w, "Text4")->text().size(), 60);
    findControl<QPushButton>(w, "Command4")->click();
    const QByteArray stored = readBytes(bookPath());
    QCOMPARE(stored.size(), 124);
    QCOMPARE(stored.left(60), cp932::encode(QString(30, QChar(0x3042))));
    // The 60-byte field keeps 59 letters and a blank where the cut split 漢.
    QCOMPARE(stored.mid(64), QByteArray(59, 'm') + ' ');
}

void FriendFormTest::paste()
{
    TempAppFolder folder;
    FakePrompt prompts;
    FriendForm *w = form<FriendForm>();
    QApplication::clipboard()->setText(QStringLiteral("copied@example.jp"));
    findControl<QPushButton>(w, "Command1")->click();
    QCOMPARE(findControl<QLineEdit>(w, "Text4")->text(), QStringLiteral("copied@example.jp"));

    QApplication::clipboard()->clear();
    findControl<QPushButton>(w, "Command1")->click();
    QCOMPARE(findControl<QLineEdit>(w, "Text4")->text(), QString());

    // A copied line keeps its text but not its line break, which would
    // otherwise travel into the record and on into a mail header.
    QApplication::clipboard()->setText(QStringLiteral("line@example.jp\r\n"));
    findControl<QPushButton>(w, "Command1")->click();
    QCOMPARE(findControl<QLineEdit>(w, "Text4")->text(), QStringLiteral("line@example.jp"));
    findControl<QLineEdit>(w, "Text2")->setText(QStringLiteral("名前\n"));
    QCOMPARE(findControl<QLineEdit>(w, "Text2")->text(), QStringLiteral("名前"));
}

void FriendFormTest::loadListsFileAndReloadButtonIsHidden()
{
    TempAppFolder folder;
    FakePrompt prompts;
    // The data file spelt in small letters is the same book.
    writeBytes(appPaths().dataFolder() + QStringLiteral("/kstdata20.data"),
               recordBytes("a", "a@x") + recordBytes("b", "b@x"));
    FriendForm *w = form<FriendForm>();
    QCOMPARE(w->windowTitle(), QStringLiteral("アドレス帳"));
    QCOMPARE(findControl<QLineEdit>(w, "Text3")->text(), QStringLiteral("2"));
    QVERIFY(findControl<QLineEdit>(w, "Text3")->isReadOnly());
    QVERIFY(findControl<QLabel>(w, "Label7")->text().isEmpty());
    QCOMPARE(pxToTwips(w->width()), 6360);
    QCOMPARE(pxToTwips(w->height()), 6960);
    QCOMPARE(findControl<QListWidget>(w, "List1")->selectionMode(), QAbstractItemView::SingleSelection);

    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    // The reload button lies outside the client area.
    QVERIFY(!w->rect().intersects(findControl<QPushButton>(w, "Command2")->geometry()));
    QVERIFY(!w->rect().intersects(findControl<QLabel>(w, "Label8")->geometry()));

    // Pressing it from code rebuilds the list from the file.
    writeBytes(appPaths().dataFolder() + QStringLiteral("/kstdata20.data"), recordBytes("a", "a@x"));
    findControl<QPushButton>(w, "Command2")->click();
    QCOMPARE(findControl<QListWidget>(w, "List1")->count(), 1);
    QCOMPARE(findControl<QLineEdit>(w, "Text3")->text(), QStringLiteral("1"));
}

void FriendFormTest::namesInViewBesideLongAddresses()
{
    TempAppFolder folder;
    FakePrompt prompts;
    const QString address60 = QString(47, QLatin1Char('a')) + QStringLiteral("@example.test");
    addEntry(QStringLiteral("山田太郎"), address60);
    FriendForm *w = addEntry(QStringLiteral("鈴木"), QStringLiteral(" ")); // blanks count as an address
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));

    // The label is as wide as its text and the box starts right of it.
    QVERIFY(
        findControl<QLabel>(w, "Label1")->width() >= findControl<QLabel>(w, "Label1")->sizeHint().width());
    QVERIFY(findControl<QLineEdit>(w, "Text4")->x() > findControl<QLabel>(w, "Label1")->geometry().right());
    QVERIFY(findControl<QLineEdit>(w, "Text4")->geometry().right()
        < findControl<QPushButton>(w, "Command1")->x());
    QCOMPARE(findControl<QLineEdit>(w, "Text2")->x(), findControl<QLineEdit>(w, "Text4")->x());

    // The rows keep their text; the names show in full inside the list, with nothing to scroll.
    QVERIFY(rows(w).at(0).startsWith(address60 + QStringLiteral("  山田太郎")));
    QVERIFY(rows(w).at(1).startsWith(QString(60, QLatin1Char(' ')) + QStringLiteral("  鈴木")));
    QCOMPARE(findControl<QListWidget>(w, "List1")->horizontalScrollBar()->maximum(), 0);
    const QStringList names{QStringLiteral("山田太郎"), QStringLiteral("鈴木")};
    for (int row = 0; row < 2; ++row) {
        QListWidgetItem *item = findControl<QListWidget>(w, "List1")->item(row);
        const AddressRowLook look
            = addressRowLook(item->text(), findControl<QListWidget>(w, "List1")->visualItemRect(item),
                findControl<QListWidget>(w, "List1")->fontMetrics());
        QCOMPARE(look.name, names.at(row));
        QVERIFY(findControl<QListWidget>(w, "List1")->viewport()->rect().contains(look.nameRect));
        QVERIFY(!look.addressRect.intersects(look.nameRect));
    }
    QVERIFY(addressRowLook(rows(w).at(0),
        findControl<QListWidget>(w, "List1")->visualItemRect(findControl<QListWidget>(w, "List1")->item(0)),
        findControl<QListWidget>(w, "List1")->fontMetrics())
                .address.startsWith(QStringLiteral("aaaa")));

    // A click on the name of the entry without an address selects that entry.
    QListWidgetItem *second = findControl<QListWidget>(w, "List1")->item(1);
    const AddressRowLook look
        = addressRowLook(second->text(), findControl<QListWidget>(w, "List1")->visualItemRect(second),
            findControl<QListWidget>(w, "List1")->fontMetrics());
    test::clickAt(w, findControl<QListWidget>(w, "List1")->viewport()->mapTo(w, look.nameRect.center()));
    QCOMPARE(findControl<QListWidget>(w, "List1")->currentRow(), 1);
    QVERIFY(second->isSelected());
}

void FriendFormTest::createdAfreshAfterHome()
{
    TempAppFolder folder;
    FakePrompt prompts;
    QPointer<FriendForm> first = addEntry(QStringLiteral("花子"), QStringLiteral("h@x"));
    findControl<QLineEdit>(first, "Text2")->setText(QStringLiteral("typed"));
    QVERIFY(!findControl<QLabel>(first, "Label7")->text().isEmpty());
    findControl<QPushButton>(first, "Command3")->click();
    QVERIFY(!loadedForm<FriendForm>());
    settle();
    QVERIFY(first.isNull());

    // Another window puts an address in before showing: the load runs first and keeps it.
    FriendForm *second = form<FriendForm>();
    findControl<QLineEdit>(second, "Text4")->setText(QStringLiteral("sender@example.jp"));
    second->show();
    QCOMPARE(findControl<QLineEdit>(second, "Text4")->text(), QStringLiteral("sender@example.jp"));
    QVERIFY(findControl<QLineEdit>(second, "Text2")->text().isEmpty());
    QVERIFY(findControl<QLabel>(second, "Label7")->text().isEmpty());
    QCOMPARE(findControl<QListWidget>(second, "List1")->count(), 1);
    QVERIFY(!second->isModal());
}

// Esc on the focused box leaves like ホーム; with a name or address typed but not
// registered it asks first, and "No" keeps the window and what was typed.
void FriendFormTest::escapeAsksBeforeTypedTextIsLost()
{
    TempAppFolder folder;
    FakePrompt prompts;
    const auto pressEscape = [] {
        FriendForm *book = form<FriendForm>();
        book->show();
        book->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(book));
        findControl<QLineEdit>(book, "Text2")->setFocus();
        QCOMPARE(QApplication::focusWidget(), findControl<QLineEdit>(book, "Text2"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        settle();
    };
    pressEscape();
    QVERIFY(!loadedForm<FriendForm>());
    QCOMPARE(prompts.shown().size(), 0);

    form<FriendForm>()->showAddress(QStringLiteral("a@example.jp"));
    prompts.answer(PromptAnswer::No);
    pressEscape();
    QVERIFY(loadedForm<FriendForm>());
    QCOMPARE(findControl<QLineEdit>(loadedForm<FriendForm>(), "Text4")->text(), QStringLiteral("a@example.jp"));
    QCOMPARE(prompts.texts(),
             QStringList{QStringLiteral("入力した名前とメールアドレスは登録されていません。閉じますか？")});
    prompts.answer(PromptAnswer::Yes);
    pressEscape();
    QVERIFY(!loadedForm<FriendForm>());
    QCOMPARE(prompts.shown().size(), 2);
}

void FriendFormTest::writeFailureIsReported()
{
    TempAppFolder folder;
    FakePrompt prompts;
    // A folder where the book should be: opening, reading and writing all fail.
    QVERIFY(QDir(appPaths().dataFolder()).mkdir(QStringLiteral("Kstdata20.data")));
    FriendForm *w = form<FriendForm>();
    QCOMPARE(prompts.shown().size(), 1);
    QVERIFY(prompts.shown().first().text.contains(QStringLiteral("Kstdata20.data")));
    prompts.clear();

    findControl<QLineEdit>(w, "Text2")->setText(QStringLiteral("花子"));
    findControl<QLineEdit>(w, "Text4")->setText(QStringLiteral("h@x"));
    findControl<QPushButton>(w, "Command4")->click();
    QVERIFY(!prompts.shown().isEmpty());
    QVERIFY(findControl<QLabel>(w, "Label7")->text().isEmpty()); // no success reported
    QCOMPARE(findControl<QLineEdit>(w, "Text2")->text(), QStringLiteral("花子"));
    QCOMPARE(prompts.unexpected(), 0);
}

void FriendFormTest::fullBookRefusesAdd()
{
    TempAppFolder folder;
    FakePrompt prompts;
    // Record numbers are 16-bit: a book of 32767 entries takes no more.
    QByteArray full;
    const QByteArray one = recordBytes("n", "a@x");
    full.reserve(one.size() * 32767);
    for (int i = 0; i < 32767; ++i)
        full += one;
    writeBytes(bookPath(), full);
    FriendForm *w = addEntry(QStringLiteral("花子"), QStringLiteral("h@x"));
    QCOMPARE(prompts.shown().size(), 1);
    QCOMPARE(prompts.shown().first().icon, PromptIcon::Exclamation);
    QCOMPARE(QFileInfo(bookPath()).size(), qint64(full.size()));
    QCOMPARE(findControl<QLineEdit>(w, "Text3")->text(), QStringLiteral("32767"));
    QCOMPARE(findControl<QLineEdit>(w, "Text2")->text(), QStringLiteral("花子"));
    QVERIFY(findControl<QLabel>(w, "Label7")->text().isEmpty());
}

void FriendFormTest::markedEntryOfAFailedCompactionIsNotListed()
{
    TempAppFolder folder;
    FakePrompt prompts;
    const QByteArray r1 = recordBytes("one", "1@x");
    const QByteArray r2 = recordBytes("two", "2@x");
    const QByteArray r3 = recordBytes("three", "3@x");
    writeBytes(bookPath(), r1 + r2 + r3);
    FriendForm *w = form<FriendForm>();
    // The compaction stops as if the program had died after the mark.
    StoreFaults dies;
    dies.compaction = [](CompactionStep, qint64) { return false; };
    w->setStoreFaults(dies);
    findControl<QListWidget>(w, "List1")->setCurrentRow(0);
    prompts.answer(PromptAnswer::Yes);
    findControl<QPushButton>(w, "Command5")->click();
    w->setStoreFaults({});
    // Only the Live field changed; the entry keeps its own name and address, unlisted.
    QCOMPARE(readBytes(bookPath()), recordBytes("one", "1@x", 0) + r2 + r3);
    QCOMPARE(findControl<QListWidget>(w, "List1")->count(), 2);
    QVERIFY(findControl<QListWidget>(w, "List1")->item(0)->text().startsWith(QStringLiteral("2@x")));

    // Row 1 is record 3 now: exactly that entry goes.
    findControl<QListWidget>(w, "List1")->setCurrentRow(1);
    prompts.answer(PromptAnswer::Yes);
    findControl<QPushButton>(w, "Command5")->click();
    QCOMPARE(readBytes(bookPath()), r2);
    QCOMPARE(prompts.unexpected(), 0);
}

QTEST_MAIN(FriendFormTest)
#include "tst_friendform.moc"
