#pragma once
// The module scan: executable images (programs and libraries) loaded from the target,
// which the system holds without any entry in the handle table; and files mapped into
// memory, which stay busy after their handles are closed.

#include <windows.h>

#include "ScanThread.h"

namespace tarnwick {

struct CModuleScanStats {
    ULONG processes = 0;  // ids listed
    ULONG processesOpened = 0;
    ULONG modules = 0;  // modules whose names were read
    ULONG views = 0;    // mapped views whose file names were read
};

struct CModuleScanParams : CScanThreadParams {
    // Names are compared without the long-path prefix, as the target's forms have none then.
    bool objectNameMode = false;
    // Names the file behind a mapped view; without it no view is examined.
    NtQueryVirtualMemoryFn NtQueryVirtualMemory = nullptr;
    // Finds a 64-bit process's loader list, read in one walk; without it every process's
    // modules are listed through the platform.
    NtQueryInformationProcessFn NtQueryInformationProcess = nullptr;
    // How many threads look into processes side by side; 0: DefaultPoolThreads().
    unsigned poolThreads = 0;
    CModuleScanStats stats;
};

// Thread routine: scans (see RunScanThread). Returns 0.
DWORD WINAPI ModuleScanThread(void* params);

// The scan itself, on the calling thread.
void ScanModules(CModuleScanParams& params);

}  // namespace tarnwick
