#pragma once

#include "mail/ServerSecurity.h"
#include "storage/Settings.h"

#include <QString>

namespace kestra {

// Who an SMTP session logs in as.
struct SmtpAccount {
    QString user;
    QString password;
};

// What the user set for the mail servers, as values: read on the main thread
// before a receive or send starts and handed to the mail layer, so that the
// layer reads no program-wide state and no settings window's file while it
// works on another thread.
struct MailOptions {
    // kestra2.ini: where the program remembers servers (TLS seen, the answer
    // to sending a password in clear, a certificate the user trusts). Empty:
    // nothing is asked or remembered, and no password goes out in clear.
    QString memoryIni;
    ServerConnection pop3; // the server settings window's choices
    ServerConnection smtp;
    SmtpAccount smtpAccount;
};

// The options of the settings files of an application folder (`extraIni`,
// kestra2.ini; `idPassIni`, iniIdPass.ini; both empty for a bare library user
// without settings files) and the values in force: the SMTP account is the
// SMTP log-in of the server settings window when one is set, else the ID and
// password in force this run (set by receiving or by the ID/password
// window), else the saved ones.
MailOptions mailOptionsFrom(const QString &extraIni, const QString &idPassIni, const SharedSettings &inForce);

} // namespace kestra
