#pragma once

#include "common/Result.h"

#include <QString>

namespace kestra {

// File and folder names of the program. The data folder is spelt with a capital
// A by most of the program and with a small a by the ID/password file; both are
// one folder, found without regard to letter case.
namespace names {
inline constexpr char16_t dataFolder[] = u"★MAilData";
inline constexpr char16_t attachFolder[] = u"添付フォルダ";
inline constexpr char16_t kestraIni[] = u"kestra.ini";
inline constexpr char16_t extraIni[] = u"kestra2.ini";
inline constexpr char16_t idPassIni[] = u"iniIdPass.ini";
inline constexpr char16_t receivedStore[] = u"kstdata2.data";
inline constexpr char16_t sentStore[] = u"kstdata5.data";
inline constexpr char16_t addressBook[] = u"Kstdata20.data";
inline constexpr char16_t addressPreload[] = u"KSTASTER20.INI";
inline constexpr char16_t favourites[] = u"Kstdata90.data";
inline constexpr char16_t receivedTemp[] = u"KSTDATA2.TMP";
inline constexpr char16_t sentTemp[] = u"KSTDATA5.TMP";
inline constexpr char16_t addressTemp[] = u"KSTDATA20.TMP";
inline constexpr char16_t favouritesTemp[] = u"KSTDATA90.TMP";
} // namespace names

// Finds `name` inside `dir` without regard to letter case. Returns the path of
// the existing entry when there is one (exact spelling preferred), otherwise
// dir + "/" + name with the spelling given, so that new files get that name.
QString resolveInFolder(const QString &dir, const QString &name);

// The default application folder: on Windows the folder of the program, elsewhere
// the per-user data folder (XDG_DATA_HOME moves it).
QString defaultAppFolder();

// Paths below an application folder.
class AppPaths
{
public:
    explicit AppPaths(QString appFolder);

    const QString &appFolder() const { return m_appFolder; }
    QString dataFolder() const;
    QString attachFolder() const;
    QString kestraIni() const;
    // Settings that earlier versions did not have (connection security, ports, limits,
    // browser options). They live in a file of their own so that kestra.ini keeps
    // exactly the four lines that earlier versions read.
    QString extraIni() const;
    QString idPassIni() const;
    // A file in the data folder, found without regard to letter case.
    QString dataFile(const QString &name) const;
    // Files the program added beside the stores: the drafts of unsent mail,
    // the journal of messages left on the server.
    QString draftsFile() const { return dataFile(QStringLiteral("drafts.json")); }
    QString fetchedListFile() const { return dataFile(QStringLiteral("fetched-uidls.txt")); }

    // Creates the application, data and attachment folders when missing.
    Status ensureFolders() const;

private:
    QString m_appFolder;
};

} // namespace kestra
