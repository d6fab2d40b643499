#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>

#include "DialogSession.h"
#include "PathActions.h"
#include "PathForms.h"
#include "EngineSeams.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

const DWORD kSelf = ::GetCurrentProcessId();

void WaitUntilGone(DWORD pid)
{
    // Wine lets an ended process be opened for a moment after its last handle closed.
    for (int i = 0; i < 100; ++i, ::Sleep(50)) {
        if (!UniqueHandle(::OpenProcess(PROCESS_TERMINATE, FALSE, pid)))
            return;
    }
}

// The main dialog with its rows in reach of the test; the person runs in the dialog's process.
class CDialogWithRows : public CTarnwickDlg {
public:
    using CTarnwickDlg::CTarnwickDlg;
    CLockItem& RowRecord(int row) { return const_cast<CListRow&>(m_listLocks.ShownRow(row)).lock; }
};

class Removal : public ::testing::Test {
protected:
    void SetUp() override
    {
        target = dir.Sub(L"target");
        CreateFolders(target);
        for (const wchar_t* name : {L"zulu.exe", L"alpha.exe", L"gone.exe"})
            ASSERT_TRUE(::CopyFileW(BinPath(L"holder.exe").c_str(), dir.Sub(name).c_str(), FALSE));
    }

    TempDir dir{L"tarnwick-removal"};
    std::wstring target;
};

}  // namespace

TEST_F(Removal, UnlockAllThenDeleteClosesTheHandleDeletesTheFolderAndEnds)
{
    const std::wstring held = target + L"\\held.txt";
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", held});
    ASSERT_FALSE(::DeleteFileW(held.c_str())) << "held without sharing delete";
    CTarnwickDlg dialog(target);
    std::wstring told;
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        Click(window, IDC_DELETE);
        PressDialogButton(window, IDC_UNLOCK_ALL);
        EXPECT_TRUE(Eventually([&] { return !::IsWindowEnabled(window); })) << "no command while the shell asks";
        AnswerShellConfirmation(IDYES);
        told = Answer(IDOK);
    });
    EXPECT_EQ(result, IDOK) << "no row is left";
    EXPECT_EQ(told, L"Path was successfully deleted");
    EXPECT_FALSE(Exists(target));
    EXPECT_FALSE(alpha.StillHolds(alpha.HandleOf(held))) << "the fixture's handle was closed";
}

TEST_F(Removal, UnlockWithoutSelectionOnlySaysSo)
{
    const std::wstring held = target + L"\\held.txt";
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", held});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        Click(window, IDC_DELETE);
        PressDialogButton(window, IDC_UNLOCK);
        EXPECT_EQ(Answer(IDOK),
                  L"To use \"Unlock\", please select a handle to unlock.\nAlternatively, use \"Unlock All\".");
        Settle(window);
        EXPECT_EQ(Rows(window), 1);
        EXPECT_TRUE(Exists(held)) << "no after-action";
    });
    EXPECT_TRUE(alpha.StillHolds(alpha.HandleOf(held)));
}

TEST_F(Removal, WithAnEmptyListEveryCommandGoesStraightToTheAfterAction)
{
    for (int command : {IDC_UNLOCK, IDC_UNLOCK_ALL, IDC_TERMINATE}) {
        SCOPED_TRACE(command);
        CTarnwickDlg dialog(target);
        Session session;
        std::wstring told;
        const INT_PTR result = RunWithPerson(
            dialog,
            [&](HWND window) {
                PressDialogButton(window, command);
                if (command == IDC_TERMINATE)
                    told = Answer(IDOK);
            },
            &session);
        EXPECT_EQ(session.startupMessages.size(), 1u) << "the scan found nothing";
        EXPECT_EQ(result, IDOK) << "Do Nothing with no rows closes the dialog";
        if (command == IDC_TERMINATE) {
            EXPECT_EQ(told, L"To use \"Terminate\", please select a process to terminate.");
        }
    }
}

