#pragma once
// Removing locks: closing a handle inside its owner process, or ending the owner.

#include <windows.h>

#include <cstdint>

namespace tarnwick {

// Closes one handle inside the process that owns it, without asking that process. True
// when the handle was closed. A module lock's load address is never taken for a handle:
// it could name an unrelated handle of the owner, which would then be closed.
bool UnlockHandle(DWORD pid, uint64_t value);

// Starts ending a process (it may not be gone yet when this returns). True when the
// system accepted the request.
bool TerminateOwner(DWORD pid);

}  // namespace tarnwick
