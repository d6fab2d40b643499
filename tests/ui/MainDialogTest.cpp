#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <thread>

#include "FindLocks.h"
#include "ResizingDialog.h"
#include "TarnwickDlg.h"
#include <shlobj.h>

#include "DialogSession.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

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

class MainDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        target = dir.Sub(L"target");
        CreateFolders(target);
        // Programs named so that sorting by process name has something to do.
        for (const wchar_t* name : {L"zulu.exe", L"alpha.exe"})
            ASSERT_TRUE(::CopyFileW(BinPath(L"holder.exe").c_str(), dir.Sub(name).c_str(), FALSE));
    }

    TempDir dir{L"tarnwick-dialog"};
    std::wstring target;
};

}  // namespace

TEST_F(MainDialog, OpensOnTheLockedFolderWithRowsSortedByProcessName)
{
    FixtureProcess zulu(dir.Sub(L"zulu.exe"), {L"open", target + L"\\z.txt"});
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", target + L"\\a.txt"});
    CTarnwickDlg dialog(target);
    Session session;
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        EXPECT_EQ(Text(window, IDC_PATH), target);
        const HWND list = ::GetDlgItem(window, IDC_LOCK_LIST);
        EXPECT_EQ(ListViewColumn(list, 0), (std::vector<std::wstring>{L"alpha.exe", L"zulu.exe"}));
        EXPECT_EQ(ListViewColumn(list, 3), (std::vector<std::wstring>{target + L"\\a.txt", target + L"\\z.txt"}));
        EXPECT_TRUE(Checked(window, IDC_DO_NOTHING));
        GUITHREADINFO gui = {};
        gui.cbSize = sizeof gui;
        ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &gui);
        EXPECT_EQ(gui.hwndFocus, ::GetDlgItem(window, IDC_UNLOCK_ALL));
        EXPECT_EQ(::SendMessageW(window, DM_GETDEFID, 0, 0), MAKELRESULT(IDC_UNLOCK_ALL, DC_HASDEFID));
        SaveWindowPicture(window, L"main-window.bmp");
    }, &session);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(session.startupMessages.empty());
}

namespace {

LONG NTAPI UnreadableTable(ULONG, PVOID, ULONG, PULONG) { return LONG(0xC0000022); }

FARPROC WINAPI UnreadableTableProc(HMODULE module, LPCSTR name)
{
    if (std::string(name) == "NtQuerySystemInformation")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(UnreadableTable));
    return ::GetProcAddress(module, name);
}

}  // namespace

TEST_F(MainDialog, AFolderWrittenWithATrailingBackslashListsItsLocks)
{
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", target + L"\\a.txt"});
    CTarnwickDlg dialog(target + L"\\");
    Session session;
    RunWithPerson(dialog, [&](HWND window) {
        EXPECT_EQ(ListViewColumn(::GetDlgItem(window, IDC_LOCK_LIST), 3), std::vector<std::wstring>{target + L"\\a.txt"});
    }, &session);
    EXPECT_TRUE(session.startupMessages.empty());
}

TEST_F(MainDialog, ListsHighHandlesLongPathsThirtyTwoBitModulesWhateverTheCase)
{
    const HardLocks hard = MakeHardLocks(dir);
    CTarnwickDlg dialog(hard.spelled);
    RunWithPerson(dialog, [&](HWND window) {
        std::vector<std::wstring> paths = ListViewColumn(::GetDlgItem(window, IDC_LOCK_LIST), 3);
        std::vector<std::wstring> expected = hard.paths;
        std::sort(paths.begin(), paths.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(paths, expected);
    });
}

TEST_F(MainDialog, ScanThatCannotRunOrADeviceNameIsSaidNeverAsNoLocks)
{
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", target + L"\\a.txt"});
    CPlatformLoader loader;
    loader.getProc = UnreadableTableProc;
    CTarnwickDlg failing(target, loader);
    Session session;
    RunWithPerson(failing, [&](HWND) {}, &session);
    ASSERT_EQ(session.startupMessages.size(), 1u);
    EXPECT_EQ(session.startupMessages[0],
              ScanFailedMessage(target, L"the system handle table could not be read (status 0xC0000022)"));

    CTarnwickDlg device(L"CON");
    Session refused;
    RunWithPerson(device, [&](HWND window) { EXPECT_EQ(Rows(window), 0); }, &refused);
    EXPECT_EQ(refused.startupMessages, std::vector<std::wstring>{L"\"CON\" names a device, not a file or folder."});
}

TEST_F(MainDialog, WithoutPathOrShowAllTheListStaysEmptyAndNothingIsSaid)
{
    CTarnwickDlg dialog(L"");
    Session session;
    RunWithPerson(dialog, [&](HWND window) { EXPECT_EQ(Rows(window), 0); }, &session);
    EXPECT_TRUE(session.startupMessages.empty());
}

TEST_F(MainDialog, ShowAllLocksRescansEverythingAndBack)
{
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", target + L"\\a.txt"});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 1);
        Click(window, IDC_SHOW_ALL);
        EXPECT_TRUE(Checked(window, IDC_SHOW_ALL));
        const std::vector<std::wstring> paths = ListViewColumn(::GetDlgItem(window, IDC_LOCK_LIST), 3);
        EXPECT_GT(paths.size(), 3u) << "every lock of every process";
        EXPECT_NE(std::find(paths.begin(), paths.end(), target + L"\\a.txt"), paths.end());
        const std::vector<std::wstring> names = ListViewColumn(::GetDlgItem(window, IDC_LOCK_LIST), 0);
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
            return _wcsicmp(a.c_str(), b.c_str()) < 0;
        }));
        Click(window, IDC_SHOW_ALL);
        EXPECT_EQ(Rows(window), 1);
    });
}

