#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

namespace kestra {

// The steps of CompactStore, in order.
enum class CompactionStep { TempOpened, RecordCopied, TempSynced, Renamed };

// Faults put into the storage steps that are handed one, so that a test can
// make a disk fail or a program die at an exact step without touching the
// disk itself. Each is asked before its step; an empty one (the default) is
// the real behaviour.
struct StoreFaults {
    // At each step of CompactStore: false stops the compaction on the spot,
    // as if the program had died there (nothing is cleaned up).
    std::function<bool(CompactionStep step, qint64 index)> compaction;
    // Before RecordFile::sync flushes `path`: false makes that sync fail as a
    // full or failing disk would.
    std::function<bool(const QString &path)> sync;
    // Before the original named `name` is written: false makes the write fail
    // as a full disk would.
    std::function<bool(const QString &name)> originalWrite;
};

} // namespace kestra
