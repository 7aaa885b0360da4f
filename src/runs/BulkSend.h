#pragma once

#include "mail/MailSender.h"
#include "storage/Records.h"
#include "common/Result.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>

namespace kestra {

// The addresses a bulk send goes to: the live entries of the address book in
// file order, trailing blanks removed, entries without an address left out.
Result<QStringList> bulkRecipients(const QString &addressBookPath);

// The sent store's record of a mail that went out.
MailRecord sentRecord(const QString &subject, const QString &date, const QString &to, const QString &body);

// What one send of the compose or the reply window needs, read from the
// window beforehand.
struct BulkSendInputs {
    QString server;         // SMTP server (the sender's)
    QString from;           // the user's own address
    QStringList recipients; // one mail each, in this order
    QString subject;
    QString body;
    QString attachments;    // full paths joined by ","
    // Per mail, the number of the fortune appended to its body by
    // `addFortune` (the compose window's withFortune); empty: no fortune.
    QList<int> fortunes;
    std::function<QString(const QString &body, int fortune)> addFortune;
    QString sentStorePath;  // kstdata5.data; empty: no sent record is kept (the reply window's send)
    // The date of a sent record, asked as each mail goes out (the main
    // window's clock text). Called on the thread that runs the send.
    std::function<QString()> dateText;
};

struct BulkSendResult {
    int count = 0;
    int sent = 0;
    bool stopped = false;      // canceled before every mail was tried
    QStringList failed;        // "address：first line of the reason", per mail that did not go out
    std::optional<Error> lastError; // the sender's whole error of the last failure
    std::optional<Error> storeError; // the first sent record that could not be written
};

// Told of the send's progress, on the thread that runs it.
class BulkSendObserver
{
public:
    virtual ~BulkSendObserver() = default;
    // Mail `n` of `count` is about to go out.
    virtual void progress(int n, int count) { (void)n, (void)count; }
};

// The compose window's send as a plain run: one mail per recipient through
// the sender, each with its own fortune; every mail that went out is
// appended to the sent store, naming the address it went to, and the records
// reach the disk together when the run ends (also when it is stopped). No window is
// touched. Runs on any one thread; cancel() may be called from any other and
// stops the run before the next mail, or at once when a transfer is waiting.
class BulkSend
{
public:
    BulkSend(MailSender &sender, BulkSendInputs inputs, BulkSendObserver *observer = nullptr);

    BulkSendResult run();
    void cancel() { m_cancel.store(true); }
    bool cancelRequested() const { return m_cancel.load(); }

private:
    MailSender &m_sender;
    BulkSendInputs m_in;
    BulkSendObserver *m_observer;
    std::atomic_bool m_cancel{false};
};

} // namespace kestra
