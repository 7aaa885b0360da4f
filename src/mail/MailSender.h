#pragma once

#include "common/Result.h"
#include "mail/OutgoingMail.h"

#include <functional>

namespace kestra {

// Sends mail to the one server it was made for. A sender keeps its
// connection from one mail to the next, so a bulk send logs in once.
class MailSender
{
public:
    virtual ~MailSender() = default;
    // Asked several times a second while a transfer waits, on the sending
    // thread; true ends the transfer at once (an error of kind Canceled).
    virtual void setCancelCheck(std::function<bool()> check) = 0;
    // The error's kind tells a certificate that failed the check
    // (CertificateRejected), a stop by the cancel check (Canceled) and a
    // question the user answered No (Answered, without a text).
    virtual Status send(const OutgoingMail &mail) = 0;
};

} // namespace kestra
