#pragma once

#include "common/Result.h"

#include <QByteArray>
#include <QString>

class QSettings;

namespace kestra {

// Settings values shared by every window for the whole run.
struct SharedSettings {
    QString smtpServer;
    QString pop3Server;
    QString mailAddress;
    qint16 apop = 0; // non-zero asks for APOP authentication
    QString pop3Id;
    QString pop3Password;
    // Set by "OK" in the account window: the ID and password typed there are
    // used for the rest of the run, also when they were not saved to the file.
    bool accountConfirmed = false;
};


// kestra.ini: four lines "SMTP=", "POP3=", "MAIL=", "APOP=" in code page 932
// with CR LF. Keys are matched with letter case significant; a value is at most
// 100 characters; a later line wins.
void parseKestraIni(const QByteArray &bytes, SharedSettings &settings);
QByteArray formatKestraIni(const SharedSettings &settings);
// Reads the file into `settings` when it exists; a missing file changes nothing.
Status readKestraIni(const QString &path, SharedSettings &settings);
Status writeKestraIni(const QString &path, const SharedSettings &settings);

// A profile (INI) file read and written the way the platform's profile-string
// functions do it: section and key names without regard to letter case, values
// cut to 255 bytes on reading, the rest of the file kept on writing.
class ProfileFile
{
public:
    static constexpr int kValueBytes = 255;

    static QString value(const QByteArray &contents, const QString &section, const QString &key);
    static QByteArray withValue(const QByteArray &contents, const QString &section,
                                const QString &key, const QString &value);

    // Empty text when the file, the section or the key is missing.
    static QString read(const QString &path, const QString &section, const QString &key);
    // Creates the file, the section or the key as needed. The file may hold a
    // password: on POSIX systems it is only ever readable by its owner (0600).
    static Status write(const QString &path, const QString &section, const QString &key,
                        const QString &value);
};

// iniIdPass.ini: ID (NAME), password (NAME2) and the save switch (NAME3) in section EXEINI.
struct IdPass {
    QString id;
    QString password;
};
IdPass readIdPass(const QString &path);
// With `save`: NAME, NAME2 and NAME3 = "1" in that order; without: only NAME3 = "0".
Status writeIdPass(const QString &path, const IdPass &values, bool save);

// kestra2.ini, [receive] maxMessageMiB: the largest message, in MiB, that
// receiving fetches; larger ones stay on the server. 32 when the file or the
// key is missing or unreadable; kept within 1..1024.
inline constexpr int kDefaultMaxMessageMiB = 32;
int readMaxMessageMiB(const QString &extraIniPath);
Status writeMaxMessageMiB(const QString &extraIniPath, int mib);

// kestra2.ini, [receive]: options of receiving that earlier versions did not
// have. Missing keys (and so a missing file) give the defaults, under which
// receiving works exactly as it always did: every stored message is deleted
// on the server and mail is received only when the user asks.
struct ReceiveOptions {
    bool leaveOnServer = false;     // leaveOnServer: keep fetched mail on the server
    int deleteAfterDays = 0;        // deleteAfterDays: delete kept mail after so many days; 0 = never
    bool deleteWithHistory = false; // deleteWithHistory: a record deleted in the history goes on the server too
    int checkEveryMinutes = 0;      // checkEveryMinutes: receive automatically; 0 = never
};
inline constexpr int kLargestDeleteAfterDays = 3650;
inline constexpr int kLargestCheckMinutes = 1440;
ReceiveOptions readReceiveOptions(const QString &extraIniPath);
// Written owner-only, like the rest of the file.
Status writeReceiveOptions(const QString &extraIniPath, const ReceiveOptions &options);

// kestra2.ini, [compose] keepDrafts: the compose and reply windows keep what
// is being written in a drafts file, offered back at the next start. Off
// unless the user turns it on: a closed window's text goes, as it always did.
bool readKeepDrafts(const QString &extraIniPath);
Status writeKeepDrafts(const QString &extraIniPath, bool keep);

// The per-user settings store of the application "torivane".
QSettings *openSettingsStore();
// Steps run when the history window closes: HIST and OKINI are written and
// removed, FLAG/AUTOSAVE is set to an empty text.
void clearHistorySettings(QSettings &store);

// Writes `bytes` to `path` through a temporary file that is flushed to disk and
// renamed over it, so the file is never half-written. `ownerOnly` gives it 0600.
Status writeFileAtomically(const QString &path, const QByteArray &bytes, bool ownerOnly = false);

} // namespace kestra
