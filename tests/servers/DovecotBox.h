#pragma once

// One account of the test Dovecot server (tests/servers/dovecot.sh): fills its
// Maildir and counts what is left in it. The same Maildir serves POP3 and IMAP.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace kestra::test {

class DovecotBox
{
public:
    DovecotBox(QString serverDir, QString user) : m_dir(std::move(serverDir)), m_user(std::move(user))
    {
        // The start script writes the ports it found free: "PLAIN TLS".
        QFile ports(m_dir + QStringLiteral("/ports"));
        if (ports.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> p = ports.readAll().simplified().split(' ');
            m_plainPort = quint16(p.value(0).toUInt());
            m_tlsPort = quint16(p.value(1).toUInt());
            m_imapPort = quint16(p.value(2).toUInt());
            m_imapsPort = quint16(p.value(3).toUInt());
        }
    }

    quint16 plainPort() const { return m_plainPort; } // offers STLS
    quint16 tlsPort() const { return m_tlsPort; }     // TLS from the first byte
    quint16 imapPort() const { return m_imapPort; }   // IMAP offering STARTTLS
    quint16 imapsPort() const { return m_imapsPort; } // IMAP over TLS

    QString user() const { return m_user; }
    QString password() const { return m_user + QStringLiteral("-pass"); }
    QString caFile() const { return m_dir + QStringLiteral("/ca.crt"); }
    QString plainServer() const { return QStringLiteral("127.0.0.1:%1").arg(m_plainPort); }
    QString tlsServer() const { return QStringLiteral("pop3s://127.0.0.1:%1").arg(m_tlsPort); }
    QString maildir() const { return m_dir + QStringLiteral("/home/") + m_user + QStringLiteral("/Maildir"); }
    bool running() const { return m_plainPort != 0 && QFile::exists(m_dir + QStringLiteral("/run/master.pid")); }

    // Removes every message (and Dovecot's own lists, so numbering starts afresh).
    void clear() const
    {
        for (const char *sub : {"new", "cur", "tmp"}) {
            QDir d(maildir() + u'/' + QLatin1String(sub));
            for (const QString &f : d.entryList(QDir::Files))
                d.remove(f);
        }
        QDir d(maildir());
        for (const QString &f : d.entryList({QStringLiteral("dovecot*")}, QDir::Files))
            d.remove(f);
    }

    // Delivers `message` (CR LF line ends) as the next message in server order.
    void put(const QByteArray &message)
    {
        ++m_sequence;
        const QString name = QStringLiteral("%1.M%2P%3.kestra").arg(1700000000 + m_sequence).arg(m_sequence).arg(::getpid());
        const QString tmp = maildir() + QStringLiteral("/tmp/") + name;
        QFile f(tmp);
        if (!f.open(QIODevice::WriteOnly) || f.write(message) != message.size())
            qFatal("cannot write %s", qPrintable(tmp));
        f.close();
        if (const passwd *pw = ::getpwnam("dovecot"))
            (void)::chown(QFile::encodeName(tmp).constData(), pw->pw_uid, pw->pw_gid);
        QFile::rename(tmp, maildir() + QStringLiteral("/new/") + name);
    }

    int count() const
    {
        return int(QDir(maildir() + QStringLiteral("/new")).entryList(QDir::Files).size()
                   + QDir(maildir() + QStringLiteral("/cur")).entryList(QDir::Files).size());
    }

private:
    QString m_dir;
    QString m_user;
    int m_sequence = 0;
    quint16 m_plainPort = 0;
    quint16 m_tlsPort = 0;
    quint16 m_imapPort = 0;
    quint16 m_imapsPort = 0;
};

} // namespace kestra::test
