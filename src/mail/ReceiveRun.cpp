#include "mail/ReceiveRun.h"

#include "common/Text.h"
#include "mail/Charsets.h"
#include "mail/MimeMessage.h"
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

ReceiveRun::ReceiveRun(MailLayer &library, ReceiveInputs inputs, ReceiveObserver *observer)
    : m_library(library)
    , m_in(std::move(inputs))
    , m_observer(observer)
    , m_keep(m_in.fetchedListPath.isEmpty() ? ReceiveOptions{} : m_in.options, m_in.fetchedListPath, m_in.storePath,
             MailRecord::kLength, m_in.server, m_in.extraIniPath)
    , m_originals(originals::folderIn(QFileInfo(m_in.storePath).absolutePath()))
{
}

ReceiveResult ReceiveRun::run()
{
    m_result = ReceiveResult();
    // 1-2. Connect.
    if (m_in.server.isEmpty())
        return m_result;
    // The library enforces the size limit too, for a server that reports one
    // size and sends more.
    m_library.NMailSetOption(MailLayer::kOptionMaxMessageMiB, m_in.maxMessageMiB);
    m_library.setCancelCheck([this] { return cancelRequested(); });
    const int handle = m_library.NMailPop3Connect(m_in.server);
    m_result.contacted = true;
    if (m_observer)
        m_observer->checking();
    if (handle == -1) {
        // The mailbox was not looked at; a cancel needs no box.
        m_result.unchecked = true;
        if (cancelRequested())
            m_result.canceled = true;
        else
            libraryErrorNotice();
        m_library.setCancelCheck({});
        return m_result;
    }
    m_result.connected = true;

    // The received store, open while messages come. Records are handed to
    // the system as they come but put on the disk once, before the session
    // ends: the server deletes only when it is told QUIT, so a message marked
    // for deletion whose record never reached the disk is still on the server.
    RecordFile store(m_in.storePath, MailRecord::kLength, m_in.faults);
    const bool inStep = receiveAll(handle, store);
    // A cancel seen between two messages still ends the session properly:
    // its QUIT commits the deletions of what was stored.
    m_library.setCancelCheck({});

    // A cancel while a call waited left the conversation out of step: no
    // QUIT can commit the deletions, so the records of this run go again
    // and the next run receives those messages once.
    if (!inStep && m_result.canceled) {
        rollBack(store);
        m_result.received = 0;
        store.close();
        m_library.NMailPop3Abandon(handle);
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
            m_library.NMailPop3Abandon(handle);
            store.close();
            m_result.syncFailed = true;
            notice(ReceiveNotice::Kind::SyncError, synced.error().message());
            return m_result;
        }
    }
    store.close();
    m_library.NMailPop3Close(handle);
    return m_result;
}

void ReceiveRun::libraryErrorNotice()
{
    libraryErrorNotice(lastLayerError(m_library));
}

