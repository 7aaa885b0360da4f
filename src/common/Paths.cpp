#include "common/Paths.h"


#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace kestra {

QString resolveInFolder(const QString &dir, const QString &name)
{
    const QString exact = dir + QLatin1Char('/') + name;
    if (QFileInfo::exists(exact))
        return exact;
    const QDir folder(dir);
    if (folder.exists()) {
        const QStringList entries =
            folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &entry : entries) {
            if (entry.compare(name, Qt::CaseInsensitive) == 0)
                return dir + QLatin1Char('/') + entry;
        }
    }
    return exact;
}

QString defaultAppFolder()
{
#ifdef Q_OS_WIN
    return QCoreApplication::applicationDirPath();
#else
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
#endif
}

AppPaths::AppPaths(QString appFolder)
    : m_appFolder(std::move(appFolder))
{
}

QString AppPaths::dataFolder() const
{
    return resolveInFolder(m_appFolder, QString::fromUtf16(names::dataFolder));
}

QString AppPaths::attachFolder() const
{
    return resolveInFolder(m_appFolder, QString::fromUtf16(names::attachFolder));
}

QString AppPaths::kestraIni() const
{
    return resolveInFolder(m_appFolder, QString::fromUtf16(names::kestraIni));
}

QString AppPaths::extraIni() const
{
    return resolveInFolder(m_appFolder, QString::fromUtf16(names::extraIni));
}

QString AppPaths::idPassIni() const
{
    return dataFile(QString::fromUtf16(names::idPassIni));
}

QString AppPaths::dataFile(const QString &name) const
{
    return resolveInFolder(dataFolder(), name);
}

Status AppPaths::ensureFolders() const
{
    for (const QString &folder : {m_appFolder, dataFolder(), attachFolder()}) {
        if (QFileInfo(folder).isDir())
            continue;
        if (!QDir().mkpath(folder))
            return Error(QStringLiteral("フォルダを作成できません: %1").arg(folder));
        // Mail and the address book are nobody else's business.
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    return {};
}

} // namespace kestra
