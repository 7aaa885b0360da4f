#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

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

#ifdef Q_OS_WIN
SingleInstance::SingleInstance(const QString &appFolder) : m_folder(appFolder), m_lock(lockPath(appFolder))
{
    // Held as long as the copy runs; a copy that died leaves a lock whose
    // process is gone, and that lock is taken over.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::takeLock()
{
    return m_lock.tryLock(0);
}
#else
SingleInstance::SingleInstance(const QString &appFolder) : m_folder(appFolder) {}

SingleInstance::~SingleInstance()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the lock
}

bool SingleInstance::takeLock()
{
    if (m_lockFd >= 0)
        return true;
    const int fd = ::open(QFile::encodeName(lockPath(m_folder)).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    // Each open of the file has its own lock, so a second copy in the same
    // process is refused as well.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}
#endif

bool SingleInstance::acquire()
{
    if (!takeLock())
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
