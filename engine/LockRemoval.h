#pragma once
// Removing locks: closing a handle inside its owner process, or ending the owner; each only
// while it is still the lock the scan found.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "HandleTable.h"
#include "LockRecords.h"
#include "NameQuery.h"
#include "PathForms.h"
#include "SystemServices.h"

namespace tarnwick {

enum class UnlockResult {
    Closed,        // closed, and the owner's handle value no longer names the row's file
    NotAHandle,    // a module's or a view's address: no handle to close
    NotOpened,     // the owner has gone, or refused to hand out the handle
    OtherProcess,  // the process id now belongs to another process (or cannot be confirmed)
    Changed,       // the value now names another file or object, or cannot be named: left open
    Survived,      // closing was refused or had no effect: the handle still names the file
};

// Closes row handles for one command. Opened afresh for every row: nothing is cached
// between rows but the name-query worker and the handle table of the command.
class CHandleCloser {
public:
    explicit CHandleCloser(const CSystemServices& services);
    CHandleCloser(const CHandleCloser&) = delete;
    CHandleCloser& operator=(const CHandleCloser&) = delete;

    // Closes the row's handle inside the process that owns it, without asking that process.
    UnlockResult Close(const CLockItem& row);

private:
    bool CloseIfStillNamed(HANDLE owner, const CLockItem& row);
    bool NamesRowFile(HANDLE copy, const CLockItem& row);
    bool IsRowObject(const CLockItem& row);

    const CSystemServices& services_;
    const CDeviceMap deviceMap_;
    const CDriveAliases drives_;
    CNameQueryStats stats_;
    CNameQueryWorker worker_;
    std::optional<CHandleTableSnapshot> table_;
};

enum class EndResult {
    Ended,         // the system accepted the request (the process may not be gone yet)
    NotOpened,     // the process has gone, or refused to be ended
    OtherProcess,  // the process id now belongs to another process (or cannot be confirmed)
    Declined,      // a critical process, and the question was answered No
};

// Asked before a critical process is ended, with the question to show; true ends it.
using CriticalProcessQuestion = std::function<bool(const std::wstring& question)>;

// Ends the row's process with exit code 1, asking first when the system cannot do without it.
EndResult TerminateOwner(const CSystemServices& services, const CLockItem& row, const CriticalProcessQuestion& ask);

// Whether the row's process is one the system marks critical or one of its own core
// processes, which Windows does not survive.
bool IsCriticalOwner(const CSystemServices& services, const CLockItem& row);

// "\"csrss.exe\" (PID 512)", as the question and the command-line program name it.
std::wstring CriticalProcessWarning(const CLockItem& row);

}  // namespace tarnwick
