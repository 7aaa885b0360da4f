#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

namespace kestra {

namespace {
constexpr int kWaitMs = 3000;
const QByteArray kShow = QByteArrayLiteral("show\n");
} // namespace

QString SingleInstance::lockPath(const QString &appFolder)
{
    return QDir(appFolder).absoluteFilePath(QStringLiteral("kestra.lock"));
}

QString SingleInstance::serverName(const QString &appFolder)
{
    // Short and free of path characters: socket names have a small limit.
    const QByteArray folder = QDir(appFolder).absolutePath().toUtf8();
    return QStringLiteral("kestra-")
           + QString::fromLatin1(QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(24));
}

SingleInstance::SingleInstance(const QString &appFolder) : m_folder(appFolder), m_lock(lockPath(appFolder))
{
    // Held as long as the copy runs; a copy that died leaves a lock whose
    // process is gone, and that lock is taken over.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire()
{
    if (!m_lock.tryLock(0))
        return false;
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = serverName(m_folder);
    QLocalServer::removeServer(name); // left by a copy that died
    if (m_server->listen(name)) {
        QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(), [this] {
            while (QLocalSocket *s = m_server->nextPendingConnection()) {
                QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
                QObject::connect(s, &QLocalSocket::readyRead, s, [this, s] {
                    if (s->readAll().contains(kShow))
                        bringToFront();
                });
            }
        });
    }
    return true;
}

bool SingleInstance::activateRunning()
{
    QLocalSocket socket;
    socket.connectToServer(serverName(m_folder));
    if (!socket.waitForConnected(kWaitMs))
        return false;
    socket.write(kShow);
    const bool sent = socket.waitForBytesWritten(kWaitMs);
    socket.disconnectFromServer();
    return sent;
}

void SingleInstance::bringToFront()
{
    if (!m_window)
        return;
    if (m_window->isMinimized())
        m_window->showNormal();
    else
        m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

} // namespace kestra
