// Favourites of the address bar: the file Kstdata90.data as the add, delete,
// paste and reload buttons leave it, and the messages they show.

#include "app/BrowserPane.h"
#include "app/Favourites.h"
#include "app/MainForm.h"
#include "common/AppState.h"
#include "storage/Records.h"
#include "support/FindControl.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

using namespace kestra;
using namespace kestra::test;

namespace {

QByteArray favourite(const QString &url)
{
    FavouriteRecord r;
    r.Spare = QString(FavouriteRecord::kSpareWidth, QLatin1Char(' '));
    r.Url = url;
    return r.encode();
}

} // namespace

class TestFavourites : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempAppFolder> m_folder;
    std::unique_ptr<FakePrompt> m_prompt;
    std::unique_ptr<MainForm> m_form;

    QString storePath() const { return m_folder->dataFile(QStringLiteral("Kstdata90.data")); }
    QString tempPath() const { return m_folder->dataFile(QStringLiteral("KSTDATA90.TMP")); }

    // Three favourites written by hand, loaded into the combo as at start-up.
    QByteArray writeThree()
    {
        const QByteArray bytes = favourite(QStringLiteral("http://one.test/"))
                                 + favourite(QStringLiteral("https://two.test/a?b=c"))
                                 + favourite(QStringLiteral("three.test"));
        writeBytes(storePath(), bytes);
        m_form->Command10_Click();
        return bytes;
    }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<TempAppFolder>();
        m_prompt = std::make_unique<FakePrompt>();
        m_form = std::make_unique<MainForm>();
        setExternalBrowser(nullptr);
    }

    void cleanup()
    {
        QCOMPARE(m_prompt->unexpected(), 0);
        QCOMPARE(m_prompt->pendingAnswers(), 0);
        m_form.reset();
        m_prompt.reset();
        m_folder.reset();
        setExternalBrowser(nullptr);
    }

    void addingTwiceStoresTwoRecords()
    {
        const QString url = QStringLiteral("https://example.test/ページ");
        for (int i = 0; i < 2; ++i) {
            findControl<QComboBox>(m_form, "cboAddress")->setEditText(url);
            findControl<QPushButton>(m_form, "Command2")->click();
        }
        const QByteArray bytes = readBytes(storePath());
        QCOMPARE(bytes.size(), 808);
        QCOMPARE(bytes.left(404), favourite(url));
        QCOMPARE(bytes.mid(404), favourite(url));
        // CR LF and Live = 1 where the record shape puts them.
        QCOMPARE(bytes.mid(200, 4), QByteArray("\r\n\x01\x00", 4));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->count(), 2);
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->itemText(1), url);
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentText(), QString());
        QVERIFY(m_prompt->shown().isEmpty());
    }

    void addingAnEmptyAddressWritesNothing()
    {
        findControl<QPushButton>(m_form, "Command2")->click();
        QCOMPARE(m_prompt->texts(), QStringList{QStringLiteral("アドレスが表示されていません。")});
        QCOMPARE(m_prompt->shown().first().title, appTitle());
        QVERIFY(!QFile::exists(storePath()));
    }

    void deletingTheSecondOfThreeKeepsFirstAndThird()
    {
        const QByteArray before = writeThree();
        findControl<QComboBox>(m_form, "cboAddress")->setCurrentIndex(1);
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(m_form, "Command9")->click();

        QCOMPARE(m_prompt->shown().size(), 1);
        const ShownPrompt asked = m_prompt->shown().first();
        QCOMPARE(asked.text, QStringLiteral("選択されたデータを削除します。よろしいですか"));
        QCOMPARE(asked.title, QStringLiteral("確認"));
        QCOMPARE(asked.icon, PromptIcon::Question);
        QCOMPARE(asked.buttons, PromptButtons::YesNo);

        const QByteArray after = readBytes(storePath());
        QCOMPARE(after.size(), 808);
        QCOMPARE(after.left(404), before.left(404));
        QCOMPARE(after.mid(404), before.mid(808));
        QVERIFY(!QFile::exists(tempPath()));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->count(), 2);
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->itemText(1), QStringLiteral("three.test"));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentText(), QString());
    }

    void answeringNoKeepsTheFileAndEmptiesTheAddress()
    {
        const QByteArray before = writeThree();
        findControl<QComboBox>(m_form, "cboAddress")->setCurrentIndex(2);
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentText(), QStringLiteral("three.test"));
        m_prompt->answer(PromptAnswer::No);
        findControl<QPushButton>(m_form, "Command9")->click();
        QCOMPARE(readBytes(storePath()), before);
        QVERIFY(!QFile::exists(tempPath()));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->count(), 3);
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentText(), QString());
    }

    void deletingWithoutSelectionChangesNothing_data()
    {
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QString>("typed");
        QTest::newRow("nothing chosen") << -1 << QString();
        QTest::newRow("nothing chosen, address typed") << -1 << QStringLiteral("http://one.test/");
        QTest::newRow("chosen, then edited") << 0 << QStringLiteral("http://other.test/");
    }

    void deletingWithoutSelectionChangesNothing()
    {
        QFETCH(int, chosen);
        QFETCH(QString, typed);
        const QByteArray before = writeThree();
        if (chosen >= 0)
            findControl<QComboBox>(m_form, "cboAddress")->setCurrentIndex(chosen);
        if (!typed.isEmpty())
            findControl<QComboBox>(m_form, "cboAddress")->setEditText(typed);
        findControl<QPushButton>(m_form, "Command9")->click();
        QCOMPARE(m_prompt->texts(), QStringList{QStringLiteral("データが選択されていません。")});
        QCOMPARE(readBytes(storePath()), before);
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->count(), 3);
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentText(), typed);
    }

    void deletingTheOnlyFavouriteLeavesAnEmptyFile()
    {
        findControl<QComboBox>(m_form, "cboAddress")->setEditText(QStringLiteral("only.test"));
        findControl<QPushButton>(m_form, "Command2")->click();
        findControl<QComboBox>(m_form, "cboAddress")->setCurrentIndex(0);
        m_prompt->answer(PromptAnswer::Yes);
        findControl<QPushButton>(m_form, "Command9")->click();
        QVERIFY(QFile::exists(storePath()));
        QCOMPARE(readBytes(storePath()).size(), 0);
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->count(), 0);
    }

    void reloadListsRecordsInOrderWithoutPadding()
    {
        writeThree();
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->count(), 3);
        QCOMPARE(
            findControl<QComboBox>(m_form, "cboAddress")->itemText(0), QStringLiteral("http://one.test/"));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->itemText(1),
            QStringLiteral("https://two.test/a?b=c"));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->itemText(2), QStringLiteral("three.test"));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentIndex(), -1);
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentText(), QString());
    }

    void longAddressIsCutToTheField()
    {
        const QString url = QStringLiteral("https://long.test/") + QString(300, QLatin1Char('x'));
        findControl<QComboBox>(m_form, "cboAddress")->setEditText(url);
        findControl<QPushButton>(m_form, "Command2")->click();
        QCOMPARE(readBytes(storePath()).size(), 404);
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->itemText(0), url.left(200));
    }

    void addressesOutsideTheCodePageStayNavigable()
    {
        // Hangul has no code in code page 932; Japanese text does and stays as typed.
        const QString foreign = QStringLiteral("https://한국.example/경로?q=값");
        const QString japanese = QStringLiteral("https://例え.example/パス");
        for (const QString &url : {foreign, japanese}) {
            findControl<QComboBox>(m_form, "cboAddress")->setEditText(url);
            findControl<QPushButton>(m_form, "Command2")->click();
        }
        const QString stored = findControl<QComboBox>(m_form, "cboAddress")->itemText(0);
        QCOMPARE(stored.toLatin1(), stored.toUtf8()); // ASCII only
        QCOMPARE(addressToUrl(stored), addressToUrl(foreign));
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->itemText(1), japanese);
    }

    void storageErrorsAreShown()
    {
        // A folder where the favourites file should be: nothing can be written.
        QVERIFY(QDir().mkpath(storePath()));
        findControl<QComboBox>(m_form, "cboAddress")->setEditText(QStringLiteral("http://one.test/"));
        findControl<QPushButton>(m_form, "Command2")->click();
        QVERIFY(!m_prompt->shown().isEmpty());
        QVERIFY2(m_prompt->shown().first().text.contains(QStringLiteral("Kstdata90.data")),
                 qPrintable(m_prompt->shown().first().text));
        QVERIFY(QFileInfo(storePath()).isDir());
    }

    void pasteSetsTheAddressWithoutNavigating_data()
    {
        QTest::addColumn<QString>("clipboard");
        QTest::newRow("address") << QStringLiteral("https://pasted.test/x");
        QTest::newRow("empty clipboard") << QString();
    }

    void pasteSetsTheAddressWithoutNavigating()
    {
        QFETCH(QString, clipboard);
        findControl<QComboBox>(m_form, "cboAddress")->setEditText(QStringLiteral("before.test"));
        QApplication::clipboard()->setText(clipboard);
        findControl<QPushButton>(m_form, "Command13")->click();
        QCOMPARE(findControl<QComboBox>(m_form, "cboAddress")->currentText(), clipboard);
        QVERIFY(!findControl<QTimer>(m_form, "timTimer")->isActive());
        // Nothing was navigated: the pane's web view was never made.
        QVERIFY(!m_form->findChild<QWidget *>(QStringLiteral("brwWebBrowser")));
    }

    void homePageOpensTheShippedHelpPage()
    {
        QList<QUrl> opened;
        setExternalBrowser([&opened](const QUrl &url) {
            opened.append(url);
            return true;
        });
        findControl<QPushButton>(m_form, "Command12")->click();
        QCOMPARE(opened.size(), 1);
        QVERIFY(opened.first().isLocalFile());
        QFile page(opened.first().toLocalFile());
        QVERIFY(page.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(page.readAll()).contains(QStringLiteral("<title>ケストラ")));
        QVERIFY(m_prompt->shown().isEmpty());
        // Nothing was navigated: the pane's web view was never made.
        QVERIFY(!m_form->findChild<QWidget *>(QStringLiteral("brwWebBrowser")));
    }

    void homePageWithoutBrowserIsReported()
    {
        setExternalBrowser([](const QUrl &) { return false; });
        findControl<QPushButton>(m_form, "Command12")->click();
        QCOMPARE(m_prompt->shown().size(), 1);
        QVERIFY(m_prompt->shown().first().text.contains(QStringLiteral("ブラウザを起動できませんでした")));
        QCOMPARE(m_prompt->shown().first().icon, PromptIcon::Exclamation);
    }
};

QTEST_MAIN(TestFavourites)
#include "tst_favourites.moc"
