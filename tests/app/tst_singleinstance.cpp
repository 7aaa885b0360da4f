// One running copy per application folder: a second start finds the first,
// brings its window to the front and ends.
#include "app/SingleInstance.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

using namespace kestra;

class TestSingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void secondStartShowsTheFirstCopysWindow()
    {
        QTemporaryDir folder;
        QWidget window;
        SingleInstance first(folder.path());
        QVERIFY(first.acquire());
        first.setWindow(&window);
        QVERIFY(!window.isVisible());

        SingleInstance second(folder.path());
        QVERIFY(!second.acquire());
        QVERIFY(second.activateRunning());
        QTRY_VERIFY(window.isVisible());

        // Another application folder is another copy's business.
        QTemporaryDir other;
        SingleInstance elsewhere(other.path());
        QVERIFY(elsewhere.acquire());
    }

    void aDeadCopysLockIsTakenOver()
    {
        QTemporaryDir folder;
        // A lock file left by a process that no longer runs.
        QFile stale(SingleInstance::lockPath(folder.path()));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("999999\nkestra\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        stale.close();
        {
            SingleInstance copy(folder.path());
            QVERIFY(copy.acquire());
        }
        // A copy that ended leaves the lock free for the next start.
        SingleInstance next(folder.path());
        QVERIFY(next.acquire());
    }

    void aLockHeldByAnotherProcessRefuses()
    {
        QTemporaryDir folder;
        // Another process holding the file lock, as a running copy does.
        QProcess holder;
        // It holds the lock until its input closes.
        holder.start(QStringLiteral("flock"), {QStringLiteral("-o"), SingleInstance::lockPath(folder.path()),
                                               QStringLiteral("-c"), QStringLiteral("echo held; read line")});
        QVERIFY(holder.waitForReadyRead(10000));
        SingleInstance copy(folder.path());
        QVERIFY(!copy.acquire());
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));
        QVERIFY(copy.acquire());
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
