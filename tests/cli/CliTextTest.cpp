// The command-line program's pure parts: its command line, its output, and a run whose
// platform binding fails.
#include <gtest/gtest.h>

#include <shlwapi.h>

#include "CliOptions.h"
#include "CliRun.h"
#include "EngineSeams.h"
#include "JsonReader.h"
#include "Output.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::cli;
using namespace tarnwick::test;

TEST(CliOptions, OptionsMayComeInEitherFormAndOnEitherSideOfThePath)
{
    const CParsedCommandLine a =
        ParseCliOptions({L"--wait=0.25", L"kill", L"--pid", L"42", L"C:\\Data", L"--rename-to=new name.txt"});
    ASSERT_EQ(a.error, L"");
    EXPECT_EQ(a.options.command, Command::Kill);
    EXPECT_EQ(a.options.path, L"C:\\Data");
    EXPECT_EQ(a.options.pid, 42u);
    EXPECT_EQ(a.options.waitMs, 250u);
    EXPECT_EQ(a.options.afterAction, AfterAction::RenameTo);
    EXPECT_EQ(a.options.newName, L"new name.txt");

    const CParsedCommandLine b = ParseCliOptions({L"unlock", L"--delete", L"--at-boot", L"--", L"--odd name"});
    ASSERT_EQ(b.error, L"");
    EXPECT_EQ(b.options.path, L"--odd name") << "after -- everything is the path";
    EXPECT_EQ(b.options.afterAction, AfterAction::Delete);
    EXPECT_TRUE(b.options.atBoot);
    EXPECT_FALSE(b.options.waitMs);

    const CParsedCommandLine c = ParseCliOptions({L"list", L"--all", L"--json"});
    ASSERT_EQ(c.error, L"");
    EXPECT_TRUE(c.options.all && c.options.json);

    EXPECT_EQ(ParseCliOptions({L"kill", L"--bogus", L"--help"}).options.command, Command::Help) << "help wins";

    const CParsedCommandLine d =
        ParseCliOptions({L"close", L"C:\\Data", L"--timeout=2.5", L"--then-kill", L"--force", L"--delete"});
    ASSERT_EQ(d.error, L"");
    EXPECT_EQ(d.options.command, Command::Close);
    EXPECT_EQ(d.options.timeoutMs, 2500u);
    EXPECT_TRUE(d.options.thenKill && d.options.force);
    EXPECT_EQ(d.options.afterAction, AfterAction::Delete);
}

