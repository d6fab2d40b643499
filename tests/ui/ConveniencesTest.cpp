// The main window as a list people work in: keys, the rows' menu, the clipboard, the filter,
// Enter where the user typed, and the version check while the window goes on answering.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "DialogSession.h"
#include "LoopbackServer.h"
#include "TarnwickDlg.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

const DWORD kSelf = ::GetCurrentProcessId();

HWND ListOf(HWND window) { return ::GetDlgItem(window, IDC_LOCK_LIST); }

// What the list shows of its rows, written as the clipboard is to hold them.
std::wstring ShownAsText(HWND window, const std::vector<int>& rows)
{
    std::wstring text = L"Process\tPID\tOwner\tPath\tKind\tServices\r\n";
    for (int row : rows) {
        for (int column = 0; column <= kColumnServices; ++column)
            text += (column ? L"\t" : L"") + ListViewCellText(ListOf(window), row, column);
        text += L"\r\n";
    }
    return text;
}

int RowOfPath(HWND window, const std::wstring& path)
{
    const std::vector<std::wstring> paths = ListViewColumn(ListOf(window), kColumnPath);
    const auto found = std::find(paths.begin(), paths.end(), path);
    return found == paths.end() ? -1 : int(found - paths.begin());
}

// The items of a shortcut menu, without their mnemonics' marks.
std::vector<std::wstring> MenuItems(HWND menuWindow)
{
    const auto menu = reinterpret_cast<HMENU>(::SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    std::vector<std::wstring> items;
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = {};
        if (!::GetMenuStringW(menu, UINT(i), text, 64, MF_BYPOSITION))
            continue;
        std::wstring item = text;
        item.erase(std::remove(item.begin(), item.end(), L'&'), item.end());
        items.push_back(item);
    }
    return items;
}

// Right-clicks the row of the path and picks the menu's item by its underlined letter, as a
// person would.
void ChooseFromRowMenu(HWND window, const std::wstring& path, WORD letter)
{
    SCOPED_TRACE(std::string("menu item ") + char(letter));
    RightClick(RowCentre(window, RowOfPath(window, path)));
    const HWND menu = WaitForMenuOf(kSelf);
    ASSERT_NE(menu, nullptr) << "no menu for the row";
    ASSERT_EQ(SelectedTexts(window, kColumnPath), std::vector<std::wstring>{path}) << "the menu is the clicked row's";
    PressKeys({letter});
    Eventually([&] { return !::IsWindowVisible(menu); });
    Settle(window);
}

class Conveniences : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateFolders(target);
        for (const wchar_t* name : {L"zulu.exe", L"alpha.exe"})
            ASSERT_TRUE(::CopyFileW(BinPath(L"holder.exe").c_str(), dir.Sub(name).c_str(), FALSE));
        zulu = std::make_unique<FixtureProcess>(dir.Sub(L"zulu.exe"), std::vector<std::wstring>{L"open", zulled});
        alpha = std::make_unique<FixtureProcess>(dir.Sub(L"alpha.exe"), std::vector<std::wstring>{L"open", held});
    }

    TempDir dir{L"tarnwick-conveniences"};
    const std::wstring target = dir.Sub(L"target"), held = target + L"\\a.txt", zulled = target + L"\\z.txt";
    std::unique_ptr<FixtureProcess> zulu, alpha;
};

}  // namespace

TEST_F(Conveniences, CtrlASelectsEveryRowAndCtrlCCopiesTheSelectedOnesAsTabSeparatedLines)
{
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 2);
        SetClipboardText(window, L"before");
        SelectRowsOf(window, L"zulu.exe");
        FocusOn(window, IDC_LOCK_LIST);
        PressKeys({VK_CONTROL, 'C'});
        EXPECT_TRUE(Eventually([&] { return ClipboardText() == ShownAsText(window, {1}); }))
            << WideToUtf8(ClipboardText());

        PressKeys({VK_CONTROL, 'A'});
        EXPECT_TRUE(Eventually([&] { return ListView_GetSelectedCount(ListOf(window)) == 2; }));
        PressKeys({VK_CONTROL, 'C'});
        EXPECT_TRUE(Eventually([&] {
            return ClipboardText() == ShownAsText(window, {0, 1});
        })) << WideToUtf8(ClipboardText());
    });
}

