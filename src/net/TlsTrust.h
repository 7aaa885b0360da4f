#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace kestra::net {

// The system's root certificates, read from its trust store once per process
// (reading them parses every file of the store, which costs more than a whole
// receive run). Safe to call from any thread.
const QList<QSslCertificate> &systemRoots();

// The TLS settings of a connection to a mail server: the peer's certificate is
// verified, TLS 1.2 or later. With no extra authority Qt looks up the system's
// roots on demand; authorities given besides the system's (a test's, a
// company's) are added to the system's roots, never put in their place.
// Certificates the user pinned for a server are no authorities: each session
// accepts its pin where the check fails, so a pin never vouches for another
// server.
QSslConfiguration mailServerTls(const QList<QSslCertificate> &extraAuthorities = {});

} // namespace kestra::net
