#include <gtest/gtest.h>

#include <atomic>
#include <cwctype>
#include <stdexcept>
#include <thread>

#include "BackgroundTask.h"
#include "Dialog.h"
#include "FrameworkTestResources.h"
#include "Shortcuts.h"
#include "TestWindows.h"
#include "Text.h"

using namespace tarnwick;
using namespace tarnwick::test;

TEST(FoldCase, FoldsEveryLetterAsTheFileSystemsComparisonDoes)
{
    for (unsigned c = 1; c < 0x10000; ++c) {
        if (c >= 0xD800 && c < 0xE000)
            continue;  // halves of pairs
        const std::wstring letter(1, wchar_t(c)), folded = FoldCase(letter);
        ASSERT_TRUE(EqualsNoCase(letter, folded)) << std::hex << c;
        ASSERT_EQ(FoldCase(folded), folded) << std::hex << c;
        for (const wchar_t other : {wchar_t(std::towlower(wint_t(c))), wchar_t(std::towupper(wint_t(c)))}) {
            const std::wstring otherLetter(1, other);
            ASSERT_EQ(EqualsNoCase(letter, otherLetter), FoldCase(otherLetter) == folded) << std::hex << c;
        }
    }
    EXPECT_EQ(FoldCase(L"C:\\Caf\u00e9\\Menu.TXT"), FoldCase(L"c:\\CAF\u00c9\\menu.txt"));
    EXPECT_EQ(FoldCase(L""), L"");
}

namespace {

constexpr UINT kDone = WM_APP + 7;

// A window that only collects what is posted to it, pumped on the test's thread.
class Mailbox {
public:
    Mailbox() : window_(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {}
    ~Mailbox() { ::DestroyWindow(window_); }
    HWND window() const { return window_; }
    // The wParam of the first kDone that arrives within the time, or -1.
    WPARAM WaitForDone(DWORD timeoutMs)
    {
        const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
        MSG message;
        while (::GetTickCount64() < deadline) {
            if (::PeekMessageW(&message, window_, kDone, kDone, PM_REMOVE))
                return message.wParam;
            ::Sleep(5);
        }
        return WPARAM(-1);
    }

private:
    HWND window_;
};

}  // namespace

TEST(BackgroundTask, WorksOffTheWindowsThreadPostsItsEndAndHandsOnWhatItThrew)
{
    Mailbox mailbox;
    std::atomic<bool> release{false};
    DWORD workThread = 0;
    CBackgroundTask waiting(
        [&] {
            workThread = ::GetCurrentThreadId();
            while (!release)
                ::Sleep(1);
        },
        mailbox.window(), kDone, 41);
    EXPECT_EQ(mailbox.WaitForDone(100), WPARAM(-1)) << "the end is told only once the work is over";
    release = true;
    EXPECT_EQ(mailbox.WaitForDone(5000), WPARAM(41));
    waiting.Finish();
    EXPECT_NE(workThread, ::GetCurrentThreadId());

    CBackgroundTask throwing([] { throw std::runtime_error("the work failed"); }, mailbox.window(), kDone, 42);
    EXPECT_EQ(mailbox.WaitForDone(5000), WPARAM(42)) << "a work that throws is over as well";
    EXPECT_THROW(throwing.Finish(), std::runtime_error);
    EXPECT_NO_THROW(throwing.Finish()) << "handed on once";
}

namespace {

// The test dialog with shortcuts for its "Count" button, counting the button's commands.
class CountingDialog : public CDialogEx {
public:
    CountingDialog() : CDialogEx(IDD_FRAMEWORK_TEST, nullptr) {}
    std::atomic<int> counted{0};

protected:
    BOOL OnInitDialog() override
    {
        shortcuts_ = std::make_unique<CDialogShortcuts>(
            hwnd(), std::vector<CShortcut>{{VK_F5, false, 0, IDC_COUNT}, {VK_RETURN, false, IDC_FIELD, IDC_COUNT}});
        return CDialogEx::OnInitDialog();
    }
    bool OnCommand(UINT code, int id, HWND control) override
    {
        if (code == BN_CLICKED && id == IDC_COUNT) {
            ++counted;
            return true;
        }
        return CDialogEx::OnCommand(code, id, control);
    }

private:
    std::unique_ptr<CDialogShortcuts> shortcuts_;
};

void Key(HWND control, UINT key)
{
    ::PostMessageW(control, WM_KEYDOWN, key, 1);
    ::PostMessageW(control, WM_KEYUP, key, 0xC0000001);
}

}  // namespace

TEST(DialogShortcuts, KeysGiveTheirCommandWhereTheyApplyAndNotWhileTheButtonIsDisabled)
{
    CountingDialog dialog;
    std::thread person([&] {
        const HWND window = WaitForWindowWithControl(::GetCurrentProcessId(), IDC_COUNT);
        ASSERT_NE(window, nullptr);
        const HWND field = ::GetDlgItem(window, IDC_FIELD), count = ::GetDlgItem(window, IDC_COUNT);
        Key(::GetDlgItem(window, IDC_THROW), VK_F5);  // anywhere in the dialog
        EXPECT_TRUE(Eventually([&] { return dialog.counted == 1; }));
        Key(field, VK_RETURN);  // Enter only in the field
        EXPECT_TRUE(Eventually([&] { return dialog.counted == 2; }));
        ::EnableWindow(count, FALSE);
        Key(field, VK_F5);
        // Posted after the key, so handled after it: the key met the button disabled.
        ::PostMessageW(field, WM_CHAR, L'x', 1);
        EXPECT_TRUE(Eventually([&] { return WindowText(field) == L"x"; })) << "other keys reach the control";
        ::EnableWindow(count, TRUE);
        Key(field, VK_F5);
        EXPECT_TRUE(Eventually([&] { return dialog.counted == 3; }));
        PressDialogButton(window, IDCANCEL);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    person.join();
    // Keys and commands are posted, so every one of them was handled before the Cancel was.
    EXPECT_EQ(dialog.counted, 3) << "no command while the button was disabled";
}
