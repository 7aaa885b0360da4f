#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

namespace kestra {

// A receive run appends records to its store while the windows go on being
// used. Compaction writes a new file and renames it over the store, so the
// records a run wrote afterwards would go with the old file. A run therefore
// holds its store for its whole time, and work that replaces the file waits
// for the last hold to go. Holds are taken and released on the main thread.
class StoreHold
{
public:
    explicit StoreHold(QString path);
    // Runs the work put off while the store was held, when this was the last hold.
    ~StoreHold();
    Q_DISABLE_COPY_MOVE(StoreHold)

private:
    QString m_path;
};

bool storeHeld(const QString &path);

// Runs `job` now when no run holds `path` and gives true; otherwise keeps it
// for the release of the last hold, in the order asked, and gives false.
bool runWhenStoreFree(const QString &path, std::function<void()> job);

} // namespace kestra
