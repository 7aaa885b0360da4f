#include "common/DesktopServices.h"

#include <QDesktopServices>

namespace kestra {

namespace {
class SystemDesktop final : public DesktopServices
{
public:
    bool openUrl(const QUrl &url) override { return QDesktopServices::openUrl(url); }
};

DesktopServices *g_installed = nullptr;
} // namespace

DesktopServices &desktop()
{
    static SystemDesktop system;
    return g_installed ? *g_installed : system;
}

void setDesktopServices(DesktopServices *d)
{
    g_installed = d;
}

} // namespace kestra
