#include "imap/ImapMailbox.h"

#include <QSettings>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace kestra {

namespace {

const QString kImap = QStringLiteral("IMAP");
// UIDs per STORE or EXPUNGE command, so that no command line grows without bound.
constexpr qsizetype kUidsPerCommand = 500;

} // namespace

QByteArray imapUidSet(QList<qint64> uids)
{
    std::sort(uids.begin(), uids.end());
    QByteArray set;
    for (qsizetype i = 0; i < uids.size();) {
        qsizetype j = i;
        while (j + 1 < uids.size() && uids.at(j + 1) <= uids.at(j) + 1)
            ++j;
        if (!set.isEmpty())
            set += ',';
        set += QByteArray::number(uids.at(i));
        if (uids.at(j) != uids.at(i))
            set += ':' + QByteArray::number(uids.at(j));
        i = j + 1;
    }
    return set;
}

ImapMailbox::ImapMailbox(ImapMailboxSetup setup) : m_setup(std::move(setup)) {}
ImapMailbox::~ImapMailbox() = default;

Error ImapMailbox::noSession() const
{
    return Error(QStringLiteral("IMAPの接続がありません。"));
}

Status ImapMailbox::open(const MailboxAccount &account)
{
    m_account = account;
    m_session.reset();
    m_messages.clear();
    m_fetched.clear();
    m_seen.clear();
    m_removed.clear();
    m_rangeTag.clear();
    const QString &ini = m_setup.memoryIni;
    const ServerConnection &settings = m_setup.connection;
    const Result<ServerAddress> resolved = resolveImapAddress(account.server, settings.security, settings.port);
    const ServerAddress address = resolved ? resolved.value() : ServerAddress();
    const ServerMemory memory(ini, MailProtocol::Imap, address.host, address.port);

    ImapOptions options = m_setup.transport;
    options.cancelRequested = [this] { return m_cancelCheck && m_cancelCheck(); };
    applyConnection(options, settings);
    SecurityPrompt *prompt = m_setup.prompt;
    applyServerMemory(options, memory, ini, prompt, kImap);
    for (bool asked = false;; asked = true) {
        auto session = std::make_unique<ImapSession>(options);
        const Status opened = session->open(account.server);
        if (opened) {
            if (!ini.isEmpty() && session->encrypted())
                memory.rememberTls();
            m_session = std::move(session);
            return {};
        }
        // A certificate the system does not know: the user may trust exactly
        // this one for this server, and the connection is made again with it.
        if (asked || !opened.error().is(Error::Kind::CertificateRejected) || ini.isEmpty() || !prompt)
            return opened;
        if (!securityQuestions::trustCertificate(prompt, memory, kImap, session->rejectedCertificate(),
                session->certificateErrors(), address.host, QStringLiteral("エラー")))
            return prompt->attended() ? Status(Error::answered()) : opened;
        options.trustedFingerprint = memory.trustedFingerprint();
        options.trustedOutOfDate = true; // the user has seen its dates
    }
}

Result<int> ImapMailbox::login()
{
    if (!m_session)
        return noSession();
    if (Status in = m_session->login(m_account.id, m_account.password); !in)
        return in.error();
    if (Status selected = select(); !selected)
        return selected.error();
    return int(m_messages.size());
}

Status ImapMailbox::select()
{
    qint64 exists = -1;
    const auto each = [&](const ImapResponse &r) {
        if (r.keyword() == "EXISTS") {
            exists = r.number();
            // Every table of the session is as long as the count.
            if (exists > kMostMessages) {
                m_session->fail(QStringLiteral("IMAPサーバー「%1」のメールの数 (%2 通) が多すぎるため、受信を中止しました。(一度に扱えるのは %3 通までです)")
                                    .arg(m_session->serverName()).arg(exists).arg(kMostMessages));
                return false;
            }
        }
        const QList<QByteArray> code = r.code().split(' ');
        if (code.size() == 2 && code.first().toUpper() == "UIDVALIDITY")
            m_uidValidity = code.last().toLongLong();
        if (code.size() == 2 && code.first().toUpper() == "UIDNEXT")
            m_uidNext = code.last().toLongLong();
        return true;
    };
    if (Status selected = m_session->command("SELECT INBOX", each); !selected)
        return selected;
    if (exists < 0)
        return m_session->fail(QStringLiteral("IMAPサーバー「%1」がINBOXのメールの数を答えませんでした。").arg(m_session->serverName()));
    if (m_setup.watching)
        return {};
    if (Status listed = listMessages(exists); !listed)
        return listed;
    m_session->bounds().largestLiteral = qMax(m_session->bounds().largestLiteral, m_account.maxMessageBytes);
    return adoptRenumbered(m_uidValidity);
}

