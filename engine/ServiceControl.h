#pragma once
// The system's services as the lock engine meets them: which process hosts which, which
// running services depend on them, and stopping them through the service manager, as the
// system itself stops a service before it replaces the files the service holds.

#include <windows.h>
#include <winsvc.h>

#include <string>
#include <vector>

#include "LockRecords.h"
#include "ScopedHandle.h"

namespace tarnwick {

using UniqueServiceHandle = ScopedResource<SC_HANDLE, NullIsEmpty<SC_HANDLE, ::CloseServiceHandle>>;
using OpenServiceManagerFn = SC_HANDLE(WINAPI*)(LPCWSTR machine, LPCWSTR database, DWORD access);

using CServicesByProcess = CMap<DWORD, std::vector<CHostedService>>;

// The running services by the process that hosts them, from one query of the service manager;
// empty when the manager cannot be opened or will not say.
CServicesByProcess RunningServicesByProcess(OpenServiceManagerFn openManager = ::OpenSCManagerW);

// The services of one process in a map made by RunningServicesByProcess; none when it hosts none.
const std::vector<CHostedService>& ServicesOf(const CServicesByProcess& services, DWORD pid);

// "Display Name (Name), ...": how questions and reports name services.
std::wstring ServiceNames(const std::vector<CHostedService>& services);
// "Name, Name2": the services' own names, as lists and tables show them.
std::wstring ServiceNameList(const std::vector<CHostedService>& services);

// What stopping a process's services takes: the services, and the running services that
// depend on them (which must stop first), in the order the manager gives them.
struct CServiceStop {
    std::vector<CHostedService> services;
    std::vector<CHostedService> dependants;
};
CServiceStop PlanServiceStop(const std::vector<CHostedService>& services);

// Asks the manager to stop the service. Empty when it took the request or the service was not
// running; otherwise the system's reason why not.
std::wstring RequestServiceStop(const CHostedService& service);

// Whether the manager reports the service stopped, or knows it no more.
bool ServiceStopped(const CHostedService& service);

}  // namespace tarnwick
