#include "settings/MailOptionsInForce.h"

#include "common/AppState.h"
#include "common/Paths.h"
#include "storage/Settings.h"

namespace kestra {

namespace {

Error notBuiltIn()
{
    return Error(QStringLiteral("メール機能が組み込まれていません。"));
}

// Stands in while no ports are installed: every transfer fails with a clear
// text, nothing is contacted.
class NoMailbox final : public MailboxSession
{
public:
    void setCancelCheck(std::function<bool()>) override {}
    Status open(const MailboxAccount &) override { return notBuiltIn(); }
    Result<int> login() override { return notBuiltIn(); }
    Result<MailboxListing> list(bool) override { return notBuiltIn(); }
    Result<QByteArray> header(int) override { return notBuiltIn(); }
    Result<RawMessage> fetch(int) override { return notBuiltIn(); }
    Status remove(int) override { return notBuiltIn(); }
    Status close() override { return {}; }
    Status abandon() override { return {}; }
    bool broken() const override { return true; }
};

class NoSender final : public MailSender
{
public:
    void setCancelCheck(std::function<bool()>) override {}
    Status send(const OutgoingMail &) override { return notBuiltIn(); }
};

MailPorts noPorts()
{
    MailPorts ports;
    ports.mailbox = [](const MailOptions &, SecurityPrompt *) { return std::make_unique<NoMailbox>(); };
    ports.sender = [](const QString &, const MailOptions &) { return std::make_unique<NoSender>(); };
    return ports;
}

MailPorts &installed()
{
    static MailPorts ports = noPorts();
    return ports;
}

} // namespace

const MailPorts &mailPorts()
{
    return installed();
}

void installMailPorts(MailPorts ports)
{
    const MailPorts none = noPorts();
    installed().mailbox = ports.mailbox ? std::move(ports.mailbox) : none.mailbox;
    installed().sender = ports.sender ? std::move(ports.sender) : none.sender;
    installed().watch = std::move(ports.watch);
}

MailOptions mailOptionsInForce()
{
    MailOptions options;
    const bool hasFolder = !appState().appFolder.isEmpty();
    const AppPaths paths = appPaths();
    if (hasFolder) {
        options.memoryIni = paths.extraIni();
        options.pop3 = readServerConnection(options.memoryIni, MailProtocol::Pop3);
        options.imap = readServerConnection(options.memoryIni, MailProtocol::Imap);
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
