// The process that holds the passwords leaves no core file and cannot be read
// by the user's other processes. A process of its own: the change cannot be undone.
#include "common/CoreDumps.h"

#include <QtTest>

#include <sys/prctl.h>
#include <sys/resource.h>

using namespace kestra;

class TestCoreDumps : public QObject
{
    Q_OBJECT

private slots:
    void processIsKeptOutOfCoreDumps()
    {
        QVERIFY(keepOutOfCoreDumps());
        QCOMPARE(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
        rlimit core{};
        QCOMPARE(::getrlimit(RLIMIT_CORE, &core), 0);
        QCOMPARE(core.rlim_cur, rlim_t(0));
        QCOMPARE(core.rlim_max, rlim_t(0)); // a crash handler cannot raise it again
    }
};

QTEST_GUILESS_MAIN(TestCoreDumps)
#include "tst_coredumps.moc"
