#pragma once
// Asking the system for a handle's name on a worker thread that is killed when it does not
// answer in time: the one way the scan and the removal commands name a handle.

#include <windows.h>

#include <memory>
#include <string>

#include "PathForms.h"
#include "ScopedHandle.h"
#include "SystemServices.h"

namespace tarnwick {

// A name query that has not answered in this time is taken as blocked...
inline constexpr DWORD kNameQueryTimeoutMs = 10;
// ...and asked once more, on a fresh worker, with this much time, before its handle is
// given up: a busy machine can keep a query that does not block from answering in 10 ms.
inline constexpr DWORD kNameQueryRetryTimeoutMs = 250;

struct CNameQueryStats {
    ULONG namesQueried = 0;  // handles handed to a worker
    ULONG timeouts = 0;      // workers killed for not answering in time
    ULONG retried = 0;       // handles asked a second time
    ULONG givenUp = 0;       // handles whose name did not come on either try
    ULONG workersStarted = 0;
};

struct CNameQuery;

// One worker at a time, replaced by a fresh one (with fresh events, so a late answer of the
// old one can never pass for the next handle's) whenever a query does not answer.
class CNameQueryWorker {
public:
    // deviceMap turns object names (device form) into drive form; stats are added to.
    CNameQueryWorker(const CSystemServices& services, const CDeviceMap& deviceMap, CNameQueryStats& stats);
    ~CNameQueryWorker();
    CNameQueryWorker(const CNameQueryWorker&) = delete;
    CNameQueryWorker& operator=(const CNameQueryWorker&) = delete;

    // True when name now holds the handle's name in the form a scan target is compared in:
    // with the long-path prefix, or in object-name mode without it. False when the name did
    // not come on either try, cannot be had, or no worker could be started (failure() says why).
    bool NameOf(HANDLE handle, std::wstring& name);
    const std::wstring& failure() const { return failure_; }

private:
    enum class Answer { Named, TimedOut, NoWorker };
    Answer Ask(HANDLE handle, DWORD timeoutMs);
    bool ToComparableForm(std::wstring& name) const;
    bool EnsureWorker();
    void KillWorker();
    void RetireWorker();
    void ForgetWorker();

    const CSystemServices& services_;
    const CDeviceMap& deviceMap_;
    CNameQueryStats& stats_;
    std::unique_ptr<CNameQuery> query_;
    UniqueHandle worker_;
    std::wstring failure_;
};

}  // namespace tarnwick
