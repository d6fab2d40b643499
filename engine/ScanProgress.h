#pragma once
// How far a scan has come, and a way to stop it: shared by the scan's threads and whoever
// watches it from another thread (a window that keeps answering meanwhile).

#include <windows.h>

#include <atomic>

namespace tarnwick {

struct CScanProgress {
    std::atomic<ULONG> fileHandles{0};  // file handles in the handle table, once it is read
    std::atomic<ULONG> handlesDone{0};
    std::atomic<ULONG> processes{0};  // processes to look into for modules and views, once listed
    std::atomic<ULONG> processesDone{0};
    // Set by the watcher: each scan stops before its next handle or process, and what the scan
    // found is dropped.
    std::atomic<bool> cancel{false};

    bool cancelled() const { return cancel.load(); }
};

}  // namespace tarnwick