TEST_F(Conveniences, F5RefreshesWhereverTheFocusIs)
{
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 2);
        zulu.reset();  // its lock goes with it
        FocusOn(window, IDC_FILTER);
        PressKeys({VK_F5});
        EXPECT_TRUE(Eventually([&] { return Rows(window) == 1; }, 10000));
        WaitForScanOver(window);
        EXPECT_EQ(ListViewColumn(ListOf(window), kColumnPath), std::vector<std::wstring>{held});
    });
}

TEST_F(Conveniences, DeleteKeyUnlocksTheSelectedRowsAndNoOther)
{
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        SelectRowsOf(window, L"alpha.exe");
        FocusOn(window, IDC_LOCK_LIST);
        PressKeys({VK_DELETE});
        EXPECT_TRUE(Eventually([&] { return Rows(window) == 1; }));
        EXPECT_EQ(ListViewColumn(ListOf(window), 0), std::vector<std::wstring>{L"zulu.exe"});
    });
    EXPECT_FALSE(alpha->StillHolds(alpha->HandleOf(held)));
    EXPECT_TRUE(zulu->StillHolds(zulu->HandleOf(zulled)));
}

TEST_F(Conveniences, TheRowsMenuCopiesOpensTheFolderUnlocksAndTerminates)
{
    CTarnwickDlg dialog(target);
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 2);
        RightClick(RowCentre(window, RowOfPath(window, held)));
        const HWND menu = WaitForMenuOf(kSelf);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(MenuItems(menu), (std::vector<std::wstring>{L"Unlock", L"Terminate", L"Open Containing Folder",
                                                              L"Copy Path", L"Copy"}));
        EXPECT_EQ(SelectedTexts(window, kColumnPath), std::vector<std::wstring>{held}) << "the row clicked";
        PressKeys({'P'});  // Copy Path
        EXPECT_TRUE(Eventually([&] { return ClipboardText() == held; })) << WideToUtf8(ClipboardText());

        // From the keyboard, for the selected row.
        FocusOn(window, IDC_LOCK_LIST);
        PressKeys({VK_APPS});
        ASSERT_NE(WaitForMenuOf(kSelf), nullptr) << "the menu key";
        PressKeys({'C'});  // Copy
        EXPECT_TRUE(Eventually([&] { return ClipboardText() == ShownAsText(window, {RowOfPath(window, held)}); }));

        ChooseFromRowMenu(window, zulled, 'F');
        const HWND folder = WaitForVisibleWindow(20000, [&](HWND shown) {
            DWORD owner = 0;
            ::GetWindowThreadProcessId(shown, &owner);
            return owner != kSelf && WindowText(shown) == L"target";
        });
        EXPECT_NE(folder, nullptr) << "no window of the file's folder";
        SaveWindowPicture(window, L"rows-menu-after-folder.bmp");
        if (folder)
            ::PostMessageW(folder, WM_CLOSE, 0, 0);

        ChooseFromRowMenu(window, held, 'U');
        EXPECT_TRUE(Eventually([&] { return Rows(window) == 1; }));
        EXPECT_FALSE(alpha->StillHolds(alpha->HandleOf(held))) << "Unlock";
        ChooseFromRowMenu(window, zulled, 'T');
    });
    EXPECT_EQ(::WaitForSingleObject(zulu->process(), 5000), WAIT_OBJECT_0) << "Terminate";
    EXPECT_EQ(result, IDOK) << "no row was left";
}

