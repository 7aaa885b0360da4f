#include "mail/MailOptions.h"

namespace kestra {

MailOptions mailOptionsFrom(const QString &extraIni, const QString &idPassIni, const SharedSettings &inForce)
{
    MailOptions options;
    if (!extraIni.isEmpty()) {
        options.memoryIni = extraIni;
        options.pop3 = readServerConnection(options.memoryIni, MailProtocol::Pop3);
        options.smtp = readServerConnection(options.memoryIni, MailProtocol::Smtp);
    }
    if (!options.smtp.user.isEmpty()) {
        options.smtpAccount = { options.smtp.user, options.smtp.password };
    } else if (!inForce.pop3Id.isEmpty()) {
        options.smtpAccount = { inForce.pop3Id, inForce.pop3Password };
    } else if (!idPassIni.isEmpty()) {
        const IdPass saved = readIdPass(idPassIni);
        options.smtpAccount = { saved.id, saved.password };
    }
    return options;
}

} // namespace kestra
