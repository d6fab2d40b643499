#include "DialogSession.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <thread>

#include "TestSupport.h"

namespace tarnwick::test {

namespace {

// A person whose part failed half-way may leave a message box or the folder browser open
// over the main window; they are cancelled so that the dialog can be closed at all.
void CancelStrayWindows(HWND mainWindow)
{
    for (int i = 0; i < 20; ++i) {
        int found = 0;
        ForEachVisibleWindowOf(::GetCurrentProcessId(), [&](HWND window) {
            if (window != mainWindow && ::IsWindowEnabled(window)) {
                PressDialogButton(window, IDCANCEL);
                ++found;
            }
            return true;
        });
        if (found == 0)
            return;
        ::Sleep(100);
    }
}

// The button drawn as the default one, which Enter presses.
int DefaultButtonOf(HWND box)
{
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
        const HWND button = ::GetDlgItem(box, id);
        if (button && (::GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return id;
    }
    return 0;
}

// Records a message box and answers it OK; returns once it is gone.
void AnswerOk(HWND box, Session* session)
{
    if (session) {
        session->startupMessages.push_back(MessageBoxText(box));
        RECT rect;
        ::GetWindowRect(box, &rect);
        session->startupMessageRects.push_back(rect);
    }
    PressDialogButton(box, IDOK);
    for (int i = 0; i < 200 && ::IsWindow(box); ++i)
        ::Sleep(10);
}

}  // namespace

bool ScanOver(HWND window) { return ::IsWindowEnabled(::GetDlgItem(window, IDC_UNLOCK)) != FALSE; }

// The scan's message comes after the commands wait no longer: once the window's thread has
// handled a message sent after that, the message is on the screen if there is one.
void WaitForScanOver(HWND window, Session* session)
{
    const DWORD pid = ::GetCurrentProcessId();
    const ULONGLONG deadline = ::GetTickCount64() + 120000;
    while (::IsWindow(window) && ::GetTickCount64() < deadline) {
        if (const HWND box = WaitForMessageBoxOf(pid, 0)) {
            AnswerOk(box, session);
            continue;
        }
        if (ScanOver(window)) {
            Settle(window);
            if (!WaitForMessageBoxOf(pid, 0))
                return;
            continue;
        }
        ::Sleep(20);
    }
    ADD_FAILURE() << (::IsWindow(window) ? "the scan did not end" : "the window closed");
}

INT_PTR RunWithPerson(CTarnwickDlg& dialog, const std::function<void(HWND)>& person, Session* session)
{
    std::thread helper([&] {
        const DWORD pid = ::GetCurrentProcessId();
        HWND window = nullptr;
        for (int i = 0; i < 400 && !window; ++i) {
            window = WaitForWindowWithControl(pid, IDC_LOCK_LIST, 50);
            if (const HWND box = window ? nullptr : WaitForMessageBoxOf(pid, 0))
                AnswerOk(box, session);
        }
        if (!window)
            return;
        WaitForScanOver(window, session);
        person(window);
        CancelStrayWindows(window);
        PressDialogButton(window, IDCANCEL);
    });
    const INT_PTR result = dialog.DoModal();
    helper.join();
    return result;
}

std::wstring Answer(int button, int* defaultButton)
{
    const HWND box = WaitForMessageBoxOf(::GetCurrentProcessId());
    if (!box)
        return L"(no message)";
    const std::wstring text = MessageBoxText(box);
    if (defaultButton)
        *defaultButton = DefaultButtonOf(box);
    PressDialogButton(box, button);
    for (int i = 0; i < 100 && ::IsWindow(box); ++i)
        ::Sleep(20);
    return text;
}

void AnswerShellConfirmation(int button)
{
    for (int i = 0; i < 200; ++i, ::Sleep(50)) {
        const HWND box = WaitForDialogOf(::GetCurrentProcessId(), 0);
        if (box && WindowText(box) != L"Tarnwick" && !::GetDlgItem(box, IDC_LOCK_LIST)) {
            PressDialogButton(box, button);
            Eventually([&] { return !::IsWindow(box); });
            return;
        }
    }
    ADD_FAILURE() << "the shell asked nothing";
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

HWND SizeGripOf(HWND window)
{
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[32] = {};
        ::GetClassNameW(child, className, 32);
        if (_wcsicmp(className, L"ScrollBar") == 0 && (::GetWindowLongW(child, GWL_STYLE) & SBS_SIZEGRIP))
            return child;
    }
    return nullptr;
}

namespace {

// Whether the dialog is still in the system's size loop, which holds the mouse until the
// button goes up.
bool InSizeLoop(HWND window)
{
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &gui);
    return (gui.flags & GUI_INMOVESIZE) != 0;
}

}  // namespace

bool DragGripTo(HWND window, POINT to)
{
    RECT grip, before;
    ::GetWindowRect(SizeGripOf(window), &grip);
    ::GetWindowRect(window, &before);
    DragMouse({(grip.left + grip.right) / 2, (grip.top + grip.bottom) / 2}, to);
    const bool taken = Eventually(
        [&] {
            RECT now;
            ::GetWindowRect(window, &now);
            return !InSizeLoop(window) && !::EqualRect(&now, &before);
        },
        30000);
    Settle(window);
    return taken;
}

void SelectRowsOf(HWND window, const std::wstring& processName) { SelectRowsWhere(window, 0, {processName}); }

void SelectRowsWhere(HWND window, int column, const std::vector<std::wstring>& texts)
{
    const HWND list = ::GetDlgItem(window, IDC_LOCK_LIST);
    const std::vector<std::wstring> shown = ListViewColumn(list, column);
    for (int i = 0; i < int(shown.size()); ++i) {
        LVITEMW state = {};
        state.stateMask = LVIS_SELECTED;
        state.state = std::find(texts.begin(), texts.end(), shown[std::size_t(i)]) != texts.end() ? LVIS_SELECTED : 0;
        ::SendMessageW(list, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
    }
}

std::vector<std::wstring> SelectedTexts(HWND window, int column)
{
    const HWND list = ::GetDlgItem(window, IDC_LOCK_LIST);
    std::vector<std::wstring> texts;
    for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i != -1;
         i = ListView_GetNextItem(list, i, LVNI_SELECTED))
        texts.push_back(ListViewCellText(list, i, column));
    return texts;
}

POINT RowCentre(HWND window, int row)
{
    const HWND list = ::GetDlgItem(window, IDC_LOCK_LIST);
    RECT rect = {};
    ListView_GetItemRect(list, row, &rect, LVIR_LABEL);
    POINT centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    ::ClientToScreen(list, &centre);
    return centre;
}

void FocusOn(HWND window, int id)
{
    ::SetForegroundWindow(window);
    ::SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(window, id)), TRUE);
}

