// Freeing a path without losing work, through the main window as a person uses it: the
// services column, "Close Program" with its questions, the window answering while it waits,
// and "Terminate" waiting for the end, naming a service host's services, and stopping after a
// refusal.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DialogSession.h"
#include "TestServices.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

const DWORD kSelf = ::GetCurrentProcessId();

std::wstring Named(const FixtureService& service) { return service.displayName() + L" (" + service.name() + L")"; }

std::wstring Process(const std::wstring& name, DWORD pid) { return name + L" (PID " + std::to_wstring(pid) + L")"; }

std::vector<std::wstring> Lines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    for (std::size_t start = 0, end = 0; start <= text.size(); start = end + 1) {
        end = std::min(text.find(L'\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// Whether a window of this process shows beside the main window: any, or with shellOnly the
// shell's own question, which does not carry the program's title as its boxes do.
bool ShowsBeside(HWND mainWindow, bool shellOnly)
{
    bool shows = false;
    ForEachVisibleWindowOf(kSelf, [&](HWND window) {
        shows = window != mainWindow && (!shellOnly || WindowText(window) != L"Tarnwick");
        return !shows;
    });
    return shows;
}

// No box of ours nor the shell's question comes within the time.
bool NothingMoreAsked(HWND mainWindow)
{
    return !Eventually([&] { return ShowsBeside(mainWindow, false); }, 1500);
}

class CloseProgram : public ::testing::Test {
protected:
    void SetUp() override { CreateFolders(folder); }

    TempDir dir{L"tarnwick-close-program"};
    const std::wstring folder = dir.Sub(L"held");
};

}  // namespace

TEST_F(CloseProgram, ServiceRowShowsItsServiceAndItStopsOnlyAfterAYesThenTheFolderIsDeleted)
{
    FixtureService service(L"TarnwickWindowHeld", folder + L"\\service.txt");
    FixtureService dependant(L"TarnwickWindowNeeds", dir.Sub(L"dependant.txt"), {service.name()});
    ASSERT_TRUE(service.Start() && dependant.Start());
    const DWORD pid = service.Pid();
    CTarnwickDlg dialog(folder);
    std::wstring question, declined, stopped, told;
    int defaultButton = 0;
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 1);
        EXPECT_EQ(ListViewCellText(::GetDlgItem(window, IDC_LOCK_LIST), 0, kColumnServices), service.name());
        SelectRowsOf(window, L"fixture_service.exe");
        PressDialogButton(window, IDC_CLOSE_PROGRAM);
        question = Answer(IDNO, &defaultButton);
        declined = Answer(IDOK);
        Settle(window);
        EXPECT_EQ(Rows(window), 1);
        EXPECT_EQ(service.State(), DWORD(SERVICE_RUNNING)) << "No stops nothing";

        Click(window, IDC_DELETE);
        SelectRowsOf(window, L"fixture_service.exe");
        PressDialogButton(window, IDC_CLOSE_PROGRAM);
        Answer(IDYES);
        stopped = Answer(IDOK);
        AnswerShellConfirmation(IDYES);
        told = Answer(IDOK);
    });
    EXPECT_EQ(question, L"\"fixture_service.exe\" (PID " + std::to_wstring(pid) + L") hosts these services: " +
                            Named(service) + L".\nThese running services depend on them and stop first: " +
                            Named(dependant) + L".\n\nDo you want to stop them?");
    EXPECT_EQ(defaultButton, IDNO);
    EXPECT_EQ(declined, L"Left alone, its services are not to be stopped: " + Process(L"fixture_service.exe", pid));
    EXPECT_EQ(stopped, L"Stopped: " + Process(L"fixture_service.exe", pid) + L", its services " + Named(dependant) +
                           L", " + Named(service) + L"; it has ended");
    EXPECT_EQ(service.State(), DWORD(SERVICE_STOPPED));
    EXPECT_EQ(dependant.State(), DWORD(SERVICE_STOPPED));
    EXPECT_EQ(told, L"Path was successfully deleted");
    EXPECT_FALSE(Exists(folder));
    EXPECT_EQ(result, IDOK) << "no row is left";
}

