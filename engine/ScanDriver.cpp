#include "ScanDriver.h"

#include <memory>
#include <set>

#include "Text.h"

namespace tarnwick {

namespace {

// Starts a scan thread and lets it begin. A thread that cannot be created signals its
// done event here instead, so that the wait for both scans still ends.
UniqueHandle Launch(ScanThreadStarter startThread, LPTHREAD_START_ROUTINE routine, void* params, HANDLE startEvent,
                    HANDLE doneEvent, std::wstring& failure)
{
    UniqueHandle thread(startThread(routine, params));
    if (thread) {
        ::SetEvent(startEvent);
    } else {
        failure = L"a scan thread could not be started: " + SystemMessage(::GetLastError());
        ::SetEvent(doneEvent);
    }
    return thread;
}

void Prepare(CScanThreadParams& params, const CScanTarget& target, CLockList& locks, const CDeviceMap& deviceMap,
             const CScanSeams& seams, HANDLE doneEvent)
{
    params.target = target;
    params.locks = &locks;
    params.deviceMap = &deviceMap;
    params.openProcess = seams.openProcess;
    params.doneEvent = doneEvent;
}

ULONG DistinctCount(const std::vector<DWORD>& a, const std::vector<DWORD>& b)
{
    std::set<DWORD> pids(a.begin(), a.end());
    pids.insert(b.begin(), b.end());
    return ULONG(pids.size());
}

}  // namespace

HANDLE StartScanThread(LPTHREAD_START_ROUTINE routine, void* params)
{
    return ::CreateThread(nullptr, 0, routine, params, 0, nullptr);
}

CLockScanResult RunLockScans(const CSystemServices& services, const CScanTarget& target, const CDeviceMap& deviceMap,
                             const CScanSeams& seams)
{
    CLockScanResult result;
    CLockList locks;
    UniqueHandle done[2] = {MakeAutoResetEvent(), MakeAutoResetEvent()};
    auto handleScan = std::make_unique<CHandleScanParams>();
    auto moduleScan = std::make_unique<CModuleScanParams>();
    handleScan->startEvent = MakeAutoResetEvent();
    moduleScan->startEvent = MakeAutoResetEvent();
    if (!done[0] || !done[1] || !handleScan->startEvent || !moduleScan->startEvent) {
        result.failure = L"the scan's events could not be created: " + SystemMessage(::GetLastError());
        return result;
    }

    Prepare(*handleScan, target, locks, deviceMap, seams, done[0].get());
    handleScan->services = services;
    Prepare(*moduleScan, target, locks, deviceMap, seams, done[1].get());
    moduleScan->objectNameMode = services.objectNameMode;
    moduleScan->NtQueryVirtualMemory = services.NtQueryVirtualMemory;
    moduleScan->NtQueryInformationProcess = services.NtQueryInformationProcess;

    std::wstring launchFailure;
    const UniqueHandle handleThread = Launch(seams.startThread, HandleScanThread, handleScan.get(),
                                             handleScan->startEvent.get(), done[0].get(), launchFailure);
    const UniqueHandle moduleThread = Launch(seams.startThread, ModuleScanThread, moduleScan.get(),
                                             moduleScan->startEvent.get(), done[1].get(), launchFailure);

    const HANDLE both[2] = {done[0].get(), done[1].get()};
    ::WaitForMultipleObjects(2, both, TRUE, INFINITE);
    result.stats = {handleScan->stats, moduleScan->stats,
                    DistinctCount(handleScan->refusedPids, moduleScan->refusedPids)};
    for (const std::wstring* failure : {&launchFailure, &handleScan->failure, &moduleScan->failure}) {
        if (result.failure.empty())
            result.failure = *failure;
    }
    result.locks = locks.TakeAll();
    return result;
}

}  // namespace tarnwick
