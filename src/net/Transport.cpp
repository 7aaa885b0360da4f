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
    tick.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return how;
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
