// tarnwick-cli close, and kill where it meets services and waits for what it ended: against a
// service of the tests' own in Wine's service manager, programs with windows and a console
// program; through the real program, and in-process where the platform is shown otherwise.
#include <gtest/gtest.h>

#include "CliProgramRun.h"
#include "CliOptions.h"
#include "CliRun.h"
#include "EngineSeams.h"
#include "TestServices.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

std::wstring Named(const FixtureService& service) { return service.displayName() + L" (" + service.name() + L")"; }

std::wstring Process(const std::wstring& name, DWORD pid) { return name + L" (PID " + std::to_wstring(pid) + L")"; }

// A system slow to compare the object a close handed back with the one named: the owner opens
// the file again before the close is checked, however busy the machine.
LONG NTAPI SlowToCompareObjects(HANDLE first, HANDLE second)
{
    ::Sleep(300);
    using Compare = LONG(NTAPI*)(HANDLE, HANDLE);
    static const auto compare = reinterpret_cast<Compare>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtCompareObjects")));
    return compare ? compare(first, second) : LONG(0xC0000002);  // STATUS_NOT_IMPLEMENTED
}

FARPROC WINAPI CriticalAndSlowToCompare(HMODULE module, LPCSTR name)
{
    if (std::strcmp(name, "NtCompareObjects") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(SlowToCompareObjects));
    return ProcReplacing<kNtQueryInformationProcess, QueryProcessReportingCritical>(module, name);
}

struct CapturedConsole : cli::IConsole {
    void Out(const std::wstring& text) override { out += text; }
    void Err(const std::wstring& text) override { err += text; }
    std::wstring out, err;
};

class CliClose : public ::testing::Test {
protected:
    void SetUp() override { CreateFolders(folder); }

    TempDir dir{L"tarnwick-cli-close"};
    const std::wstring folder = dir.Sub(L"held");
};

}  // namespace

TEST_F(CliClose, ServiceRowNamesItsServiceAndCloseStopsItBeforeTheFolderIsDeleted)
{
    FixtureService service(L"TarnwickCliHeld", folder + L"\\service.txt");
    ASSERT_TRUE(service.Start());
    const DWORD pid = service.Pid();

    const JsonValue listed = ParsedJson(RunCliProgram({L"list", folder, L"--json"}));
    ASSERT_EQ(listed.items.size(), 1u);
    const JsonValue& services = listed.items[0].At(L"services");
    ASSERT_EQ(services.items.size(), 1u);
    EXPECT_EQ(services.items[0].text, service.name());
    EXPECT_EQ(listed.items[0].At(L"hasWindows").kind, JsonValue::Kind::Bool);
    EXPECT_FALSE(listed.items[0].At(L"hasWindows").boolean);
    const std::vector<std::wstring> table = Lines(RunCliProgram({L"list", folder}).out);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[1].substr(table[0].find(L"Services"), service.name().size()), service.name());

    const CliResult closed = RunCliProgram({L"close", folder, L"--delete"});
    std::printf("[ measure  ] close of the service took %llu ms\n", closed.ms);
    EXPECT_EQ(closed.code, 0u) << WideToUtf8(closed.out + closed.err);
    EXPECT_TRUE(Contains(closed.out, L"Stopped: " + Process(L"fixture_service.exe", pid) + L", its services " +
                                         Named(service) + L"; it has ended\r\n"))
        << WideToUtf8(closed.out);
    EXPECT_TRUE(Contains(closed.out, L"Path was successfully deleted"));
    EXPECT_EQ(service.State(), DWORD(SERVICE_STOPPED)) << "the manager reports it stopped";
    EXPECT_FALSE(Exists(folder));
}

TEST_F(CliClose, ServiceThatARunningServiceNeedsIsStoppedOnlyWithForceAndKillEndsAHostOnlyWithForce)
{
    FixtureService service(L"TarnwickCliNeeded", folder + L"\\service.txt");
    FixtureService dependant(L"TarnwickCliNeeds", dir.Sub(L"dependant.txt"), {service.name()});
    ASSERT_TRUE(service.Start() && dependant.Start());
    const DWORD pid = service.Pid();

    const CliResult refused = RunCliProgram({L"close", folder, L"--delete"});
    EXPECT_EQ(refused.code, 2u);
    EXPECT_EQ(refused.err, Process(L"fixture_service.exe", pid) + L" hosts " + Named(service) +
                               L", and these running services depend on it: " + Named(dependant) +
                               L". --force stops them too.\r\n");
    EXPECT_EQ(refused.out, L"");
    EXPECT_EQ(dependant.State(), DWORD(SERVICE_RUNNING));
    EXPECT_EQ(service.State(), DWORD(SERVICE_RUNNING));
    EXPECT_TRUE(Exists(folder));

    const CliResult killRefused = RunCliProgram({L"kill", folder});
    EXPECT_EQ(killRefused.code, 2u);
    EXPECT_EQ(killRefused.err, L"\"fixture_service.exe\" (PID " + std::to_wstring(pid) +
                                   L") hosts services: ending it stops these services: " + Named(service) +
                                   L". --force ends it anyway.\r\n");
    EXPECT_EQ(service.State(), DWORD(SERVICE_RUNNING));

    const CliResult forced = RunCliProgram({L"close", folder, L"--force"});
    EXPECT_EQ(forced.code, 0u) << WideToUtf8(forced.out + forced.err);
    EXPECT_EQ(dependant.State(), DWORD(SERVICE_STOPPED));
    EXPECT_EQ(service.State(), DWORD(SERVICE_STOPPED));
}

