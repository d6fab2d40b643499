#include "SystemServices.h"

#include <cstring>
#include <type_traits>

#include "HandleTable.h"
#include "ScopedHandle.h"

namespace tarnwick {

namespace {

constexpr DWORD kPlatformNt = 2;
constexpr DWORD kVersionInfoSize = 276;

// When an entry point must be there for the program to run at all.
enum class Need { Always, InObjectNameMode, InFinalPathMode, Never };

// Stores an entry point in its slot of the table, typed as the slot is.
template <auto Slot>
void Store(CSystemServices& services, FARPROC proc)
{
    using Fn = std::remove_reference_t<decltype(services.*Slot)>;
    services.*Slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

struct CEntryPoint {
    const wchar_t* module;
    const char* name;
    Need need;
    void (*store)(CSystemServices& services, FARPROC proc);
};

// Bound in this order; the first one missing that the naming mode needs ends the program.
// In object-name mode kernel32 is not consulted at all.
constexpr CEntryPoint kEntryPoints[] = {
    {L"ntdll.dll", "NtQuerySystemInformation", Need::Always, Store<&CSystemServices::NtQuerySystemInformation>},
    {L"ntdll.dll", "NtQueryObject", Need::InObjectNameMode, Store<&CSystemServices::NtQueryObject>},
    {L"ntdll.dll", "NtQueryVirtualMemory", Need::Never, Store<&CSystemServices::NtQueryVirtualMemory>},
    {L"ntdll.dll", "NtQueryInformationProcess", Need::Never, Store<&CSystemServices::NtQueryInformationProcess>},
    {L"ntdll.dll", "NtSuspendProcess", Need::Never, Store<&CSystemServices::NtSuspendProcess>},
    {L"ntdll.dll", "NtResumeProcess", Need::Never, Store<&CSystemServices::NtResumeProcess>},
    {L"ntdll.dll", "NtQueryInformationFile", Need::Never, Store<&CSystemServices::NtQueryInformationFile>},
    {L"ntdll.dll", "NtCompareObjects", Need::Never, Store<&CSystemServices::NtCompareObjects>},
    {L"kernel32.dll", "GetFinalPathNameByHandleW", Need::InFinalPathMode,
     Store<&CSystemServices::GetFinalPathNameByHandleW>},
    {L"kernel32.dll", "GetFileInformationByHandleEx", Need::InFinalPathMode,
     Store<&CSystemServices::GetFileInformationByHandleEx>},
};

bool Needed(Need need, bool objectNameMode)
{
    return need == Need::Always || need == (objectNameMode ? Need::InObjectNameMode : Need::InFinalPathMode);
}

std::wstring BindEntryPoints(CSystemServices& services, const CPlatformLoader& loader)
{
    for (const CEntryPoint& entry : kEntryPoints) {
        if (entry.need == Need::InFinalPathMode && services.objectNameMode)
            continue;
        const HMODULE module = loader.getModule(entry.module);
        if (!module)
            return std::wstring(L"Fatal error - unable to load functions from ") + entry.module;
        const FARPROC proc = loader.getProc(module, entry.name);
        entry.store(services, proc);
        if (!proc && Needed(entry.need, services.objectNameMode))
            return L"Fatal error - unable to load " + std::wstring(entry.name, entry.name + strlen(entry.name)) +
                   L" from " + entry.module;
    }
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

    if (std::wstring fatal = BindEntryPoints(services, loader); !fatal.empty())
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
