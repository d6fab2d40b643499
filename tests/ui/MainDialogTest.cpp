#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <thread>

#include "Dialog.h"
#include "FindLocks.h"
#include "MessageBox.h"
#include "ResizingDialog.h"
#include "TarnwickDlg.h"
#include <shlobj.h>

#include "DialogSession.h"
#include "EngineSeams.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

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
    const INT_PTR result = RunWithPerson(
        dialog,
        [&](HWND window) {
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
        },
        &session);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(session.startupMessages.empty());
}

TEST_F(MainDialog, AFolderWrittenWithATrailingBackslashListsItsLocks)
{
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", target + L"\\a.txt"});
    CTarnwickDlg dialog(target + L"\\");
    Session session;
    RunWithPerson(
        dialog,
        [&](HWND window) {
            EXPECT_EQ(ListViewColumn(::GetDlgItem(window, IDC_LOCK_LIST), 3),
                      std::vector<std::wstring>{target + L"\\a.txt"});
        },
        &session);
    EXPECT_TRUE(session.startupMessages.empty());
}

TEST_F(MainDialog, FolderThroughALinkAndFileThroughItsOtherNameListTheirLocks)
{
    const std::wstring real = target + L"\\real", held = real + L"\\held.txt", other = real + L"\\other.txt";
    CreateFolders(real);
    WriteFile(held);
    ASSERT_TRUE(::CreateHardLinkW(other.c_str(), held.c_str(), nullptr));
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", held});
    const FolderLink link(target + L"\\link", real);
    ASSERT_TRUE(link.made());

    CTarnwickDlg throughLink(target + L"\\link");
    RunWithPerson(throughLink, [&](HWND window) {
        EXPECT_EQ(ListViewColumn(::GetDlgItem(window, IDC_LOCK_LIST), 3), std::vector<std::wstring>{held});
    });
    // Windows lists a file's names; Wine cannot, and its answer is given here.
    ReportLinkNames({held, other});
    CPlatformLoader naming;
    naming.getProc = ProcReplacing<kNtQueryInformationFile, QueryFileReportingLinks>;
    CTarnwickDlg otherName(other, naming);
    RunWithPerson(otherName, [&](HWND window) {
        EXPECT_EQ(ListViewColumn(::GetDlgItem(window, IDC_LOCK_LIST), 3), std::vector<std::wstring>{held});
    });
    ReportLinkNames({});
}

TEST_F(MainDialog, ListsHighHandlesLongPathsThirtyTwoBitModulesWhateverTheCase)
{
    SKIP_UNLESS_32BIT_PROGRAMS_RUN();
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
    CTarnwickDlg failing(target, LoaderWithUnreadableHandleTable());
    Session session;
    RunWithPerson(
        failing, [&](HWND) {}, &session);
    ASSERT_EQ(session.startupMessages.size(), 1u);
    EXPECT_EQ(session.startupMessages[0],
              ScanFailedMessage(target, L"the system handle table could not be read (status 0xC0000022)"));

    CTarnwickDlg throwing(target, LoaderWithHandleTableBeyondMemory());
    Session stopped;
    RunWithPerson(
        throwing, [&](HWND) {}, &stopped);
    EXPECT_EQ(stopped.startupMessages,
              std::vector<std::wstring>{ScanFailedMessage(target, L"there was not enough memory for it")});

    CTarnwickDlg device(L"CON");
    Session refused;
    RunWithPerson(
        device, [&](HWND window) { EXPECT_EQ(Rows(window), 0); }, &refused);
    EXPECT_EQ(refused.startupMessages, std::vector<std::wstring>{L"\"CON\" names a device, not a file or folder."});
}

TEST_F(MainDialog, WithoutPathOrShowAllTheListStaysEmptyAndNothingIsSaid)
{
    CTarnwickDlg dialog(L"");
    Session session;
    RunWithPerson(
        dialog, [&](HWND window) { EXPECT_EQ(Rows(window), 0); }, &session);
    EXPECT_TRUE(session.startupMessages.empty());
}

