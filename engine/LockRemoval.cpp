#include "LockRemoval.h"

#include "LockRecords.h"
#include "ScopedHandle.h"

namespace tarnwick {

bool UnlockHandle(const CLockItem& row)
{
    if (row.kind != LockKind::Handle)
        return false;
    // Opened afresh for every handle: nothing is cached between rows.
    UniqueHandle owner(::OpenProcess(PROCESS_DUP_HANDLE, FALSE, row.pid));
    if (!owner)
        return false;
    UniqueHandle copy;
    return ::DuplicateHandle(owner.get(), reinterpret_cast<HANDLE>(ULONG_PTR(row.value)), ::GetCurrentProcess(),
                             copy.put(), 0, FALSE, DUPLICATE_CLOSE_SOURCE | DUPLICATE_SAME_ACCESS) != FALSE;
}

bool TerminateOwner(DWORD pid)
{
    UniqueHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, pid));
    if (!process)
        return false;
    // The handle carries no query right, so the query fails and the exit code stays 0.
    DWORD exitCode = 0;
    const BOOL queried = ::GetExitCodeProcess(process.get(), &exitCode);
    const BOOL terminated = ::TerminateProcess(process.get(), exitCode);
    return queried || terminated;
}

}  // namespace tarnwick
