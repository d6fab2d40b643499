#pragma once
// The handle scan: every open file handle in the system whose name is the target or
// lies beneath it, named through a worker thread that is killed when it does not answer.

#include <windows.h>

#include <string>
#include <vector>

#include "LockRecords.h"
#include "PathForms.h"
#include "ScopedHandle.h"
#include "SystemServices.h"

namespace tarnwick {

// A name query that has not answered in this time is taken as blocked...
inline constexpr DWORD kNameQueryTimeoutMs = 10;
// ...and asked once more, on a fresh worker, with this much time, before its handle is
// given up: a busy machine can keep a query that does not block from answering in 10 ms.
inline constexpr DWORD kNameQueryRetryTimeoutMs = 250;

// Granted-access masks of handles whose name query is known to hang (pipes and the like).
bool IsSkippedAccessMask(ULONG grantedAccess);

// What one run saw, for tests, measurements and the user.
struct CHandleScanStats {
    ULONG tableEntries = 0;
    ULONG fileHandles = 0;     // entries of the file type
    ULONG namesQueried = 0;    // handles handed to a worker
    ULONG timeouts = 0;        // workers killed for not answering in time
    ULONG retried = 0;         // handles asked a second time
    ULONG givenUp = 0;         // handles whose name did not come on either try
    ULONG workersStarted = 0;
};

// The handle scan's inputs and outputs, owned by whoever starts the scan thread.
struct CHandleScanParams {
    CScanTarget target;
    CSystemServices services;  // entry points, naming mode, file type number
    CLockList* locks = nullptr;
    const CDeviceMap* deviceMap = nullptr;
    OpenProcessFn openProcess = ::OpenProcess;  // tests refuse processes through it
    UniqueHandle startEvent;     // the scan begins when this is signalled
    HANDLE doneEvent = nullptr;  // signalled as the scan's very last act
    CHandleScanStats stats;
    std::vector<DWORD> refusedPids;  // processes that denied access to their handles
    std::wstring failure;            // why the scan could not run; empty when it ran
};

// Thread routine: waits for startEvent, scans, signals doneEvent. Returns 0.
DWORD WINAPI HandleScanThread(void* params);

// The scan itself, on the calling thread (the thread routine's body).
void ScanHandles(CHandleScanParams& params);

}  // namespace tarnwick