TEST_F(CloseProgram, ProgramAskingToSaveStillRunsUntilAYesWhileTheWindowKeepsAnswering)
{
    FixtureProcess windowed(BinPath(L"owner.exe"), {L"window", folder + L"\\window.txt"});
    FixtureProcess asking(BinPath(L"owner.exe"), {L"asking", folder + L"\\asking.txt"});
    CTarnwickDlg dialog(folder);
    std::wstring question, outcomes;
    int defaultButton = 0, probes = 0;
    ULONGLONG slowestMs = 0, closeMs = 0;
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 2);
        SelectRowsOf(window, L"owner.exe");
        const ULONGLONG start = ::GetTickCount64();
        PressDialogButton(window, IDC_CLOSE_PROGRAM);
        ASSERT_NE(WaitForMessageBoxOf(asking.pid()), nullptr) << "its own question shows";
        // Asked while the window waits for the programs, until it asks what to do about them.
        while (!WaitForMessageBoxOf(kSelf, 0) && ::GetTickCount64() - start < 20000) {
            const ULONGLONG sent = ::GetTickCount64();
            DWORD_PTR answer = 0;
            const bool answered = ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &answer) != 0;
            slowestMs = std::max(slowestMs, answered ? ::GetTickCount64() - sent : 1000);
            ++probes;
            ::Sleep(20);
        }
        closeMs = ::GetTickCount64() - start;
        EXPECT_TRUE(Running(asking.process())) << "not ended before the Yes";
        question = Answer(IDYES, &defaultButton);
        outcomes = Answer(IDOK);
    });
    std::printf("[ measure  ] Close Program waited %llu ms; WM_NULL answered within %llu ms at worst (%d asked)\n",
                closeMs, slowestMs, probes);
    EXPECT_GT(probes, 10);
    EXPECT_LT(slowestMs, 100u);
    EXPECT_GE(closeMs, 10000u) << "the program that stays is waited for until the time is up";
    EXPECT_EQ(question,
              L"These programs are still running 10 seconds after they were asked to close (a program may "
              L"be asking a question of its own, such as whether to save changes):\n" +
                  std::wstring(L"\"owner.exe\" (PID ") + std::to_wstring(asking.pid()) +
                  L")\n\nEnd the programs that did not close?");
    EXPECT_EQ(defaultButton, IDNO);
    // One line per process, in the list's order.
    const std::vector<std::wstring> lines = Lines(outcomes);
    EXPECT_EQ(lines.size(), 3u) << WideToUtf8(outcomes);
    for (const std::wstring& line : {L"Closed: " + Process(L"owner.exe", windowed.pid()),
                                     L"Still running after 10 seconds: " + Process(L"owner.exe", asking.pid()) +
                                         L" (it may be asking a question of its own)",
                                     L"Ended: " + Process(L"owner.exe", asking.pid())})
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << WideToUtf8(line);
    EXPECT_EQ(ExitCodeOf(windowed.process()), 0u) << "it closed of itself";
    EXPECT_EQ(ExitCodeOf(asking.process()), 1u) << "ended after the Yes";
    EXPECT_EQ(result, IDOK) << "no row is left";
}

TEST_F(CloseProgram, TerminateWithDeleteWaitsForTheEndAndAsksNothingOfTheNextBoot)
{
    // Many open files make the end of a process take longer than its start.
    FixtureProcess holder(BinPath(L"holder.exe"), {L"many", folder, L"500"});
    const SavedBootOperations saved;
    CTarnwickDlg dialog(folder);
    std::wstring told;
    bool asked = false, goneBeforeTheDelete = false;
    const INT_PTR result = RunWithPerson(dialog, [&](HWND window) {
        ASSERT_EQ(Rows(window), 500);
        Click(window, IDC_DELETE);
        SelectRowsOf(window, L"holder.exe");
        PressDialogButton(window, IDC_TERMINATE);
        EXPECT_TRUE(Eventually([&] { return ShowsBeside(window, true); }));
        goneBeforeTheDelete = !Running(holder.process());
        AnswerShellConfirmation(IDYES);
        told = Answer(IDOK);
        asked = !NothingMoreAsked(window);
    });
    EXPECT_TRUE(goneBeforeTheDelete) << "the process had ended when the shell asked about the delete";
    EXPECT_EQ(told, L"Path was successfully deleted");
    EXPECT_FALSE(asked) << "no question about the next boot";
    EXPECT_FALSE(Exists(folder));
    EXPECT_FALSE(IsScheduledForDeletion(folder));
    EXPECT_EQ(result, IDOK);
}

