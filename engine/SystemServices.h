#pragma once
// The native entry points the lock engine binds at run time, the naming mode and the
// object type number of file handles.

#include <windows.h>

#include <string>

#include "NativeApi.h"

namespace tarnwick {

// A name query that has not answered in firstTryMs is counted as late and given retryMs more
// before its worker is killed and its handle given up: a busy machine can keep a query that
// does not block from answering in 10 ms.
struct CNameQueryLimits {
    DWORD firstTryMs = 10;
    DWORD retryMs = 250;
};

struct CSystemServices {
    NtQuerySystemInformationFn NtQuerySystemInformation = nullptr;
    // Required in object-name mode; otherwise it names the handles whose final path the
    // system will not give (names longer than 260 characters under Wine).
    NtQueryObjectFn NtQueryObject = nullptr;
    GetFinalPathNameByHandleWFn GetFinalPathNameByHandleW = nullptr;        // final-path mode only
    GetFileInformationByHandleExFn GetFileInformationByHandleEx = nullptr;  // final-path mode only
    NtQueryVirtualMemoryFn NtQueryVirtualMemory = nullptr;                  // names of mapped views
    // Where a process's loader list lies, and which processes are critical.
    NtQueryInformationProcessFn NtQueryInformationProcess = nullptr;
    NtProcessControlFn NtSuspendProcess = nullptr;  // with NtResumeProcess: an owner held still
    NtProcessControlFn NtResumeProcess = nullptr;
    NtQueryInformationFileFn NtQueryInformationFile = nullptr;  // the names of a file with several
    NtCompareObjectsFn NtCompareObjects = nullptr;              // whether two handles stand for one object
    // Names of file handles come from NtQueryObject in device form (version 5 systems).
    bool objectNameMode = false;
    ULONG fileTypeNumber = 0;
    CNameQueryLimits nameQueryLimits;
};

// What binding asks of the platform. Tests replace single entries to make a step fail.
struct CPlatformLoader {
    BOOL(WINAPI* getVersion)(OSVERSIONINFOW*) = ::GetVersionExW;
    HMODULE(WINAPI* getModule)(LPCWSTR) = ::GetModuleHandleW;
    FARPROC(WINAPI* getProc)(HMODULE, LPCSTR) = ::GetProcAddress;
    // The file type number seen in the handle table for a file handle of our own; 0 if unknown.
    ULONG (*probeFileTypeNumber)(NtQuerySystemInformationFn) = nullptr;
};

// The file type number the version table gives, and whether names come by object name.
struct CVersionProfile {
    ULONG fileTypeNumber = 0;  // 0: none chosen
    bool objectNameMode = false;
};
CVersionProfile ProfileForVersion(DWORD major, DWORD minor);

// Fills services and enables the debug privilege. Returns an empty string on success, or
// the fatal message to show before the program ends.
std::wstring BindSystemServices(CSystemServices& services, const CPlatformLoader& loader = {});

// An elevated tool needs the debug privilege to open services and other users' processes
// for handle duplication. False when the process's token does not hold it.
bool EnableDebugPrivilege();

// Reads the object type number of a file handle from the system handle table: opens the
// program's own executable and finds that handle (full process id and value) in a
// snapshot. 0 when that fails.
ULONG ProbeFileTypeNumber(NtQuerySystemInformationFn query);

}  // namespace tarnwick
