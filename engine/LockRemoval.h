#pragma once
// Removing locks: closing a handle inside its owner process, or ending the owner.

#include <windows.h>

#include "LockRecords.h"

namespace tarnwick {

// Closes the row's handle inside the process that owns it, without asking that process.
// True when the handle was closed. Only handle rows are closed: a module's load address
// or a view's address is no handle, and could name an unrelated handle of the owner.
bool UnlockHandle(const CLockItem& row);

// Starts ending a process (it may not be gone yet when this returns). True when the
// system accepted the request.
bool TerminateOwner(DWORD pid);

}  // namespace tarnwick
