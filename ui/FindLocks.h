#pragma once
// One scan for locks on a path, shown in the lock list view.

#include <windows.h>

#include <string>

#include "LockListView.h"
#include "ScanDriver.h"
#include "SystemServices.h"

namespace tarnwick {

// The view must be empty. With show-all off and no path nothing happens at all; a scan
// that finds nothing says so in a message box owned by owner.
void FindLocksInto(CLockListView& view, const CSystemServices& services, const std::wstring& path, bool showAll,
                   HWND owner, CScanStats* stats = nullptr);

std::wstring NoLocksMessage(const std::wstring& path);

}  // namespace tarnwick
