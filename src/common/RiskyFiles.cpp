#include "common/RiskyFiles.h"

#include <QFileInfo>

namespace kestra {

namespace {

// Endings that Windows, a desktop environment, a Java or script runtime would
// run rather than show.
const char *const kRiskyEndings[] = {
    "exe", "com", "bat", "cmd", "pif", "scr", "msi", "msp", "cpl", "hta", "js",  "jse", "vbs",
    "vbe", "wsf", "wsh", "ps1", "psm1", "reg", "lnk", "jar", "sh",  "bash", "csh", "run",
    "appimage", "desktop", "py", "pl", "rb", "deb", "rpm", "apk", "dmg", "pkg", "app", "command",
};

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

bool isRiskyFile(const QString &path)
{
    const QFileInfo info(path);
    return isRiskyFileName(info.fileName()) || (info.isFile() && info.isExecutable());
}

QString riskyFileWarning(const QString &fileName)
{
    return QStringLiteral("「%1」はプログラムやスクリプトとして動く種類のファイルです。\r\n"
                          "開くとパソコンに害を与えるおそれがあります。"
                          "送り主やサイトが信頼できる場合だけ続けて下さい。\r\n続けますか？")
        .arg(fileName);
}

} // namespace kestra
