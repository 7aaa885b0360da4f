#pragma once

#include "mail/MailboxSession.h"
#include "storage/FetchedUidls.h"
#include "storage/Settings.h"

#include <QStringList>

namespace kestra {

// Receiving that leaves the mail on the server: the small set of steps the
// receive run calls. While the option is off, or the server has no unique
// ids, it changes nothing: every message is fetched and deleted after storing.
//
//   wantsUniqueIds() whether the run lists the messages with their unique ids
//   begin()     after the listing: reads the fetched list and marks for
//               deletion the kept messages that are due (older than the
//               chosen days, or deleted in the history)
//   skip(n)     message n was fetched by an earlier run
//   storing()   just before the record of message n is written
//   deleteAfterStoring(n) whether the run deletes what it stored (off: yes)
//   commit()    after the store is on the disk, before the session ends
class LeaveOnServer
{
public:
    LeaveOnServer(const ReceiveOptions &options, QString listPath, QString storePath, int recordLength,
                  QString server, QString extraIniPath);

    bool wantsUniqueIds() const { return m_options.leaveOnServer; }
    // `listing` is the session's, asked with wantsUniqueIds().
    void begin(MailboxSession &session, const MailboxListing &listing, int count);
    bool skip(int n) const;
    // Messages of the `count` waiting ones that no earlier run fetched: all of them when inactive.
    int newMessages(int count) const;
    Status storing(int n, qint64 record, const QByteArray &recordBytes);
    // Whether message n is deleted once stored: always while inactive, and
    // for a message the server gave no unique id (it could not be told apart
    // from new mail at the next run).
    bool deleteAfterStoring(int n) const { return !m_active || m_ids.value(n - 1).isEmpty(); }
    Status commit();
    // True when the run cannot tell kept mail from new mail (the unique ids
    // failed on a server that gave them before, a listing lacks ids, or the
    // fetched list cannot be read): it fetches and deletes nothing.
    bool holdsEverything() const { return m_holding; }
    // Non-empty once per server without unique ids while the option is on
    // (the run falls back to deleting what it stores), and whenever the run
    // holds everything: what happened, for the user.
    QString notice() const { return m_notice; }

private:
    ReceiveOptions m_options;
    FetchedUidls m_list;
    QString m_storePath;
    int m_recordLength;
    QString m_server;
    QString m_extraIni;
    QStringList m_ids; // by message number - 1
    bool m_active = false;
    bool m_holding = false;
    int m_fresh = 0; // messages not fetched before this run
    QString m_notice;
};

// The server without unique ids whose notice was shown (kestra2.ini,
// [receive] noUidlServer), so that it is shown once.
QString noUidlNoticeServer(const QString &extraIniPath);
void setNoUidlNoticeServer(const QString &extraIniPath, const QString &server);
// The server that last listed unique ids (kestra2.ini, [receive] uidlServer):
// a later refusal of its ids is a fault, not a server without them.
QString uniqueIdServer(const QString &extraIniPath);
void setUniqueIdServer(const QString &extraIniPath, const QString &server);

} // namespace kestra
