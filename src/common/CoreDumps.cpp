#include "common/CoreDumps.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#include <sys/resource.h>
#endif

namespace kestra {

bool keepOutOfCoreDumps()
{
#ifdef Q_OS_LINUX
    const rlimit none{0, 0};
    const bool noCore = ::setrlimit(RLIMIT_CORE, &none) == 0;
    const bool hidden = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
    return noCore && hidden;
#else
    return true;
#endif
}

} // namespace kestra
