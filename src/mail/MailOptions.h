#pragma once

#include "mail/ServerSecurity.h"

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

// The options in force: the connection settings of kestra2.ini and the SMTP
// account, which is the SMTP log-in of the server settings window when one is
// set, else the ID and password in force this run (set by receiving or by the
// ID/password window), else the saved ones of iniIdPass.ini. Without an
// application folder (a bare library user) there are no settings files: only
// the ID in force, if any.
// Reads the program-wide state: call it on the main thread.
MailOptions mailOptionsInForce();

} // namespace kestra