void Settle(HWND window) { ::SendMessageW(window, WM_NULL, 0, 0); }

namespace {

BOOL CALLBACK FindTree(HWND child, LPARAM param)
{
    wchar_t className[32] = {};
    ::GetClassNameW(child, className, 32);
    if (wcscmp(className, WC_TREEVIEWW) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(param) = child;
    return FALSE;
}

std::wstring SelectedItemText(HWND tree)
{
    const auto item = reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    wchar_t text[MAX_PATH] = {};
    TVITEMW query = {};
    query.mask = TVIF_TEXT;
    query.hItem = item;
    query.pszText = text;
    query.cchTextMax = MAX_PATH;
    if (item)
        ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&query));
    return text;
}

}  // namespace

HWND WaitForFolderBrowserAt(const std::wstring& folder)
{
    HWND tree = nullptr;
    // The browser is the window of ours that holds a tree.
    for (int i = 0; i < 400 && !tree; ++i, ::Sleep(50)) {
        ForEachVisibleWindowOf(::GetCurrentProcessId(), [&](HWND window) {
            ::EnumChildWindows(window, FindTree, reinterpret_cast<LPARAM>(&tree));
            return tree == nullptr;
        });
    }
    if (!tree)
        return nullptr;
    const HWND browser = ::GetAncestor(tree, GA_ROOT);
    const std::wstring name = folder.substr(folder.find_last_of(L'\\') + 1);
    // Wine's browser may lose the folder it was opened at while it refreshes its tree on a
    // change elsewhere on disk; then the person picks the folder again.
    for (int i = 0; i < 40; ++i, ::Sleep(250)) {
        if (_wcsicmp(SelectedItemText(tree).c_str(), name.c_str()) == 0)
            return browser;
        if (i % 8 == 7)
            ::SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
    }
    return nullptr;
}

void AcceptFolderBrowser(HWND mainWindow, HWND browser)
{
    PressDialogButton(browser, IDOK);
    for (int i = 0; i < 200 && ::IsWindow(browser); ++i)
        ::Sleep(25);
    Settle(mainWindow);
}

}  // namespace tarnwick::test
