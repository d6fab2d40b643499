#pragma once
// Pretend platforms for the engine's failure paths; header-only, for tests that link the engine.

#include <windows.h>

#include <cstring>

#include "SystemServices.h"

namespace tarnwick::test {

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

}  // namespace tarnwick::test