TEST_F(Removal, UnlockAllInShowAllModeAsksAndNoTouchesNothing)
{
    const std::wstring held = target + L"\\held.txt";
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", held});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        Click(window, IDC_SHOW_ALL);
        WaitForScanOver(window);
        const int rows = Rows(window);
        ASSERT_GT(rows, 1);
        Click(window, IDC_DELETE);
        PressDialogButton(window, IDC_UNLOCK_ALL);
        int defaultButton = 0;
        EXPECT_EQ(Answer(IDNO, &defaultButton),
                  L"Are you sure you want to remove all locks?  This will likely crash your system!");
        EXPECT_EQ(defaultButton, IDNO);
        Settle(window);
        EXPECT_EQ(Rows(window), rows);
        EXPECT_TRUE(Exists(held));
    });
    EXPECT_TRUE(alpha.StillHolds(alpha.HandleOf(held)));
}

TEST_F(Removal, TerminateEndsTheSelectedProcessAndKeepsTheOtherRows)
{
    FixtureProcess zulu(dir.Sub(L"zulu.exe"), {L"open", target + L"\\z.txt"});
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", target + L"\\a.txt"});
    auto gone =
        std::make_unique<FixtureProcess>(dir.Sub(L"gone.exe"), std::vector<std::wstring>{L"open", target + L"\\g.txt"});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 3);
        const DWORD gonePid = gone->pid();
        gone.reset();  // this one has ended by the time of the click
        WaitUntilGone(gonePid);
        SelectRowsOf(window, L"alpha.exe");
        const HWND list = ::GetDlgItem(window, IDC_LOCK_LIST);
        const std::vector<std::wstring> names = ListViewColumn(list, 0);
        for (int i = 0; i < int(names.size()); ++i)
            if (names[i] == L"gone.exe")
                ListView_SetItemState(list, i, LVIS_SELECTED, LVIS_SELECTED);
        Click(window, IDC_TERMINATE);
        EXPECT_EQ(ListViewColumn(list, 0), (std::vector<std::wstring>{L"gone.exe", L"zulu.exe"}));
    });
    EXPECT_EQ(::WaitForSingleObject(alpha.process(), 5000), WAIT_OBJECT_0) << "alpha was ended";
    EXPECT_EQ(::WaitForSingleObject(zulu.process(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "zulu lives on";
}

TEST_F(Removal, NoAtTheShellsDeleteQuestionKeepsThePathWithoutAskingMore)
{
    const std::wstring victim = target + L"\\victim with a long name.txt";
    WriteFile(victim);
    const SavedBootOperations saved;
    CTarnwickDlg dialog(victim);
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        Click(window, IDC_DELETE);
        PressDialogButton(window, IDC_UNLOCK_ALL);
        AnswerShellConfirmation(IDNO);
        const HWND asked = WaitForMessageBoxOf(kSelf, 2000);
        EXPECT_EQ(asked, nullptr) << "no question about the next boot: " << WideToUtf8(MessageBoxText(asked));
        if (asked)
            PressDialogButton(asked, IDNO);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(Exists(victim));
    EXPECT_FALSE(IsScheduledForDeletion(victim));
}

TEST_F(Removal, DestinationPickerOpensAtTheParentAndSelectsMoveTo)
{
    const std::wstring file = target + L"\\a.txt";
    WriteFile(file);
    CTarnwickDlg dialog(file);
    RunWithPerson(dialog, [&](HWND window) {
        PressDialogButton(window, IDC_BROWSE_MOVE_TO);
        const HWND browser = WaitForFolderBrowserAt(target);
        ASSERT_NE(browser, nullptr) << "the picker did not open at the path's folder";
        AcceptFolderBrowser(window, browser);
        EXPECT_EQ(_wcsicmp(Text(window, IDC_MOVE_TO).c_str(), target.c_str()), 0);
        EXPECT_TRUE(Checked(window, IDC_MOVE));
        EXPECT_FALSE(Checked(window, IDC_DO_NOTHING));
    });
}

TEST_F(Removal, MissingNameOrDestinationIsSaidAndNothingIsTouched)
{
    const std::wstring held = target + L"\\held.txt";
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", held});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        Click(window, IDC_RENAME);
        PressDialogButton(window, IDC_UNLOCK_ALL);
        EXPECT_EQ(Answer(IDOK), L"Unable to rename unless a new name is specified!");
        Click(window, IDC_MOVE);
        PressDialogButton(window, IDC_TERMINATE);
        EXPECT_EQ(Answer(IDOK), L"Unable to move unless a new path is specified!");
        Settle(window);
        EXPECT_EQ(Rows(window), 1);
    });
    EXPECT_TRUE(alpha.StillHolds(alpha.HandleOf(held)));
}

