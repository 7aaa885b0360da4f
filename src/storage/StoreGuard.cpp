#include "storage/StoreGuard.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QList>

namespace kestra {

namespace {

struct Guard {
    int holds = 0;
    QList<std::function<void()>> waiting;
};

QHash<QString, Guard> &guards()
{
    static QHash<QString, Guard> all;
    return all;
}

// One key per file however its path was written.
QString keyOf(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

StoreHold::StoreHold(QString path)
    : m_path(keyOf(path))
{
    ++guards()[m_path].holds;
}

StoreHold::~StoreHold()
{
    auto it = guards().find(m_path);
    if (it == guards().end() || --it->holds > 0)
        return;
    // The jobs may put off more work on the same store; take them out first.
    const QList<std::function<void()>> jobs = std::move(it->waiting);
    guards().erase(it);
    for (const auto &job : jobs)
        job();
}

bool storeHeld(const QString &path)
{
    const auto it = guards().constFind(keyOf(path));
    return it != guards().constEnd() && it->holds > 0;
}

bool runWhenStoreFree(const QString &path, std::function<void()> job)
{
    const auto it = guards().find(keyOf(path));
    if (it == guards().end() || it->holds <= 0) {
        job();
        return true;
    }
    it->waiting.append(std::move(job));
    return false;
}

} // namespace kestra
