// kestra.ini, profile files (iniIdPass.ini) and the per-user settings store.
#include "storage/Cp932.h"
#include "storage/Settings.h"
#include "support/TestSupport.h"

#include <QSettings>
#include <QtTest>

using namespace kestra;

class TestSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }

private slots:
    void kestraIniParsing_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("smtp");
        QTest::addColumn<QString>("pop3");
        QTest::addColumn<QString>("mail");
        QTest::addColumn<int>("apop");
        QTest::newRow("written order") << QByteArray("SMTP=s\r\nPOP3=p\r\nMAIL=m\r\nAPOP=1\r\n")
                                       << "s" << "p" << "m" << 1;
        QTest::newRow("other order, extra lines") << QByteArray("x=1\r\nAPOP=1\r\nMAIL=m\r\n[a]\r\nPOP3=p\r\nSMTP=s")
                                                  << "s" << "p" << "m" << 1;
        QTest::newRow("empty value") << QByteArray("SMTP=\r\nPOP3=p\r\n") << "" << "p" << "" << 0;
        QTest::newRow("small letters ignored") << QByteArray("smtp=s\r\npop3=p\r\n") << "" << "" << "" << 0;
        QTest::newRow("later line wins") << QByteArray("POP3=a\r\nPOP3=b\r\n") << "" << "b" << "" << 0;
        QTest::newRow("values untrimmed") << QByteArray("SMTP= s \r\n") << " s " << "" << "" << 0;
        QTest::newRow("LF only") << QByteArray("SMTP=s\nPOP3=p\n") << "s" << "p" << "" << 0;
        QTest::newRow("apop letters") << QByteArray("APOP=1abc\r\n") << "" << "" << "" << 1;
        QTest::newRow("apop empty") << QByteArray("APOP=\r\n") << "" << "" << "" << 0;
        QTest::newRow("apop letter") << QByteArray("APOP=x\r\n") << "" << "" << "" << 0;
        QTest::newRow("apop half rounds to even") << QByteArray("APOP=2.5\r\n") << "" << "" << "" << 2;
        QTest::newRow("apop other half") << QByteArray("APOP=3.5\r\n") << "" << "" << "" << 4;
        QTest::newRow("apop blanks") << QByteArray("APOP= 1\r\n") << "" << "" << "" << 1;
        QTest::newRow("japanese") << (QByteArray("MAIL=") + cp932::encode(u"山田@例.jp") + "\r\n")
                                  << "" << "" << QStringLiteral("山田@例.jp") << 0;
    }
    void kestraIniParsing()
    {
        QFETCH(QByteArray, file);
        SharedSettings s;
        parseKestraIni(file, s);
        QTEST(s.smtpServer, "smtp");
        QTEST(s.pop3Server, "pop3");
        QTEST(s.mailAddress, "mail");
        QTEST(int(s.apop), "apop");
    }

    void kestraIniValuesAreCutTo100Characters()
    {
        SharedSettings s;
        parseKestraIni("POP3=" + QByteArray(150, 'a') + "\r\nSMTP=" + cp932::encode(QString(120, QChar(0x3042))), s);
        QCOMPARE(s.pop3Server, QString(100, u'a'));
        QCOMPARE(s.smtpServer, QString(100, QChar(0x3042)));
    }

    void kestraIniWritesFourLines()
    {
        SharedSettings s;
        s.smtpServer = QStringLiteral("smtp.example.jp ");
        s.pop3Server = QStringLiteral("pop.example.jp");
        s.mailAddress = QStringLiteral("太郎@example.jp");
        s.apop = 1;
        const QString p = path(QStringLiteral("kestra.ini"));
        QVERIFY(writeKestraIni(p, s).ok());
        QCOMPARE(test::readBytes(p), QByteArray("SMTP=smtp.example.jp \r\nPOP3=pop.example.jp\r\nMAIL=")
                                         + cp932::encode(u"太郎") + "@example.jp\r\nAPOP=1\r\n");
        SharedSettings back;
        QVERIFY(readKestraIni(p, back).ok());
        QCOMPARE(back.smtpServer, s.smtpServer);
        QCOMPARE(back.mailAddress, s.mailAddress);
        QCOMPARE(back.apop, qint16(1));
    }

    void missingKestraIniChangesNothing()
    {
        SharedSettings s;
        s.pop3Server = QStringLiteral("kept");
        QVERIFY(readKestraIni(path(QStringLiteral("absent.ini")), s).ok());
        QCOMPARE(s.pop3Server, QStringLiteral("kept"));
        QVERIFY(!writeKestraIni(path(QStringLiteral("no/dir/kestra.ini")), s).ok());
    }

    void profileValuesIgnoreCase()
    {
        const QByteArray file = "; comment\r\n[other]\r\nNAME=wrong\r\n[exeini]\r\n  name = taro \r\nName2=\"pa ss\"\r\n";
        QCOMPARE(ProfileFile::value(file, QStringLiteral("EXEINI"), QStringLiteral("NAME")), QStringLiteral("taro"));
        QCOMPARE(ProfileFile::value(file, QStringLiteral("EXEINI"), QStringLiteral("NAME2")), QStringLiteral("pa ss"));
        QCOMPARE(ProfileFile::value(file, QStringLiteral("EXEINI"), QStringLiteral("NAME3")), QString());
        QCOMPARE(ProfileFile::value(file, QStringLiteral("NONE"), QStringLiteral("NAME")), QString());
    }

    void profileValuesAreCutTo255Bytes()
    {
        QCOMPARE(ProfileFile::value("[EXEINI]\r\nNAME=" + QByteArray(300, 'a'), QStringLiteral("EXEINI"),
                                    QStringLiteral("NAME")),
                 QString(255, u'a'));
        // 128 double-byte characters are 256 bytes: the last one does not fit whole.
        const QByteArray wide = cp932::encode(QString(128, QChar(0x3042)));
        QCOMPARE(ProfileFile::value("[EXEINI]\r\nNAME=" + wide, QStringLiteral("EXEINI"), QStringLiteral("NAME")),
                 QString(127, QChar(0x3042)));
    }

    void profileWritesKeepTheRestOfTheFile()
    {
        const QByteArray file = "[A]\r\nx=1\r\n\r\n[EXEINI]\r\nNAME=old\r\nNAME2=pw\r\n\r\n[Z]\r\ny=2\r\n";
        const QByteArray replaced = ProfileFile::withValue(file, QStringLiteral("exeini"), QStringLiteral("name"),
                                                           QStringLiteral("new"));
        QCOMPARE(replaced, QByteArray("[A]\r\nx=1\r\n\r\n[EXEINI]\r\nname=new\r\nNAME2=pw\r\n\r\n[Z]\r\ny=2\r\n"));
        const QByteArray added = ProfileFile::withValue(file, QStringLiteral("EXEINI"), QStringLiteral("NAME3"),
                                                        QStringLiteral("1"));
        QCOMPARE(added, QByteArray("[A]\r\nx=1\r\n\r\n[EXEINI]\r\nNAME=old\r\nNAME2=pw\r\nNAME3=1\r\n\r\n[Z]\r\ny=2\r\n"));
        const QByteArray fresh = ProfileFile::withValue(QByteArray(), QStringLiteral("EXEINI"),
                                                        QStringLiteral("NAME"), QStringLiteral("山"));
        QCOMPARE(fresh, "[EXEINI]\r\nNAME=" + cp932::encode(u"山") + "\r\n");
    }

    void idPassSaveSwitch()
    {
        const QString p = path(QStringLiteral("iniIdPass.ini"));
        QFile::remove(p);
        QCOMPARE(readIdPass(p).id, QString());
        QVERIFY(writeIdPass(p, {QStringLiteral("taro"), QStringLiteral("secret")}, true).ok());
        QCOMPARE(test::readBytes(p), QByteArray("[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\nNAME3=1\r\n"));
        QVERIFY(writeIdPass(p, {QStringLiteral("other"), QStringLiteral("other")}, false).ok());
        QCOMPARE(test::readBytes(p), QByteArray("[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\nNAME3=0\r\n"));
        const IdPass back = readIdPass(p);
        QCOMPARE(back.id, QStringLiteral("taro"));
        QCOMPARE(back.password, QStringLiteral("secret"));
#ifndef Q_OS_WIN
        QCOMPARE(QFile::permissions(p) & 0x0077, QFileDevice::Permissions()); // group/other: nothing
        QCOMPARE(QFile::permissions(p) & (QFileDevice::ReadOwner | QFileDevice::WriteOwner),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        // An existing file readable by others is tightened on the next write.
        QVERIFY(QFile::setPermissions(p, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
        QVERIFY(writeIdPass(p, {}, false).ok());
        QCOMPARE(QFile::permissions(p) & QFileDevice::ReadOther, QFileDevice::Permissions());
#endif
    }

    void historyClosingStepsLeaveOnlyTheFlag()
    {
        QSettings store(path(QStringLiteral("store.ini")), QSettings::IniFormat);
        store.setValue(QStringLiteral("HIST/1"), QStringLiteral("x"));
        store.setValue(QStringLiteral("OKINI/5"), QStringLiteral("y"));
        store.setValue(QStringLiteral("FLAG/AUTOSAVE"), QStringLiteral("1"));
        clearHistorySettings(store);
        QVERIFY(!store.childGroups().contains(QStringLiteral("HIST")));
        QVERIFY(!store.childGroups().contains(QStringLiteral("OKINI")));
        QVERIFY(store.contains(QStringLiteral("FLAG/AUTOSAVE")));
        QCOMPARE(store.value(QStringLiteral("FLAG/AUTOSAVE")).toString(), QString());
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
