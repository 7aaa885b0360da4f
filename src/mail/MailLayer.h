#pragma once

#include "common/Result.h"
#include "mail/MailOptions.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace kestra {

// The program's mail library: POP3 receiving, attachment expansion and SMTP
// sending as plain calls. Messages are numbered from 1. Output texts are
// filled the way fixed-size buffers are: at most (size - 1) characters, and
// callers cut every text at its first NUL (cutAtNul). Results that callers
// test: connect -1 = failed; authenticate = number of waiting messages, 0 =
// none, negative = error; attachment expansion 1 = expanded, -5 = an
// attachment could not be opened, -6 = a split message is still incomplete;
// send negative = failed. After any failure NMailGetMessage gives the text.
class MailLayer
{
public:
    static constexpr int kHeaderBufferSize = 8192;
    static constexpr int kMessageBufferSize = 8192;
    // NMailSetOption(kOptionMaxMessageMiB, n): a message longer than n MiB is
    // not fetched; NMailPop3GetMail fails and the message stays on the server.
    static constexpr int kOptionMaxMessageMiB = 2;
    static constexpr int kDefaultMaxMessageMiB = 32;
    static constexpr int kLargestMessageMiB = 1024;

    virtual ~MailLayer() = default;

    // `check` is asked while a call waits for a server; when it answers true
    // the call ends at once and fails (its session is gone). An empty check
    // removes it. The layers that never wait ignore it.
    virtual void setCancelCheck(std::function<bool()> check) { (void)check; }
    // The user's server settings and account for the calls that follow,
    // read by the caller before a run (mailOptionsInForce). The layers that
    // contact no server ignore them.
    virtual void setOptions(const MailOptions &options) { (void)options; }

    virtual int NMailInitializeWinSock() = 0;
    virtual int NMailSetOption(int option, int value) = 0;
    virtual int NMailEndWinSock() = 0;

    virtual int NMailPop3Connect(const QString &server) = 0;
    // apop: -1 = use APOP, 0 = USER/PASS.
    virtual int NMailPop3Authenticate(int handle, const QString &id, const QString &password,
                                      int apop) = 0;
    virtual int NMailPop3GetMailStatus(int handle, int number, QString &subject, QString &date,
                                       QString &from, QString &header, int flag) = 0;
    virtual int NMailPop3GetMailSize(int handle, int number) = 0;
    // `bodySize` is the size of the caller's body buffer (message size + 1).
    virtual int NMailPop3GetMail(int handle, int number, QString &subject, QString &date,
                                 QString &from, QString &header, QString &body, int bodySize,
                                 int flag1, int flag2) = 0;
    virtual int NMailPop3DeleteMail(int handle, int number) = 0;
    virtual int NMailPop3Close(int handle) = 0;
    // Ends the session WITHOUT committing its deletions: the connection is
    // closed without QUIT (after an RSET where the server still answers), so
    // every message marked by NMailPop3DeleteMail stays on the server. For
    // when what was fetched could not be made safe on the disk. 0 = the
    // server confirmed the reset; the session is gone either way.
    virtual int NMailPop3Abandon(int handle) = 0;
    // The unique id (UIDL) of every waiting message: ids[n - 1] belongs to
    // message n, empty where the server gave none. 0 = listed, 1 = the
    // server (or the layer) has no unique ids, negative = failure. A layer
    // without them answers 1, and callers then receive the way they always
    // did.
    virtual int NMailPop3UniqueIds(int handle, QStringList &ids)
    {
        Q_UNUSED(handle);
        ids.clear();
        return 1;
    }

    // Expands the attachments of a fetched message into `attachFolder` (a path
    // ending in a separator). `source` is the message source written to
    // `tempFile`; `body` may come back changed (the text part only).
    virtual int NMailAttachmentFileFirst(int flag, const QString &subject, const QString &date,
                                         const QString &from, const QString &header,
                                         QString &body, const QString &attachFolder,
                                         const QString &tempFile, QString &source, int flag2) = 0;
    virtual int NMailAttachmentFileClose(int flag) = 0;

    // The message last fetched by NMailPop3GetMail exactly as the server sent
    // it (dot-unstuffed), for keeping the original. Empty when the layer does
    // not keep it; callers then form it from the header and body texts.
    virtual QByteArray lastFetchedMessage() const { return {}; }

    // Text of the last error; `size` is the buffer size (8192) and comes back as
    // the length of the text.
    virtual int NMailGetMessage(int flag, QString &text, int &size) = 0;

    // `to` may name several recipients separated by commas; `attachments` is a
    // comma-separated list of full paths, or empty.
    virtual int NMailSmtpSendMail(const QString &server, const QString &to, const QString &cc,
                                  const QString &bcc, const QString &from, const QString &subject,
                                  const QString &body, const QString &extraHeader,
                                  const QString &attachments, int flag) = 0;
};

// The layer in force. Until one is installed, every call fails with a text
// saying that mail cannot be sent or received.
MailLayer &mailLayer();
// Installs `layer` (not owned); nullptr restores the default.
void setMailLayer(MailLayer *layer);

// The text of the last failure of `library` (NMailGetMessage), cut at its
// first NUL. A blank text follows a question the user answered No: it comes
// back as Answered, with nothing more to show.
Error lastLayerError(MailLayer &library);

} // namespace kestra
