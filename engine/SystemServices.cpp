#include "SystemServices.h"

#include "HandleTable.h"
#include "ScopedHandle.h"

namespace tarnwick {

namespace {

constexpr DWORD kPlatformNt = 2;
constexpr DWORD kVersionInfoSize = 276;

template <class Fn>
Fn LookUp(const CPlatformLoader& loader, HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(loader.getProc(module, name)));
}

std::wstring BindNtdll(CSystemServices& services, const CPlatformLoader& loader)
{
    const HMODULE ntdll = loader.getModule(L"ntdll.dll");
    if (!ntdll)
        return L"Fatal error - unable to load functions from ntdll.dll";
    services.NtQuerySystemInformation = LookUp<NtQuerySystemInformationFn>(loader, ntdll, "NtQuerySystemInformation");
    if (!services.NtQuerySystemInformation)
        return L"Fatal error - unable to load NtQuerySystemInformation from ntdll.dll";
    services.NtQueryObject = LookUp<NtQueryObjectFn>(loader, ntdll, "NtQueryObject");
    if (services.objectNameMode && !services.NtQueryObject)
        return L"Fatal error - unable to load NtQueryObject from ntdll.dll";
    services.NtQueryVirtualMemory = LookUp<NtQueryVirtualMemoryFn>(loader, ntdll, "NtQueryVirtualMemory");
    services.NtQueryInformationProcess =
        LookUp<NtQueryInformationProcessFn>(loader, ntdll, "NtQueryInformationProcess");
    services.NtSuspendProcess = LookUp<NtProcessControlFn>(loader, ntdll, "NtSuspendProcess");
    services.NtResumeProcess = LookUp<NtProcessControlFn>(loader, ntdll, "NtResumeProcess");
    return {};
}

std::wstring BindKernel32(CSystemServices& services, const CPlatformLoader& loader)
{
    const HMODULE kernel32 = loader.getModule(L"kernel32.dll");
    if (!kernel32)
        return L"Fatal error - unable to load functions from kernel32.dll";
    services.GetFinalPathNameByHandleW =
        LookUp<GetFinalPathNameByHandleWFn>(loader, kernel32, "GetFinalPathNameByHandleW");
    if (!services.GetFinalPathNameByHandleW)
        return L"Fatal error - unable to load GetFinalPathNameByHandleW from kernel32.dll";
    services.GetFileInformationByHandleEx =
        LookUp<GetFileInformationByHandleExFn>(loader, kernel32, "GetFileInformationByHandleEx");
    if (!services.GetFileInformationByHandleEx)
        return L"Fatal error - unable to load GetFileInformationByHandleEx from kernel32.dll";
    return {};
}

}  // namespace

CVersionProfile ProfileForVersion(DWORD major, DWORD minor)
{
    if (major == 5)
        return {28, true};
    if (major == 6 && minor == 0)
        return {25, false};
    if (major >= 6)
        return {28, false};
    return {0, false};
}

std::wstring BindSystemServices(CSystemServices& services, const CPlatformLoader& loader)
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = kVersionInfoSize;
    loader.getVersion(&version);
    if (version.dwPlatformId != kPlatformNt)
        return L"Fatal error - unsupported platform detected";

    const CVersionProfile profile = ProfileForVersion(version.dwMajorVersion, version.dwMinorVersion);
    services = CSystemServices{};
    services.objectNameMode = profile.objectNameMode;
    services.fileTypeNumber = profile.fileTypeNumber;

    std::wstring fatal = BindNtdll(services, loader);
    if (fatal.empty() && !services.objectNameMode)
        fatal = BindKernel32(services, loader);
    if (!fatal.empty())
        return fatal;

    // The number of file objects differs between releases (and is 17 under Wine);
    // the table above is only the fallback for when the system cannot show it.
    auto probe = loader.probeFileTypeNumber ? loader.probeFileTypeNumber : ProbeFileTypeNumber;
    if (const ULONG seen = probe(services.NtQuerySystemInformation))
        services.fileTypeNumber = seen;
    EnableDebugPrivilege();
    return {};
}

bool EnableDebugPrivilege()
{
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid))
        return false;
    // Succeeds without enabling anything when the token lacks the privilege.
    return ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) &&
           ::GetLastError() == ERROR_SUCCESS;
}

ULONG ProbeFileTypeNumber(NtQuerySystemInformationFn query)
{
    wchar_t self[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    UniqueHandle file(::CreateFileW(self, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return 0;
    const ULONG_PTR pid = ::GetCurrentProcessId();
    const auto value = reinterpret_cast<ULONG_PTR>(file.get());
    for (const CHandleEntry& entry : CHandleTableSnapshot::Take(query)) {
        if (entry.pid == pid && entry.handleValue == value)
            return entry.objectType;
    }
    return 0;
}

}  // namespace tarnwick
