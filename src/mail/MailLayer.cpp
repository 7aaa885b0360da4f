#include "mail/MailLayer.h"

#include "common/Text.h"

namespace kestra {

namespace {

// Stands in while no mail layer is installed: every transfer fails with a
// clear text, nothing is contacted.
class NoMailLayer final : public MailLayer
{
public:
    int NMailInitializeWinSock() override { return 0; }
    int NMailSetOption(int, int) override { return 0; }
    int NMailEndWinSock() override { return 0; }
    int NMailPop3Connect(const QString &) override { return -1; }
    int NMailPop3Authenticate(int, const QString &, const QString &, int) override { return -1; }
    int NMailPop3GetMailStatus(int, int, QString &, QString &, QString &, QString &, int) override { return -1; }
    int NMailPop3GetMailSize(int, int) override { return -1; }
    int NMailPop3GetMail(int, int, QString &, QString &, QString &, QString &, QString &, int, int, int) override { return -1; }
    int NMailPop3DeleteMail(int, int) override { return -1; }
    int NMailPop3Close(int) override { return 0; }
    int NMailPop3Abandon(int) override { return 0; }
    int NMailAttachmentFileFirst(int, const QString &, const QString &, const QString &, const QString &,
                                 QString &, const QString &, const QString &, QString &, int) override { return 0; }
    int NMailAttachmentFileClose(int) override { return 0; }
    int NMailGetMessage(int, QString &text, int &size) override
    {
        text = QStringLiteral("メール機能が組み込まれていません。");
        size = int(text.size());
        return 0;
    }
    int NMailSmtpSendMail(const QString &, const QString &, const QString &, const QString &, const QString &,
                          const QString &, const QString &, const QString &, const QString &, int) override
    {
        return -1;
    }
};

MailLayer *g_installed = nullptr;

} // namespace

MailLayer &mailLayer()
{
    static NoMailLayer none;
    return g_installed ? *g_installed : none;
}

void setMailLayer(MailLayer *layer)
{
    g_installed = layer;
}

Error lastLayerError(MailLayer &library)
{
    QString text(MailLayer::kMessageBufferSize, QLatin1Char(' '));
    int size = MailLayer::kMessageBufferSize;
    library.NMailGetMessage(0, text, size);
    text = cutAtNul(text);
    if (trimBlanks(text).isEmpty())
        return Error::answered();
    return Error(text);
}

} // namespace kestra
