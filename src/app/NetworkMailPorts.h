#pragma once

#include "mail/MailPorts.h"
#include "imap/ImapSession.h"
#include "pop3/Pop3Session.h"
#include "smtp/SmtpSender.h"

namespace kestra {

// The transport's bounds and extra authorities of the real mail ports: the
// program's defaults, or shorter waits and a test CA where tests ask.
struct NetworkLimits {
    Pop3Options pop3;     // connect and read timeouts, CAs trusted besides the system's
    ImapOptions imap;     // the same for IMAP
    SmtpLimits smtp;
    QString smtpCaFile;   // trusted instead of the system's list; empty: the system's
};

// The real ports: POP3 or IMAP (by the account's protocol) mailbox sessions and SMTP senders over the network,
// asking the user through the program's message boxes.
MailPorts networkMailPorts(const NetworkLimits &limits = {});

} // namespace kestra
