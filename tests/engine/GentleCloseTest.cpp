// Freeing a path without losing work, through the engine's one removal sequence: who holds a
// lock (the services it hosts, its windows), stopping services through Wine's service manager,
// asking programs to close, waiting for what was ended, and no destructive step after a
// refusal or a No.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "LockSearch.h"
#include "RemovalSequence.h"
#include "TestServices.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// Answers the sequence's questions as set, and keeps what it asked and told.
class RecordingPrompts : public IRemovalPrompts {
public:
    void Tell(const std::wstring& text) override { told.push_back(text); }
    bool ConfirmDeleteAtBoot(const std::wstring& question) override
    {
        asked.push_back(question);
        return false;
    }
    bool ShellMayAsk() const override { return false; }
    bool ConfirmUnlockAll(const std::wstring&) override { return true; }
    Consent ConfirmEndCritical(const CLockItem&, const std::wstring& question) override
    {
        asked.push_back(question);
        return end;
    }
    Consent ConfirmStopServices(const CLockItem&, const CServiceStop&, const std::wstring& question) override
    {
        asked.push_back(question);
        return stop;
    }
    bool ConfirmEndUnclosed(const std::vector<const CLockItem*>&, const std::wstring& question) override
    {
        asked.push_back(question);
        return endUnclosed;
    }
    bool Wait(HANDLE object, DWORD ms) override
    {
        if (waits++ == 0)
            ::GetSystemTimeAsFileTime(&firstWait);
        if (object)
            waitedFor.push_back(::GetProcessId(object));
        if (object && neverEnds)
            return false;  // as a process that takes longer to end than the time given
        const ULONGLONG start = ::GetTickCount64();
        const bool signalled = IRemovalPrompts::Wait(object, ms);
        waitedMs += ::GetTickCount64() - start;
        return signalled;
    }
    void Report(const CRowOutcome& outcome) override { reported.push_back(outcome); }
    bool LocksRemoved(const std::vector<const CLockItem*>&) override
    {
        if (watched)
            watchedGoneBeforeAfterAction = !Running(watched);
        waitedBeforeAfterAction = waitedFor;
        return true;
    }

    Consent end = Consent::No, stop = Consent::No;
    bool endUnclosed = false;
    HANDLE watched = nullptr;  // a process whose end is looked at when the after-action is next
    bool watchedGoneBeforeAfterAction = false;
    std::vector<DWORD> waitedBeforeAfterAction;
    bool neverEnds = false;
    int waits = 0;
    FILETIME firstWait = {};  // once the programs were asked
    ULONGLONG waitedMs = 0;
    std::vector<DWORD> waitedFor;  // the processes waited for, in order
    std::vector<std::wstring> told, asked;
    std::vector<CRowOutcome> reported;
};

// How long after the moment the process ended, in milliseconds (negative: before); it has ended.
long long EndedAfterMs(const FILETIME& moment, HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user))
        return -1;
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return (ticks(exited) - ticks(moment)) / 10000;
}

const CRowOutcome* OutcomeOf(const CRemovalOutcome& outcome, DWORD pid)
{
    const auto found = std::find_if(outcome.outcomes.begin(), outcome.outcomes.end(),
                                    [pid](const CRowOutcome& row) { return row.row->pid == pid; });
    return found == outcome.outcomes.end() ? nullptr : &*found;
}

class GentleClose : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(BindSystemServices(services), L"");
        CreateFolders(folder);
    }

    CLockSearch Search(const CScanSeams& seams = {})
    {
        target = MakeTarget(folder, false, services);
        return SearchLocks(services, target, seams);
    }

    // Runs the command on every row a fresh scan finds in the folder.
    CRemovalOutcome Run(RemovalCommand command, RecordingPrompts& prompts, AfterAction after = AfterAction::DoNothing,
                        DWORD timeoutMs = kCloseTimeoutMs)
    {
        search = Search();
        CRemovalRequest request;
        request.command = command;
        for (const CLockItem& row : search.rows)
            request.rows.push_back(&row);
        request.rowsListed = !search.rows.empty();
        request.afterAction = MakeAfterActionRequest(target, after, L"", L"");
        request.closeTimeoutMs = timeoutMs;
        return RunRemoval(services, target, request, prompts);
    }

    TempDir dir{L"tarnwick-gentle"};
    const std::wstring folder = dir.Sub(L"held");
    CSystemServices services;
    CTarget target;
    CLockSearch search;
};

