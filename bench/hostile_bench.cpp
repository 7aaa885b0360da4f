// Time per MB of decoding and expanding hostile mails beside an ordinary one,
// each at its first size and ten times as large. Linear work shows as about
// the same figure at 1x and 10x; quadratic work as ten times the figure.
//
//   hostile_bench [REPEAT]
//
// Each mail goes through what receiving does with it after the fetch: the
// header summary, the parse and the expansion of its attachments into an
// empty folder.
#include "mime/MimeMessage.h"
#include "mime/MessageExpansion.h"
#include "servers/HostileMail.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

using namespace kestra;

namespace {

double secondsFor(const QByteArray &mail, int repeat)
{
    double best = 1e9;
    for (int r = 0; r < repeat; ++r) {
        QTemporaryDir folder;
        QElapsedTimer timer;
        timer.start();
        (void)mime::expandMessage(RawMessage(mail), folder.path() + u'/', qint64(1) << 30);
        best = qMin(best, timer.nsecsElapsed() / 1e9);
    }
    return best;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int repeat = argc > 1 ? qMax(1, std::atoi(argv[1])) : 3;
    QList<test::HostileShape> shapes = test::hostileShapes();
    shapes.append({"ordinary mail (x4 lines at 10x)", [](int scale) {
                       QByteArray m = test::ordinaryMail(1);
                       for (int i = 1; i < scale; ++i)
                           m += m.mid(m.indexOf("\r\n\r\n") + 4, 36000);
                       return m;
                   }});
    std::printf("%-34s %10s %10s %10s   %10s %10s %10s\n", "shape", "1x MB", "1x s", "1x s/MB", "10x MB", "10x s",
                "10x s/MB");
    for (const test::HostileShape &shape : shapes) {
        const QByteArray one = shape.make(1);
        const QByteArray ten = shape.make(10);
        const double mbOne = one.size() / 1048576.0;
        const double mbTen = ten.size() / 1048576.0;
        const double sOne = secondsFor(one, repeat);
        const double sTen = secondsFor(ten, repeat);
        std::printf("%-34s %10.3f %10.4f %10.4f   %10.3f %10.4f %10.4f\n", shape.name, mbOne, sOne, sOne / mbOne, mbTen,
                    sTen, sTen / mbTen);
    }
    return 0;
}
