#pragma once

#include "mail/MailOptions.h"
#include "mail/MailSender.h"
#include "mail/MailboxSession.h"

#include <functional>
#include <memory>

namespace kestra {

// How the program reaches mail servers: makes a mailbox session and a sender
// for the server settings in force. The program installs the real POP3 and
// SMTP ones at start-up; tests install fakes the same way.
struct MailPorts {
    std::function<std::unique_ptr<MailboxSession>(const MailOptions &options)> mailbox;
    std::function<std::unique_ptr<MailSender>(const QString &server, const MailOptions &options)> sender;
};

} // namespace kestra