SC_HANDLE WINAPI NoServiceManager(LPCWSTR, LPCWSTR, DWORD)
{
    ::SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

}  // namespace

TEST_F(GentleClose, RowsTellWhichServicesTheirOwnerHostsAndWhetherItShowsWindows)
{
    FixtureService service(L"TarnwickRoles", folder + L"\\service.txt");
    ASSERT_TRUE(service.installed());
    ASSERT_TRUE(service.Start());
    FixtureProcess windowed(BinPath(L"owner.exe"), {L"window", folder + L"\\window.txt"});
    FixtureProcess console(BinPath(L"holder.exe"), {L"open", folder + L"\\console.txt"});
    ASSERT_TRUE(Eventually([&] { return Search().rows.size() == 3; }));

    const CLockSearch found = Search();
    for (const CLockItem& row : found.rows) {
        SCOPED_TRACE(WideToUtf8(row.lockPath));
        const bool isService = row.pid == service.Pid(), isWindowed = row.pid == windowed.pid();
        ASSERT_TRUE(isService || isWindowed || row.pid == console.pid());
        EXPECT_EQ(row.hasWindows, isWindowed);
        ASSERT_EQ(row.services.size(), isService ? 1u : 0u);
        if (isService) {
            EXPECT_EQ(row.services[0].name, service.name());
            EXPECT_EQ(row.services[0].displayName, service.displayName());
        }
    }

    CScanSeams refused;
    refused.openServiceManager = NoServiceManager;
    const CLockSearch withoutManager = Search(refused);
    EXPECT_EQ(withoutManager.failure, L"") << "the scan succeeds";
    EXPECT_EQ(withoutManager.rows.size(), 3u);
    for (const CLockItem& row : withoutManager.rows)
        EXPECT_TRUE(row.services.empty());
}

TEST_F(GentleClose, ServicesStopThroughTheManagerOnlyAfterAYesDependantsFirstAndTheFolderIsThenDeleted)
{
    FixtureService service(L"TarnwickHeld", folder + L"\\service.txt");
    FixtureService dependant(L"TarnwickNeeds", dir.Sub(L"dependant.txt"), {service.name()});
    ASSERT_TRUE(service.Start() && dependant.Start());
    const std::wstring named = service.displayName() + L" (" + service.name() + L")";
    const UniqueHandle host(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, service.Pid()));

    RecordingPrompts no;
    EXPECT_EQ(Run(RemovalCommand::Close, no).outcomes.at(0).closed, CloseResult::Declined);
    ASSERT_EQ(no.asked.size(), 1u);
    EXPECT_TRUE(Contains(no.asked[0], L"hosts these services: " + named + L".")) << WideToUtf8(no.asked[0]);
    EXPECT_TRUE(Contains(no.asked[0], L"These running services depend on them and stop first: " +
                                          dependant.displayName() + L" (" + dependant.name() + L")."));
    EXPECT_EQ(service.State(), DWORD(SERVICE_RUNNING));

    RecordingPrompts stop;
    stop.stop = Consent::Stop;
    EXPECT_EQ(Run(RemovalCommand::Close, stop, AfterAction::Delete).stopped, RemovalStop::Declined);
    EXPECT_EQ(dependant.State(), DWORD(SERVICE_RUNNING));

    RecordingPrompts yes;
    yes.stop = Consent::Yes;
    const ULONGLONG start = ::GetTickCount64();
    const CRemovalOutcome stopped = Run(RemovalCommand::Close, yes, AfterAction::Delete);
    std::printf(
        "[ measure  ] closing the service and its dependant took %llu ms; its process ended %lld ms after the "
        "sequence first waited (negative: before)\n",
        ::GetTickCount64() - start, EndedAfterMs(yes.firstWait, host.get()));
    ASSERT_EQ(stopped.outcomes.size(), 1u);
    EXPECT_EQ(stopped.outcomes[0].closed, CloseResult::Stopped);
    EXPECT_TRUE(stopped.outcomes[0].gone) << "its own process ends with it";
    EXPECT_EQ(stopped.outcomes[0].detail, dependant.displayName() + L" (" + dependant.name() + L"), " + named);
    EXPECT_EQ(service.State(), DWORD(SERVICE_STOPPED));
    EXPECT_EQ(dependant.State(), DWORD(SERVICE_STOPPED));
    EXPECT_EQ(stopped.removed.size(), 1u);
    EXPECT_FALSE(Exists(folder));
    EXPECT_TRUE(yes.told == std::vector<std::wstring>{L"Path was successfully deleted"});
}