TEST_F(CliClose, ProgramsAreAskedThroughTheirWindowsAndOnlyThenKillEndsThoseStillRunning)
{
    FixtureProcess windowed(BinPath(L"owner.exe"), {L"window", folder + L"\\window.txt"});
    FixtureProcess asking(BinPath(L"owner.exe"), {L"asking", folder + L"\\asking.txt"});
    FixtureProcess console(BinPath(L"holder.exe"), {L"open", folder + L"\\console.txt"});
    ASSERT_TRUE(Eventually([&] { return ParsedJson(RunCliProgram({L"list", folder, L"--json"})).items.size() == 3; }));
    for (const JsonValue& lock : ParsedJson(RunCliProgram({L"list", folder, L"--json"})).items)
        EXPECT_EQ(lock.At(L"hasWindows").boolean, lock.At(L"process").text == L"owner.exe");

    const CliResult asked = RunCliProgram({L"close", folder, L"--timeout", L"2"});
    std::printf("[ measure  ] close of a closing, an asking and a console program took %llu ms (--timeout 2)\n",
                asked.ms);
    EXPECT_EQ(asked.code, 1u) << "locks remain";
    EXPECT_TRUE(Contains(asked.out, L"Closed: " + Process(L"owner.exe", windowed.pid()) + L"\r\n"))
        << WideToUtf8(asked.out);
    EXPECT_TRUE(Contains(asked.out, L"Still running after 2 seconds: " + Process(L"owner.exe", asking.pid()) +
                                        L" (it may be asking a question of its own)\r\n"));
    EXPECT_TRUE(Contains(asked.out, L"Cannot be asked, it shows no window and hosts no service: " +
                                        Process(L"holder.exe", console.pid()) + L"\r\n"));
    EXPECT_TRUE(Contains(asked.out, L"2 locks remain"));
    EXPECT_EQ(ExitCodeOf(windowed.process()), 0u) << "it ended of itself";
    EXPECT_TRUE(Running(asking.process())) << "not killed";
    EXPECT_TRUE(console.StillHolds(console.handles()[0].value)) << "untouched";

    const CliResult killed =
        RunCliProgram({L"close", folder, L"--pid", std::to_wstring(asking.pid()), L"--timeout=1", L"--then-kill"});
    std::printf("[ measure  ] close --then-kill of the asking program took %llu ms (--timeout 1)\n", killed.ms);
    EXPECT_EQ(killed.code, 0u) << WideToUtf8(killed.out + killed.err);
    EXPECT_TRUE(Contains(killed.out, L"Still running after 1 second: " + Process(L"owner.exe", asking.pid())));
    EXPECT_TRUE(Contains(killed.out, L"Ended: " + Process(L"owner.exe", asking.pid()) + L"\r\n"));
    EXPECT_EQ(ExitCodeOf(asking.process()), 1u);
    EXPECT_TRUE(Running(console.process()));
}

TEST_F(CliClose, KillWaitsForTheEndBeforeTheDeleteAndTakesNoNextBootStep)
{
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", folder + L"\\a.txt"});
    const CliResult killed = RunCliProgram({L"kill", folder, L"--delete"});
    std::printf("[ measure  ] kill --delete of one holder took %llu ms\n", killed.ms);
    EXPECT_EQ(killed.code, 0u) << WideToUtf8(killed.out + killed.err);
    EXPECT_EQ(killed.out, L"Ended: " + Process(L"holder.exe", holder.pid()) + L"\r\nNo lock remains on \"" + folder +
                              L"\".\r\nPath was successfully deleted\r\n");
    EXPECT_EQ(killed.err, L"") << "no next-boot step";
    EXPECT_FALSE(Exists(folder));
}

TEST_F(CliClose, UnlockOfAHandleItsProgramOpensAgainAtOnceSaysSo)
{
    const std::wstring file = folder + L"\\reopened.txt";
    FixtureProcess reopening(BinPath(L"owner.exe"), {L"reopen", file});
    // Not held still during the close, as a process the system cannot do without is not: it
    // opens the file again while the close is checked.
    ReportCriticalProcess(reopening.pid());
    CPlatformLoader loader;
    loader.getProc = CriticalAndSlowToCompare;
    const std::wstring told =
        L"Not closed, or closed and the program opened the file again at once (the system does "
        L"not tell which): " +
        Process(L"owner.exe", reopening.pid()) + L", handle ";
    // A close checked before the opening is a close; the next run meets the file again.
    CapturedConsole console;
    int exitCode = -1;
    for (int run = 0; run < 20 && !Contains(console.out, told); ++run) {
        console = {};
        exitCode = cli::RunCli({L"unlock", file, L"--wait", L"0.5"}, console, loader);
    }
    // Wine hides the handle table's objects, which would tell this from a refused close.
    EXPECT_TRUE(Contains(console.out, told)) << WideToUtf8(console.out);
    EXPECT_EQ(exitCode, cli::kExitLocksRemain);
    EXPECT_TRUE(Contains(console.out, L"1 lock remains"));
    ReportCriticalProcess(0);
}
