#pragma once

#include "mail/MailLayer.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

namespace kestra {

// A mail layer that plays a script instead of talking to servers, for tests of
// the engines and the windows: a mailbox of ready-made messages, a record of every call, and
// chosen calls made to fail. Messages deleted in a session leave the mailbox
// when that session is closed, as on a POP3 server.
class ScriptedMailLayer final : public MailLayer
{
public:
    struct Message {
        QString subject;
        QString date;
        QString from;
        QString header;
        QString body;          // what fetching gives
        QString expandedBody;  // what attachment expansion turns it into; empty = unchanged
        int expandResult = 0;  // result of the attachment expansion
        int size = -1;         // reported size; -1 = the body's length
    };

    // One call as it was made: its name without the "NMail" prefix and its
    // main arguments joined with "|".
    struct Call {
        QString name;
        QString args;
    };

    struct SentMail {
        QString server, to, from, subject, body, attachments;
    };

    ScriptedMailLayer();
    ~ScriptedMailLayer() override;

    QList<Message> mailbox;
    QString expectedId;        // empty: any ID and password are accepted
    QString expectedPassword;
    QString errorText = QStringLiteral("スクリプトされたエラー");

    // The `occurrence`-th call (from 1) of `name` ("Pop3Connect", "Pop3GetMail"
    // ...) gives `result` instead of its normal result and sets the error text.
    // occurrence 0 = every call.
    void failCall(const QString &name, int occurrence = 0, int result = -1, const QString &text = {});

    // Called with each call's name as it is made (on the caller's thread),
    // before its result is decided: tests cancel a run from here.
    std::function<void(const QString &name)> onCall;

    const QList<Call> &calls() const { return m_calls; }
    QStringList callNames() const;
    int count(const QString &name) const;
    const QList<SentMail> &sent() const { return m_sent; }
    bool connectionOpen() const { return m_open; }

    void setCancelCheck(std::function<bool()> check) override { m_cancelCheck = std::move(check); }
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
    int NMailAttachmentFileFirst(int flag, const QString &subject, const QString &date, const QString &from,
                                 const QString &header, QString &body, const QString &attachFolder,
                                 const QString &tempFile, QString &source, int flag2) override;
    int NMailAttachmentFileClose(int flag) override;
    int NMailGetMessage(int flag, QString &text, int &size) override;
    int NMailSmtpSendMail(const QString &server, const QString &to, const QString &cc, const QString &bcc,
                          const QString &from, const QString &subject, const QString &body,
                          const QString &extraHeader, const QString &attachments, int flag) override;

private:
    // Records the call; true (with `result` set) when it is scripted to fail.
    bool record(const QString &name, const QString &args, int &result);
    const Message *message(int number) const;

    QList<Call> m_calls;
    QMap<QString, QList<QPair<int, int>>> m_failures; // name -> (occurrence, result)
    QMap<QString, QString> m_failureTexts;
    QList<SentMail> m_sent;
    QList<int> m_deleted;
    QString m_lastError;
    const Message *m_lastFetched = nullptr;
    bool m_open = false;
    std::function<bool()> m_cancelCheck;
};

} // namespace kestra
