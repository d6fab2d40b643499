#include "DialogSession.h"

#include <commctrl.h>

#include <thread>

#include "TestSupport.h"

namespace tarnwick::test {

INT_PTR RunWithPerson(CTarnwickDlg& dialog, const std::function<void(HWND)>& person, Session* session)
{
    std::thread helper([&] {
        const DWORD pid = ::GetCurrentProcessId();
        HWND window = nullptr;
        for (int i = 0; i < 400 && !window; ++i) {
            window = WaitForWindowWithControl(pid, IDC_LOCK_LIST, 50);
            if (const HWND box = window ? nullptr : WaitForMessageBoxOf(pid, 0)) {
                if (session)
                    session->startupMessages.push_back(MessageBoxText(box));
                PressDialogButton(box, IDOK);
                ::Sleep(100);
            }
        }
        if (!window)
            return;
        person(window);
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    const INT_PTR result = dialog.DoModal();
    helper.join();
    return result;
}

void Click(HWND window, int id) { ::SendMessageW(::GetDlgItem(window, id), BM_CLICK, 0, 0); }
void ClickLater(HWND window, int id)
{
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(window, id)));
}
bool Checked(HWND window, int id) { return ::IsDlgButtonChecked(window, id) == BST_CHECKED; }
int Rows(HWND window) { return int(::SendMessageW(::GetDlgItem(window, IDC_LOCK_LIST), LVM_GETITEMCOUNT, 0, 0)); }
std::wstring Text(HWND window, int id)
{
    wchar_t text[1024] = {};
    ::GetDlgItemTextW(window, id, text, 1024);
    return text;
}
RECT ClientRectOf(HWND window, int id)
{
    RECT rect;
    ::GetWindowRect(::GetDlgItem(window, id), &rect);
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void SelectRowsOf(HWND window, const std::wstring& processName)
{
    const HWND list = ::GetDlgItem(window, IDC_LOCK_LIST);
    const std::vector<std::wstring> names = ListViewColumn(list, 0);
    for (int i = 0; i < int(names.size()); ++i) {
        LVITEMW state = {};
        state.stateMask = LVIS_SELECTED;
        state.state = names[i] == processName ? LVIS_SELECTED : 0;
        ::SendMessageW(list, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
    }
}

void Settle(HWND window) { ::SendMessageW(window, WM_NULL, 0, 0); }

}  // namespace tarnwick::test