TEST_F(GentleClose, ProgramsAreAskedThroughTheirWindowsAndOnlyThoseThatDidNotCloseAreEndedWhenSaid)
{
    FixtureProcess windowed(BinPath(L"owner.exe"), {L"window", folder + L"\\window.txt"});
    FixtureProcess asking(BinPath(L"owner.exe"), {L"asking", folder + L"\\asking.txt"});
    FixtureProcess console(BinPath(L"holder.exe"), {L"open", folder + L"\\console.txt"});
    ASSERT_TRUE(Eventually([&] { return Search().rows.size() == 3; }));

    RecordingPrompts keep;
    ULONGLONG start = ::GetTickCount64();
    const CRemovalOutcome asked = Run(RemovalCommand::Close, keep, AfterAction::DoNothing, 2000);
    const ULONGLONG tookMs = ::GetTickCount64() - start;
    ASSERT_EQ(asked.outcomes.size(), 3u);
    EXPECT_EQ(OutcomeOf(asked, windowed.pid())->closed, CloseResult::Closed);
    EXPECT_EQ(ExitCodeOf(windowed.process()), 0u) << "it ended of itself";
    EXPECT_EQ(OutcomeOf(asked, asking.pid())->closed, CloseResult::StillRunning);
    EXPECT_FALSE(OutcomeOf(asked, asking.pid())->thenEnded);
    EXPECT_TRUE(Running(asking.process())) << "not ended without a Yes";
    EXPECT_NE(WaitForMessageBoxOf(asking.pid(), 0), nullptr) << "its own question is showing";
    EXPECT_EQ(OutcomeOf(asked, console.pid())->closed, CloseResult::CannotBeAsked);
    EXPECT_TRUE(console.StillHolds(console.handles()[0].value)) << "left alone";
    EXPECT_EQ(asked.removed.size(), 1u) << "the closed program's row";
    ASSERT_EQ(keep.asked.size(), 1u);
    EXPECT_TRUE(Contains(keep.asked[0], L"\"owner.exe\" (PID " + std::to_wstring(asking.pid()) + L")"));
    EXPECT_TRUE(Contains(keep.asked[0], L"\n\nEnd the programs that did not close?"));
    EXPECT_GE(tookMs, 2000u) << "the program that stays is waited for until the time is up";
    EXPECT_GT(keep.waits, 0) << "the waits go through the prompts";
    std::printf(
        "[ measure  ] asking a closing, an asking and a console program took %llu ms (limit 2000 ms); the "
        "closing one ended %lld ms after the sequence first waited (negative: before)\n",
        tookMs, EndedAfterMs(keep.firstWait, windowed.process()));

    RecordingPrompts end;
    end.endUnclosed = true;
    start = ::GetTickCount64();
    const CRemovalOutcome ended = Run(RemovalCommand::Close, end, AfterAction::DoNothing, 1000);
    std::printf("[ measure  ] then ending the one that did not close took %llu ms (limit 1000 ms)\n",
                ::GetTickCount64() - start);
    const CRowOutcome* killed = OutcomeOf(ended, asking.pid());
    ASSERT_NE(killed, nullptr);
    EXPECT_EQ(killed->closed, CloseResult::StillRunning);
    EXPECT_TRUE(killed->thenEnded);
    EXPECT_EQ(killed->ended, EndResult::Ended);
    EXPECT_TRUE(killed->gone);
    EXPECT_EQ(ExitCodeOf(asking.process()), 1u);
    EXPECT_TRUE(Running(console.process())) << "a program that cannot be asked is never ended by Close";
}

