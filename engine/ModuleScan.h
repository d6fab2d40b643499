#pragma once
// The module scan: executable images (programs and libraries) loaded from the target,
// which the system holds without any entry in the handle table.

#include <windows.h>

#include "LockRecords.h"
#include "PathForms.h"
#include "ScopedHandle.h"

namespace tarnwick {

struct CModuleScanStats {
    ULONG processes = 0;       // ids listed
    ULONG processesOpened = 0;
    ULONG modules = 0;         // modules whose names were read
};

struct CModuleScanParams {
    CScanTarget target;
    // Names are compared without the long-path prefix, as the target's forms have none then.
    bool objectNameMode = false;
    CLockList* locks = nullptr;
    UniqueHandle startEvent;
    HANDLE doneEvent = nullptr;
    CModuleScanStats stats;
};

// Thread routine: waits for startEvent, scans, signals doneEvent. Returns 0.
DWORD WINAPI ModuleScanThread(void* params);

// The scan itself, on the calling thread.
void ScanModules(CModuleScanParams& params);

}  // namespace tarnwick
