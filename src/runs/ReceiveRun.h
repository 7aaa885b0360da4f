#pragma once

#include "runs/LeaveOnServer.h"
#include "mail/MailboxSession.h"
#include "mime/AttachmentFiles.h"
#include "storage/Originals.h"
#include "storage/Records.h"
#include "storage/Settings.h"
#include "storage/StoreFaults.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

namespace kestra {

class RecordFile;

// What one 受信 run needs, read by the caller beforehand.
struct ReceiveInputs {
    QString server;       // POP3 server name; empty: nothing is contacted
    QString id;           // empty ID or password: the run stops after connecting
    QString password;
    bool apop = false;
    int maxMessageMiB = kDefaultMaxMessageMiB;
    QString storePath;    // the received store (kstdata2.data)
    QString attachFolder; // the attachment folder, ending in '/'
    // Leaving the mail on the server (off by default): the options, the list
    // of what earlier runs fetched, and kestra2.ini for the one-time notice.
    ReceiveOptions options;
    QString fetchedListPath;
    QString extraIniPath;
    // Faults for the store's flush and the originals' writes (none: the real disk).
    StoreFaults faults;
};

// A received message as the history window's boxes show it: cut at NUL, the
// body cut to what the record keeps, with the attachment notice appended.
struct ReceivedMail {
    QString subject;
    QString date;
    QString from;
    QString body;
};

// A message the run left on the server, and why.
struct StayedMessage {
    int number = 0;
    QString subject;
    QString from;
    QString reason;
};

// A box the run owes the user, in the order the run met them.
struct ReceiveNotice {
    enum class Kind {
        LibraryError,    // the session's text, titled "エラー"
        SplitIncomplete, // "分割されたメールが全て揃っていません"
        StoreError,      // the store cannot take a record; the rest stays on the server
        SyncError,       // the records cannot reach the disk; everything stays on the server
        Information,     // a word about how the run receives (no UIDL; all mail left on the server)
    };
    Kind kind;
    QString text;
};

struct ReceiveResult {
    bool contacted = false;     // a connection was attempted
    bool connected = false;     // ... and made
    bool accountMissing = false; // no ID or password: closed right after connecting
    bool unchecked = false;     // the mailbox was not looked at (failure or cancel before the log-in)
    int count = 0;              // messages the server reported; 0 without a log-in
    int unseen = 0;             // of them, those no earlier run fetched (all unless mail is left on the server)
    int received = 0;           // stored, and deleted on the server when the run was closed
    int tooLarge = 0;           // over the size limit, left on the server
    bool canceled = false;
    bool declined = false;      // the user answered No to a security question (certificate, plain log-in)
    bool syncFailed = false;    // ended without committing a deletion
    QList<StayedMessage> stayed;
    QList<ReceiveNotice> notices;
    std::optional<ReceivedMail> last; // the last message taken into the history's boxes
};

// Told of the run's progress, on the thread that runs it.
class ReceiveObserver
{
public:
    virtual ~ReceiveObserver() = default;
    // The connection was attempted (the status text goes up).
    virtual void checking() {}
    // Message `n` of `count` is about to be fetched.
    virtual void progress(int n, int count) { (void)n, (void)count; }
    // Message `n` was fetched and is about to be stored as `mail`.
    virtual void fetched(int n, const ReceivedMail &mail) { (void)n, (void)mail; }
};

// The record of the received store for a message shown in the history
// window's boxes: each field trimmed of blanks, the body with CR LF line ends
// as the editor gives it back.
MailRecord receivedRecord(const ReceivedMail &mail);

// The attachment notice appended to a body that mentions "attachment".
const QString &attachmentNotice();

// One 受信 run against a mailbox session: open, log in, list, then for every
// message in server order fetch, expand, store, remove; close. No window is touched; the result says what the windows show. Runs
// on any one thread; cancel() may be called from any other.
//
// A message is deleted on the server only once its record is written; the
// store is put on the disk once, before the session is closed (deletions take
// effect with QUIT). When that fails the session is dropped without QUIT.
// A message the server refuses or whose attachment cannot be written stays on
// the server and the run goes on; a connection that is gone or a store that
// cannot take a record stops the run. A cancel between two messages closes
// the session normally; a cancel while a call waits for the server drops the
// session without QUIT and takes this run's records out of the store again,
// so that the next run receives every message once.
class ReceiveRun
{
public:
    ReceiveRun(MailboxSession &session, ReceiveInputs inputs, ReceiveObserver *observer = nullptr);

    ReceiveResult run();
    // Thread-safe: the run stops before the next message, or at once when a
    // call is waiting for the server.
    void cancel() { m_cancel.store(true); }
    bool cancelRequested() const { return m_cancel.load(); }

private:
    // Steps 3 to 16. False when a cancel left the session out of step.
    bool receiveAll(RecordFile &store);
    void libraryErrorNotice(const Error &error);
    void notice(ReceiveNotice::Kind kind, const QString &text) { m_result.notices.append({kind, text}); }
    // Takes this run's records and new originals out again.
    void rollBack(RecordFile &store);

    MailboxSession &m_session;
    ReceiveInputs m_in;
    ReceiveObserver *m_observer;
    LeaveOnServer m_keep;
    ReceiveResult m_result;
    std::atomic_bool m_cancel{false};
    qint64 m_startCount = -1;    // records in the store before the run's first
    QString m_originals;         // the folder of the originals, beside the store
    originals::OriginalWriter m_originalWriter;
    QStringList m_newOriginals;  // originals this run created
    mime::AttachmentWrites m_attachmentWrites; // the attachment folder resolved, the free-name search
};

} // namespace kestra
