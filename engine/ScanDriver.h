#pragma once
// Runs the handle scan and the module scan side by side and gathers what they found.

#include <windows.h>

#include "HandleScan.h"
#include "LockRecords.h"
#include "ModuleScan.h"
#include "PathForms.h"
#include "SystemServices.h"

namespace tarnwick {

struct CScanStats {
    CHandleScanStats handles;
    CModuleScanStats modules;
};

// Starts one scan thread; the driver's only way to create them, so tests can refuse one.
using ScanThreadStarter = HANDLE (*)(LPTHREAD_START_ROUTINE routine, void* params);
HANDLE StartScanThread(LPTHREAD_START_ROUTINE routine, void* params);

// Every lock on the target, handle locks and module locks in the order the two scans
// appended them. Waits for both scans with no time limit.
CList<CFileLock> RunLockScans(const CSystemServices& services, const CScanTarget& target, const CDeviceMap& deviceMap,
                              CScanStats* stats = nullptr, ScanThreadStarter startThread = StartScanThread);

}  // namespace tarnwick
