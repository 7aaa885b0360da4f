#include "runs/ReceiveRun.h"

#include "common/Text.h"
#include "mime/Charsets.h"
#include "mime/MessageExpansion.h"
#include "mime/MimeCodec.h"
#include "mime/MimeMessage.h"
#include "storage/Originals.h"
#include "storage/RecordFile.h"

#include <QFile>
#include <QFileInfo>

namespace kestra {

namespace {

// What of a body the store can keep: the record's body field holds
// MailRecord::kBodyChars characters at most, after the leading blanks that are
// trimmed away. The history window shows no more than that, so a huge message
// does not become a huge document in the editor.
QString storableBody(QString body)
{
    qsizetype lead = 0;
    while (lead < body.size() && body[lead] == u' ')
        ++lead;
    body.truncate(lead + MailRecord::kBodyWidth);
    return body;
}

// The body as the history window's editor gives it back: every line break
// (CR LF, CR, LF, the paragraph and line separators, the frame marks) one
// LF, a no-break space a blank.
QString asEditorGivesItBack(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        switch (c) {
        case u'\r':
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            out += u'\n';
            break;
        case u'\n':
        case 0x2028:
        case 0x2029:
        case 0xFDD0:
        case 0xFDD1:
            out += u'\n';
            break;
        case 0x00A0:
            out += u' ';
            break;
        default:
            out += QChar(c);
        }
    }
    return out;
}

} // namespace

const QString &attachmentNotice()
{
    static const QString text = QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");
    return text;
}

MailRecord receivedRecord(const ReceivedMail &mail)
{
    MailRecord record;
    record.Subject = trimBlanks(mail.subject);
    record.Header2 = trimBlanks(mail.from);
    record.Header3 = trimBlanks(mail.date);
    record.Body = trimBlanks(toCrLf(asEditorGivesItBack(mail.body)));
    record.LineEnd = QStringLiteral("\r\n");
    record.Live = 1;
    return record;
}

ReceiveRun::ReceiveRun(MailboxSession &session, ReceiveInputs inputs, ReceiveObserver *observer)
    : m_session(session)
    , m_in(std::move(inputs))
    , m_observer(observer)
    , m_keep(m_in.fetchedListPath.isEmpty() ? ReceiveOptions{} : m_in.options, m_in.fetchedListPath, m_in.storePath,
             MailRecord::kLength, m_in.server, m_in.extraIniPath)
    , m_originals(originals::folderIn(QFileInfo(m_in.storePath).absolutePath()))
    , m_originalWriter(m_originals, m_in.faults)
{
}

ReceiveResult ReceiveRun::run()
{
    m_result = ReceiveResult();
    // 1-2. Connect.
    if (m_in.server.isEmpty())
        return m_result;
    m_session.setCancelCheck([this] { return cancelRequested(); });
    MailboxAccount account;
    account.server = m_in.server;
    account.id = m_in.id;
    account.password = m_in.password;
    account.apop = m_in.apop;
    // The session keeps to the size limit too, for a server that reports
    // one size and sends more.
    account.maxMessageBytes = qint64(m_in.maxMessageMiB) * 1024 * 1024;
    const Status opened = m_session.open(account);
    m_result.contacted = true;
    if (m_observer)
        m_observer->checking();
    if (!opened) {
        // The mailbox was not looked at; a cancel needs no box.
        m_result.unchecked = true;
        if (cancelRequested())
            m_result.canceled = true;
        else
            libraryErrorNotice(opened.error());
        m_session.setCancelCheck({});
        return m_result;
    }
    m_result.connected = true;

    // The received store, open while messages come. Records are handed to
    // the system as they come but put on the disk once, before the session
    // ends: the server deletes only when it is told QUIT, so a message marked
    // for deletion whose record never reached the disk is still on the server.
    RecordFile store(m_in.storePath, MailRecord::kLength, m_in.faults);
    const bool inStep = receiveAll(store);
    // A cancel seen between two messages still ends the session properly:
    // its QUIT commits the deletions of what was stored.
    m_session.setCancelCheck({});

    // A cancel while a call waited left the conversation out of step: no
    // QUIT can commit the deletions, so the records of this run go again
    // and the next run receives those messages once.
    if (!inStep && m_result.canceled) {
        rollBack(store);
        m_result.received = 0;
        store.close();
        (void)m_session.abandon();
        return m_result;
    }

    // 17-18. Closing the session commits the deletions of the stored
    // messages, so they must be on the disk first. When they cannot be put
    // there the session ends without QUIT: every message stays on the server,
    // and the next run receives again what this one could not keep.
    if (m_result.received > 0) {
        Status synced = store.sync();
        if (synced)
            synced = originals::syncFolder(m_originals);
        if (synced)
            synced = m_keep.commit();
        if (!synced) {
            (void)m_session.abandon();
            store.close();
            m_result.syncFailed = true;
            notice(ReceiveNotice::Kind::SyncError, synced.error().message());
            return m_result;
        }
    }
    store.close();
    (void)m_session.close();
    return m_result;
}

