#pragma once
// One scan for locks on a target, shown in the lock list view.

#include <windows.h>

#include <string>

#include "LockListView.h"
#include "ScanDriver.h"
#include "SystemServices.h"
#include "TargetPath.h"

namespace tarnwick {

// The view must be empty. With show-all off and no path nothing happens at all. A scan
// that finds nothing, could not run, or was refused the path says so in a message box
// owned by owner.
void FindLocksInto(CLockListView& view, const CSystemServices& services, const CTarget& target, HWND owner,
                   const CScanSeams& seams = {});

// unseen: what the scan could not see, or empty.
std::wstring NoLocksMessage(const std::wstring& path, const std::wstring& unseen = L"");
std::wstring ScanFailedMessage(const std::wstring& path, const std::wstring& failure);

}  // namespace tarnwick
