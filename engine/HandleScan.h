#pragma once
// The handle scan: every open file handle in the system whose name is the target or
// lies beneath it, named in batches through a worker thread that is killed when a name
// does not come.

#include <windows.h>

#include "HandleTable.h"
#include "NameQuery.h"
#include "ScanThread.h"

namespace tarnwick {

// Granted-access masks of handles whose name query is known to hang (pipes and the like).
bool IsSkippedAccessMask(ULONG grantedAccess);

// What one run saw, for tests, measurements and the user.
struct CHandleScanStats : CNameQueryStats {
    ULONG tableEntries = 0;
    ULONG fileHandles = 0;  // entries of the file type
};

// The handle scan's inputs and outputs.
struct CHandleScanParams : CScanThreadParams {
    CSystemServices services;  // entry points, naming mode, file type number
    CHandleScanStats stats;
};

// Thread routine: scans (see RunScanThread). Returns 0.
DWORD WINAPI HandleScanThread(void* params);

// The scan itself, on the calling thread (the thread routine's body).
void ScanHandles(CHandleScanParams& params);

// Appends the lock of a named file handle when the name (as a name query gives it) is the
// target or lies beneath it.
void ReportIfMatching(CHandleScanParams& params, const CHandleEntry& entry, const std::wstring& name);

}  // namespace tarnwick
