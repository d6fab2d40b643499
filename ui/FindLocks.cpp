#include "FindLocks.h"

#include "MessageBox.h"
#include "ProcessInfo.h"
#include "WaitCursor.h"

namespace tarnwick {

namespace {

// Rows arrive at the top, in the reverse of the scans' order, with drawing held off.
void ShowRows(CLockListView& view, CList<CFileLock>& locks, const CDeviceMap& deviceMap)
{
    ListView_SetItemCount(view.hwnd(), int(locks.size()));
    ::LockWindowUpdate(view.hwnd());
    CProcessDirectory processes(deviceMap, [&view](const std::wstring& imagePath) {
        return view.AddProgramIcon(imagePath);
    });
    while (!locks.empty()) {
        const CFileLock& lock = locks.front();
        view.InsertRowAtTop(MakeLockItem(lock, processes.GetOrCreate(lock.pid)));
        locks.pop_front();
    }
    ::LockWindowUpdate(nullptr);
}

}  // namespace

std::wstring NoLocksMessage(const std::wstring& path)
{
    return L"No locks detected on \"" + PathForMessage(path) + L"\".\nI can still attempt to delete, move, or rename the path.";
}

void FindLocksInto(CLockListView& view, const CSystemServices& services, const std::wstring& path, bool showAll,
                   HWND owner, CScanStats* stats)
{
    if (!showAll && path.empty())
        return;
    CWaitCursor wait;
    const CScanTarget target = BuildScanTarget(path, services.objectNameMode, showAll);
    const CDeviceMap deviceMap = BuildCurrentDeviceMap();
    CList<CFileLock> locks = RunLockScans(services, target, deviceMap, stats);
    if (!locks.empty())
        ShowRows(view, locks, deviceMap);
    else
        AppMessageBox(owner, NoLocksMessage(path), MB_OK);
    view.FitColumns();
}

}  // namespace tarnwick
