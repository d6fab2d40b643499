#pragma once
// Pretend platforms for the engine's failure paths, and picking out what a scan found;
// header-only, for tests that link the engine.

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "LockRecords.h"
#include "ScopedHandle.h"
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

inline constexpr char kNtQuerySystemInformation[] = "NtQuerySystemInformation";
inline constexpr char kNtQueryInformationProcess[] = "NtQueryInformationProcess";
inline constexpr char kNtQueryInformationFile[] = "NtQueryInformationFile";

// GetProcAddress, handing out Replacement for the entry point Name: how a loader gives the
// program a platform that behaves as this one will not.
template <const char* Name, auto Replacement>
FARPROC WINAPI ProcReplacing(HMODULE module, LPCSTR name)
{
    if (std::strcmp(name, Name) == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(Replacement));
    return ::GetProcAddress(module, name);
}

// A handle table that cannot be read: every scan fails, as it would without the right to.
inline LONG NTAPI UnreadableHandleTable(ULONG, PVOID, ULONG, PULONG) { return LONG(0xC0000022); }

// Binding succeeds on this platform; the scans it serves cannot run.
inline CPlatformLoader LoaderWithUnreadableHandleTable()
{
    CPlatformLoader loader;
    loader.getProc = ProcReplacing<kNtQuerySystemInformation, UnreadableHandleTable>;
    return loader;
}

// A handle table too large for the memory left: reading it throws, as a huge table would.
inline LONG NTAPI HandleTableBeyondMemory(ULONG, PVOID, ULONG, PULONG) { throw std::bad_alloc(); }

// Binding succeeds on this platform (the file type is not looked up in the table); every
// scan it serves throws.
inline CPlatformLoader LoaderWithHandleTableBeyondMemory()
{
    CPlatformLoader loader;
    loader.getProc = ProcReplacing<kNtQuerySystemInformation, HandleTableBeyondMemory>;
    loader.probeFileTypeNumber = [](NtQuerySystemInformationFn) { return ULONG(0); };
    return loader;
}

// Wine cannot list the names of a file with several (hard links): the native query answers
// STATUS_NOT_IMPLEMENTED. This one answers it for the names set here, the way Windows lays the
// answer out (each name as its folder's file id and the name within), and asks the system
// about everything else.
inline std::vector<std::wstring> g_linkNames;
inline void ReportLinkNames(std::vector<std::wstring> names) { g_linkNames = std::move(names); }

inline ULONGLONG FileIdOf(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    ::GetFileInformationByHandle(file, &info);
    return (ULONGLONG(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

inline ULONGLONG FileIdOf(const std::wstring& path)
{
    const UniqueHandle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file ? FileIdOf(file.get()) : 0;
}

inline LONG NTAPI QueryFileReportingLinks(HANDLE file, PVOID ioStatus, PVOID buffer, ULONG length, ULONG infoClass)
{
    constexpr ULONG kFileHardLinkInformation = 46;
    if (infoClass == kFileHardLinkInformation && !g_linkNames.empty() && FileIdOf(file) == FileIdOf(g_linkNames[0])) {
        std::memset(buffer, 0, length);
        auto* bytes = static_cast<BYTE*>(buffer);
        ULONG at = 8, previous = 0;
        for (const std::wstring& name : g_linkNames) {
            const std::size_t slash = name.find_last_of(L'\\');
            const std::wstring leaf = name.substr(slash + 1);
            const ULONG entryBytes = ULONG((20 + leaf.size() * sizeof(wchar_t) + 7) / 8 * 8);
            if (at + entryBytes > length)
                return LONG(0x80000005);  // STATUS_BUFFER_OVERFLOW
            if (previous)
                *reinterpret_cast<ULONG*>(bytes + previous) = at - previous;
            const ULONGLONG folder = FileIdOf(name.substr(0, slash));
            std::memcpy(bytes + at + 8, &folder, sizeof folder);
            *reinterpret_cast<ULONG*>(bytes + at + 16) = ULONG(leaf.size());
            std::memcpy(bytes + at + 20, leaf.data(), leaf.size() * sizeof(wchar_t));
            previous = at;
            at += entryBytes;
        }
        reinterpret_cast<ULONG*>(bytes)[0] = at;
        reinterpret_cast<ULONG*>(bytes)[1] = ULONG(g_linkNames.size());
        return 0;
    }
    static const auto real = reinterpret_cast<NtQueryInformationFileFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    return real(file, ioStatus, buffer, length, infoClass);
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

}  // namespace tarnwick::test