TEST_F(CloseProgram, TerminateOfAServiceHostNamesItsServicesAndNoSparesIt)
{
    FixtureService service(L"TarnwickWindowEnded", folder + L"\\service.txt");
    ASSERT_TRUE(service.Start());
    const UniqueHandle host(::OpenProcess(SYNCHRONIZE, FALSE, service.Pid()));
    CTarnwickDlg dialog(folder);
    std::wstring question;
    int defaultButton = 0;
    RunWithPerson(dialog, [&](HWND window) {
        SelectRowsOf(window, L"fixture_service.exe");
        PressDialogButton(window, IDC_TERMINATE);
        question = Answer(IDNO, &defaultButton);
        Settle(window);
        EXPECT_EQ(Rows(window), 1);
    });
    EXPECT_EQ(question, L"\"fixture_service.exe\" (PID " + std::to_wstring(service.Pid()) +
                            L") hosts services: ending it stops these services: " + Named(service) +
                            L".\n\nDo you want to end it anyway?");
    EXPECT_EQ(defaultButton, IDNO);
    EXPECT_TRUE(Running(host.get()));
    EXPECT_EQ(service.State(), DWORD(SERVICE_RUNNING));
}

TEST_F(CloseProgram, WithRowsListedAndNoneSelectedTerminateAndCloseProgramStopAfterTheirMessage)
{
    const std::wstring held = folder + L"\\held.txt";
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", held});
    CTarnwickDlg dialog(folder);
    RunWithPerson(dialog, [&](HWND window) {
        Click(window, IDC_DELETE);
        PressDialogButton(window, IDC_TERMINATE);
        EXPECT_EQ(Answer(IDOK), L"To use \"Terminate\", please select a process to terminate.");
        EXPECT_TRUE(NothingMoreAsked(window)) << "nothing follows, not even the shell's question";
        PressDialogButton(window, IDC_CLOSE_PROGRAM);
        EXPECT_EQ(Answer(IDOK), L"To use \"Close Program\", please select a process to close.");
        EXPECT_TRUE(NothingMoreAsked(window));
        Settle(window);
        EXPECT_EQ(Rows(window), 1);
    });
    EXPECT_TRUE(Exists(held));
    EXPECT_TRUE(holder.StillHolds(holder.HandleOf(held)));
}

TEST_F(CloseProgram, MoveIntoThePathItselfIsRefusedBeforeAnyLockIsTouched)
{
    const std::wstring held = folder + L"\\held.txt", inside = folder + L"\\sub";
    CreateFolders(inside);
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", held});
    CTarnwickDlg dialog(folder);
    RunWithPerson(dialog, [&](HWND window) {
        ::SetDlgItemTextW(window, IDC_MOVE_TO, inside.c_str());
        Click(window, IDC_MOVE);
        SelectRowsOf(window, L"holder.exe");
        for (int command : {IDC_UNLOCK_ALL, IDC_TERMINATE, IDC_CLOSE_PROGRAM}) {
            SCOPED_TRACE(command);
            PressDialogButton(window, command);
            EXPECT_EQ(Answer(IDOK), L"\"" + inside + L"\" is \"" + folder +
                                        L"\" itself or inside it; a folder cannot be moved into itself.");
            Settle(window);
            EXPECT_EQ(Rows(window), 1);
        }
    });
    EXPECT_TRUE(holder.StillHolds(holder.HandleOf(held)));
    EXPECT_TRUE(Running(holder.process()));
    EXPECT_TRUE(Exists(held));
}
