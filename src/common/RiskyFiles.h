#pragma once

#include <QString>

namespace kestra {

// Files that run as programs or scripts when opened: by their ending (.exe,
// .bat, .cmd, .js, .vbs, .scr, .jar, .sh, .desktop, ...) or, for a file that
// exists, by its executable bit.
bool isRiskyFileName(const QString &fileName);
bool isRiskyFile(const QString &path);

// The warning shown before such a file is opened or saved (OK / Cancel).
QString riskyFileWarning(const QString &fileName);

} // namespace kestra