TEST_F(MainDialog, ShowAllLocksRescansEverythingAndBack)
{
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", target + L"\\a.txt"});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 1);
        Click(window, IDC_SHOW_ALL);
        WaitForScanOver(window);
        EXPECT_TRUE(Checked(window, IDC_SHOW_ALL));
        const std::vector<std::wstring> paths = ListViewColumn(::GetDlgItem(window, IDC_LOCK_LIST), 3);
        EXPECT_GT(paths.size(), 3u) << "every lock of every process";
        EXPECT_NE(std::find(paths.begin(), paths.end(), target + L"\\a.txt"), paths.end());
        const std::vector<std::wstring> names = ListViewColumn(::GetDlgItem(window, IDC_LOCK_LIST), 0);
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
            return _wcsicmp(a.c_str(), b.c_str()) < 0;
        }));
        Click(window, IDC_SHOW_ALL);
        WaitForScanOver(window);
        EXPECT_EQ(Rows(window), 1);
    });
}

TEST_F(MainDialog, RefreshOnAPathThatLostItsLocksSaysSoAndEmptiesTheList)
{
    auto alpha = std::make_unique<FixtureProcess>(dir.Sub(L"alpha.exe"),
                                                  std::vector<std::wstring>{L"open", target + L"\\a.txt"});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 1);
        alpha.reset();  // the owner ends; its lock is gone
        PressDialogButton(window, IDC_REFRESH);
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
        PressDialogButton(window, IDC_BROWSE_PATH);
        const HWND browser = WaitForFolderBrowserAt(target);
        ASSERT_NE(browser, nullptr) << "the browser did not open at the current path";
        AcceptFolderBrowser(window, browser);
        WaitForScanOver(window);
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

        // The layout may ask for more (a control that would leave the window); never for less.
        MINMAXINFO limits = {};
        ::SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
        EXPECT_GE(limits.ptMinTrackSize.x, opened.right - opened.left - 480);
        EXPECT_LT(limits.ptMinTrackSize.x, opened.right - opened.left) << "it can still be made narrower";
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
    const HWND browser =
        ::CreateWindowW(type.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, type.hInstance, nullptr);
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

namespace {

POINT CentreOf(HWND window)
{
    RECT rect;
    ::GetWindowRect(window, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// Whether any part of the window or of a control in it still waits for its paint.
bool PaintPending(HWND window)
{
    bool pending = ::GetUpdateRect(window, nullptr, FALSE) != FALSE;
    for (HWND child = ::GetWindow(window, GW_CHILD); child && !pending; child = ::GetWindow(child, GW_HWNDNEXT))
        pending = PaintPending(child);
    return pending;
}

// Does the paints that wait until none is left (painting one control may ask for another's
// paint); false when one stays pending. A paint the dialog's thread has begun is no longer
// pending, so its thread is let finish before each look.
bool PaintAllPending(HWND window)
{
    for (int round = 0; round < 10; ++round) {
        ::RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        Settle(window);
        if (!PaintPending(window))
            return true;
    }
    return false;
}

// How much of what the window shows, once no part of it waits for its paint, a forced full
// redraw changes; -1 when a paint stays pending. The pictures are saved for a person to compare.
int PixelsAFullRedrawChanges(HWND window, const std::wstring& name)
{
    if (!PaintAllPending(window))
        return -1;
    const WindowPicture shown = CaptureWindow(window);
    RedrawWholeWindow(window);
    const WindowPicture redrawn = CaptureWindow(window);
    SavePicture(shown, name + L".bmp");
    SavePicture(redrawn, name + L"-redrawn.bmp");
    return DifferingPixels(shown, redrawn);
}

}  // namespace

TEST_F(MainDialog, DraggingTheSizeGripMaximisingAndRestoringLeaveNothingToRepaint)
{
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", target + L"\\a.txt"});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        const HWND grip = SizeGripOf(window);
        ASSERT_NE(grip, nullptr);
        RECT before;
        ::GetWindowRect(window, &before);
        const POINT from = CentreOf(grip);
        ASSERT_TRUE(DragGripTo(window, {from.x + 120, from.y + 70})) << "the drag did not resize the window";
        RECT after;
        ::GetWindowRect(window, &after);
        EXPECT_GT(after.right - after.left, before.right - before.left) << "the drag resized the window";
        EXPECT_EQ(PixelsAFullRedrawChanges(window, L"main-window-dragged-larger"), 0);

        ASSERT_TRUE(DragGripTo(window, {from.x - 200, from.y - 100})) << "the drag did not resize the window";
        EXPECT_EQ(PixelsAFullRedrawChanges(window, L"main-window-dragged-smaller"), 0);

        ::ShowWindow(window, SW_MAXIMIZE);
        EXPECT_EQ(PixelsAFullRedrawChanges(window, L"main-window-maximised"), 0);
        ::ShowWindow(window, SW_RESTORE);
        EXPECT_EQ(PixelsAFullRedrawChanges(window, L"main-window-restored"), 0);
    });
}

