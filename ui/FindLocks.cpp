#include "FindLocks.h"

#include "LockSearch.h"
#include "MessageBox.h"
#include "WaitCursor.h"

namespace tarnwick {

namespace {

// Rows arrive at the top, in the reverse of the scans' order, with drawing held off.
void ShowRows(CLockListView& view, std::vector<CLockItem>& rows)
{
    ListView_SetItemCount(view.hwnd(), int(rows.size()));
    ::LockWindowUpdate(view.hwnd());
    for (CLockItem& row : rows)
        view.InsertRowAtTop(std::move(row));
    ::LockWindowUpdate(nullptr);
}

}  // namespace

std::wstring NoLocksMessage(const std::wstring& path, const std::wstring& unseen)
{
    std::wstring message = L"No locks detected on \"" + PathForMessage(path) +
                           L"\".\nI can still attempt to delete, move, or rename the path.";
    return unseen.empty() ? message : message + L"\n\n" + unseen;
}

std::wstring ScanFailedMessage(const std::wstring& path, const std::wstring& failure)
{
    const std::wstring on = path.empty() ? L"" : L" on \"" + PathForMessage(path) + L"\"";
    return L"The scan for locks" + on + L" failed: " + failure + L".\nLocks may be held that are not listed.";
}

void FindLocksInto(CLockListView& view, const CSystemServices& services, const CTarget& target, HWND owner,
                   const CScanSeams& seams)
{
    if (!target.showAll && target.written.empty())
        return;
    CWaitCursor wait;
    CLockSearch search = SearchLocks(services, target, seams);
    if (!search.rows.empty())
        ShowRows(view, search.rows);
    if (!IsScannable(target))
        AppMessageBox(owner, target.problem, MB_OK | MB_ICONEXCLAMATION);
    else if (!search.failure.empty())
        AppMessageBox(owner, ScanFailedMessage(target.written, search.failure), MB_OK | MB_ICONEXCLAMATION);
    else if (search.rows.empty())
        AppMessageBox(owner, NoLocksMessage(target.written, UnseenSentence(search.stats)), MB_OK);
    view.FitColumns();
}

}  // namespace tarnwick
