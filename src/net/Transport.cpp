#include "net/Transport.h"

#include <QEventLoop>
#include <QTimer>

namespace kestra {

void applyConnection(TransportOptions &options, const ServerConnection &connection)
{
    options.security = connection.security;
    options.port = connection.port;
    if (connection.timeoutSeconds > 0)
        options.connectTimeoutMs = options.readTimeoutMs = connection.timeoutSeconds * 1000;
}

SocketWait waitOnSocket(QSslSocket &socket, int boundMs, const QDeadlineTimer &commandDeadline,
                        const std::function<bool()> &cancel, const std::function<bool()> &done)
{
    constexpr int kTickMs = 100; // longest stretch in which a cancel goes unnoticed
    const QDeadlineTimer bound(boundMs);
    QEventLoop loop;
    SocketWait how = SocketWait::Done;
    const auto check = [&] {
        if (done())
            how = SocketWait::Done;
        else if (socket.state() == QAbstractSocket::UnconnectedState)
            how = SocketWait::Failed;
        else if (cancel && cancel())
            how = SocketWait::Canceled;
        else if (commandDeadline.hasExpired())
            how = SocketWait::Overdue;
        else if (bound.hasExpired())
            how = SocketWait::TimedOut;
        else
            return false;
        loop.quit();
        return true;
    };
    if (check())
        return how;
    QTimer tick;
    tick.setInterval(kTickMs);
    QObject::connect(&tick, &QTimer::timeout, &loop, check);
    QObject::connect(&socket, &QAbstractSocket::connected, &loop, check);
    QObject::connect(&socket, &QIODevice::readyRead, &loop, check);
    QObject::connect(&socket, &QIODevice::bytesWritten, &loop, check);
    QObject::connect(&socket, &QAbstractSocket::errorOccurred, &loop, check);
    QObject::connect(&socket, &QAbstractSocket::stateChanged, &loop, check);
    QObject::connect(&socket, &QSslSocket::encrypted, &loop, check);
    QObject::connect(&socket, &QSslSocket::encryptedBytesWritten, &loop, check);
    tick.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return how;
}

QString readableReply(QByteArrayView reply)
{
    QString text = QString::fromUtf8(reply.first(qMin(reply.size(), qsizetype(300))));
    for (QChar &c : text) {
        if (c.unicode() < 0x20)
            c = u' ';
    }
    return text.trimmed();
}

void acceptTrustedCertificate(QSslSocket &socket, const QByteArray &trustedFingerprint, const bool &trustedOutOfDate,
                              QSslCertificate &rejected, QList<QSslError> &errors)
{
    QObject::connect(&socket, &QSslSocket::sslErrors, &socket,
                     [&socket, &trustedFingerprint, &trustedOutOfDate, &rejected, &errors](const QList<QSslError> &found) {
        errors = found;
        rejected = socket.peerCertificate();
        if (rejected.isNull() && !found.isEmpty())
            rejected = found.first().certificate();
        // Exactly the certificate the user trusted for this server, nothing
        // else, and only while it is valid: an expired one is asked about again.
        if (!trustedFingerprint.isEmpty() && !rejected.isNull() && certificateFingerprint(rejected) == trustedFingerprint
            && (trustedOutOfDate || certificateInValidity(rejected, found))) {
            socket.ignoreSslErrors(found);
            errors.clear();
            rejected = QSslCertificate();
        }
    });
}

void applyServerMemory(TransportOptions &options, const ServerMemory &memory, const QString &ini,
                       SecurityPrompt *prompt, const QString &protocolName)
{
    if (ini.isEmpty()) {
        options.plainLogin = [protocolName](const ServerAddress &a) {
            return Status(securityQuestions::plainLoginRefused(protocolName, a.host + u':' + QString::number(a.port)));
        };
        return;
    }
    options.plainLogin = [&memory, prompt, protocolName](const ServerAddress &) {
        return securityQuestions::plainLogin(prompt, memory, protocolName);
    };
    options.trustedFingerprint = memory.trustedFingerprint();
}

} // namespace kestra