TEST_F(MainDialog, RefreshOnAPathThatLostItsLocksSaysSoAndEmptiesTheList)
{
    auto alpha = std::make_unique<FixtureProcess>(dir.Sub(L"alpha.exe"), std::vector<std::wstring>{L"open", target + L"\\a.txt"});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 1);
        alpha.reset();  // the owner ends; its lock is gone
        ClickLater(window, IDC_REFRESH);
        const HWND box = WaitForMessageBoxOf(::GetCurrentProcessId());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), NoLocksMessage(target));
        PressDialogButton(box, IDOK);
        ::SendMessageW(window, WM_NULL, 0, 0);  // the refresh has ended
        EXPECT_EQ(Rows(window), 0);
    });
}

TEST_F(MainDialog, TypingANewNameSelectsRenameTo)
{
    CTarnwickDlg dialog(L"");
    RunWithPerson(dialog, [&](HWND window) {
        Click(window, IDC_DELETE);
        EXPECT_TRUE(Checked(window, IDC_DELETE));
        ::SendMessageW(::GetDlgItem(window, IDC_RENAME_TO), WM_CHAR, L'n', 0);
        EXPECT_TRUE(Checked(window, IDC_RENAME));
        EXPECT_FALSE(Checked(window, IDC_DELETE));
        // Rewriting the fields (as browsing does) is no typing: the choice stays.
        Click(window, IDC_DELETE);
        Click(window, IDC_REFRESH);
        EXPECT_TRUE(Checked(window, IDC_DELETE));
    });
}

TEST_F(MainDialog, BrowsingOpensAtThePathAndRescansTheChoiceWithoutTouchingTheAction)
{
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", target + L"\\a.txt"});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        ::SendMessageW(::GetDlgItem(window, IDC_RENAME_TO), WM_CHAR, L'n', 0);
        Click(window, IDC_DELETE);
        ClickLater(window, IDC_BROWSE_PATH);
        const HWND browser = WaitForFolderBrowserAt(target);
        ASSERT_NE(browser, nullptr) << "the browser did not open at the current path";
        AcceptFolderBrowser(window, browser);
        EXPECT_EQ(_wcsicmp(Text(window, IDC_PATH).c_str(), target.c_str()), 0);
        EXPECT_EQ(Rows(window), 1);
        EXPECT_TRUE(Checked(window, IDC_DELETE));
        EXPECT_EQ(Text(window, IDC_RENAME_TO), L"n");
    });
}

TEST_F(MainDialog, ResizingKeepsTheLayoutAndTheMinimumSize)
{
    CTarnwickDlg dialog(L"");
    RunWithPerson(dialog, [&](HWND window) {
        RECT opened;
        ::GetWindowRect(window, &opened);
        const RECT list = ClientRectOf(window, IDC_LOCK_LIST), close = ClientRectOf(window, IDCANCEL);
        const RECT unlock = ClientRectOf(window, IDC_UNLOCK), path = ClientRectOf(window, IDC_PATH);
        const int dx = 201, dy = 101;
        ::SetWindowPos(window, nullptr, 0, 0, opened.right - opened.left + dx, opened.bottom - opened.top + dy,
                       SWP_NOMOVE | SWP_NOZORDER);
        const RECT list2 = ClientRectOf(window, IDC_LOCK_LIST), close2 = ClientRectOf(window, IDCANCEL);
        const RECT unlock2 = ClientRectOf(window, IDC_UNLOCK), path2 = ClientRectOf(window, IDC_PATH);
        EXPECT_EQ(list2.right - list2.left, list.right - list.left + dx) << "the list grows with the window";
        EXPECT_EQ(list2.bottom - list2.top, list.bottom - list.top + dy);
        EXPECT_EQ(list2.left, list.left);
        EXPECT_EQ(close2.left - close.left, dx) << "Close keeps to the lower right";
        EXPECT_EQ(close2.top - close.top, dy);
        EXPECT_EQ(unlock2.left, unlock.left) << "Unlock keeps its distance to the bottom only";
        EXPECT_EQ(unlock2.top - unlock.top, dy);
        EXPECT_EQ(path2.right - path.right, dx);
        EXPECT_EQ(path2.top, path.top);

        MINMAXINFO limits = {};
        ::SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
        EXPECT_EQ(limits.ptMinTrackSize.x, opened.right - opened.left - 480);
        EXPECT_EQ(limits.ptMinTrackSize.y, opened.bottom - opened.top - 150);

        const HWND grip = SizeGripOf(window);
        ASSERT_NE(grip, nullptr);
        EXPECT_TRUE(::IsWindowVisible(grip));
        ::ShowWindow(window, SW_MAXIMIZE);
        EXPECT_FALSE(::IsWindowVisible(grip)) << "no grip on a maximized window";
        ::ShowWindow(window, SW_RESTORE);
        EXPECT_TRUE(::IsWindowVisible(grip));
    });
}

