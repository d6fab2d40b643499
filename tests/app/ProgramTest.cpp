#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "TestSupport.h"

using namespace tarnwick::test;

namespace {

constexpr int kLockList = 1003;

// Tarnwick.exe as a person starts it, with a command line of their choosing.
class Program {
public:
    explicit Program(const std::wstring& arguments)
    {
        std::wstring commandLine = QuoteArgument(BinPath(L"Tarnwick.exe")) + L" " + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &info)) {
            process_.reset(info.hProcess);
            ::CloseHandle(info.hThread);
            pid_ = info.dwProcessId;
        }
    }
    ~Program()
    {
        if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT)
            ::TerminateProcess(process_.get(), 99);
    }
    DWORD pid() const { return pid_; }
    // Waits for the program to end; its exit code, or STILL_ACTIVE.
    DWORD ExitCode(DWORD timeoutMs = 10000) const
    {
        DWORD code = STILL_ACTIVE;
        if (::WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    tarnwick::UniqueHandle process_;
    DWORD pid_ = 0;
};

}  // namespace

TEST(Program, StartsOnTheCommandLinePathAndEndsWithItsWindow)
{
    TempDir dir(L"tarnwick-program");
    const std::wstring target = dir.Sub(L"Folder With Blanks");
    CreateFolders(target);
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", target + L"\\held.txt"});

    Program program(L"/switch " + QuoteArgument(target) + L" C:\\ignored");
    const HWND window = WaitForWindowWithControl(program.pid(), kLockList);
    ASSERT_NE(window, nullptr);
    wchar_t path[MAX_PATH] = {};
    ::GetDlgItemTextW(window, 1000, path, MAX_PATH);
    EXPECT_EQ(std::wstring(path), target);
    const HWND list = ::GetDlgItem(window, kLockList);
    EXPECT_EQ(ListViewColumn(list, 0), std::vector<std::wstring>{L"holder.exe"});
    EXPECT_EQ(ListViewColumn(list, 1), std::vector<std::wstring>{std::to_wstring(holder.pid())});
    EXPECT_EQ(ListViewColumn(list, 3), std::vector<std::wstring>{target + L"\\held.txt"});

    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);  // "Close": the program ends
    EXPECT_EQ(program.ExitCode(), 0u);
}

TEST(Program, FailedBindingShowsItsMessageBeforeAnyWindowAndEndsWithStatusOne)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = QuoteArgument(BinPath(L"fatalbind.exe")) + L" kernel32 dialog";
    ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &info));
    tarnwick::UniqueHandle process(info.hProcess), thread(info.hThread);

    const HWND box = WaitForMessageBoxOf(info.dwProcessId);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"Fatal error - unable to load functions from kernel32.dll");
    EXPECT_EQ(WaitForWindowWithControl(info.dwProcessId, kLockList, 200), nullptr) << "the main window was shown";
    PressDialogButton(box, IDOK);
    ASSERT_EQ(::WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 1u);
}
