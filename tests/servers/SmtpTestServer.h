#pragma once

// What the tests know about the SMTP test servers of smtp_server.py, and a
// reader for the messages they collected. The folder comes from the build
// (KESTRA_SMTP_DIR).

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QUuid>

namespace kestra::test::smtp {

inline const char *const kUser = "kestra";
inline const char *const kPassword = "kestra-secret";

inline QString folder()
{
    return QStringLiteral(KESTRA_SMTP_DIR);
}

// The servers' ports, as the running servers wrote them down.
enum class Kind { StartTls, Plain, Smtps, DenyTls };
inline int port(Kind kind)
{
    QFile file(folder() + QStringLiteral("/ports.json"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
    static const char *const keys[] = { "starttls", "plain", "smtps", "denytls" };
    return o.value(QLatin1String(keys[int(kind)])).toInt();
}

// "127.0.0.1:port" of a server.
inline QString server(Kind kind)
{
    return QStringLiteral("127.0.0.1:%1").arg(port(kind));
}

// A loopback port where nothing listens: taken from the system, then let go.
inline int closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const int p = probe.serverPort();
    probe.close();
    return p;
}

inline QString caFile()
{
    return folder() + QStringLiteral("/ca.pem");
}

// A recipient address no other test uses, so that parallel tests find their own mail.
inline QString uniqueAddress(const QString &prefix = QStringLiteral("to"))
{
    return prefix + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::Id128).left(12)
        + QStringLiteral("@example.test");
}

struct Received {
    QByteArray source;
    int port = 0;
    QString mailFrom;
    QStringList rcptTos;
    bool tls = false;
    QString user;
    int clientPort = 0; // the same for the mails of one connection
};

// Every collected message with `address` among its envelope recipients,
// oldest first.
inline QList<Received> receivedFor(const QString &address)
{
    QList<Received> out;
    QDir dir(folder() + QStringLiteral("/mail"));
    const QStringList metas = dir.entryList({ QStringLiteral("*.json") }, QDir::Files, QDir::Name);
    for (const QString &name : metas) {
        QFile meta(dir.filePath(name));
        if (!meta.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject o = QJsonDocument::fromJson(meta.readAll()).object();
        Received r;
        for (const QJsonValue &v : o.value(QStringLiteral("rcpt_tos")).toArray())
            r.rcptTos.append(v.toString());
        if (!r.rcptTos.contains(address, Qt::CaseInsensitive))
            continue;
        r.port = o.value(QStringLiteral("port")).toInt();
        r.mailFrom = o.value(QStringLiteral("mail_from")).toString();
        r.tls = o.value(QStringLiteral("tls")).toBool();
        r.user = o.value(QStringLiteral("user")).toString();
        r.clientPort = o.value(QStringLiteral("client_port")).toInt();
        QFile eml(dir.filePath(name.chopped(5) + QStringLiteral(".eml")));
        if (eml.open(QIODevice::ReadOnly))
            r.source = eml.readAll();
        out.append(r);
    }
    return out;
}

} // namespace kestra::test::smtp
