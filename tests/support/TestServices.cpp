#include "TestServices.h"

#include "CommandLine.h"
#include "ScopedHandle.h"
#include "TestFiles.h"

namespace tarnwick::test {

namespace {

using ServiceHandle = ScopedResource<SC_HANDLE, NullIsEmpty<SC_HANDLE, ::CloseServiceHandle>>;

ServiceHandle OpenNamed(const std::wstring& name, DWORD access)
{
    const ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return ServiceHandle(manager ? ::OpenServiceW(manager.get(), name.c_str(), access) : nullptr);
}

SERVICE_STATUS_PROCESS StatusOf(const std::wstring& name)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    const ServiceHandle service = OpenNamed(name, SERVICE_QUERY_STATUS);
    if (service)
        ::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                               &needed);
    return status;
}

bool WaitForState(const std::wstring& name, DWORD state, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (StatusOf(name).dwCurrentState != state) {
        if (::GetTickCount64() > deadline)
            return false;
        ::Sleep(20);
    }
    return true;
}

// The double-NUL-terminated list CreateServiceW takes; none for an empty one.
std::wstring NameList(const std::vector<std::wstring>& names)
{
    std::wstring list;
    for (const std::wstring& name : names)
        list += name + L'\0';
    return list + L'\0';
}

// Stops the service of that name, if it runs, and removes it.
void RemoveService(const std::wstring& name)
{
    const ServiceHandle service = OpenNamed(name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service)
        return;
    SERVICE_STATUS status = {};
    if (::ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        WaitForState(name, SERVICE_STOPPED, 5000);
    ::DeleteService(service.get());
}

}  // namespace

FixtureService::FixtureService(const std::wstring& stem, const std::wstring& heldPath,
                               const std::vector<std::wstring>& dependencies)
    : name_(stem + std::to_wstring(::GetCurrentProcessId())), displayName_(L"Tarnwick fixture " + name_)
{
    // A test program ended before it could remove its service leaves it behind, holding another
    // test's path; process ids come round again in a new Wine session.
    RemoveService(name_);
    const ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const std::wstring command =
        QuoteCommandLineArgument(BinPath(L"fixture_service.exe")) + L" " + QuoteCommandLineArgument(heldPath);
    const std::wstring needs = NameList(dependencies);
    const ServiceHandle service(
        manager
            ? ::CreateServiceW(manager.get(), name_.c_str(), displayName_.c_str(), SERVICE_ALL_ACCESS,
                               SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, command.c_str(),
                               nullptr, nullptr, dependencies.empty() ? nullptr : needs.c_str(), nullptr, nullptr)
            : nullptr);
    installed_ = bool(service);
}

FixtureService::~FixtureService()
{
    if (installed_)
        RemoveService(name_);
}

bool FixtureService::Start()
{
    const ServiceHandle service = OpenNamed(name_, SERVICE_START);
    return installed_ && service && ::StartServiceW(service.get(), 0, nullptr) &&
           WaitForState(name_, SERVICE_RUNNING, 10000);
}

DWORD FixtureService::State() const { return StatusOf(name_).dwCurrentState; }

DWORD FixtureService::Pid() const { return StatusOf(name_).dwProcessId; }

}  // namespace tarnwick::test