TEST_F(Removal, RenameThroughTheWindowAfterUnlocking)
{
    const std::wstring held = target + L"\\old name.txt";
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", held});
    CTarnwickDlg dialog(held);
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        ::SetDlgItemTextW(window, IDC_RENAME_TO, L"new name.txt");
        EXPECT_TRUE(Checked(window, IDC_RENAME));
        PressDialogButton(window, IDC_UNLOCK_ALL);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(Exists(target + L"\\new name.txt"));
    EXPECT_FALSE(Exists(held));
}

TEST_F(Removal, ModuleAndMappingRowsStayAfterUnlockAllAndGoWithTerminate)
{
    const std::wstring program = target + L"\\resident.exe", mapped = target + L"\\m.dat";
    ASSERT_TRUE(::CopyFileW(BinPath(L"holder.exe").c_str(), program.c_str(), FALSE));
    FixtureProcess resident(program, {L"open", target + L"\\data.txt", L"map", mapped});
    CTarnwickDlg dialog(target);
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 3);
        Click(window, IDC_UNLOCK_ALL);
        const HWND list = ::GetDlgItem(window, IDC_LOCK_LIST);
        std::vector<std::wstring> left = ListViewColumn(list, 3);
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::wstring>{mapped, program}));
        EXPECT_FALSE(resident.StillHolds(resident.HandleOf(target + L"\\data.txt")));
        SelectRowsOf(window, L"resident.exe");
        PressDialogButton(window, IDC_TERMINATE);
    });
    EXPECT_EQ(result, IDOK) << "ending the owner removed the module and mapping rows";
    EXPECT_EQ(::WaitForSingleObject(resident.process(), 5000), WAIT_OBJECT_0);
}

TEST_F(Removal, RowWhoseHandleNowNamesAnotherFileStaysAndThatFileStaysOpen)
{
    const std::wstring held = target + L"\\a.txt";
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", held});
    const unsigned long long value = alpha.HandleOf(held);
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 1);
        alpha.Send("swap " + WideToUtf8(target + L"\\b.txt"));
        ASSERT_EQ(std::strtoull(alpha.ReadLine().c_str() + 8, nullptr, 0), value) << "the same value, another file";
        Click(window, IDC_UNLOCK_ALL);
        EXPECT_EQ(Rows(window), 1) << "Unlock All";
        SelectRowsOf(window, L"alpha.exe");
        Click(window, IDC_UNLOCK);
        EXPECT_EQ(Rows(window), 1) << "Unlock";
        EXPECT_TRUE(::IsWindow(window));
    });
    EXPECT_TRUE(alpha.StillHolds(value)) << "b.txt was not closed behind its owner's back";
}

TEST_F(Removal, HandleProtectedFromClosingKeepsItsRowAndTheWindowTakesInputAgainAfterTheShell)
{
    const std::wstring held = target + L"\\p.txt";
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"protect", held});
    CTarnwickDlg dialog(target);
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        Click(window, IDC_DELETE);
        PressDialogButton(window, IDC_UNLOCK_ALL);
        AnswerShellConfirmation(IDNO);
        // The shell may still be ending its question when the window answers.
        EXPECT_TRUE(Eventually([&] { return ::IsWindowEnabled(window) != FALSE; }));
        EXPECT_EQ(Rows(window), 1);
    });
    EXPECT_EQ(result, IDCANCEL) << "the row stayed, so the command did not end the dialog";
    EXPECT_TRUE(alpha.StillHolds(alpha.HandleOf(held)));
}

