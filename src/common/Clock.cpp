#include "common/Clock.h"

#include <QLocale>

namespace kestra {

namespace {
class SystemClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

Clock *g_installed = nullptr;
} // namespace

Clock &clock()
{
    static SystemClock system;
    return g_installed ? *g_installed : system;
}

void setClock(Clock *c)
{
    g_installed = c;
}

QString clockText(const QDateTime &when)
{
    const QLocale locale = QLocale::system();
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ')
           + when.time().toString(QStringLiteral("HH:mm:ss"));
}

} // namespace kestra
