#include "common/Forms.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "common/Twips.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QtTest>

using namespace kestra;

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
};

QTEST_MAIN(TestCommon)
#include "tst_common.moc"