namespace {

// The header's own measure of an item's text: its font, its text and its margin on each side.
int HeaderTextNeed(HWND header, int item)
{
    wchar_t text[64] = {};
    HDITEMW query = {};
    query.mask = HDI_TEXT;
    query.pszText = text;
    query.cchTextMax = 64;
    ::SendMessageW(header, HDM_GETITEMW, item, reinterpret_cast<LPARAM>(&query));
    const CWindowDc dc(header);
    const CSelection font(dc.get(), reinterpret_cast<HGDIOBJ>(::SendMessageW(header, WM_GETFONT, 0, 0)));
    RECT extent = {};
    ::DrawTextW(dc.get(), text, -1, &extent, DT_SINGLELINE | DT_CALCRECT);
    return extent.right - extent.left + 2 * int(::SendMessageW(header, HDM_GETBITMAPMARGIN, 0, 0));
}

// Every header item at least as wide as the header needs to show its text whole. (A list
// view's own LVSCW_AUTOSIZE_USEHEADER may fall short of this: Wine's does, by a pixel.)
void ExpectHeadersWhole(HWND window)
{
    const HWND header = ListView_GetHeader(::GetDlgItem(window, IDC_LOCK_LIST));
    for (int i = 0; i < Header_GetItemCount(header); ++i) {
        RECT item;
        Header_GetItemRect(header, i, &item);
        EXPECT_GE(item.right - item.left, HeaderTextNeed(header, i)) << "column " << i;
    }
}

}  // namespace

TEST_F(MainDialog, ColumnHeadersKeepTheirWholeTextWithRowsAndWithout)
{
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", target + L"\\a.txt"});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 1);
        ExpectHeadersWhole(window);
        SaveWindowPicture(window, L"main-window-headers-with-rows.bmp");
    });
    CTarnwickDlg empty(dir.Sub(L"nothing here"));
    Session session;
    RunWithPerson(
        empty,
        [&](HWND window) {
            ASSERT_EQ(Rows(window), 0);
            ExpectHeadersWhole(window);
            SaveWindowPicture(window, L"main-window-headers-without-rows.bmp");
        },
        &session);
    EXPECT_EQ(session.startupMessages.size(), 1u) << "the scan found nothing and said so";
}

TEST_F(MainDialog, ArrowKeysStepThroughTheFourAfterActionsAndOnlyThem)
{
    CTarnwickDlg dialog(L"");
    RunWithPerson(dialog, [&](HWND window) {
        ::SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(window, IDC_DO_NOTHING)), TRUE);
        const struct {
            UINT key;
            int chosen;
        } steps[] = {{VK_DOWN, IDC_DELETE}, {VK_DOWN, IDC_RENAME}, {VK_DOWN, IDC_MOVE}, {VK_DOWN, IDC_DO_NOTHING},
                     {VK_UP, IDC_MOVE},     {VK_LEFT, IDC_RENAME}, {VK_RIGHT, IDC_MOVE}};
        for (const auto& step : steps) {
            PressKey(window, step.key);
            const HWND chosen = ::GetDlgItem(window, step.chosen);
            EXPECT_TRUE(Eventually([&] { return FocusOf(window) == chosen; })) << "after key " << step.key;
            EXPECT_TRUE(Checked(window, step.chosen)) << "after key " << step.key;
        }
    });
}