TEST_F(GentleClose, TerminateWaitsForTheEndedProcessBeforeTheAfterActionAndNoNextBootStepFollows)
{
    // Many open files make the end of a process take longer than its start.
    FixtureProcess holder(BinPath(L"holder.exe"), {L"many", folder, L"3000"});
    RecordingPrompts prompts;
    prompts.watched = holder.process();
    const ULONGLONG start = ::GetTickCount64();
    const CRemovalOutcome outcome = Run(RemovalCommand::Terminate, prompts, AfterAction::Delete);
    std::printf("[ measure  ] ending a holder of 3000 files took %llu ms, %llu ms of it waiting for its end\n",
                ::GetTickCount64() - start, prompts.waitedMs);
    ASSERT_EQ(outcome.outcomes.size(), 1u);
    EXPECT_EQ(outcome.outcomes[0].ended, EndResult::Ended);
    EXPECT_TRUE(outcome.outcomes[0].gone);
    EXPECT_EQ(prompts.waitedBeforeAfterAction, std::vector<DWORD>{holder.pid()});
    EXPECT_TRUE(prompts.watchedGoneBeforeAfterAction);
    EXPECT_EQ(outcome.removed.size(), 3000u);
    EXPECT_FALSE(Exists(folder));
    EXPECT_TRUE(prompts.asked.empty()) << "no question about the next boot";

    // A process that has not gone when the time is up keeps its rows, and says so.
    CreateFolders(folder);
    FixtureProcess slow(BinPath(L"holder.exe"), {L"open", folder + L"\\a.txt"});
    RecordingPrompts late;
    late.neverEnds = true;
    const CRemovalOutcome unseen = Run(RemovalCommand::Terminate, late);
    ASSERT_EQ(unseen.outcomes.size(), 1u);
    EXPECT_EQ(unseen.outcomes[0].ended, EndResult::Ended);
    EXPECT_FALSE(unseen.outcomes[0].gone);
    EXPECT_TRUE(unseen.removed.empty());
}

TEST_F(GentleClose, EndingAServiceHostNamesItsServicesAndTakesAYes)
{
    FixtureService service(L"TarnwickEnded", folder + L"\\service.txt");
    ASSERT_TRUE(service.Start());
    const UniqueHandle host(::OpenProcess(SYNCHRONIZE, FALSE, service.Pid()));

    RecordingPrompts no;
    const CRemovalOutcome spared = Run(RemovalCommand::Terminate, no);
    ASSERT_EQ(no.asked.size(), 1u) << "asked as a critical process is, where the front end does not ask otherwise";
    EXPECT_EQ(no.asked[0], L"\"fixture_service.exe\" (PID " + std::to_wstring(service.Pid()) +
                               L") hosts services: ending it stops these services: " + service.displayName() + L" (" +
                               service.name() + L").\n\nDo you want to end it anyway?");
    EXPECT_EQ(spared.outcomes.at(0).ended, EndResult::Declined);
    EXPECT_TRUE(Running(host.get()));

    RecordingPrompts yes;
    yes.end = Consent::Yes;
    EXPECT_EQ(Run(RemovalCommand::Terminate, yes).outcomes.at(0).ended, EndResult::Ended);
    EXPECT_FALSE(Running(host.get()));
}

TEST_F(GentleClose, WithRowsListedAndNoneChosenNothingIsEndedAskedOrDone)
{
    FixtureProcess windowed(BinPath(L"owner.exe"), {L"window", folder + L"\\window.txt"});
    target = MakeTarget(folder, false, services);
    for (const RemovalCommand command : {RemovalCommand::Terminate, RemovalCommand::Close}) {
        CRemovalRequest request;
        request.command = command;
        request.rowsListed = true;
        request.afterAction = MakeAfterActionRequest(target, AfterAction::Delete, L"", L"");
        RecordingPrompts prompts;
        EXPECT_EQ(RunRemoval(services, target, request, prompts).stopped, RemovalStop::NothingChosen);
        ASSERT_EQ(prompts.told.size(), 1u);
        EXPECT_EQ(prompts.told[0], command == RemovalCommand::Close
                                       ? L"To use \"Close Program\", please select a process to close."
                                       : L"To use \"Terminate\", please select a process to terminate.");
    }
    EXPECT_TRUE(Exists(folder)) << "no after-action";
    EXPECT_TRUE(Running(windowed.process()));
}
