#pragma once
// Removing locks: closing a handle inside its owner process, or ending the owner; each only
// while it is still the lock the scan found.

#include <windows.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "HandleTable.h"
#include "LockRecords.h"
#include "NameQuery.h"
#include "PathForms.h"
#include "ScopedHandle.h"
#include "SystemServices.h"

namespace tarnwick {

enum class UnlockResult {
    Closed,              // closed, and the owner's handle value no longer names the row's file
    NotAHandle,          // a module's or a view's address: no handle to close
    NotOpened,           // the owner has gone, or refused to hand out the handle
    OtherProcess,        // the process id now belongs to another process (or cannot be confirmed)
    Changed,             // the value now names another file or object, or cannot be named: left open
    Survived,            // closing was refused (protected from closing): the same handle still names the file
    Reopened,            // closed, and the program at once opened the file again under the same value
    SurvivedOrReopened,  // the value names the file again, and the system hides which of the two it was
    Self,                // a handle of this program's own: left alone
};

// What a close came to when the owner's handle value still names the row's file afterwards,
// told by the kernel object under it: the one the scan saw means the close was refused,
// another that the program opened the file again. 0 for an object the system hides.
UnlockResult SurvivingHandleResult(uint64_t objectAtScan, uint64_t objectNow);

// Closes row handles for one command: the name-query worker and the handle table are those
// of the command, and each owner is opened and held still once for all of its rows, whose
// handles are named in batches as the scan names them.
class CHandleCloser {
public:
    // drives: the command's, through which the handles' names are written as rows' paths.
    CHandleCloser(const CSystemServices& services, const CDriveTable& drives);
    CHandleCloser(const CHandleCloser&) = delete;
    CHandleCloser& operator=(const CHandleCloser&) = delete;

    // Closes the handles of rows that all belong to one owner (one process id and creation
    // time) inside that owner, without asking it. One result per row, in the rows' order.
    std::vector<UnlockResult> CloseOwnerRows(const std::vector<const CLockItem*>& rows);
    UnlockResult Close(const CLockItem& row) { return CloseOwnerRows({&row}).front(); }

private:
    // Handles that closes handed back, each with the index of its row.
    struct CClosedCopies {
        std::vector<std::size_t> rows;
        std::vector<UniqueHandle> copies;
    };

    void CloseWhileStillNamed(HANDLE owner, const std::vector<const CLockItem*>& rows,
                              const std::vector<std::size_t>& candidates, std::vector<UnlockResult>& results);
    void CloseNamed(HANDLE owner, const std::vector<const CLockItem*>& rows, const std::vector<std::size_t>& batch,
                    const std::vector<UniqueHandle>& copies, const std::vector<bool>& named,
                    std::vector<UnlockResult>& results, CClosedCopies& unconfirmed);
    bool SameObject(HANDLE a, HANDLE b) const;
    void MarkSurvivors(HANDLE owner, const std::vector<const CLockItem*>& rows,
                       const std::vector<std::size_t>& candidates, std::vector<UnlockResult>& results);
    std::vector<bool> NameRowFiles(const std::vector<UniqueHandle>& handles, const std::vector<const CLockItem*>& rows,
                                   const std::vector<std::size_t>& indices);
    bool NameBatch(const std::vector<UniqueHandle>& handles, const std::vector<std::size_t>& batch);
    std::unordered_map<ULONG_PTR, ULONG_PTR> ObjectsAtStart(const std::vector<const CLockItem*>& rows,
                                                            const std::vector<std::size_t>& handles);

    const CSystemServices& services_;
    const CDriveTable& drives_;
    CNameQueryStats stats_;
    CNameQueryWorker worker_;
    CNameBatch names_;
    std::optional<CHandleTableSnapshot> table_;
};

enum class EndResult {
    Ended,         // the system accepted the request (the process may not be gone yet)
    NotOpened,     // the process has gone, or refused to be ended
    OtherProcess,  // the process id now belongs to another process (or cannot be confirmed)
    Declined,      // a critical process, and the question was answered No
    Self,          // this program itself: left alone
};

// Ends the row's process with exit code 1, while it is still the process the scan found.
EndResult TerminateOwner(const CLockItem& row);

// The row's process with the rights asked for, or nothing when it cannot be opened or is not
// the process the scan saw (otherProcess then says so). While the handle is held, the process
// id stays the process's own.
UniqueHandle OpenRowProcess(const CLockItem& row, DWORD access, bool& otherProcess);

// Whether the row's process is one the system marks critical or one of its own core
// processes, which Windows does not survive.
bool IsCriticalOwner(const CSystemServices& services, const CLockItem& row);

// "\"csrss.exe\" (PID 512) is a critical part of Windows: ...", as the question and the
// command-line program say it.
std::wstring CriticalProcessWarning(const CLockItem& row);

}  // namespace tarnwick
