#pragma once
// The protocol every scan thread follows: wait to be started, scan, say it is done.

#include <windows.h>

namespace tarnwick {

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
