#pragma once

#include "servers/SmtpTestServer.h"
#include "settings/MailOptionsInForce.h"
#include "smtp/SmtpSender.h"

namespace kestra::test {

// Installs ports whose senders are real SMTP senders trusting the test
// servers' authority, with the waits bounded by `limits`; no prompt (every
// question counts as No). Their mailbox fails: these tests only send.
inline void installSmtpPorts(const SmtpLimits &limits)
{
    MailPorts ports;
    ports.sender = [limits](const QString &server, const MailOptions &options) -> std::unique_ptr<MailSender> {
        return std::make_unique<SmtpSender>(
            SmtpSetup{server, options.smtp, options.memoryIni, options.smtpAccount, limits, smtp::caFile(), nullptr});
    };
    installMailPorts(std::move(ports));
}

// Short waits, so a test of a failure does not sit out a real timeout.
inline SmtpLimits shortSmtpLimits()
{
    SmtpLimits limits;
    limits.connectSeconds = limits.responseSeconds = limits.stallSeconds = 5;
    limits.totalSeconds = 30;
    return limits;
}

} // namespace kestra::test