namespace {

// What a pretend folder browser was told when it started.
struct BrowserRecord {
    WPARAM byPath = 0;
    std::wstring selection;
};

LRESULT CALLBACK PretendBrowserProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == BFFM_SETSELECTIONW) {
        auto* record = reinterpret_cast<BrowserRecord*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        record->byPath = wParam;
        record->selection = reinterpret_cast<const wchar_t*>(lParam);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

TEST(BrowseCallback, OpensTheBrowserAtThePathItWasGiven)
{
    WNDCLASSW type = {};
    type.lpfnWndProc = PretendBrowserProc;
    type.hInstance = ::GetModuleHandleW(nullptr);
    type.lpszClassName = L"TarnwickPretendBrowser";
    ::RegisterClassW(&type);
    const HWND browser = ::CreateWindowW(type.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, type.hInstance,
                                         nullptr);
    BrowserRecord record;
    ::SetWindowLongPtrW(browser, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&record));
    const std::wstring start = L"C:\\Data\\Reports";

    EXPECT_EQ(CTarnwickDlg::BrowseCallback(browser, BFFM_SELCHANGED, 0, reinterpret_cast<LPARAM>(start.c_str())), 0);
    EXPECT_EQ(CTarnwickDlg::BrowseCallback(browser, BFFM_INITIALIZED, 0, 0), 0);
    EXPECT_EQ(record.selection, L"") << "nothing to select without a path";
    EXPECT_EQ(CTarnwickDlg::BrowseCallback(browser, BFFM_INITIALIZED, 0, reinterpret_cast<LPARAM>(start.c_str())), 0);
    EXPECT_EQ(record.byPath, WPARAM(TRUE));
    EXPECT_EQ(record.selection, start);
    ::DestroyWindow(browser);
}

TEST(ResizingLayout, MovesAreTruncatedTowardZeroFromTheInitialRectangle)
{
    CControlAnchor half{reinterpret_cast<HWND>(1), 0.5, 0.5, 0.5, 0.0, {10, 20, 110, 40}};
    EXPECT_EQ(AnchoredRect(half, 101, 101).left, 60);
    EXPECT_EQ(AnchoredRect(half, -101, -101).left, -40);
    EXPECT_EQ(AnchoredRect(half, -101, -101).top, -30);
    const RECT grown = AnchoredRect(half, 101, 0);
    EXPECT_EQ(grown.right - grown.left, 150);
    const RECT back = AnchoredRect(half, 0, 0);  // no drift after any number of resizes
    EXPECT_TRUE(back.left == 10 && back.top == 20 && back.right == 110 && back.bottom == 40);
}

TEST_F(MainDialog, SystemMenuCarriesAboutAndVersionCheckAfterSeparators)
{
    CTarnwickDlg dialog(L"");
    RunWithPerson(dialog, [&](HWND window) {
        const HMENU menu = ::GetSystemMenu(window, FALSE);
        const int count = ::GetMenuItemCount(menu);
        ASSERT_GE(count, 4);
        auto textOf = [&](int position) {
            wchar_t text[64] = {};
            ::GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
            return std::wstring(text);
        };
        EXPECT_EQ(::GetMenuState(menu, count - 4, MF_BYPOSITION) & MF_SEPARATOR, UINT(MF_SEPARATOR));
        EXPECT_EQ(::GetMenuItemID(menu, count - 3), UINT(IDM_ABOUTBOX));
        EXPECT_EQ(textOf(count - 3), L"&About Tarnwick...");
        EXPECT_EQ(::GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR, UINT(MF_SEPARATOR));
        EXPECT_EQ(::GetMenuItemID(menu, count - 1), UINT(IDM_CHECK_VERSION));
        EXPECT_EQ(textOf(count - 1), L"Check for new version");
    });
}
