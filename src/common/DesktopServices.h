#pragma once

#include <QUrl>

namespace kestra {

// Hands files and links to the desktop: the system's application for a file,
// the system browser for a link. Tests install a fake that records instead.
class DesktopServices
{
public:
    virtual ~DesktopServices() = default;
    // False when the desktop could not open it.
    virtual bool openUrl(const QUrl &url) = 0;
};

// The services in force: QDesktopServices unless a test installed another.
DesktopServices &desktop();
// Installs `d` (not owned); nullptr restores QDesktopServices.
void setDesktopServices(DesktopServices *d);

} // namespace kestra
