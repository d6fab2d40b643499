#pragma once
// Pretend platforms for the engine's failure paths, and picking out what a scan found;
// header-only, for tests that link the engine.

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "LockRecords.h"
#include "SystemServices.h"

namespace tarnwick::test {

// The locks of one process, in the order the scan found them.
template <class Locks>
std::vector<CFileLock> LocksOf(const Locks& locks, DWORD pid)
{
    std::vector<CFileLock> mine;
    std::copy_if(locks.begin(), locks.end(), std::back_inserter(mine),
                 [pid](const CFileLock& lock) { return lock.pid == pid; });
    return mine;
}

// A handle table that cannot be read: every scan fails, as it would without the right to.
inline LONG NTAPI UnreadableHandleTable(ULONG, PVOID, ULONG, PULONG) { return LONG(0xC0000022); }

inline FARPROC WINAPI ProcWithUnreadableHandleTable(HMODULE module, LPCSTR name)
{
    if (std::strcmp(name, "NtQuerySystemInformation") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(UnreadableHandleTable));
    return ::GetProcAddress(module, name);
}

// Binding succeeds on this platform; the scans it serves cannot run.
inline CPlatformLoader LoaderWithUnreadableHandleTable()
{
    CPlatformLoader loader;
    loader.getProc = ProcWithUnreadableHandleTable;
    return loader;
}

// Wine keeps no break-on-termination flag (the mark of a process the system cannot do
// without): this query reports it set for the one process named by ReportCriticalProcess,
// and otherwise asks the system.
inline DWORD g_criticalPid = 0;
inline void ReportCriticalProcess(DWORD pid) { g_criticalPid = pid; }

inline LONG NTAPI QueryProcessReportingCritical(HANDLE process, ULONG infoClass, PVOID buffer, ULONG length,
                                                PULONG returned)
{
    constexpr ULONG kBreakOnTermination = 29;
    if (infoClass == kBreakOnTermination && length == sizeof(ULONG) && ::GetProcessId(process) == g_criticalPid) {
        *static_cast<ULONG*>(buffer) = 1;
        return 0;
    }
    static const auto real = reinterpret_cast<NtQueryInformationProcessFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    return real(process, infoClass, buffer, length, returned);
}

// GetProcAddress, handing out the query above for NtQueryInformationProcess.
inline FARPROC WINAPI ProcReportingCritical(HMODULE module, LPCSTR name)
{
    if (std::strcmp(name, "NtQueryInformationProcess") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(QueryProcessReportingCritical));
    return ::GetProcAddress(module, name);
}

}  // namespace tarnwick::test