void ReceiveRun::libraryErrorNotice(const Error &error)
{
    // After a question the user answered No there is nothing to add.
    if (!error.is(Error::Kind::Answered))
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

bool ReceiveRun::receiveAll(int handle, RecordFile &store)
{
    // 3-4. Without an ID or a password nothing is fetched in this run.
    if (m_in.id.isEmpty() || m_in.password.isEmpty()) {
        m_result.accountMissing = true;
        return true;
    }
    // 5-7. Log in.
    const int result = m_library.NMailPop3Authenticate(handle, m_in.id, m_in.password, m_in.apop ? -1 : 0);
    if (result == 0)
        return true;
    if (result < 0) {
        m_result.unchecked = true;
        if (cancelRequested()) {
            m_result.canceled = true;
            return false;
        }
        libraryErrorNotice();
        return true;
    }
    const int count = result;
    m_result.count = count;
    m_result.unseen = count;
    const qint64 limit = qint64(m_in.maxMessageMiB) * 1024 * 1024;

    // Whether a call failed because the user canceled while it waited.
    const auto canceledInCall = [&] {
        if (!cancelRequested())
            return false;
        m_result.canceled = true;
        return true;
    };

    // Leave on server: unique ids, and the kept messages now due for deletion.
    if (const Status began = m_keep.begin(m_library, handle, count); !began) {
        if (canceledInCall())
            return false;
        libraryErrorNotice(began.error());
        return true;
    }
    if (!m_keep.notice().isEmpty())
        notice(ReceiveNotice::Kind::Information, m_keep.notice());
    m_result.unseen = m_keep.newMessages(count);

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
        QString subject(MailLayer::kHeaderBufferSize, QLatin1Char(' '));
        QString date(MailLayer::kHeaderBufferSize, QLatin1Char(' '));
        QString from(MailLayer::kHeaderBufferSize, QLatin1Char(' '));
        QString header(MailLayer::kHeaderBufferSize, QLatin1Char(' '));
        if (m_library.NMailPop3GetMailStatus(handle, n, subject, date, from, header, 0) < 0 && canceledInCall())
            return false;
        const auto leaveOnServer = [&](const QString &reason) {
            m_result.stayed.append({n, cutAtNul(subject), cutAtNul(from), reason});
        };
        // A message the server refuses stays there and the run goes on with
        // the next one. When the connection itself is gone (the size of the
        // same message can no longer be asked) the run stops.
        const auto refused = [&] {
            const Error reason = lastLayerError(m_library);
            if (m_library.NMailPop3GetMailSize(handle, n) < 0) {
                libraryErrorNotice(reason);
                return false;
            }
            leaveOnServer(reason.message());
            return true;
        };
        const int size = m_library.NMailPop3GetMailSize(handle, n);
        if (size < 0) {
            if (canceledInCall())
                return false;
            if (refused())
                continue;
            return true;
        }
        // A message over the size limit is not fetched; it stays on the server.
        if (size > limit) {
            ++m_result.tooLarge;
            leaveOnServer(QStringLiteral("%1 MB を超えているため受信しませんでした").arg(m_in.maxMessageMiB));
            continue;
        }
        // The body buffer is sized by the reported size, but not filled in
        // advance: a server claiming gigabytes must not make us allocate them.
        QString body;
        // A message that could not be fetched whole is neither stored nor deleted.
        if (m_library.NMailPop3GetMail(handle, n, subject, date, from, header, body, size + 1, 0, 0) < 0) {
            if (canceledInCall())
                return false;
            if (refused())
                continue;
            return true;
        }
        const QString fetchedBody = body; // shared, not copied: for a layer that keeps no original
        subject = cutAtNul(subject);
        date = cutAtNul(date);
        from = cutAtNul(from);
        header = cutAtNul(header);
        body = cutAtNul(body);

        // 10. Attachment mark.
        const bool attachmentMark = body.contains(QStringLiteral("attachment"));

        // 11-12. Attachment expansion. The library works on the message it
        // fetched; no copy of it goes through a file.
        QString source;
        const int expanded = m_library.NMailAttachmentFileFirst(0, subject, date, from, header, body,
                                                                m_in.attachFolder, QString(), source, 0);
        m_library.NMailAttachmentFileClose(0);
        // The message as the server sent it, kept beside its record.
        QByteArray original = m_library.lastFetchedMessage();
        if (original.isEmpty())
            original = mime::rawTextBytes(header + QStringLiteral("\r\n") + cutAtNul(fetchedBody));
        if (expanded == -5) {
            // An attachment (or a piece of a split message) that could not
            // be written: the message stays on the server, to be received
            // once the cause is gone.
            leaveOnServer(QStringLiteral("添付ファイルをオープンできません\r\n　") + lastLayerError(m_library).message());
            continue;
        }
        if (expanded == -6)
            notice(ReceiveNotice::Kind::SplitIncomplete, QStringLiteral("分割されたメールが全て揃っていません"));

        // 13. The message as the history window's boxes show it.
        ReceivedMail mail{subject, date, from, storableBody(cutAtNul(body))};
        body = QString();
        if (attachmentMark)
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
        const Result<qint16> number = AppendRecordNumber(m_in.storePath, MailRecord::kLength);
        if (!number) {
            notice(ReceiveNotice::Kind::StoreError, number.error().message());
            return true;
        }
        // The original first: every record on the disk has its original.
        const QString originalName = originals::nameFor(record);
        const QString originalPath = originals::pathFor(m_originals, originalName);
        const bool newOriginal = !QFileInfo::exists(originalPath);
        if (const Status kept = originals::writeOriginalNamed(m_originals, originalName, original, false, m_in.faults); !kept) {
            notice(ReceiveNotice::Kind::StoreError, kept.error().message());
            return true;
        }
        if (newOriginal)
            m_newOriginals.append(originalPath);
        if (const Status journalled = m_keep.storing(n, number.value(), record); !journalled) {
            notice(ReceiveNotice::Kind::StoreError, journalled.error().message());
            return true;
        }
        if (const Status stored = store.write(number.value(), record, false); !stored) {
            notice(ReceiveNotice::Kind::StoreError, stored.error().message());
            return true;
        }

        // 15. Only now is it deleted on the server.
        if (m_keep.deleteAfterStoring(n) && m_library.NMailPop3DeleteMail(handle, n) < 0 && canceledInCall())
            return false;
        ++m_result.received;
    }
    return true;
}

} // namespace kestra
