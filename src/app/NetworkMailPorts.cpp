#include "app/NetworkMailPorts.h"

#include "app/SecurityPrompt.h"
#include "imap/ImapMailbox.h"
#include "imap/ImapPush.h"
#include "pop3/Pop3Mailbox.h"

namespace kestra {

MailPorts networkMailPorts(const NetworkLimits &limits)
{
    MailPorts ports;
    ports.mailbox = [limits](const MailOptions &options, SecurityPrompt *prompt) -> std::unique_ptr<MailboxSession> {
        if (options.imap.receiving)
            return std::make_unique<ImapMailbox>(ImapMailboxSetup{limits.imap, options.imap, options.memoryIni, prompt});
        return std::make_unique<Pop3Mailbox>(Pop3MailboxSetup{limits.pop3, options.pop3, options.memoryIni, prompt});
    };
    ports.sender = [limits](const QString &server, const MailOptions &options) -> std::unique_ptr<MailSender> {
        return std::make_unique<SmtpSender>(SmtpSetup{server, options.smtp, options.memoryIni, options.smtpAccount,
                                                      limits.smtp, limits.smtpCaFile, &boxSecurityPrompt()});
    };
    ports.watch = [limits](const MailOptions &options, const MailboxAccount &account,
                           std::function<void()> arrived) -> std::unique_ptr<MailboxWatch> {
        if (!options.imap.receiving)
            return nullptr;
        return std::make_unique<ImapPush>(ImapMailboxSetup{limits.imap, options.imap, options.memoryIni, nullptr, true}, account,
                                          std::move(arrived));
    };
    return ports;
}

} // namespace kestra
