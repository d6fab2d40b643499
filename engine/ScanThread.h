#pragma once
// The protocol every scan thread follows: wait to be started, scan, say it is done.

#include <windows.h>

#include <string>
#include <vector>

#include "LockRecords.h"
#include "PathForms.h"
#include "ScopedHandle.h"
#include "SystemServices.h"

namespace tarnwick {

// What every scan thread is handed, owned by whoever starts it.
struct CScanThreadParams {
    CScanTarget target;
    CLockList* locks = nullptr;
    const CDeviceMap* deviceMap = nullptr;      // turns names in device form into drive form
    OpenProcessFn openProcess = ::OpenProcess;  // tests refuse processes through it
    UniqueHandle startEvent;                    // the scan begins when this is signalled
    HANDLE doneEvent = nullptr;                 // signalled as the scan's very last act
    std::vector<DWORD> refusedPids;             // processes that denied the scan access
    std::wstring failure;                       // why the scan could not run; empty when it ran
};

// Runs scan on the thread's parameter block (startEvent, doneEvent and the scan's own
// inputs). doneEvent is signalled as the very last act on every path, so the driver is
// never left waiting. Without parameters it returns at once and signals nothing.
template <class Params>
DWORD RunScanThread(void* param, void (*scan)(Params&))
{
    if (!param)
        return 0;
    auto& params = *static_cast<Params*>(param);
    ::WaitForSingleObject(params.startEvent.get(), INFINITE);
    try {
        scan(params);
    } catch (...) {
        // Whatever went wrong, the driver must not be left waiting.
    }
    ::SetEvent(params.doneEvent);
    return 0;
}

}  // namespace tarnwick
