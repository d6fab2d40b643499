#include "ScanDriver.h"

#include <memory>

namespace tarnwick {

namespace {

// Starts a scan thread and lets it begin. A thread that cannot be created signals its
// done event here instead, so that the wait for both scans still ends.
UniqueHandle Launch(ScanThreadStarter startThread, LPTHREAD_START_ROUTINE routine, void* params, HANDLE startEvent,
                    HANDLE doneEvent)
{
    UniqueHandle thread(startThread(routine, params));
    if (thread)
        ::SetEvent(startEvent);
    else
        ::SetEvent(doneEvent);
    return thread;
}

}  // namespace

HANDLE StartScanThread(LPTHREAD_START_ROUTINE routine, void* params)
{
    return ::CreateThread(nullptr, 0, routine, params, 0, nullptr);
}

CList<CFileLock> RunLockScans(const CSystemServices& services, const CScanTarget& target, const CDeviceMap& deviceMap,
                              CScanStats* stats, ScanThreadStarter startThread)
{
    CLockList locks;
    UniqueHandle done[2] = {MakeAutoResetEvent(), MakeAutoResetEvent()};
    if (!done[0] || !done[1])
        return {};

    auto handleScan = std::make_unique<CHandleScanParams>();
    handleScan->target = target;
    handleScan->services = services;
    handleScan->locks = &locks;
    handleScan->deviceMap = &deviceMap;
    handleScan->startEvent = MakeAutoResetEvent();
    handleScan->doneEvent = done[0].get();

    auto moduleScan = std::make_unique<CModuleScanParams>();
    moduleScan->target = target;
    moduleScan->objectNameMode = services.objectNameMode;
    moduleScan->locks = &locks;
    moduleScan->startEvent = MakeAutoResetEvent();
    moduleScan->doneEvent = done[1].get();

    const UniqueHandle handleThread =
        Launch(startThread, HandleScanThread, handleScan.get(), handleScan->startEvent.get(), done[0].get());
    const UniqueHandle moduleThread =
        Launch(startThread, ModuleScanThread, moduleScan.get(), moduleScan->startEvent.get(), done[1].get());

    const HANDLE both[2] = {done[0].get(), done[1].get()};
    ::WaitForMultipleObjects(2, both, TRUE, INFINITE);
    if (stats)
        *stats = {handleScan->stats, moduleScan->stats};
    return locks.TakeAll();
}

}  // namespace tarnwick
