#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

constexpr int kLockList = 1003;

int RowsOf(HWND list) { return int(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

// Tarnwick.exe as a person starts it, with a command line of their choosing.
class Program : public StartedProcess {
public:
    explicit Program(const std::wstring& arguments) : StartedProcess(BinPath(L"Tarnwick.exe"), arguments) {}
};

}  // namespace

TEST(Program, StartsOnTheCommandLinePathAndEndsWithItsWindow)
{
    TempDir dir(L"tarnwick-program");
    const std::wstring target = dir.Sub(L"Folder With Blanks");
    CreateFolders(target);
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", target + L"\\held.txt"});

    Program program(L"/switch " + QuoteCommandLineArgument(target) + L" C:\\ignored");
    const HWND window = WaitForWindowWithControl(program.pid(), kLockList);
    ASSERT_NE(window, nullptr);
    wchar_t path[MAX_PATH] = {};
    ::GetDlgItemTextW(window, 1000, path, MAX_PATH);
    EXPECT_EQ(std::wstring(path), target);
    const HWND list = ::GetDlgItem(window, kLockList);
    ASSERT_TRUE(Eventually([&] { return RowsOf(list) > 0; }, 20000))
        << "the window shows its rows when the scan is over";
    EXPECT_EQ(ListViewColumn(list, 0), std::vector<std::wstring>{L"holder.exe"});
    EXPECT_EQ(ListViewColumn(list, 1), std::vector<std::wstring>{std::to_wstring(holder.pid())});
    EXPECT_EQ(ListViewColumn(list, 3), std::vector<std::wstring>{target + L"\\held.txt"});

    PressDialogButton(window, IDCANCEL);  // "Close": the program ends
    EXPECT_EQ(program.ExitCode(), 0u);
}

TEST(Program, FailedBindingShowsItsMessageBeforeAnyWindowAndEndsWithStatusOne)
{
    const StartedProcess program(BinPath(L"fatalbind.exe"), L"kernel32 dialog");
    const HWND box = WaitForMessageBoxOf(program.pid());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"Fatal error - unable to load functions from kernel32.dll");
    EXPECT_EQ(WaitForWindowWithControl(program.pid(), kLockList, 200), nullptr) << "the main window was shown";
    PressDialogButton(box, IDOK);
    EXPECT_EQ(program.ExitCode(), 1u);
}

namespace {

constexpr int kVersionText = 1016;
constexpr int kDoNotShowAgain = 1021;

// The main window of a process, also while it is not shown yet.
HWND MainWindowOf(DWORD pid)
{
    for (HWND window = ::FindWindowExW(nullptr, nullptr, L"#32770", nullptr); window;
         window = ::FindWindowExW(nullptr, window, L"#32770", nullptr)) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner == pid && ::GetDlgItem(window, kLockList))
            return window;
    }
    return nullptr;
}

void WaitUntilGone(HWND window)
{
    for (int i = 0; i < 500 && ::IsWindow(window); ++i)
        ::Sleep(10);
}

}  // namespace

TEST(Program, SystemMenuOpensAboutAndVersionCheckOverTheMainWindowAndKeepsOtherCommands)
{
    Program program(L"");
    const HWND main = WaitForWindowWithControl(program.pid(), kLockList);
    ASSERT_NE(main, nullptr);

    for (WPARAM command : {0x0010, 0x001F}) {  // the low four bits do not count
        ::PostMessageW(main, WM_SYSCOMMAND, command, 0);
        const HWND about = WaitForWindowWithControl(program.pid(), kVersionText);
        ASSERT_NE(about, nullptr) << command;
        wchar_t version[64] = {};
        ::GetDlgItemTextW(about, kVersionText, version, 64);
        EXPECT_EQ(std::wstring(version), L"Tarnwick, Version 1.3.4.0");
        EXPECT_EQ(::GetWindow(about, GW_OWNER), main);
        EXPECT_FALSE(::IsWindowEnabled(main)) << "the About box is modal";
        PressDialogButton(about, IDOK);
        WaitUntilGone(about);
    }

    // The built-in product page lies under a domain that never resolves: the download fails,
    // and the check says so and why, rather than that there is nothing new.
    ::PostMessageW(main, WM_SYSCOMMAND, 0x0020, 0);
    const HWND box = WaitForMessageBoxOf(program.pid(), 60000);
    ASSERT_NE(box, nullptr);
    const std::wstring said = MessageBoxText(box), failed = L"Unable to check for a new version.\n";
    EXPECT_EQ(said.substr(0, failed.size()), failed) << WideToUtf8(said);
    EXPECT_GT(said.size(), failed.size()) << "with the reason";
    EXPECT_EQ(::GetWindow(box, GW_OWNER), main);
    PressDialogButton(box, IDOK);
    WaitUntilGone(box);

    ::PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    for (int i = 0; i < 200 && !::IsIconic(main); ++i)
        ::Sleep(10);
    EXPECT_TRUE(::IsIconic(main));
    ::PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(program.ExitCode(), 0u);
}

TEST(Program, TheFreeSoftwareNoticeComesBeforeTheMainWindowAndItsFirstScan)
{
    ScopedNoticeFlag flag;
    ASSERT_TRUE(flag.Remove());
    TempDir dir(L"tarnwick-notice");
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", dir.Sub(L"held.txt")});

    Program program(QuoteCommandLineArgument(dir.path()));
    const HWND notice = WaitForWindowWithControl(program.pid(), kDoNotShowAgain);
    ASSERT_NE(notice, nullptr);
    const HWND main = MainWindowOf(program.pid());
    ASSERT_NE(main, nullptr);
    EXPECT_FALSE(::IsWindowVisible(main));
    EXPECT_EQ(::SendMessageW(::GetDlgItem(main, kLockList), LVM_GETITEMCOUNT, 0, 0), 0) << "scanned before the notice";

    Click(notice, kDoNotShowAgain);
    PressDialogButton(notice, IDOK);
    ASSERT_EQ(WaitForWindowWithControl(program.pid(), kLockList), main);
    ASSERT_TRUE(Eventually([&] { return RowsOf(::GetDlgItem(main, kLockList)) > 0; }, 20000));
    EXPECT_EQ(ListViewColumn(::GetDlgItem(main, kLockList), 3), std::vector<std::wstring>{dir.Sub(L"held.txt")});
    EXPECT_EQ(ReadNoticeFlag().data, NoticeFlagValue::Dword(1).data);
    PressDialogButton(main, IDCANCEL);
    EXPECT_EQ(program.ExitCode(), 0u);
}
