#pragma once

#include "mail/MailLayer.h"
#include "mail/AttachmentFiles.h"
#include "mail/MimeMessage.h"
#include "mail/Pop3Session.h"
#include "mail/SmtpSender.h"

#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QTemporaryFile>

#include <map>
#include <memory>

namespace kestra {

// Removes the files in which an earlier run that crashed was receiving a
// message (in the system's temporary folder). Gives how many were removed.
int removeReceiveLeftovers();

// The program's real mail layer: POP3 sessions over the network (TLS where the
// server name asks for it or the server offers STLS), MIME decoding of
// Japanese mail, attachment expansion with safe file names, reassembly of
// split messages.
//
// Fetching gives the decoded subject, date and sender, the header block and
// the raw body (so that a caller can see "attachment" in it); attachment
// expansion then turns the body into its readable text part. The layer keeps
// the last fetched message whole, so expansion works on the exact bytes even
// when the caller's header buffer was cut short.
class NetMailLayer final : public MailLayer
{
public:
    // Names of the private files that hold a message while it is received;
    // removeReceiveLeftovers() clears those a crash left behind.
    static constexpr char kReceiveFilePattern[] = "kestra-receive-XXXXXX.eml";
    // A message is fetched into memory while it is at most this large: no
    // file is written, cut and read back for each of the many small ones.
    // A larger one goes on in a private file.
    static constexpr qint64 kInMemoryLargest = 4 * 1024 * 1024;

    NetMailLayer();
    ~NetMailLayer() override;
    NetMailLayer(const NetMailLayer &) = delete;
    NetMailLayer &operator=(const NetMailLayer &) = delete;

    // Bounds of every wait, in milliseconds (30 s each by default).
    void setTimeouts(int connectMs, int readMs);
    // Authorities trusted besides the system's (a private server's own CA).
    void addTrustedCaCertificates(const QList<QSslCertificate> &certificates);
    // Reads PEM certificates from a file; false when there are none.
    bool addTrustedCaFile(const QString &path);
    // Sending: trusts the authorities in `pemPath` instead of the system's
    // list (empty: the system's), and bounds its waits by `limits` where the
    // server settings give no time limit of their own.
    void setSmtpTrustedCaFile(const QString &pemPath) { m_smtpCaFile = pemPath; }
    void setSmtpLimits(const SmtpLimits &limits) { m_smtpLimits = limits; }

    void setCancelCheck(std::function<bool()> check) override;
    void setOptions(const MailOptions &options) override;

    int NMailInitializeWinSock() override;
    int NMailSetOption(int option, int value) override;
    int NMailEndWinSock() override;

    int NMailPop3Connect(const QString &server) override;
    int NMailPop3Authenticate(int handle, const QString &id, const QString &password, int apop) override;
    int NMailPop3GetMailStatus(int handle, int number, QString &subject, QString &date, QString &from,
                               QString &header, int flag) override;
    int NMailPop3GetMailSize(int handle, int number) override;
    int NMailPop3GetMail(int handle, int number, QString &subject, QString &date, QString &from,
                         QString &header, QString &body, int bodySize, int flag1, int flag2) override;
    int NMailPop3DeleteMail(int handle, int number) override;
    int NMailPop3Close(int handle) override;
    int NMailPop3Abandon(int handle) override;
    int NMailPop3UniqueIds(int handle, QStringList &ids) override;

    int NMailAttachmentFileFirst(int flag, const QString &subject, const QString &date, const QString &from,
                                 const QString &header, QString &body, const QString &attachFolder,
                                 const QString &tempFile, QString &source, int flag2) override;
    int NMailAttachmentFileClose(int flag) override;
    // Read from the message's temporary file, which stays until the next
    // fetch or the end of the session; best asked after the expansion, when
    // the caller's body text is no longer held.
    QByteArray lastFetchedMessage() const override;

    int NMailGetMessage(int flag, QString &text, int &size) override;

    int NMailSmtpSendMail(const QString &server, const QString &to, const QString &cc, const QString &bcc,
                          const QString &from, const QString &subject, const QString &body,
                          const QString &extraHeader, const QString &attachments, int flag) override;

private:
    Pop3Session *session(int handle);
    int failed(const QString &text, int result = -1);
    int failed(const Error &error, int result = -1) { return failed(error.message(), result); }
    // RETR of message `number` into the private file, its header block read.
    int fetch(int handle, Pop3Session *s, int number);
    void forgetFetched();
    // At the end of a session: the last message, its memory and its file go.
    void dropLastMessage();

    Pop3Options m_options;
    MailOptions m_mailOptions;
    std::function<bool()> m_cancelCheck;
    // One sender for the layer's life, so that a bulk send keeps its connection.
    std::unique_ptr<SmtpSender> m_smtp;
    SmtpLimits m_smtpLimits;
    QString m_smtpCaFile;
    std::map<int, std::unique_ptr<Pop3Session>> m_sessions;
    int m_nextHandle = 1;
    QString m_lastError;
    // The last fetched message, until the next fetch or the close: in memory
    // when small, else in a private file (created for the first large one,
    // kept for the session).
    QByteArray m_lastBytes;
    QBuffer m_lastBuffer;
    std::unique_ptr<QTemporaryFile> m_lastFile;
    QIODevice *m_lastMessage = nullptr; // &m_lastBuffer, m_lastFile or none
    QString m_lastHeaderOut;    // the header text handed out with it
    // The last message: fetched whole when its status was asked, so that
    // fetching it costs no second exchange with the server.
    struct Fetched {
        int handle = 0;
        int number = 0;
        Status outcome = Error();   // until fetched whole: why it could not be
        QByteArray headerBlock;
        mime::HeaderSummary summary;
        qint64 bodyOffset = 0;
    } m_fetched;
    qint64 m_maxMessageBytes = qint64(kDefaultMaxMessageMiB) * 1024 * 1024;
    mime::NextFreeNumbers m_nextFreeNumbers; // where the search for a free attachment name goes on
};

} // namespace kestra
