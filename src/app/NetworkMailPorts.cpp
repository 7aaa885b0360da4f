#include "app/NetworkMailPorts.h"

#include "app/SecurityPrompt.h"
#include "pop3/Pop3Mailbox.h"

namespace kestra {

MailPorts networkMailPorts(const NetworkLimits &limits)
{
    MailPorts ports;
    ports.mailbox = [limits](const MailOptions &options, SecurityPrompt *prompt) -> std::unique_ptr<MailboxSession> {
        return std::make_unique<Pop3Mailbox>(Pop3MailboxSetup{limits.pop3, options.pop3, options.memoryIni, prompt});
    };
    ports.sender = [limits](const QString &server, const MailOptions &options) -> std::unique_ptr<MailSender> {
        return std::make_unique<SmtpSender>(SmtpSetup{server, options.smtp, options.memoryIni, options.smtpAccount,
                                                      limits.smtp, limits.smtpCaFile, &boxSecurityPrompt()});
    };
    return ports;
}

} // namespace kestra
