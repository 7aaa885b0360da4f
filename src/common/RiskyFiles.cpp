#include "common/RiskyFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QMimeType>

namespace kestra {

namespace {

// Endings that Windows, a desktop environment, a Java or script runtime would
// run rather than show.
const char *const kRiskyEndings[] = {
    // Windows programs, installers, launchers and scripts
    "exe", "com", "bat", "cmd", "pif", "scr", "msi", "msp", "mst", "cpl", "hta", "js", "jse", "vb", "vbs",
    "vbe", "ws", "wsc", "wsf", "wsh", "sct", "ps1", "ps1xml", "ps2", "psc1", "psd1", "psm1", "reg", "lnk",
    "url", "scf", "inf", "ins", "isp", "msc", "chm", "hlp", "gadget", "application", "appref-ms", "xbap",
    "settingcontent-ms", "library-ms", "shb", "shs",
    // Java
    "jar", "jnlp", "class",
    // Unix shells, interpreters, packages and desktop launchers
    "sh", "bash", "csh", "ksh", "zsh", "run", "appimage", "desktop", "directory", "kdelnk", "py", "pl",
    "rb", "deb", "rpm", "apk", "dmg", "pkg", "app", "command",
};

// How much of a file is read to tell what it is.
constexpr qint64 kHeadBytes = 64 * 1024;

QByteArrayView withoutBom(QByteArrayView head)
{
    return head.startsWith("\xEF\xBB\xBF") ? head.sliced(3) : head;
}

// True when `line` begins a line of `text` (a section header of a desktop or
// shortcut file, which may follow comments and blank lines).
bool hasLine(QByteArrayView text, QByteArrayView line)
{
    for (qsizetype from = 0; (from = text.indexOf(line, from)) >= 0; from += line.size()) {
        if (from == 0 || text.at(from - 1) == '\n' || text.at(from - 1) == '\r')
            return true;
    }
    return false;
}

bool isPageType(const QMimeType &type)
{
    return type.inherits(QStringLiteral("text/html")) || type.inherits(QStringLiteral("application/xhtml+xml"))
           || type.inherits(QStringLiteral("image/svg+xml"));
}

} // namespace

bool isRiskyFileName(const QString &fileName)
{
    // Blanks and dots at the end are dropped by Windows when the file is saved.
    QString name = fileName;
    while (name.endsWith(QLatin1Char(' ')) || name.endsWith(QLatin1Char('.')))
        name.chop(1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QString ending = name.mid(dot + 1).toLower();
    for (const char *risky : kRiskyEndings) {
        if (ending == QLatin1String(risky))
            return true;
    }
    return false;
}

bool isProgramContent(QByteArrayView head)
{
    const QByteArrayView h = withoutBom(head);
    static const QByteArrayView magics[] = {
        "\x7F" "ELF",                             // Linux and Unix programs and libraries
        "#!",                                      // scripts run by the interpreter they name
        "MZ",                                      // DOS and Windows programs
        "\xCA\xFE\xBA\xBE",                        // Java class, Mach-O universal program
        "\xCF\xFA\xED\xFE", "\xCE\xFA\xED\xFE",    // Mach-O programs
        QByteArrayView("L\0\0\0\x01\x14\x02\0", 8), // Windows shortcut (.lnk)
    };
    for (const QByteArrayView magic : magics) {
        if (h.startsWith(magic))
            return true;
    }
    // A Java archive is a zip file that carries a manifest.
    if (h.startsWith("PK\x03\x04") && h.contains("META-INF/MANIFEST.MF"))
        return true;
    return hasLine(h, "[Desktop Entry]") || hasLine(h, "[KDE Desktop Entry]") || hasLine(h, "[InternetShortcut]");
}

bool isPageContent(QByteArrayView head)
{
    static const QMimeDatabase types;
    return isPageType(types.mimeTypeForData(head.toByteArray()));
}

FileRisk fileRisk(const QString &path)
{
    const QFileInfo info(path);
    if (isRiskyFileName(info.fileName()) || (info.isFile() && info.isExecutable()))
        return FileRisk::Runs;
    QByteArray head;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        head = file.read(kHeadBytes);
    if (isProgramContent(head))
        return FileRisk::Runs;
    static const QMimeDatabase types;
    if (isPageType(types.mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension)) || isPageContent(head))
        return FileRisk::LocalPage;
    return FileRisk::None;
}

bool isRiskyFile(const QString &path)
{
    return fileRisk(path) == FileRisk::Runs;
}

QString riskyFileWarning(const QString &fileName)
{
    return QStringLiteral("「%1」はプログラムやスクリプトとして動く種類のファイルです。\r\n"
                          "開くとパソコンに害を与えるおそれがあります。"
                          "送り主やサイトが信頼できる場合だけ続けて下さい。\r\n続けますか？")
        .arg(fileName);
}

} // namespace kestra
