#include <gtest/gtest.h>

#include <new>
#include <thread>

#include "Dialog.h"
#include "FrameworkTestResources.h"
#include "TestWindows.h"

using namespace tarnwick;
using namespace tarnwick::test;

TEST(WindowPlacement, CentredOnWhatItBelongsToAndKeptInsideTheWorkArea)
{
    const RECT work = {0, 0, 1280, 984};
    auto placed = [&](RECT window, RECT around) { return CenteredWindowRect(window, around, work); };
    const RECT centred = placed({0, 0, 400, 200}, work);
    EXPECT_TRUE(centred.left == 440 && centred.top == 392 && centred.right == 840 && centred.bottom == 592);
    const RECT onOwner = placed({0, 0, 400, 200}, {100, 100, 700, 500});
    EXPECT_TRUE(onOwner.left == 200 && onOwner.top == 200);
    const RECT nearEdge = placed({0, 0, 400, 200}, {1100, 900, 1300, 1000});
    EXPECT_TRUE(nearEdge.right == 1280 && nearEdge.bottom == 984) << "pushed back inside";
    const RECT tooLarge = placed({0, 0, 1400, 700}, work);
    EXPECT_TRUE(tooLarge.left == 0 && tooLarge.right == 1280 && tooLarge.bottom - tooLarge.top == 700)
        << "no wider than the work area";
}

namespace {

// A dialog whose one command throws, as a command that runs out of memory would.
class ThrowingDialog : public CDialogEx {
public:
    ThrowingDialog() : CDialogEx(IDD_FRAMEWORK_TEST, nullptr) {}

protected:
    bool OnCommand(UINT code, int id, HWND control) override
    {
        if (code == BN_CLICKED && id == IDC_THROW)
            throw std::bad_alloc();
        return CDialogEx::OnCommand(code, id, control);
    }
};

}  // namespace

TEST(DialogProcedure, CommandThatThrowsIsReportedInTheProgramsOwnCaptionAndTheWindowGoesOn)
{
    std::wstring told, caption;
    std::thread person([&] {
        const HWND dialog = WaitForWindowWithControl(::GetCurrentProcessId(), IDC_THROW);
        ASSERT_NE(dialog, nullptr);
        PressDialogButton(dialog, IDC_THROW);
        if (const HWND box = WaitForMessageBoxOf(::GetCurrentProcessId())) {
            told = MessageBoxText(box);
            caption = WindowText(box);
            PressDialogButton(box, IDOK);
        }
        Eventually([&] { return WaitForMessageBoxOf(::GetCurrentProcessId(), 100) == nullptr; });
        PressDialogButton(dialog, IDCANCEL);
    });
    ThrowingDialog dialog;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL) << "the dialog outlived its command";
    person.join();
    EXPECT_EQ(told, L"The command stopped before it was done: there is not enough memory.");
    EXPECT_EQ(caption, L"Framework Test") << "the caption is the program's title";
}
