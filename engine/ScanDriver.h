#pragma once
// Runs the handle scan and the module scan side by side and gathers what they found.

#include <windows.h>

#include <string>

#include "HandleScan.h"
#include "LockRecords.h"
#include "ModuleScan.h"
#include "ServiceControl.h"
#include "SystemServices.h"
#include "TargetPath.h"

namespace tarnwick {

struct CScanStats {
    CHandleScanStats handles;
    CModuleScanStats modules;
    ULONG processesRefused = 0;  // processes that denied access to either scan, each once
};

// Starts one scan thread; the driver's only way to create them, so tests can refuse one.
using ScanThreadStarter = HANDLE (*)(LPTHREAD_START_ROUTINE routine, void* params);
HANDLE StartScanThread(LPTHREAD_START_ROUTINE routine, void* params);

// What tests replace to show what the platform here will not do.
struct CScanSeams {
    ScanThreadStarter startThread = StartScanThread;
    OpenProcessFn openProcess = ::OpenProcess;
    // How many threads look into processes side by side; 0: as many as the machine has cores,
    // at most 8. One is the walk of one process after another.
    unsigned poolThreads = 0;
    OpenServiceManagerFn openServiceManager = ::OpenSCManagerW;  // which process hosts which service
};

struct CLockScanResult {
    // The handle scan's locks in handle-table order, then the module scan's in process-list
    // order (each process's modules, then its views): the same order however the threads ran.
    CList<CFileLock> locks;
    CScanStats stats;
    std::wstring failure;    // why the scan could not run, in words for the user; empty when it ran
    bool cancelled = false;  // stopped at the watcher's request: no locks are kept
};

// Every lock on the target. Waits for both scans with no time limit; progress, when given,
// follows them and can stop them.
CLockScanResult RunLockScans(const CSystemServices& services, const CTarget& target, const CScanSeams& seams = {},
                             CScanProgress* progress = nullptr);

}  // namespace tarnwick
