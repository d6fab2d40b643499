// Every text of the main window, the About box and the notice whole, and the windows where a
// person looks for them: at the DPI this run has, and once more at 144 DPI in a second run of
// this program started with that setting.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>

#include "AboutDlg.h"
#include "DialogSession.h"
#include "FreeSoftwareDlg.h"
#include "TarnwickDlg.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

constexpr char kDpiVariable[] = "TARNWICK_TEST_DPI";
constexpr UINT kHighDpi = 144;

// The DPI this run expects: the one a first run started it with, or the usual 96.
UINT ExpectedDpi()
{
    char value[16] = {};
    return ::GetEnvironmentVariableA(kDpiVariable, value, sizeof value) ? UINT(std::atoi(value)) : 96;
}

std::wstring PictureName(const std::wstring& what) { return what + L"-" + std::to_wstring(ExpectedDpi()) + L".bmp"; }

// How many pixels the control's text needs beyond its client area, measured with the
// control's own font and width and wrapped as a static control wraps it; 0 or less: it fits.
int TextOverflow(HWND control)
{
    RECT client;
    ::GetClientRect(control, &client);
    const std::wstring text = WindowText(control);
    const CWindowDc dc(control);
    const CSelection font(dc.get(), reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT extent = {0, 0, client.right, 0};
    const bool noPrefix = (::GetWindowLongW(control, GWL_STYLE) & SS_NOPREFIX) != 0;
    ::DrawTextW(dc.get(), text.c_str(), -1, &extent,
                DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | (noPrefix ? DT_NOPREFIX : 0));
    return std::max<int>(extent.bottom - client.bottom, extent.right - client.right);
}

bool IsTextStatic(HWND control)
{
    wchar_t className[32] = {};
    ::GetClassNameW(control, className, 32);
    const LONG type = ::GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK;
    return _wcsicmp(className, L"Static") == 0 && type != SS_ICON && type != SS_BITMAP && !WindowText(control).empty();
}

void ExpectTextsFit(HWND dialog)
{
    int checked = 0;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (!IsTextStatic(child))
            continue;
        ++checked;
        EXPECT_LE(TextOverflow(child), 0) << WideToUtf8(WindowText(child));
    }
    EXPECT_GT(checked, 0);
}

RECT WorkAreaOf(HWND window)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    return monitor.rcWork;
}

// Within the work area, and centred on around as far as the work area lets it be.
void ExpectCentredOn(HWND window, const RECT& around)
{
    RECT rect;
    ::GetWindowRect(window, &rect);
    const RECT work = WorkAreaOf(window);
    EXPECT_TRUE(rect.left >= work.left && rect.top >= work.top && rect.right <= work.right &&
                rect.bottom <= work.bottom)
        << "window " << rect.left << "," << rect.top << "-" << rect.right << "," << rect.bottom;
    const LONG width = rect.right - rect.left, height = rect.bottom - rect.top;
    const LONG left = std::clamp(around.left + (around.right - around.left - width) / 2, work.left, work.right - width);
    const LONG top = std::clamp(around.top + (around.bottom - around.top - height) / 2, work.top, work.bottom - height);
    EXPECT_NEAR(rect.left, left, 1);
    EXPECT_NEAR(rect.top, top, 1);
}

UINT ScreenDpi()
{
    const CWindowDc screen(nullptr);
    return UINT(::GetDeviceCaps(screen.get(), LOGPIXELSY));
}

class WindowFit : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ScreenDpi(), ExpectedDpi()) << "the DPI setting was not taken"; }
};

}  // namespace

TEST_F(WindowFit, MainWindowTextsFitAndItOpensCentredWithinTheWorkArea)
{
    CTarnwickDlg dialog(L"");
    RunWithPerson(dialog, [&](HWND window) {
        ExpectTextsFit(window);
        ExpectCentredOn(window, WorkAreaOf(window));
        int iconWidth = 0, iconHeight = 0;
        ImageList_GetIconSize(ListView_GetImageList(::GetDlgItem(window, IDC_LOCK_LIST), LVSIL_SMALL), &iconWidth,
                              &iconHeight);
        EXPECT_EQ(iconWidth, ::GetSystemMetrics(SM_CXSMICON)) << "row icons grow with the DPI";
        EXPECT_EQ(iconHeight, ::GetSystemMetrics(SM_CYSMICON));
        SaveWindowPicture(window, PictureName(L"fit-main-window"));

        // As small as a person can drag it.
        ASSERT_NE(SizeGripOf(window), nullptr);
        RECT outer;
        ::GetWindowRect(window, &outer);
        ASSERT_TRUE(DragGripTo(window, {outer.left + 20, outer.top + 20})) << "the drag did not resize the window";
        MINMAXINFO limits = {};
        ::SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
        ::GetWindowRect(window, &outer);
        EXPECT_EQ(outer.right - outer.left, limits.ptMinTrackSize.x);
        EXPECT_EQ(outer.bottom - outer.top, limits.ptMinTrackSize.y);
        RECT client;
        ::GetClientRect(window, &client);
        for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
            RECT rect;
            ::GetWindowRect(child, &rect);
            ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
            EXPECT_TRUE(rect.left >= 0 && rect.top >= 0 && rect.right <= client.right && rect.bottom <= client.bottom)
                << "control " << ::GetDlgCtrlID(child) << " at " << rect.left << "," << rect.top << "-" << rect.right
                << "," << rect.bottom << " in " << client.right << "x" << client.bottom;
        }
        ExpectTextsFit(window);
        SaveWindowPicture(window, PictureName(L"fit-main-window-smallest"));
    });
}

