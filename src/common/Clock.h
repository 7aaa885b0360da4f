#pragma once

#include <QDateTime>

namespace kestra {

// Source of the current time; tests install a fixed one.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

Clock &clock();
// Installs `c` (not owned); nullptr restores the system clock.
void setClock(Clock *c);

// The clock text: the date in the system's short form, then the time as HH:mm:ss.
QString clockText(const QDateTime &when);

} // namespace kestra
