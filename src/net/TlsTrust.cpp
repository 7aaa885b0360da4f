#include "net/TlsTrust.h"

#include <QSslSocket>

namespace kestra::net {

const QList<QSslCertificate> &systemRoots()
{
    static const QList<QSslCertificate> roots = QSslConfiguration::systemCaCertificates();
    return roots;
}

QSslConfiguration mailServerTls(const QList<QSslCertificate> &extraAuthorities)
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    // Setting any list of authorities, even an empty one, turns off Qt's
    // loading of the system's roots on demand: it is set only to add some.
    if (!extraAuthorities.isEmpty())
        config.setCaCertificates(systemRoots() + extraAuthorities);
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    config.setProtocol(QSsl::TlsV1_2OrLater);
    return config;
}

} // namespace kestra::net
