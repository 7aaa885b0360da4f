#pragma once

#include <QByteArrayView>
#include <QString>

namespace kestra {

// Files that run as programs or scripts when opened: by their ending (.exe,
// .bat, .cmd, .js, .vbs, .scr, .jar, .sh, .desktop, ...) or, for a file that
// exists, by its executable bit or by what its contents are.
bool isRiskyFileName(const QString &fileName);
bool isRiskyFile(const QString &path);

// What opening a file with the desktop's application would do beyond showing it.
enum class FileRisk {
    None,
    Runs,      // a program, script, launcher or Java archive: runs on this computer
    LocalPage, // HTML or SVG: a browser would open it as a local page that can read other local files
};

// The start of a file's contents that runs as a program: ELF or Mach-O, a
// "#!" script, a DOS/Windows "MZ" executable, a Java archive or class, a
// desktop entry, a Windows shortcut or Internet shortcut.
bool isProgramContent(QByteArrayView head);
// The start of a file's contents that a browser would take for HTML or SVG.
bool isPageContent(QByteArrayView head);

// Judges an existing file by its name, its executable bits and the start of
// its contents. A file that cannot be read is judged by name and bits alone.
FileRisk fileRisk(const QString &path);

// The warning shown before such a file is opened or saved (OK / Cancel).
QString riskyFileWarning(const QString &fileName);

} // namespace kestra