TEST_F(Removal, TerminateLeavesAProcessThatIsNoLongerTheRowsAlone)
{
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", target + L"\\a.txt"});
    CDialogWithRows dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 1);
        // As if alpha had ended and a later process had been given its id.
        dialog.RowRecord(0).processCreated += 1;
        SelectRowsOf(window, L"alpha.exe");
        Click(window, IDC_TERMINATE);
        EXPECT_EQ(Rows(window), 1);
    });
    EXPECT_EQ(::WaitForSingleObject(alpha.process(), 500), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(Removal, CriticalProcessIsEndedOnlyWhenTheQuestionIsAnsweredYes)
{
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", target + L"\\a.txt"});
    ReportCriticalProcess(alpha.pid());
    CPlatformLoader loader;
    loader.getProc = ProcReplacing<kNtQueryInformationProcess, QueryProcessReportingCritical>;
    CTarnwickDlg dialog(target, loader);
    std::wstring asked;
    int defaultButton = 0;
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        SelectRowsOf(window, L"alpha.exe");
        PressDialogButton(window, IDC_TERMINATE);
        asked = Answer(IDNO, &defaultButton);
        Settle(window);
        EXPECT_EQ(Rows(window), 1);
        EXPECT_EQ(::WaitForSingleObject(alpha.process(), 300), static_cast<DWORD>(WAIT_TIMEOUT)) << "No spares it";
        PressDialogButton(window, IDC_TERMINATE);
        Answer(IDYES);
    });
    EXPECT_EQ(asked, L"\"alpha.exe\" (PID " + std::to_wstring(alpha.pid()) +
                         L") is a critical part of Windows: ending it stops Windows at once.\n\n"
                         L"Do you want to end it anyway?");
    EXPECT_EQ(defaultButton, IDNO);
    EXPECT_EQ(result, IDOK) << "Yes ended it and its row left";
    EXPECT_EQ(::WaitForSingleObject(alpha.process(), 5000), WAIT_OBJECT_0);
}

TEST_F(Removal, FolderMoveOntoATakenNameIsRefusedBeforeAnyLockIsTouchedAndTheWindowStays)
{
    const std::wstring folder = target + L"\\moving", destination = dir.Sub(L"destination");
    CreateFolders(folder);
    CreateFolders(destination + L"\\moving");
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", folder + L"\\a.txt"});
    CTarnwickDlg dialog(folder);
    std::wstring told;
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        ::SetDlgItemTextW(window, IDC_MOVE_TO, destination.c_str());
        Click(window, IDC_MOVE);
        PressDialogButton(window, IDC_UNLOCK_ALL);
        told = Answer(IDOK);
        Settle(window);
        EXPECT_TRUE(::IsWindowVisible(window));
        EXPECT_EQ(Rows(window), 1);
    });
    EXPECT_EQ(told, L"\"" + destination + L"\\moving\" already exists; Tarnwick does not replace it.");
    EXPECT_EQ(result, IDCANCEL) << "the dialog stayed until the person closed it";
    EXPECT_TRUE(alpha.StillHolds(alpha.HandleOf(folder + L"\\a.txt")));
    EXPECT_TRUE(Exists(folder));
}

TEST_F(Removal, DriveRootAndWindowsFolderAreRefusedBeforeAnyLockIsTouched)
{
    // "Unlock" with rows and none selected touches nothing even when the refusal failed.
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    const std::pair<std::wstring, int> cases[] = {{L"C:\\", IDC_DELETE}, {windows, IDC_DELETE}, {windows, IDC_RENAME}};
    for (const auto& [path, action] : cases) {
        CTarnwickDlg dialog(path);
        std::wstring told;
        RunWithPerson(dialog, [&](HWND window) {
            ASSERT_GT(Rows(window), 0);
            if (action == IDC_RENAME)
                ::SetDlgItemTextW(window, IDC_RENAME_TO, L"elsewhere");
            Click(window, action);
            PressDialogButton(window, IDC_UNLOCK);
            told = Answer(IDOK);
        });
        EXPECT_EQ(told.substr(0, path.size() + 6), L"\"" + path + L"\" is ") << WideToUtf8(told);
        EXPECT_NE(told.find(L"; Tarnwick does not delete, rename or move it."), std::wstring::npos);
    }
    EXPECT_TRUE(Exists(windows));
}

