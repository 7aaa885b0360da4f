#include "runs/LeaveOnServer.h"

#include "common/Clock.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QSettings>

namespace kestra {

LeaveOnServer::LeaveOnServer(const ReceiveOptions &options, QString listPath, QString storePath, int recordLength,
                             QString server, QString extraIniPath)
    : m_options(options)
    , m_list(std::move(listPath))
    , m_storePath(std::move(storePath))
    , m_recordLength(recordLength)
    , m_server(std::move(server))
    , m_extraIni(std::move(extraIniPath))
{
}

void LeaveOnServer::begin(MailboxSession &session, const MailboxListing &listing, int count)
{
    if (!m_options.leaveOnServer || count <= 0)
        return;
    m_ids.clear();
    // The journal keys each message by its id. Servers may give two messages
    // the same id: the second and later ones get the occurrence added after
    // a tab (never part of an id a server lists), so that each is fetched,
    // kept and expired on its own.
    QHash<QString, int> occurrences;
    bool idMissing = false;
    for (const MailboxEntry &entry : listing.entries) {
        QString id = QString::fromLatin1(entry.uniqueId);
        if (id.isEmpty())
            idMissing = true;
        else if (const int k = ++occurrences[id]; k > 1)
            id += u'\t' + QString::number(k);
        m_ids.append(id);
    }
    const QString &server = m_server;
    if (!listing.hasUniqueIds) {
        // A server that listed unique ids before and refuses them now (a
        // passing fault, or a plain connection tampered with) has kept mail
        // that this run cannot tell from new mail: nothing is fetched and
        // nothing deleted.
        if (uniqueIdServer(m_extraIni) == server) {
            m_holding = true;
            m_notice = QStringLiteral("POP3サーバー %1 からメールの識別番号（UIDL）を受け取れなかったため、"
                                      "受信済みのメールと新しいメールを見分けられません。"
                                      "今回は受信せず、メールはすべてサーバーに残します。")
                           .arg(server);
            return;
        }
        if (noUidlNoticeServer(m_extraIni) != server) {
            m_notice = QStringLiteral("POP3サーバー %1 はメールの識別番号（UIDL）に対応していないため、"
                                      "メールをサーバーに残せません。受信したメールはこれまでどおりサーバーから削除します。")
                           .arg(server);
            setNoUidlNoticeServer(m_extraIni, server);
        }
        return;
    }
    if (uniqueIdServer(m_extraIni) != server)
        setUniqueIdServer(m_extraIni, server);
    // A listing with ids for some messages only is as unsure as none.
    if (idMissing || listing.entries.size() < count) {
        m_holding = true;
        m_notice = QStringLiteral("POP3サーバー %1 が一部のメールの識別番号（UIDL）を返さなかったため、"
                                  "受信済みのメールと新しいメールを見分けられません。"
                                  "今回は受信せず、メールはすべてサーバーに残します。")
                       .arg(server);
        return;
    }
    // A list that cannot be read would make every kept message be fetched
    // again, or deleted as if it were new: the run leaves the mailbox alone
    // and says why.
    if (Status loaded = m_list.load(m_storePath, m_recordLength); !loaded) {
        m_holding = true;
        m_notice = QStringLiteral("受信済みメールの一覧を読めないため、今回は受信せず、メールはすべてサーバーに残します。\r\n")
            + loaded.error().message();
        return;
    }
    m_active = true;
    QSet<QString> onServer;
    const QDateTime now = clock().now();
    for (int n = 1; n <= count && n <= m_ids.size(); ++n) {
        const QString &id = m_ids.at(n - 1);
        onServer.insert(id);
        const auto it = m_list.entries().constFind(id);
        if (it == m_list.entries().cend())
            continue;
        const bool expired = m_options.deleteAfterDays > 0 && now >= it->fetched.addDays(m_options.deleteAfterDays);
        const bool deletedHere = m_options.deleteWithHistory && it->deleteAsked;
        // A stored message: its deletion takes effect only when the session ends with QUIT.
        if (expired || deletedHere)
            (void)session.remove(n);
    }
    m_list.retainOnly(onServer);
    for (int n = 1; n <= count; ++n)
        m_fresh += skip(n) ? 0 : 1;
}

bool LeaveOnServer::skip(int n) const
{
    if (!m_active)
        return false;
    const QString id = m_ids.value(n - 1);
    // A message the server gave no id for cannot be told apart: it is
    // fetched and deleted like before.
    return !id.isEmpty() && m_list.contains(id);
}

int LeaveOnServer::newMessages(int count) const
{
    return m_active ? m_fresh : count;
}

Status LeaveOnServer::storing(int n, qint64 record, const QByteArray &recordBytes)
{
    const QString id = m_ids.value(n - 1);
    if (!m_active || id.isEmpty())
        return {};
    return m_list.addPending(id, record, recordBytes, clock().now());
}

Status LeaveOnServer::commit()
{
    if (!m_active)
        return {};
    return m_list.commit(m_storePath, m_recordLength);
}

QString noUidlNoticeServer(const QString &extraIniPath)
{
    return QSettings(extraIniPath, QSettings::IniFormat).value(QStringLiteral("receive/noUidlServer")).toString();
}

QString uniqueIdServer(const QString &extraIniPath)
{
    return QSettings(extraIniPath, QSettings::IniFormat).value(QStringLiteral("receive/uidlServer")).toString();
}

void setUniqueIdServer(const QString &extraIniPath, const QString &server)
{
    {
        QSettings ini(extraIniPath, QSettings::IniFormat);
        ini.setValue(QStringLiteral("receive/uidlServer"), server);
    }
    QFile::setPermissions(extraIniPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void setNoUidlNoticeServer(const QString &extraIniPath, const QString &server)
{
    {
        QSettings ini(extraIniPath, QSettings::IniFormat);
        ini.setValue(QStringLiteral("receive/noUidlServer"), server);
    }
    QFile::setPermissions(extraIniPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace kestra
