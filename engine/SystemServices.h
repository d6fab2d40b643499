#pragma once
// The native entry points the lock engine binds at run time, the naming mode and the
// object type number of file handles.

#include <windows.h>

#include <string>

namespace tarnwick {

using NtQuerySystemInformationFn = LONG(NTAPI*)(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned);
using NtQueryObjectFn = LONG(NTAPI*)(HANDLE handle, ULONG infoClass, PVOID buffer, ULONG length, PULONG returned);
using GetFinalPathNameByHandleWFn = DWORD(WINAPI*)(HANDLE file, LPWSTR buffer, DWORD length, DWORD flags);
using GetFileInformationByHandleExFn = BOOL(WINAPI*)(HANDLE file, int infoClass, LPVOID buffer, DWORD size);

struct CSystemServices {
    NtQuerySystemInformationFn NtQuerySystemInformation = nullptr;
    NtQueryObjectFn NtQueryObject = nullptr;                                // object-name mode only
    GetFinalPathNameByHandleWFn GetFinalPathNameByHandleW = nullptr;        // final-path mode only
    GetFileInformationByHandleExFn GetFileInformationByHandleEx = nullptr;  // final-path mode only
    // Names of file handles come from NtQueryObject in device form (version 5 systems).
    bool objectNameMode = false;
    ULONG fileTypeNumber = 0;
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

// Fills services. Returns an empty string on success, or the fatal message to show
// before the program ends.
std::wstring BindSystemServices(CSystemServices& services, const CPlatformLoader& loader = {});

// Reads the object type number of a file handle from the system handle table: opens the
// program's own executable and finds that handle in a snapshot. 0 when that fails.
ULONG ProbeFileTypeNumber(NtQuerySystemInformationFn query);

}  // namespace tarnwick
