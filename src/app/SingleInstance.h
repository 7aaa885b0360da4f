#pragma once

#include <QtGlobal>
#ifdef Q_OS_WIN
#include <QLockFile>
#endif
#include <QPointer>
#include <QString>

#include <memory>

class QLocalServer;
class QWidget;

namespace kestra {

// One running copy of the program per application folder. Two copies would
// share the stores without knowing of each other, and a compaction in one
// (the store renamed over) would drop what the other appended.
//
// The first copy holds a lock on a file in the application folder and
// listens on a local socket named after the folder; a second start finds the
// lock taken, asks the first copy to bring its main window to the front and
// ends. On Unix the lock is the system's file lock (flock), which goes with
// the process that holds it: a copy that died leaves no lock behind, and
// taking the lock writes nothing, so start-up does not wait for the disk.
class SingleInstance
{
public:
    explicit SingleInstance(const QString &appFolder);
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // True when this is the only copy: the lock is taken and requests from
    // later starts are listened for.
    bool acquire();
    // Asks the running copy to show its window; false when it cannot be reached.
    bool activateRunning();
    // The window a later start brings to the front.
    void setWindow(QWidget *window) { m_window = window; }

    // The lock file and the socket name of an application folder.
    static QString lockPath(const QString &appFolder);
    static QString serverName(const QString &appFolder);

private:
    bool takeLock();
    void bringToFront();

    QString m_folder;
#ifdef Q_OS_WIN
    QLockFile m_lock;
#else
    int m_lockFd = -1;
#endif
    std::unique_ptr<QLocalServer> m_server;
    QPointer<QWidget> m_window;
};

} // namespace kestra