TEST_F(MainDialog, EscapeClosesTheWindow)
{
    CTarnwickDlg dialog(L"");
    bool closed = false;
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        PressKey(window, VK_ESCAPE);
        closed = Eventually([&] { return !::IsWindow(window); });
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(MainDialog, AVeryLongPathIsShortenedInItsMessageWhichStaysOnTheScreen)
{
    std::wstring path = dir.Sub(L"");
    while (path.size() < 355)
        path += L"a long folder name\\";
    path.resize(355);
    CTarnwickDlg dialog(path);
    Session session;
    RunWithPerson(
        dialog, [&](HWND window) { EXPECT_EQ(Text(window, IDC_PATH), path) << "the field keeps it all"; }, &session);
    ASSERT_EQ(session.startupMessages.size(), 1u);
    const std::wstring& said = session.startupMessages[0];
    EXPECT_EQ(said, NoLocksMessage(path));
    EXPECT_EQ(said.find(path), std::wstring::npos);
    EXPECT_NE(said.find(L"..."), std::wstring::npos) << WideToUtf8(said);
    const RECT box = session.startupMessageRects[0];
    EXPECT_GE(box.left, 0);
    EXPECT_LE(box.right, ::GetSystemMetrics(SM_CXSCREEN)) << "the box is " << box.right - box.left << " pixels wide";
}

TEST_F(MainDialog, AChangeOfDpiScalesTheLayout)
{
    CTarnwickDlg dialog(L"");
    RunWithPerson(dialog, [&](HWND window) {
        RECT client, outer;
        ::GetClientRect(window, &client);
        ::GetWindowRect(window, &outer);
        const RECT close = ClientRectOf(window, IDCANCEL), list = ClientRectOf(window, IDC_LOCK_LIST);
        const UINT dpi = 96 * 3 / 2;
        RECT suggested = {outer.left, outer.top, outer.left + (outer.right - outer.left) * 3 / 2,
                          outer.top + (outer.bottom - outer.top) * 3 / 2};
        ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        Settle(window);
        ::Sleep(100);  // the layout that follows the dialog's own handling
        Settle(window);
        RECT scaledClient;
        ::GetClientRect(window, &scaledClient);
        const RECT close2 = ClientRectOf(window, IDCANCEL), list2 = ClientRectOf(window, IDC_LOCK_LIST);
        EXPECT_NEAR(close2.right - close2.left, (close.right - close.left) * 3 / 2, 1);
        EXPECT_NEAR(scaledClient.right - close2.right, (client.right - close.right) * 3 / 2, 2)
            << "Close keeps its scaled distance to the right";
        EXPECT_NEAR(list2.left, list.left * 3 / 2, 1);
        EXPECT_NEAR(scaledClient.bottom - list2.bottom, (client.bottom - list.bottom) * 3 / 2, 2);
    });
}

namespace {

CControlAnchor Anchored(double moveX, double moveY, double growX, double growY, RECT initial)
{
    return {reinterpret_cast<HWND>(1), moveX, moveY, growX, growY, initial};
}

}  // namespace

TEST(ResizingLayout, TheSmallestClientAreaKeepsEveryControlInsideWithItsMargin)
{
    const SIZE initial = {600, 400};
    // A list that grows both ways, a button column fixed at the left, a button that keeps to
    // the lower right, and a grip in the very corner.
    const std::vector<CControlAnchor> anchors = {
        Anchored(0, 0, 1, 1, {10, 10, 590, 300}),
        Anchored(0, 1, 0, 0, {10, 320, 380, 340}),
        Anchored(1, 1, 0, 0, {500, 360, 590, 390}),
        Anchored(1, 1, 0, 0, {584, 384, 600, 400}),
    };
    const SIZE smallest = MinimumClientSize(anchors, initial, 10);
    EXPECT_EQ(smallest.cx, 390) << "the fixed button's right edge plus the margin";
    EXPECT_EQ(smallest.cy, 110) << "the list may shrink to nothing: 10 above it and 100 below";
    EXPECT_EQ(MinimumClientSize({}, initial, 10).cx, 0);

    // A margin narrower than the template's is kept as the template has it.
    const std::vector<CControlAnchor> tight = {Anchored(0, 0, 0, 0, {2, 2, 595, 20})};
    EXPECT_EQ(MinimumClientSize(tight, initial, 10).cx, 600);
}

TEST(ResizingLayout, RoomForTextMovesOnlyWhatLiesBelow)
{
    std::vector<CControlAnchor> anchors = {
        Anchored(0, 0, 1, 1, {10, 10, 590, 200}),    // above
        Anchored(0, 1, 1, 0, {10, 210, 590, 236}),   // the text
        Anchored(0, 1, 0, 0, {10, 240, 300, 320}),   // below
        Anchored(0, 1, 0, 0, {400, 236, 500, 250}),  // below, touching
    };
    MakeRoomBelow(anchors, 1, 13);
    EXPECT_EQ(anchors[0].initial.bottom, 200);
    EXPECT_EQ(anchors[1].initial.top, 210);
    EXPECT_EQ(anchors[1].initial.bottom, 249);
    EXPECT_EQ(anchors[2].initial.top, 253);
    EXPECT_EQ(anchors[2].initial.bottom, 333);
    EXPECT_EQ(anchors[3].initial.top, 249);
}