Status ImapMailbox::listMessages(qint64 exists)
{
    if (exists == 0)
        return {};
    const auto each = [&](const ImapResponse &r) {
        return eachFetch(r, [&](const ImapFetch &f) {
            // Mail another client deleted and has not expunged yet is not new mail.
            if (f.uid > 0 && !f.deleted)
                m_messages.append({f.uid, f.size});
        });
    };
    // A few unsolicited lines beside one FETCH per message.
    if (Status listed = m_session->command("UID FETCH 1:* (UID RFC822.SIZE FLAGS)", each, exists + 1024); !listed)
        return listed;
    std::sort(m_messages.begin(), m_messages.end(), [](const Message &a, const Message &b) { return a.uid < b.uid; });
    m_messages.erase(std::unique(m_messages.begin(), m_messages.end(),
                         [](const Message &a, const Message &b) { return a.uid == b.uid; }),
        m_messages.end());
    return {};
}

bool ImapMailbox::eachFetch(const ImapResponse &response, const std::function<void(const ImapFetch &)> &take)
{
    if (response.keyword() != "FETCH")
        return true;
    QString why;
    const std::optional<ImapFetch> fetch = parseImapFetch(response, m_session->bounds().deepestNesting, &why);
    if (!fetch) {
        m_session->fail(QStringLiteral("IMAPサーバー「%1」の応答を理解できません（%2）。").arg(m_session->serverName(), why));
        return false;
    }
    take(*fetch);
    return true;
}

Status ImapMailbox::adoptRenumbered(qint64 uidValidity)
{
    if (m_setup.memoryIni.isEmpty())
        return {};
    QSettings ini(m_setup.memoryIni, QSettings::IniFormat);
    const QString key = QStringLiteral("imap-uidvalidity/")
        + QString::fromLatin1(QUrl::toPercentEncoding(m_session->serverName().toLower()));
    const QList<QString> stored = ini.value(key).toString().split(u' ');
    const qint64 known = stored.value(0).toLongLong();
    qint64 firstNew = stored.value(1).toLongLong();
    const bool renumbered = known != 0 && known != uidValidity;
    if (renumbered) {
        firstNew = qMax(m_uidNext, m_messages.isEmpty() ? 0 : m_messages.last().uid + 1);
    }
    if (known != uidValidity) {
        ini.setValue(key, QStringLiteral("%1 %2").arg(uidValidity).arg(firstNew));
        ini.sync();
    }
    const auto old = std::partition_point(m_messages.begin(), m_messages.end(),
                                          [firstNew](const Message &m) { return m.uid < firstNew; });
    const qsizetype taken = old - m_messages.begin();
    m_messages.erase(m_messages.begin(), old);
    if (!renumbered)
        return {};
    return Error(QStringLiteral("IMAPサーバー「%1」のINBOXの番号付け（UIDVALIDITY）が変わりました。"
                                "受信済みのメールを二重に受信しないよう、いまサーバーにある %2 通は受信済みとして扱い、"
                                "これから届くメールを受信します。受信していないメールがあれば、ほかのメールソフトで確かめてください。")
                     .arg(m_session->serverName())
                     .arg(taken));
}

Result<MailboxListing> ImapMailbox::list(bool)
{
    if (!m_session)
        return noSession();
    MailboxListing listing;
    listing.hasUniqueIds = true;
    for (int n = 1; n <= m_messages.size(); ++n) {
        const Message &m = m_messages.at(n - 1);
        listing.entries.append({n, m.size, QByteArray::number(m_uidValidity) + '.' + QByteArray::number(m.uid)});
    }
    return listing;
}

void ImapMailbox::askRange(int number)
{
    QList<qint64> uids;
    qint64 bytes = 0;
    int n = number;
    for (; n <= m_messages.size() && uids.size() < kRangeMessages; ++n) {
        const qint64 size = qMax<qint64>(0, m_messages.at(n - 1).size);
        if (!uids.isEmpty() && bytes + size > kRangeBytes)
            break;
        uids.append(m_messages.at(n - 1).uid);
        bytes += size;
    }
    m_rangeEnd = n - 1;
    m_rangeTag = m_session->send("UID FETCH " + imapUidSet(uids) + " (UID BODY.PEEK[])");
}

