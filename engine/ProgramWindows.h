#pragma once
// The windows a person could close: visible top-level windows that no other window owns. A
// program that shows one can be asked to close the way a person closes it, and can ask back
// (whether to save changes) before it ends.

#include <windows.h>

#include <cstddef>
#include <unordered_set>

namespace tarnwick {

// The processes that show at least one such window, from one walk over the windows.
std::unordered_set<DWORD> ProcessesWithWindows();

// Posts WM_CLOSE to each such window of the process, as a click on its close box does; how
// many were asked. Posted, not sent: a program that does not answer cannot hold us up.
std::size_t AskWindowsToClose(DWORD pid);

}  // namespace tarnwick