TEST_F(WindowFit, AboutBoxTextsFitAndItOpensCentredOnTheMainWindow)
{
    CTarnwickDlg dialog(L"");
    RunWithPerson(dialog, [&](HWND window) {
        ::PostMessageW(window, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        const HWND about = WaitForWindowWithControl(::GetCurrentProcessId(), IDC_MAKER_LINK);
        ASSERT_NE(about, nullptr);
        ExpectTextsFit(about);
        RECT owner;
        ::GetWindowRect(window, &owner);
        ExpectCentredOn(about, owner);
        SaveWindowPicture(about, PictureName(L"fit-about-box"));
        PressDialogButton(about, IDOK);
        EXPECT_TRUE(Eventually([&] { return !::IsWindow(about); }));
    });
}

TEST_F(WindowFit, NoticeTextFitsAndItOpensCentredOnTheScreen)
{
    ScopedNoticeFlag flag;
    ASSERT_TRUE(flag.Remove());
    std::atomic<bool> shown{false};
    std::thread person([&] {
        const HWND notice = WaitForWindowWithControl(::GetCurrentProcessId(), IDC_DO_NOT_SHOW_AGAIN);
        if (!notice)
            return;
        shown = true;
        ExpectTextsFit(notice);
        ExpectCentredOn(notice, WorkAreaOf(notice));
        SaveWindowPicture(notice, PictureName(L"fit-free-software-notice"));
        PressDialogButton(notice, IDOK);
    });
    ShowFreeSoftwareNotice();
    person.join();
    EXPECT_TRUE(shown);
}

namespace {

// The per-user DPI setting, changed for the programs started while this lives.
class ScopedLogPixels {
public:
    explicit ScopedLogPixels(DWORD dpi)
    {
        ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                          nullptr, key_.put(), nullptr);
        DWORD size = sizeof saved_;
        hadValue_ = ::RegQueryValueExW(key_.get(), kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&saved_), &size) ==
                    ERROR_SUCCESS;
        ::RegSetValueExW(key_.get(), kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    }
    ~ScopedLogPixels()
    {
        if (hadValue_)
            ::RegSetValueExW(key_.get(), kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&saved_), sizeof saved_);
        else
            ::RegDeleteValueW(key_.get(), kValue);
    }
    ScopedLogPixels(const ScopedLogPixels&) = delete;
    ScopedLogPixels& operator=(const ScopedLogPixels&) = delete;

private:
    static constexpr wchar_t kValue[] = L"LogPixels";
    UniqueRegKey key_;
    bool hadValue_ = false;
    DWORD saved_ = 0;
};

}  // namespace

// The system reads the DPI setting when a program starts, so the higher DPI needs a program of
// its own: this one again, running the tests above.
TEST(WindowFitAtHighDpi, TheSameHoldsAt144Dpi)
{
    if (ExpectedDpi() != 96)
        GTEST_SKIP() << "the second run itself";
    std::string output;
    DWORD code = STILL_ACTIVE;
    {
        const ScopedLogPixels highDpi(kHighDpi);
        ::SetEnvironmentVariableA(kDpiVariable, std::to_string(kHighDpi).c_str());
        PipedProcess run = StartPiped(BinPath(L"window_fit_tests.exe"), {L"--gtest_filter=WindowFit.*"}, false, false);
        ::SetEnvironmentVariableA(kDpiVariable, nullptr);
        const EndedRun ended = AwaitRun(run, 120000);
        output = ended.output;
        code = ended.code;
    }
    EXPECT_EQ(code, 0u) << output;
    EXPECT_NE(output.find("[  PASSED  ] 3 tests"), std::string::npos) << output;
}