Status ImapMailbox::readRange()
{
    const auto each = [&](const ImapResponse &r) {
        return eachFetch(r, [&](const ImapFetch &f) {
            if (f.uid > 0 && f.body)
                m_fetched.insert(f.uid, *f.body);
        });
    };
    const Result<ImapResponse> done = m_session->finish(std::exchange(m_rangeTag, {}), each, 4 * kRangeMessages + 64);
    return done.status();
}

Result<RawMessage> ImapMailbox::fetch(int number)
{
    if (!m_session)
        return noSession();
    if (number < 1 || number > m_messages.size())
        return Error(QStringLiteral("%1 番のメールはありません。").arg(number));
    const qint64 uid = m_messages.at(number - 1).uid;
    for (bool asked = false; !m_fetched.contains(uid) && !(asked && m_rangeTag.isEmpty());) {
        if (m_rangeTag.isEmpty()) {
            askRange(number);
            asked = true;
        }
        if (Status read = readRange(); !read)
            return read.error();
        // The next range goes out while the caller stores this one.
        if (m_fetched.contains(uid) && m_rangeEnd < m_messages.size())
            askRange(m_rangeEnd + 1);
    }
    if (!m_fetched.contains(uid))
        return Error(QStringLiteral("IMAPサーバー「%1」が %2 番のメールを送りませんでした。").arg(m_session->serverName()).arg(number));
    QByteArray bytes = m_fetched.take(uid);
    // Messages are asked in order: those read ahead before this one were skipped.
    m_fetched.removeIf([uid](const QHash<qint64, QByteArray>::iterator &it) { return it.key() < uid; });
    m_seen.append(uid);
    return RawMessage(std::move(bytes));
}

Result<QByteArray> ImapMailbox::header(int number)
{
    if (!m_session)
        return noSession();
    if (number < 1 || number > m_messages.size())
        return Error(QStringLiteral("%1 番のメールはありません。").arg(number));
    if (!m_rangeTag.isEmpty()) {
        if (Status read = readRange(); !read)
            return read.error();
    }
    QByteArray header;
    const auto each = [&](const ImapResponse &r) {
        return eachFetch(r, [&](const ImapFetch &f) {
            if (f.body)
                header = *f.body;
        });
    };
    const QByteArray uid = QByteArray::number(m_messages.at(number - 1).uid);
    if (Status got = m_session->command("UID FETCH " + uid + " (UID BODY.PEEK[HEADER])", each); !got)
        return got.error();
    return header;
}

Status ImapMailbox::remove(int number)
{
    if (!m_session)
        return noSession();
    if (number < 1 || number > m_messages.size())
        return Error(QStringLiteral("%1 番のメールはありません。").arg(number));
    m_removed.append(m_messages.at(number - 1).uid);
    return {};
}

Status ImapMailbox::storeFlags(const QList<qint64> &uids, const QByteArray &flag)
{
    for (qsizetype from = 0; from < uids.size(); from += kUidsPerCommand) {
        const QByteArray set = imapUidSet(uids.mid(from, kUidsPerCommand));
        if (Status stored = m_session->command("UID STORE " + set + " +FLAGS.SILENT (" + flag + ')', {}, 2 * kUidsPerCommand + 64); !stored)
            return stored;
        // Exactly these: another client's \Deleted mail stays until that client expunges it.
        if (flag == "\\Deleted" && m_session->hasCapability("UIDPLUS")) {
            if (Status gone = m_session->command("UID EXPUNGE " + set, {}, 2 * kUidsPerCommand + 64); !gone)
                return gone;
        }
    }
    return {};
}

Status ImapMailbox::close()
{
    if (!m_session)
        return noSession();
    Status done = m_rangeTag.isEmpty() ? Status() : readRange();
    m_fetched.clear();
    if (done)
        done = storeFlags(m_seen, "\\Seen");
    if (done)
        done = storeFlags(m_removed, "\\Deleted");
    const Status out = m_session->logout();
    m_session.reset();
    return done ? out : done;
}

Status ImapMailbox::abandon()
{
    if (!m_session)
        return noSession();
    m_fetched.clear();
    const Status out = m_session->logout();
    m_session.reset();
    return out;
}

} // namespace kestra
