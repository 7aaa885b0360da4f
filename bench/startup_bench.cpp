// Time from program start to the main window shown, and what the first page
// in the browser pane costs: once start-up has finished, the toolbar's Home
// is pressed, which loads the web engine library and shows the help page.
// Runs the program's own start-up (runApplication) unchanged; a start-up hook
// watches for the main window's first paint and for the pane being shown,
// prints the times and closes the window, which ends the program. Run it
// through startup_bench.sh, which starts it several times on a virtual
// display and prints the medians.
//
// Program start is KESTRA_BENCH_T0_NS (nanoseconds since the epoch, taken by the
// script just before it starts the program) or, without it, the process's start
// time from /proc (10 ms resolution).
#include "app/MainForm.h"
#include "app/Startup.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

qint64 nowNs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Milliseconds since the program was started.
double sinceStartMs()
{
    if (const QByteArray t0 = qgetenv("KESTRA_BENCH_T0_NS"); !t0.isEmpty())
        return double(nowNs(CLOCK_REALTIME) - t0.toLongLong()) / 1e6;
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Field 22 (start time in clock ticks since boot) follows the ")" of the name.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble();
    return double(nowNs(CLOCK_BOOTTIME)) / 1e6 - startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

class ShownWatch final : public QObject
{
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_shown && event->type() == QEvent::Paint && watched->objectName() == QLatin1String("MainForm")) {
            m_shown = true;
            std::printf("main window shown after %.1f ms\n", sinceStartMs());
            std::fflush(stdout);
            auto *main = qobject_cast<kestra::MainForm *>(watched);
            QObject::connect(main, &kestra::MainForm::startupFinished, main, [this, main] {
                // The user's first page: Home opens the help page in the pane.
                m_asked.start();
                main->findChild<QAction *>(QStringLiteral("Home"))->trigger();
            });
        } else if (!m_pane && event->type() == QEvent::Show
                   && watched->objectName() == QLatin1String("brwWebBrowser")) {
            m_pane = true;
            std::printf("browser pane shown %lld ms after Home was pressed\n", m_asked.elapsed());
            std::fflush(stdout);
            auto *window = static_cast<QWidget *>(watched)->window();
            QTimer::singleShot(0, window, [window] { window->close(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_shown = false;
    bool m_pane = false;
    QElapsedTimer m_asked;
};

void installWatch()
{
    qApp->installEventFilter(new ShownWatch);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installWatch)

int main(int argc, char *argv[])
{
    return kestra::runApplication(argc, argv);
}
