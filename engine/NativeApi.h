#pragma once
// The shapes of the native entry points the engine binds at run time.

#include <windows.h>

namespace tarnwick {

using NtQuerySystemInformationFn = LONG(NTAPI*)(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned);
using NtQueryObjectFn = LONG(NTAPI*)(HANDLE handle, ULONG infoClass, PVOID buffer, ULONG length, PULONG returned);
using GetFinalPathNameByHandleWFn = DWORD(WINAPI*)(HANDLE file, LPWSTR buffer, DWORD length, DWORD flags);
using GetFileInformationByHandleExFn = BOOL(WINAPI*)(HANDLE file, int infoClass, LPVOID buffer, DWORD size);
using OpenProcessFn = HANDLE(WINAPI*)(DWORD access, BOOL inherit, DWORD pid);
using NtQueryVirtualMemoryFn = LONG(NTAPI*)(HANDLE process, PVOID address, ULONG infoClass, PVOID buffer, SIZE_T length,
                                            PSIZE_T returned);
using NtQueryInformationProcessFn = LONG(NTAPI*)(HANDLE process, ULONG infoClass, PVOID buffer, ULONG length,
                                                 PULONG returned);
using NtProcessControlFn = LONG(NTAPI*)(HANDLE process);
using NtCompareObjectsFn = LONG(NTAPI*)(HANDLE first, HANDLE second);
using NtQueryInformationFileFn = LONG(NTAPI*)(HANDLE file, PVOID ioStatus, PVOID buffer, ULONG length, ULONG infoClass);

}  // namespace tarnwick
