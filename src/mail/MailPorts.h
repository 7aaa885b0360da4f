#pragma once

#include "mail/MailOptions.h"
#include "mail/MailSender.h"
#include "mail/MailboxSession.h"

#include <functional>
#include <memory>

namespace kestra {

// Push: while it exists, a watch calls `arrived` (on a thread of its own)
// soon after new mail reaches the mailbox.
class MailboxWatch
{
public:
    virtual ~MailboxWatch() = default;
};

// How the program reaches mail servers: makes a mailbox session and a sender
// for the server settings in force. The program installs the real POP3 and
// SMTP ones at start-up; tests install fakes the same way. A mailbox session
// asks its questions through the prompt of whoever runs it: the user's boxes
// for 受信, nobody for an automatic check.
struct MailPorts {
    std::function<std::unique_ptr<MailboxSession>(const MailOptions &options, SecurityPrompt *prompt)> mailbox;
    std::function<std::unique_ptr<MailSender>(const QString &server, const MailOptions &options)> sender;
    // Null where the account's protocol has no push (POP3), or none is installed.
    std::function<std::unique_ptr<MailboxWatch>(const MailOptions &options, const MailboxAccount &account,
                                                std::function<void()> arrived)>
        watch;
};

} // namespace kestra
