#pragma once
// What every scan thread is handed, and the one way it runs: whatever happens inside the scan,
// the thread ends with its outcome recorded, so that the driver is never left waiting and a
// scan that stopped short is never taken for a complete one.

#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "LockRecords.h"
#include "ScanProgress.h"
#include "TargetPath.h"

namespace tarnwick {

// Why a scan stopped short by an exception: recorded without allocating, as the first such
// reason may be that memory ran out.
enum class ScanException { None, OutOfMemory, Unexpected };

// What every scan thread is handed, owned by whoever starts it.
struct CScanThreadParams {
    const CTarget* target = nullptr;  // the forms compared and the drives names go through
    CLockList* locks = nullptr;
    CScanProgress* progress = nullptr;          // how far the scan is, whether it is to stop; or none
    OpenProcessFn openProcess = ::OpenProcess;  // tests refuse processes through it
    std::vector<DWORD> refusedPids;             // processes that denied the scan access
    std::wstring failure;                       // why the scan could not run; empty when it ran
    ScanException exception = ScanException::None;

    CScanProgress& Progress() { return progress ? *progress : unwatched; }

private:
    CScanProgress unwatched;  // kept when nobody follows the scan
};

// Runs scan on the thread's parameter block. Without parameters it returns at once.
template <class Params>
DWORD RunScanThread(void* param, void (*scan)(Params&))
{
    if (!param)
        return 0;
    auto& params = *static_cast<Params*>(param);
    try {
        scan(params);
    } catch (const std::bad_alloc&) {
        params.exception = ScanException::OutOfMemory;
    } catch (...) {
        params.exception = ScanException::Unexpected;
    }
    return 0;
}

}  // namespace tarnwick
