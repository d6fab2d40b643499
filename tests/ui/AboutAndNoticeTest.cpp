#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "AboutDlg.h"
#include "FreeSoftwareDlg.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

// Waits until a window has gone, and closes it when a person's part left it open.
void WaitUntilClosed(HWND window)
{
    for (int i = 0; i < 500 && ::IsWindow(window); ++i)
        ::Sleep(10);
    if (::IsWindow(window))
        PressDialogButton(window, IDCANCEL);
}

// Shows the notice as the main window's start-up does, while a person acts on it from another
// thread; whether it was shown.
bool RunNotice(const std::function<void(HWND)>& person)
{
    std::atomic<bool> done{false}, shown{false};
    std::thread helper([&] {
        while (!done) {
            const HWND window = WaitForWindowWithControl(::GetCurrentProcessId(), IDC_DO_NOT_SHOW_AGAIN, 50);
            if (!window)
                continue;
            shown = true;
            person(window);
            WaitUntilClosed(window);
            return;
        }
    });
    ShowFreeSoftwareNotice();
    done = true;
    helper.join();
    return shown;
}

void CloseWithEscape(HWND notice)
{
    ::PostMessageW(::GetDlgItem(notice, IDC_DO_NOT_SHOW_AGAIN), WM_KEYDOWN, VK_ESCAPE, 1);
    ::PostMessageW(::GetDlgItem(notice, IDC_DO_NOT_SHOW_AGAIN), WM_KEYUP, VK_ESCAPE, 0xC0000001);
}

class FreeSoftwareNotice : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(flag.Remove()); }

    ScopedNoticeFlag flag;
};

}  // namespace

TEST(AboutBox, ShowsTheVersionAndOpensTheMakersSiteFromItsLink)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LINK_CLASS};
    ASSERT_TRUE(::InitCommonControlsEx(&controls));
    std::mutex mutex;
    std::vector<std::wstring> opened;
    CAboutDlg about(nullptr, [&](const std::wstring& page) {
        const std::lock_guard<std::mutex> lock(mutex);
        opened.push_back(page);
    });
    std::thread person([&] {
        const HWND window = WaitForWindowWithControl(::GetCurrentProcessId(), IDC_MAKER_LINK);
        if (!window)
            return;
        EXPECT_EQ(WindowText(window), L"About Tarnwick");
        EXPECT_EQ(WindowText(::GetDlgItem(window, IDC_VERSION_TEXT)), L"Tarnwick, Version 1.3.4.0");
        const HWND link = ::GetDlgItem(window, IDC_MAKER_LINK);
        EXPECT_EQ(ClassOf(link), L"SysLink");
        EXPECT_NE(WindowText(link).find(ShortAddress(MakerSite())), std::wstring::npos) << WideToUtf8(WindowText(link));
        SaveWindowPicture(window, L"about-box.bmp");
        ::SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
        ::SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
        PressDialogButton(window, IDOK);
    });
    const INT_PTR result = about.DoModal();
    person.join();
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(opened, std::vector<std::wstring>{MakerSite()});
}

TEST(AboutBox, EnterPressesOkAndEscapeCloses)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LINK_CLASS};
    ASSERT_TRUE(::InitCommonControlsEx(&controls));
    for (const UINT key : {UINT(VK_RETURN), UINT(VK_ESCAPE)}) {
        SCOPED_TRACE(key);
        std::atomic<int> opened{0};
        CAboutDlg about(nullptr, [&](const std::wstring&) { ++opened; });
        std::thread person([&] {
            const HWND window = WaitForWindowWithControl(::GetCurrentProcessId(), IDC_MAKER_LINK);
            if (!window)
                return;
            PressKey(window, key);
            WaitUntilClosed(window);
        });
        const INT_PTR result = about.DoModal();
        person.join();
        EXPECT_EQ(result, key == VK_RETURN ? IDOK : IDCANCEL);
        EXPECT_EQ(opened, 0) << "the link was not followed";
    }
}

TEST_F(FreeSoftwareNotice, ShowsWhenTheFlagIsAbsentAndOkWithoutTheTickStoresNothing)
{
    const bool shown = RunNotice([](HWND notice) {
        EXPECT_EQ(WindowText(notice), L"Free Software");
        EXPECT_EQ(WindowText(::GetDlgItem(notice, -1)), FreeSoftwareNoticeText());
        EXPECT_NE(FreeSoftwareNoticeText().find(MakerSite()), std::wstring::npos);
        EXPECT_EQ(::IsDlgButtonChecked(notice, IDC_DO_NOT_SHOW_AGAIN), UINT(BST_UNCHECKED));
        SaveWindowPicture(notice, L"free-software-notice.bmp");
        PressDialogButton(notice, IDOK);
    });
    EXPECT_TRUE(shown);
    EXPECT_FALSE(ReadNoticeFlag().present);
}

TEST_F(FreeSoftwareNotice, TickingAndClosingWithEscapeStoresTheFlagAndTheNoticeStaysAway)
{
    ASSERT_TRUE(flag.Set(NoticeFlagValue::Dword(0)));
    EXPECT_TRUE(RunNotice([](HWND notice) {
        Click(notice, IDC_DO_NOT_SHOW_AGAIN);
        CloseWithEscape(notice);
    }));
    const NoticeFlagValue stored = ReadNoticeFlag();
    EXPECT_TRUE(stored.present);
    EXPECT_EQ(stored.type, DWORD(REG_DWORD));
    EXPECT_EQ(stored.data, NoticeFlagValue::Dword(1).data);
    EXPECT_FALSE(RunNotice([](HWND notice) { PressDialogButton(notice, IDOK); }));
}

TEST_F(FreeSoftwareNotice, TickingThenClearingStoresNothing)
{
    EXPECT_TRUE(RunNotice([](HWND notice) {
        Click(notice, IDC_DO_NOT_SHOW_AGAIN);
        Click(notice, IDC_DO_NOT_SHOW_AGAIN);
        ::PostMessageW(notice, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
    }));
    EXPECT_FALSE(ReadNoticeFlag().present);
}

TEST_F(FreeSoftwareNotice, AnyNonzeroValueOfUpToFourBytesSuppressesIt)
{
    struct Case {
        const char* what;
        NoticeFlagValue value;
        bool shown;
    };
    const Case cases[] = {
        {"written by this program", NoticeFlagValue::Dword(1), false},
        {"another nonzero number", NoticeFlagValue::Dword(7), false},
        {"four binary bytes", {true, REG_BINARY, {0, 0, 0, 1}}, false},
        {"one binary byte", {true, REG_BINARY, {1}}, false},
        {"four zero bytes", {true, REG_BINARY, {0, 0, 0, 0}}, true},
        // Too long for the four bytes read: it cannot be read, so it counts as absent.
        {"eight bytes", {true, REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(flag.Set(c.value));
        EXPECT_EQ(RunNotice([](HWND notice) { PressDialogButton(notice, IDOK); }), c.shown);
        EXPECT_EQ(ReadNoticeFlag().data, c.value.data) << "left as it was";
    }
}