TEST(CliOptions, CombinationsThatMakeNoSenseAreRefused)
{
    const struct {
        std::vector<std::wstring> args;
        std::wstring message;
    } cases[] = {
        {{L"unlock", L"C:\\a", L"--delete", L"--move-to", L"C:\\b"},
         L"Choose one of --delete, --rename-to and --move-to."},
        {{L"unlock", L"C:\\a", L"--at-boot"}, L"--at-boot works with --delete only."},
        {{L"list", L"C:\\a", L"--wait", L"3"}, L"--wait works with unlock, kill and close only."},
        {{L"unlock", L"C:\\a", L"--force"}, L"--force works with kill and close only."},
        {{L"kill", L"C:\\a", L"--then-kill"}, L"--then-kill works with close only."},
        {{L"unlock", L"C:\\a", L"--timeout", L"3"}, L"--timeout works with close only."},
        {{L"close", L"C:\\a", L"--timeout", L"1", L"--timeout=2"}, L"--timeout is given twice."},
        {{L"close", L"C:\\a", L"--timeout", L"soon"},
         L"--timeout needs a number of seconds from 0 to 86400, not \"soon\"."},
        {{L"kill", L"C:\\a", L"--json"}, L"--json works with list only."},
        {{L"list", L"--all", L"C:\\a"}, L"list --all shows every lock in the system and takes no PATH."},
        {{L"list"}, L"list needs a PATH (or --all)."},
        {{L"kill", L"C:\\a", L"C:\\b"}, L"Unexpected argument \"C:\\b\": give one PATH only."},
        {{L"kill", L"C:\\a", L"--pid", L"1", L"--pid", L"2"}, L"--pid is given twice."},
        {{L"kill", L"C:\\a", L"--pid", L"4294967296"},
         L"--pid needs a process id (a whole number), not \"4294967296\"."},
        {{L"kill", L"C:\\a", L"--wait", L"1e3"}, L"--wait needs a number of seconds from 0 to 86400, not \"1e3\"."},
        {{L"kill", L"C:\\a", L"--wait", L"2."}, L"--wait needs a number of seconds from 0 to 86400, not \"2.\"."},
        {{L"kill", L"C:\\a", L"--rename-to="}, L"--rename-to needs the new name."},
        {{L"kill", L"C:\\a", L"--delete=yes"}, L"--delete takes no value."},
        {{L"kill", L"C:\\a", L"--move-to"}, L"--move-to needs a value."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseCliOptions(c.args).error, c.message) << WideToUtf8(c.args.back());
}

namespace {

CLockItem Row(const std::wstring& process, DWORD pid, uint64_t value, const std::wstring& path,
              LockKind kind = LockKind::Handle)
{
    CLockItem row;
    row.kind = kind;
    row.processName = process;
    row.pid = pid;
    row.value = value;
    row.lockPath = path;
    row.owner = L"me";
    row.imagePath = L"C:\\Programs\\" + process;
    return row;
}

}  // namespace

TEST(CliOutput, JsonKeepsEveryCharacterOfAwkwardNamesAndTellsTheKindsApart)
{
    const std::wstring awkward = L"C:\\a \"quoted\"\\tab\there\nline\x01\x1f end Grüße 日本 \xD83D\xDE00";
    CLockItem handle = Row(L"x\\y\".exe", 7, 0x109f8, awkward);
    handle.services = {{L"Svc\"One", L"Service one"}, {L"Two", L"Two"}};
    handle.hasWindows = true;
    const CLockItem module = Row(L"m.exe", 8, 0x7ff6a1b20000ull, L"C:\\m.dll", LockKind::Module);
    const CLockItem mapping = Row(L"m.exe", 8, 0x10000, L"C:\\m.dat", LockKind::Mapping);
    JsonValue json;
    std::string error;
    ASSERT_TRUE(ParseJson(WideToUtf8(LockJson({&handle, &module, &mapping})), json, error)) << error;
    ASSERT_EQ(json.items.size(), 3u);
    const JsonValue& first = json.items[0];
    EXPECT_EQ(first.At(L"path").text, awkward);
    EXPECT_EQ(first.At(L"process").text, L"x\\y\".exe");
    EXPECT_EQ(first.At(L"kind").text, L"handle");
    EXPECT_EQ(first.At(L"handle").number, 0x109f8) << "a handle value above 0xFFFF is still a handle";
    EXPECT_EQ(first.At(L"loadAddress").kind, JsonValue::Kind::Null);
    EXPECT_EQ(first.At(L"viewAddress").kind, JsonValue::Kind::Null);
    ASSERT_EQ(first.At(L"services").items.size(), 2u);
    EXPECT_EQ(first.At(L"services").items[0].text, L"Svc\"One") << "the names, not the display names";
    EXPECT_EQ(first.At(L"services").items[1].text, L"Two");
    EXPECT_TRUE(first.At(L"hasWindows").boolean);
    const JsonValue& second = json.items[1];
    EXPECT_EQ(second.At(L"services").kind, JsonValue::Kind::Array);
    EXPECT_TRUE(second.At(L"services").items.empty());
    EXPECT_EQ(second.At(L"hasWindows").kind, JsonValue::Kind::Bool);
    EXPECT_FALSE(second.At(L"hasWindows").boolean);
    EXPECT_EQ(second.At(L"kind").text, L"module");
    EXPECT_EQ(second.At(L"handle").kind, JsonValue::Kind::Null);
    EXPECT_EQ(second.At(L"loadAddress").number, double(0x7ff6a1b20000ull));
    EXPECT_EQ(second.At(L"imagePath").text, L"C:\\Programs\\m.exe");
    const JsonValue& third = json.items[2];
    EXPECT_EQ(third.At(L"kind").text, L"mapping");
    EXPECT_EQ(third.At(L"loadAddress").kind, JsonValue::Kind::Null);
    EXPECT_EQ(third.At(L"viewAddress").number, double(0x10000));

    ASSERT_TRUE(ParseJson(WideToUtf8(LockJson({})), json, error)) << error;
    EXPECT_EQ(json.kind, JsonValue::Kind::Array);
    EXPECT_TRUE(json.items.empty());
}

TEST(CliOutput, TableColumnsLineUpWhateverTheWidths)
{
    const CLockItem a = Row(L"a-rather-long-name.exe", 123456, 4, L"C:\\one");
    CLockItem b = Row(L"b.exe", 9, 0x10000, L"C:\\two", LockKind::Module);
    b.services = {{L"Spooler", L"Print Spooler"}, {L"Audiosrv", L"Audio"}};
    b.hasWindows = true;
    const CLockItem c = Row(L"c.exe", 10, 0x20000, L"C:\\three", LockKind::Mapping);
    const std::wstring table = LockTable({&a, &b, &c});
    std::vector<std::wstring> lines;
    for (std::size_t from = 0, end; (end = table.find(L"\r\n", from)) != std::wstring::npos; from = end + 2)
        lines.push_back(table.substr(from, end - from));
    ASSERT_EQ(lines.size(), 4u);
    const std::size_t pathAt = lines[0].find(L"Path");
    EXPECT_EQ(lines[1].substr(pathAt), L"C:\\one");
    EXPECT_EQ(lines[2].substr(pathAt), L"C:\\two");
    EXPECT_EQ(lines[3].substr(pathAt), L"C:\\three");
    EXPECT_EQ(lines[2].substr(lines[0].find(L"Kind"), 6), L"module");
    EXPECT_EQ(lines[3].substr(lines[0].find(L"Kind"), 8), L"mapping ");
    EXPECT_EQ(lines[1].substr(lines[0].find(L"PID"), 6), L"123456");
    EXPECT_EQ(lines[2].substr(lines[0].find(L"Services"), lines[0].find(L"Path") - lines[0].find(L"Services")),
              L"Spooler, Audiosrv  ");
    EXPECT_EQ(lines[2].substr(lines[0].find(L"Windows"), 4), L"yes ");
    EXPECT_EQ(lines[1].substr(lines[0].find(L"Windows"), 3), L"no ");
}

namespace {

struct CapturedConsole : cli::IConsole {
    void Out(const std::wstring& text) override { out += text; }
    void Err(const std::wstring& text) override { err += text; }
    std::wstring out, err;
};

HMODULE WINAPI NoNtdll(LPCWSTR name) { return _wcsicmp(name, L"ntdll.dll") == 0 ? nullptr : ::GetModuleHandleW(name); }

}  // namespace

TEST(CliRun, PlatformThatCannotBeBoundEndsWithItsMessageAndStatusThree)
{
    TempDir dir(L"tarnwick-cli-bind");
    CPlatformLoader loader;
    loader.getModule = NoNtdll;
    CapturedConsole console;
    EXPECT_EQ(RunCli({L"unlock", dir.path(), L"--delete"}, console, loader), kExitPlatform);
    EXPECT_EQ(console.err, L"Fatal error - unable to load functions from ntdll.dll\r\n");
    EXPECT_EQ(console.out, L"");
    EXPECT_TRUE(Exists(dir.path())) << "nothing is done to the path";
}

TEST(CliRun, ScanThatCannotRunOrStopsAtAnExceptionIsAFailureWithItsReasonNeverNoLocks)
{
    TempDir dir(L"tarnwick-cli-scan");
    const std::pair<CPlatformLoader, std::wstring> failing[] = {
        {LoaderWithUnreadableHandleTable(), L"the system handle table could not be read (status 0xC0000022)"},
        {LoaderWithHandleTableBeyondMemory(), L"there was not enough memory for it"},
    };
    for (const auto& [loader, reason] : failing) {
        for (const std::vector<std::wstring>& args : {std::vector<std::wstring>{L"list", dir.path()},
                                                      std::vector<std::wstring>{L"unlock", dir.path(), L"--delete"}}) {
            CapturedConsole console;
            EXPECT_EQ(RunCli(args, console, loader), kExitPlatform);
            EXPECT_EQ(console.err, L"The scan failed: " + reason + L".\r\n");
            EXPECT_EQ(console.out, L"");
        }
    }
    EXPECT_TRUE(Exists(dir.path())) << "nothing is done to the path";
}

TEST(CliRun, KillRefusesACriticalProcessWithoutForceAndEndsItWithForce)
{
    TempDir dir(L"tarnwick-cli-critical");
    const std::wstring held = dir.Sub(L"a.txt");
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", held});
    ReportCriticalProcess(holder.pid());
    CPlatformLoader loader;
    loader.getProc = ProcReplacing<kNtQueryInformationProcess, QueryProcessReportingCritical>;

    CapturedConsole refused;
    EXPECT_EQ(RunCli({L"kill", held}, refused, loader), kExitUsage);
    EXPECT_EQ(refused.err, L"\"holder.exe\" (PID " + std::to_wstring(holder.pid()) +
                               L") is a critical part of Windows: ending it stops Windows at once. --force ends it "
                               L"anyway.\r\n");
    EXPECT_EQ(refused.out, L"");
    EXPECT_EQ(::WaitForSingleObject(holder.process(), 300), static_cast<DWORD>(WAIT_TIMEOUT));

    CapturedConsole forced;
    EXPECT_EQ(RunCli({L"kill", held, L"--force", L"--wait", L"30"}, forced, loader), kExitClear)
        << WideToUtf8(forced.out + forced.err);
    EXPECT_EQ(::WaitForSingleObject(holder.process(), 5000), WAIT_OBJECT_0);
}

TEST(CliRun, FileHeldThroughItsOtherNameIsListedAndUnlocked)
{
    TempDir dir(L"tarnwick-cli-links");
    const std::wstring held = dir.Sub(L"a.txt"), other = dir.Sub(L"b.txt");
    WriteFile(held);
    ASSERT_TRUE(::CreateHardLinkW(other.c_str(), held.c_str(), nullptr));
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", held});
    // Windows lists a file's names; Wine cannot, and its answer is given here.
    ReportLinkNames({held, other});
    CPlatformLoader loader;
    loader.getProc = ProcReplacing<kNtQueryInformationFile, QueryFileReportingLinks>;

    CapturedConsole listed;
    EXPECT_EQ(RunCli({L"list", other}, listed, loader), kExitLocksRemain);
    EXPECT_NE(listed.out.find(held), std::wstring::npos) << WideToUtf8(listed.out);
    CapturedConsole unlocked;
    EXPECT_EQ(RunCli({L"unlock", other}, unlocked, loader), kExitClear) << WideToUtf8(unlocked.out + unlocked.err);
    EXPECT_FALSE(holder.StillHolds(holder.HandleOf(held)));
    ReportLinkNames({});
}