TEST_F(Removal, UnlockAndTerminateActOnExactlyTheSelectedRowsAfterASortAndAFilter)
{
    const std::wstring a1 = target + L"\\a1.txt", a2 = target + L"\\a2.txt", z = target + L"\\z.txt",
                       g = target + L"\\g.txt";
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", a1, L"open", a2});
    FixtureProcess zulu(dir.Sub(L"zulu.exe"), {L"open", z});
    FixtureProcess gone(dir.Sub(L"gone.exe"), {L"open", g});
    CTarnwickDlg dialog(target);
    RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 4);
        const HWND list = ::GetDlgItem(window, IDC_LOCK_LIST);
        SelectRowsWhere(window, kColumnPath, {a1, z});
        ClickHeader(list, kColumnPid);
        std::vector<std::wstring> selected = SelectedTexts(window, kColumnPath);
        std::sort(selected.begin(), selected.end());
        EXPECT_EQ(selected, (std::vector<std::wstring>{a1, z})) << "the selection moved with its rows";
        ::SetDlgItemTextW(window, IDC_FILTER, L"ALPHA");  // zulu's row is hidden, and no longer selected
        ASSERT_EQ(Rows(window), 2);
        EXPECT_EQ(SelectedTexts(window, kColumnPath), std::vector<std::wstring>{a1});
        Click(window, IDC_UNLOCK);
        EXPECT_EQ(ListViewColumn(list, kColumnPath), std::vector<std::wstring>{a2});

        ::SetDlgItemTextW(window, IDC_FILTER, L"");
        ClickHeader(list, kColumnProcess);
        ASSERT_EQ(Rows(window), 3);
        SelectRowsOf(window, L"gone.exe");
        ClickHeader(list, kColumnPath);
        ::SetDlgItemTextW(window, IDC_FILTER, L".TXT");
        Click(window, IDC_TERMINATE);
        EXPECT_EQ(ListViewColumn(list, 0), (std::vector<std::wstring>{L"alpha.exe", L"zulu.exe"}));
    });
    EXPECT_FALSE(alpha.StillHolds(alpha.HandleOf(a1)));
    EXPECT_TRUE(alpha.StillHolds(alpha.HandleOf(a2)));
    EXPECT_TRUE(zulu.StillHolds(zulu.HandleOf(z)));
    EXPECT_EQ(::WaitForSingleObject(gone.process(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(alpha.process(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(::WaitForSingleObject(zulu.process(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(Removal, UnlockAllFollowsTheFilterAndTheWindowStaysWhileHiddenRowsAreLeft)
{
    const std::wstring a = target + L"\\a.txt", z = target + L"\\z.txt";
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", a});
    FixtureProcess zulu(dir.Sub(L"zulu.exe"), {L"open", z});
    CTarnwickDlg dialog(target);
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        ::SetDlgItemTextW(window, IDC_FILTER, L"zulu");
        Click(window, IDC_UNLOCK_ALL);
        EXPECT_EQ(Rows(window), 0);
        ::SetDlgItemTextW(window, IDC_FILTER, L"");
        EXPECT_EQ(ListViewColumn(::GetDlgItem(window, IDC_LOCK_LIST), 0), std::vector<std::wstring>{L"alpha.exe"});
    });
    EXPECT_EQ(result, IDCANCEL) << "a lock was left, hidden by the filter";
    EXPECT_TRUE(alpha.StillHolds(alpha.HandleOf(a)));
    EXPECT_FALSE(zulu.StillHolds(zulu.HandleOf(z)));
}

TEST_F(Removal, ACommandActsOnThePathOfTheRowsShownNotOnOneTypedButNotScanned)
{
    const std::wstring held = target + L"\\held.txt", typed = dir.Sub(L"typed.txt");
    WriteFile(typed);
    FixtureProcess alpha(dir.Sub(L"alpha.exe"), {L"open", held});
    CTarnwickDlg dialog(target);
    std::wstring told;
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        ::SetDlgItemTextW(window, IDC_PATH, typed.c_str());
        Click(window, IDC_DELETE);
        PressDialogButton(window, IDC_UNLOCK_ALL);
        AnswerShellConfirmation(IDYES);
        told = Answer(IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(told, L"Path was successfully deleted");
    EXPECT_FALSE(Exists(target)) << "the folder whose rows were shown";
    EXPECT_TRUE(Exists(typed)) << "the path typed but never scanned";
}