TEST_F(Conveniences, TheFilterNarrowsAsOneTypesAndEnterThereUnlocksNothing)
{
    CTarnwickDlg dialog(target);
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        FocusOn(window, IDC_FILTER);
        PressKeys({'Z'});
        EXPECT_TRUE(Eventually([&] { return Rows(window) == 1; }));
        EXPECT_EQ(ListViewColumn(ListOf(window), 0), std::vector<std::wstring>{L"zulu.exe"});
        PressKeys({VK_RETURN});
        EXPECT_TRUE(Eventually([&] { return FocusOf(window) == ListOf(window); })) << "Enter goes to the rows";
        FocusOn(window, IDC_FILTER);
        PressKeys({VK_BACK});
        EXPECT_TRUE(Eventually([&] { return Rows(window) == 2; }));
        EXPECT_TRUE(::IsWindowVisible(window));
    });
    EXPECT_EQ(result, IDCANCEL) << "Enter in the filter did not unlock all";
    EXPECT_TRUE(alpha->StillHolds(alpha->HandleOf(held)));
    EXPECT_TRUE(zulu->StillHolds(zulu->HandleOf(zulled)));
}

TEST_F(Conveniences, EnterInThePathFieldScansTheTypedPathAndLeavesThePreviousRowsLocksAlone)
{
    const std::wstring other = dir.Sub(L"other"), otherFile = other + L"\\o.txt";
    CreateFolders(other);
    FixtureProcess third(BinPath(L"holder.exe"), {L"open", otherFile});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 2);
        FocusOn(window, IDC_PATH);
        ::SetDlgItemTextW(window, IDC_PATH, other.c_str());
        PressKeys({VK_RETURN});
        EXPECT_TRUE(Eventually([&] { return Rows(window) == 1; }, 10000));
        WaitForScanOver(window);
        EXPECT_EQ(ListViewColumn(ListOf(window), kColumnPath), std::vector<std::wstring>{otherFile});
        EXPECT_TRUE(::IsWindowVisible(window)) << "Unlock All was not pressed";
    });
    EXPECT_TRUE(alpha->StillHolds(alpha->HandleOf(held)));
    EXPECT_TRUE(zulu->StillHolds(zulu->HandleOf(zulled)));
    EXPECT_TRUE(third.StillHolds(third.HandleOf(otherFile)));
}

TEST_F(Conveniences, TheKindColumnTellsHandlesModulesAndMappingsApart)
{
    const std::wstring program = target + L"\\resident.exe", mapped = target + L"\\m.dat";
    ASSERT_TRUE(::CopyFileW(BinPath(L"holder.exe").c_str(), program.c_str(), FALSE));
    FixtureProcess resident(program, {L"map", mapped});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        const std::vector<std::wstring> paths = ListViewColumn(ListOf(window), kColumnPath);
        const std::vector<std::wstring> kinds = ListViewColumn(ListOf(window), kColumnKind);
        ASSERT_EQ(paths.size(), 4u);
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const std::wstring expected = paths[i] == program ? L"module" : paths[i] == mapped ? L"mapping" : L"handle";
            EXPECT_EQ(kinds[i], expected) << WideToUtf8(paths[i]);
        }
    });
}

TEST_F(Conveniences, TheVersionCheckWaitsForTheServerWhileTheWindowAnswers)
{
    LoopbackServer server;
    server.Serve("/slow/version.xml", "<version>9.0.0.0</version>\n");
    server.DelayAnswers(3000);
    CTarnwickDlg dialog(L"", {}, server.Root() + L"/slow/");
    std::wstring asked;
    int unanswered = -1, asks = 0;
    RunWithPerson(dialog, [&](HWND window) {
        const AnswerWatch watch(window);
        ::PostMessageW(window, WM_SYSCOMMAND, IDM_CHECK_VERSION, 0);
        const HWND box = WaitForMessageBoxOf(kSelf, 20000);
        unanswered = watch.failures();
        asks = watch.asked();
        ASSERT_NE(box, nullptr);
        asked = MessageBoxText(box);
        PressDialogButton(box, IDNO);
    });
    EXPECT_EQ(asked, L"New version detected.\nWould you like to connect to the website?");
    EXPECT_EQ(unanswered, 0) << "of " << asks << " asks while the download waited";
    EXPECT_GE(asks, 20);
}
