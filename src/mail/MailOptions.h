#pragma once

#include "net/ServerSecurity.h"

#include <QString>

namespace kestra {

// Who an SMTP session logs in as.
struct SmtpAccount {
    QString user;
    QString password;
};

// What the user set for the mail servers, as values: read on the main thread
// before a receive or send starts and handed to the mailbox session or the
// sender, so that they read no program-wide state and no settings window's
// file while they work on another thread.
struct MailOptions {
    // kestra2.ini: where the program remembers servers (TLS seen, the answer
    // to sending a password in clear, a certificate the user trusts). Empty:
    // nothing is asked or remembered, and no password goes out in clear.
    QString memoryIni;
    ServerConnection pop3; // the server settings window's choices
    ServerConnection imap; // receiving over IMAP instead of POP3 when `imap.receiving`
    ServerConnection smtp;
    SmtpAccount smtpAccount;
};

} // namespace kestra
