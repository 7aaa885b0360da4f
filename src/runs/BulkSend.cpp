#include "runs/BulkSend.h"

#include "common/Text.h"
#include "storage/Cp932.h"
#include "storage/RecordFile.h"

#include <QRegularExpression>

namespace kestra {

namespace {

QString firstLine(const QString &text)
{
    static const QRegularExpression lineEnd(QStringLiteral("[\r\n]"));
    const qsizetype end = text.indexOf(lineEnd);
    return end < 0 ? text : text.left(end);
}

// The sent store during one run: opened at the first mail that went out, with
// a torn last record (left by a run killed while writing it) cut off first, or
// the new ones would land after a gap. Each record reaches the system as its
// mail goes out, so a program that dies keeps it; the disk gets them all with
// one flush at the end instead of one per mail, which took most of a long run.
// The records of a run differ in the date and the recipient only: the subject
// and the body (the larger part) are encoded once.
class SentStore
{
public:
    SentStore(const QString &path, const QString &subject, const QString &body)
        : m_file(path, MailRecord::kLength), m_record(sentRecord(subject, {}, {}, body).encode())
    {
    }

    Status append(const QString &date, const QString &to)
    {
        if (!m_file.isOpen()) {
            if (Status s = m_file.open(); !s)
                return s;
            if (Status s = m_file.dropTornTail(); !s) {
                m_file.close();
                return s;
            }
        }
        const Result<qint16> number = m_file.appendNumber();
        if (!number)
            return number.status();
        const MailRecord headers = sentRecord({}, date, to, {});
        m_record.replace(MailRecord::kSubjectWidth, MailRecord::kHeader2Width,
                         cp932::encodeField(headers.Header2, MailRecord::kHeader2Width));
        m_record.replace(MailRecord::kSubjectWidth + MailRecord::kHeader2Width, MailRecord::kHeader3Width,
                         cp932::encodeField(headers.Header3, MailRecord::kHeader3Width));
        return m_file.write(number.value(), m_record, false);
    }
    Status finish() { return m_file.isOpen() ? m_file.sync() : Status(); }

private:
    RecordFile m_file;
    QByteArray m_record;
};

} // namespace

Result<QStringList> bulkRecipients(const QString &addressBookPath)
{
    QStringList recipients;
    const Status s = scanLiveRecords(addressBookPath, AddressRecord::kLength, [&](qint64 number, const QByteArray &bytes) {
        if (number > kMaxRecords)
            return false;
        const QString address = trimRightBlanks(AddressRecord::decode(bytes).Address);
        if (!trimBlanks(address).isEmpty())
            recipients.append(address);
        return true;
    });
    if (!s)
        return s.error();
    return recipients;
}

MailRecord sentRecord(const QString &subject, const QString &date, const QString &to, const QString &body)
{
    MailRecord record;
    record.Subject = trimBlanks(subject);
    record.Header2 = date;
    record.Header3 = trimBlanks(to);
    record.Body = trimBlanks(body);
    return record;
}

BulkSend::BulkSend(MailSender &sender, BulkSendInputs inputs, BulkSendObserver *observer)
    : m_sender(sender), m_in(std::move(inputs)), m_observer(observer)
{
}

BulkSendResult BulkSend::run()
{
    BulkSendResult result;
    result.count = int(m_in.recipients.size());
    m_sender.setCancelCheck([this] { return cancelRequested(); });
    const QStringList attachments = splitAttachmentPaths(m_in.attachments);
    SentStore store(m_in.sentStorePath, m_in.subject, m_in.body);
    for (int i = 1; i <= result.count; ++i) {
        if (m_observer)
            m_observer->progress(i, result.count);
        if (cancelRequested()) {
            result.stopped = true;
            break;
        }
        const QString &to = m_in.recipients.at(i - 1);
        // Each mail carries one fortune of its own; the body as typed stays for the next.
        OutgoingMail mail;
        mail.from = m_in.from;
        mail.to = to;
        mail.subject = m_in.subject;
        mail.body = i <= m_in.fortunes.size() && m_in.addFortune ? m_in.addFortune(m_in.body, m_in.fortunes.at(i - 1))
                                                                 : m_in.body;
        mail.attachmentPaths = attachments;
        if (Status sent = m_sender.send(mail); !sent) {
            Error error = sent.error();
            // A transfer ended by the cancel did not fail: the run stops here.
            if (cancelRequested()) {
                result.stopped = true;
                break;
            }
            const QString who = trimBlanks(to).isEmpty() ? QStringLiteral("（宛先なし）") : trimBlanks(to);
            result.failed.append(who + QStringLiteral("：") + firstLine(error.message()));
            result.lastError = std::move(error);
            continue;
        }
        ++result.sent;
        if (m_in.sentStorePath.isEmpty())
            continue; // a reply: no sent record
        // Only a mail that went out enters the sent history.
        const QString date = m_in.dateText ? m_in.dateText() : QString();
        const Status stored = store.append(date, to);
        if (!stored && !result.storeError)
            result.storeError = stored.error();
    }
    if (const Status synced = store.finish(); !synced && !result.storeError)
        result.storeError = synced.error();
    m_sender.setCancelCheck({});
    return result;
}

} // namespace kestra