void ReceiveRun::libraryErrorNotice(const Error &error)
{
    // After a question the user answered No there is nothing to add.
    if (error.is(Error::Kind::Answered))
        m_result.declined = true;
    else
        notice(ReceiveNotice::Kind::LibraryError, error.message());
}

void ReceiveRun::rollBack(RecordFile &store)
{
    // Should the store refuse, its records stay and those messages come once more.
    if (m_startCount >= 0 && store.isOpen())
        (void)store.truncate(m_startCount);
    for (const QString &path : std::as_const(m_newOriginals))
        QFile::remove(path);
}

bool ReceiveRun::receiveAll(RecordFile &store)
{
    // 3-4. Without an ID or a password nothing is fetched in this run.
    if (m_in.id.isEmpty() || m_in.password.isEmpty()) {
        m_result.accountMissing = true;
        return true;
    }
    // Whether a call failed because the user canceled while it waited.
    const auto canceledInCall = [&] {
        if (!cancelRequested())
            return false;
        m_result.canceled = true;
        return true;
    };

    // 5-7. Log in.
    const Result<int> loggedIn = m_session.login();
    if (!loggedIn) {
        m_result.unchecked = true;
        if (canceledInCall())
            return false;
        libraryErrorNotice(loggedIn.error());
        return true;
    }
    const int count = loggedIn.value();
    if (count == 0)
        return true;
    m_result.count = count;
    m_result.unseen = count;
    const qint64 limit = qint64(m_in.maxMessageMiB) * 1024 * 1024;

    // The sizes, and the unique ids when mail is left on the server.
    const Result<MailboxListing> listed = m_session.list(m_keep.wantsUniqueIds());
    if (!listed) {
        if (canceledInCall())
            return false;
        libraryErrorNotice(listed.error());
        return true;
    }
    const MailboxListing &listing = listed.value();
    // Leave on server: the kept messages now due for deletion.
    m_keep.begin(m_session, listing, count);
    if (!m_keep.notice().isEmpty())
        notice(ReceiveNotice::Kind::Information, m_keep.notice());
    m_result.unseen = m_keep.newMessages(count);
    // Kept mail that cannot be told from new mail: the mailbox stays as it is,
    // and the indicator must not claim new mail that this run never looked at.
    if (m_keep.holdsEverything()) {
        m_result.unseen = 0;
        m_result.unchecked = true;
        return true;
    }

    // 8-16. Each message in server order.
    for (int n = 1; n <= count; ++n) {
        if (m_observer)
            m_observer->progress(n, count);
        // Between two messages: everything before n is stored and marked
        // for deletion, nothing of n onwards has been touched.
        if (cancelRequested()) {
            m_result.canceled = true;
            return true;
        }
        if (m_keep.skip(n)) // left on the server by an earlier run
            continue;
        QString subject;
        QString from;
        const auto leaveOnServer = [&](const QString &reason) {
            m_result.stayed.append({n, subject, from, reason});
        };
        // Names a message that stays on the server by its header, when the
        // server gives it. False when a cancel ended the wait.
        const auto nameFromHeader = [&] {
            const Result<QByteArray> header = m_session.header(n);
            if (!header)
                return !canceledInCall();
            const mime::HeaderSummary summary = mime::summariseHeader(mime::splitMessage(header.value()).header);
            subject = cutAtNul(summary.subject);
            from = cutAtNul(summary.from);
            return true;
        };
        // A message over the size limit is not fetched; it stays on the
        // server, named by its header.
        const qint64 size = n <= listing.entries.size() ? listing.entries.at(n - 1).size : -1;
        if (size > limit) {
            const Result<QByteArray> header = m_session.header(n);
            if (!header) {
                if (canceledInCall())
                    return false;
                if (m_session.broken()) {
                    libraryErrorNotice(header.error());
                    return true;
                }
            } else {
                const mime::HeaderSummary summary = mime::summariseHeader(mime::splitMessage(header.value()).header);
                subject = cutAtNul(summary.subject);
                from = cutAtNul(summary.from);
            }
            ++m_result.tooLarge;
            leaveOnServer(QStringLiteral("%1 MB を超えているため受信しませんでした").arg(m_in.maxMessageMiB));
            continue;
        }
        // A message that could not be fetched whole is neither stored nor deleted.
        // A message the server refuses stays there and the run goes on with
        // the next one. When the connection itself is gone the run stops.
        Result<RawMessage> fetched = m_session.fetch(n);
        if (!fetched) {
            if (canceledInCall())
                return false;
            if (m_session.broken()) {
                libraryErrorNotice(fetched.error());
                return true;
            }
            if (!nameFromHeader())
                return false;
            leaveOnServer(fetched.error().message());
            continue;
        }

        // 10-12. The attachment mark and the expansion, on the bytes as fetched.
        const RawMessage &message = fetched.value();
        const Result<mime::ExpandedMail> expanded
            = mime::expandMessage(message, m_in.attachFolder, limit, &m_attachmentWrites);
        if (!expanded) {
            // An attachment (or a piece of a split message) that could not
            // be written, or no mail codec to parse with: the message stays
            // on the server, to be received once the cause is gone. Only the
            // first is an attachment's fault, and only it is called one.
            const mime::HeaderSummary summary = mime::summariseHeader(message.headerBlock());
            subject = cutAtNul(summary.subject);
            from = cutAtNul(summary.from);
            const QString why = expanded.error().message();
            leaveOnServer(mime::mimeCodec() ? QStringLiteral("添付ファイルをオープンできません\r\n　") + why : why);
            continue;
        }
        const mime::ExpandedMail &content = expanded.value();
        if (content.splitIncomplete)
            notice(ReceiveNotice::Kind::SplitIncomplete, QStringLiteral("分割されたメールが全て揃っていません"));

        // 13. The message as the history window's boxes show it.
        ReceivedMail mail{cutAtNul(content.subject), cutAtNul(content.date), cutAtNul(content.from),
                          storableBody(cutAtNul(content.body))};
        if (content.mentionsAttachment)
            mail.body += QStringLiteral("\r\n") + attachmentNotice();
        if (m_observer)
            m_observer->fetched(n, mail);
        const QByteArray record = receivedRecord(mail).encode();
        m_result.last = std::move(mail);

        // 14. Store it; a store that cannot take it ends the run before the delete.
        if (!store.isOpen()) {
            // A record torn by an earlier run that was killed in the middle
            // of writing goes first; its message is still on the server.
            Status opened = store.open();
            if (opened)
                opened = store.dropTornTail();
            if (!opened) {
                notice(ReceiveNotice::Kind::StoreError, opened.error().message());
                return true;
            }
            m_startCount = store.count();
        }
        const Result<qint16> number = store.appendNumber();
        if (!number) {
            notice(ReceiveNotice::Kind::StoreError, number.error().message());
            return true;
        }
        // The original first, as the server sent it: every record on the
        // disk has its original.
        const QString originalName = originals::nameFor(record);
        const Result<bool> kept = m_originalWriter.write(originalName, message.readAll());
        if (!kept) {
            notice(ReceiveNotice::Kind::StoreError, kept.error().message());
            return true;
        }
        if (kept.value())
            m_newOriginals.append(originals::pathFor(m_originals, originalName));
        if (const Status journalled = m_keep.storing(n, number.value(), record); !journalled) {
            notice(ReceiveNotice::Kind::StoreError, journalled.error().message());
            return true;
        }
        if (const Status stored = store.write(number.value(), record, false); !stored) {
            notice(ReceiveNotice::Kind::StoreError, stored.error().message());
            return true;
        }

        // 15. Only now is it deleted on the server.
        if (m_keep.deleteAfterStoring(n) && !m_session.remove(n) && canceledInCall())
            return false;
        ++m_result.received;
    }
    return true;
}

} // namespace kestra
