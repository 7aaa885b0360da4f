#include "runs/BulkSend.h"

#include "common/Text.h"
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
        // Only a mail that went out enters the sent history. A record torn
        // by a run that was killed while writing it goes first: otherwise
        // the new one lands after a gap.
        const Status whole = dropTornTail(m_in.sentStorePath, MailRecord::kLength);
        const Result<qint16> number
            = whole ? AppendRecordNumber(m_in.sentStorePath, MailRecord::kLength) : Result<qint16>(whole.error());
        const QString date = m_in.dateText ? m_in.dateText() : QString();
        const Status stored = number ? writeRecordAt(m_in.sentStorePath, MailRecord::kLength, number.value(),
                                                     sentRecord(m_in.subject, date, to, m_in.body).encode())
                                     : number.status();
        if (!stored && !result.storeError)
            result.storeError = stored.error();
    }
    m_sender.setCancelCheck({});
    return result;
}

} // namespace kestra
