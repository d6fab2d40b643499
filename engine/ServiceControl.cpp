#include "ServiceControl.h"

#include <algorithm>
#include <cwchar>
#include <functional>

#include "Text.h"

namespace tarnwick {

namespace {

constexpr DWORD kEnumBufferBytes = 64 * 1024;

UniqueServiceHandle OpenManager(DWORD access)
{
    return UniqueServiceHandle(::OpenSCManagerW(nullptr, nullptr, access));
}

// The service with the rights asked for; error is the system's reason when it cannot be opened,
// read before closing the manager can overwrite it.
UniqueServiceHandle OpenService(const CHostedService& service, DWORD access, DWORD& error)
{
    const UniqueServiceHandle manager = OpenManager(SC_MANAGER_CONNECT);
    UniqueServiceHandle handle(manager ? ::OpenServiceW(manager.get(), service.name.c_str(), access) : nullptr);
    error = handle ? ERROR_SUCCESS : ::GetLastError();
    return handle;
}

using RunningServiceVisitor = std::function<void(const ENUM_SERVICE_STATUS_PROCESSW& service)>;

// Offers every running service to visit, from one query of the manager.
void ForEachRunningService(OpenServiceManagerFn openManager, const RunningServiceVisitor& visit)
{
    const UniqueServiceHandle manager(openManager(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager)
        return;
    std::vector<BYTE> buffer(kEnumBufferBytes);
    DWORD resume = 0;
    for (;;) {
        DWORD needed = 0, count = 0;
        const BOOL all =
            ::EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, buffer.data(),
                                    DWORD(buffer.size()), &needed, &count, &resume, nullptr);
        if (!all && ::GetLastError() != ERROR_MORE_DATA)
            return;
        const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
        for (DWORD i = 0; i < count; ++i)
            visit(entries[i]);
        if (all || (count == 0 && needed <= buffer.size()))
            return;  // done, or the manager asks for nothing it has not had
        if (count == 0)
            buffer.resize(needed);  // one entry larger than the buffer
    }
}

bool Listed(const std::vector<CHostedService>& services, const std::wstring& name)
{
    return std::any_of(services.begin(), services.end(),
                       [&](const CHostedService& service) { return EqualsNoCase(service.name, name); });
}

// The services a service needs running, as the manager reads them at the start of the system
// (groups left out). Read from the service's key: not every manager hands them out in the
// service's configuration.
std::vector<std::wstring> NeededServices(const std::wstring& name)
{
    UniqueRegKey key;
    const std::wstring path = L"SYSTEM\\CurrentControlSet\\Services\\" + name;
    DWORD type = 0, bytes = 0;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS ||
        ::RegQueryValueExW(key.get(), L"DependOnService", nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return {};
    std::vector<wchar_t> list(bytes / sizeof(wchar_t) + 2, L'\0');  // ended by two NULs even when stored without
    if (::RegQueryValueExW(key.get(), L"DependOnService", nullptr, &type, reinterpret_cast<BYTE*>(list.data()),
                           &bytes) != ERROR_SUCCESS)
        return {};
    std::vector<std::wstring> names;
    for (const wchar_t* entry = list.data(); *entry; entry += wcslen(entry) + 1) {
        if (*entry != SC_GROUP_IDENTIFIERW)
            names.push_back(entry);
    }
    return names;
}

// A running service with the services it needs.
struct CNeeds {
    CHostedService service;
    std::vector<std::wstring> needs;
};

bool NeedsAny(const CNeeds& candidate, const std::vector<CHostedService>& services)
{
    return std::any_of(candidate.needs.begin(), candidate.needs.end(),
                       [&](const std::wstring& name) { return Listed(services, name); });
}

}  // namespace

CServicesByProcess RunningServicesByProcess(OpenServiceManagerFn openManager)
{
    CServicesByProcess byProcess = MakeIdMap<CServicesByProcess>();
    ForEachRunningService(openManager, [&](const ENUM_SERVICE_STATUS_PROCESSW& service) {
        if (const DWORD pid = service.ServiceStatusProcess.dwProcessId)
            byProcess[pid].push_back({service.lpServiceName, service.lpDisplayName});
    });
    return byProcess;
}

const std::vector<CHostedService>& ServicesOf(const CServicesByProcess& services, DWORD pid)
{
    static const std::vector<CHostedService> none;
    const auto found = services.find(pid);
    return found == services.end() ? none : found->second;
}

std::wstring ServiceNames(const std::vector<CHostedService>& services)
{
    std::wstring names;
    for (const CHostedService& service : services) {
        names += names.empty() ? L"" : L", ";
        names += service.displayName.empty() || service.displayName == service.name
                     ? service.name
                     : service.displayName + L" (" + service.name + L")";
    }
    return names;
}

std::wstring ServiceNameList(const std::vector<CHostedService>& services)
{
    std::wstring names;
    for (const CHostedService& service : services)
        names += (names.empty() ? L"" : L", ") + service.name;
    return names;
}

// The running services that need one of the services, and those that need them in turn,
// found from what each running service needs; each comes before what it needs.
CServiceStop PlanServiceStop(const std::vector<CHostedService>& services)
{
    std::vector<CNeeds> running;
    ForEachRunningService(::OpenSCManagerW, [&](const ENUM_SERVICE_STATUS_PROCESSW& service) {
        if (!Listed(services, service.lpServiceName))
            running.push_back({{service.lpServiceName, service.lpDisplayName}, NeededServices(service.lpServiceName)});
    });
    CServiceStop stop{services, {}};
    std::vector<CHostedService> needed = services;
    for (bool found = true; found;) {
        found = false;
        for (const CNeeds& candidate : running) {
            if (!Listed(stop.dependants, candidate.service.name) && NeedsAny(candidate, needed)) {
                stop.dependants.insert(stop.dependants.begin(), candidate.service);
                needed.push_back(candidate.service);
                found = true;
            }
        }
    }
    return stop;
}

std::wstring RequestServiceStop(const CHostedService& service)
{
    DWORD error = ERROR_SUCCESS;
    const UniqueServiceHandle handle = OpenService(service, SERVICE_STOP, error);
    SERVICE_STATUS status = {};
    if (handle && ::ControlService(handle.get(), SERVICE_CONTROL_STOP, &status))
        return {};
    if (handle)
        error = ::GetLastError();
    return error == ERROR_SERVICE_NOT_ACTIVE ? std::wstring() : SystemMessage(error);
}

bool ServiceStopped(const CHostedService& service)
{
    DWORD error = ERROR_SUCCESS;
    const UniqueServiceHandle handle = OpenService(service, SERVICE_QUERY_STATUS, error);
    if (!handle)
        return error == ERROR_SERVICE_DOES_NOT_EXIST;
    SERVICE_STATUS status = {};
    return ::QueryServiceStatus(handle.get(), &status) && status.dwCurrentState == SERVICE_STOPPED;
}

}  // namespace tarnwick
