#include "mail/MailOptions.h"

#include "common/AppState.h"
#include "common/Paths.h"
#include "storage/Settings.h"

namespace kestra {

MailOptions mailOptionsInForce()
{
    MailOptions options;
    const bool hasFolder = !appState().appFolder.isEmpty();
    const AppPaths paths = appPaths();
    if (hasFolder) {
        options.memoryIni = paths.extraIni();
        options.pop3 = readServerConnection(options.memoryIni, MailProtocol::Pop3);
        options.smtp = readServerConnection(options.memoryIni, MailProtocol::Smtp);
    }
    const SharedSettings &s = appState().settings;
    if (!options.smtp.user.isEmpty()) {
        options.smtpAccount = { options.smtp.user, options.smtp.password };
    } else if (!s.pop3Id.isEmpty()) {
        options.smtpAccount = { s.pop3Id, s.pop3Password };
    } else if (hasFolder) {
        const IdPass saved = readIdPass(paths.idPassIni());
        options.smtpAccount = { saved.id, saved.password };
    }
    return options;
}

} // namespace kestra
