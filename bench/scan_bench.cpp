// Scan benchmark: fixture processes hold many files under one folder and more elsewhere;
// the engine scans the folder and the whole system, round by round beside a floor that
// names every file handle directly on one thread, with no worker hand-off, and beside the
// handle scan and the module scan each alone; the main window is started on the folder and
// timed until it lists every row. Figures are medians over the rounds and ratios within this run.
//   scan_bench [HELD_IN_TARGET [HELD_ELSEWHERE [ROUNDS]]]
//   scan_bench growth MAX_HELD_IN_TARGET HELD_ELSEWHERE ROUNDS
// At desktop scale: an empty folder scanned with extra processes of ours running (none, N, and
// with growth 25, 50 and 100 as well), with the pool and with one thread; and the unlock of
// 2,001 handles of one process against their scan.
//   scan_bench processes N ROUNDS [growth]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <commctrl.h>
#include <psapi.h>

#include <set>

#include "HandleTable.h"
#include "LockRemoval.h"
#include "LockSearch.h"
#include "ModuleScan.h"
#include "ProcessPool.h"
#include "ScanDriver.h"
#include "TestSupport.h"
#include "resource.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

constexpr int kTargetHolders = 4;

double Seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct FloorResult {
    std::size_t locks = 0;
    std::size_t fileHandles = 0;
};

// The least a scan must do: one snapshot, then each file handle duplicated and named
// on this thread.
FloorResult FloorScan(const CSystemServices& services, const CTarget& target)
{
    FloorResult result;
    CMap<DWORD, UniqueHandle> processes;
    static wchar_t name[32768];
    for (const CHandleEntry& entry : CHandleTableSnapshot::Take(services.NtQuerySystemInformation)) {
        if (entry.objectType != services.fileTypeNumber)
            continue;
        ++result.fileHandles;
        if (IsSkippedAccessMask(entry.grantedAccess))
            continue;
        auto& process = processes[DWORD(entry.pid)];
        if (!process)
            process.reset(::OpenProcess(PROCESS_DUP_HANDLE, FALSE, DWORD(entry.pid)));
        UniqueHandle copy;
        if (!process || !::DuplicateHandle(process.get(), reinterpret_cast<HANDLE>(entry.handleValue),
                                           ::GetCurrentProcess(), copy.put(), 0, FALSE, DUPLICATE_SAME_ACCESS))
            continue;
        const DWORD n = services.GetFinalPathNameByHandleW(copy.get(), name, 32768, 8);
        if (n > 0 && n < 32768 &&
            MatchesTarget(target.forms, ComparableName(target.drives.aliases, std::wstring(name, n))))
            ++result.locks;
    }
    return result;
}

double TimeModuleScan(const CSystemServices& services, const CTarget& target)
{
    CLockList list;
    CModuleScanParams params;
    params.target = &target;
    params.objectNameMode = services.objectNameMode;
    params.NtQueryVirtualMemory = services.NtQueryVirtualMemory;
    params.NtQueryInformationProcess = services.NtQueryInformationProcess;
    params.locks = &list;
    return Seconds([&] { ScanModules(params); });
}

// The handle scan on this thread, without the module scan beside it.
double TimeHandleScan(const CSystemServices& services, const CTarget& target)
{
    CLockList list;
    CHandleScanParams params;
    params.target = &target;
    params.services = services;
    params.locks = &list;
    return Seconds([&] { ScanHandles(params); });
}

// Tarnwick.exe on the folder, as a person starts it: from the program's start until its list
// holds every row and the commands that act on rows wait no longer; a negative time when it
// never got there.
double TimeWindow(const std::wstring& folder, std::size_t rows)
{
    const auto start = std::chrono::steady_clock::now();
    StartedProcess program(BinPath(L"Tarnwick.exe"), QuoteCommandLineArgument(folder));
    const HWND window = WaitForWindowWithControl(program.pid(), IDC_LOCK_LIST, 60000);
    const bool listed = window && Eventually(
                                      [&] {
                                          return ::SendMessageW(::GetDlgItem(window, IDC_LOCK_LIST), LVM_GETITEMCOUNT,
                                                                0, 0) == LRESULT(rows) &&
                                                 ::IsWindowEnabled(::GetDlgItem(window, IDC_UNLOCK));
                                      },
                                      600000, 20);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (window)
        PressDialogButton(window, IDCANCEL);
    program.ExitCode(10000);
    return listed ? took : -1;
}

struct Rounds {
    std::vector<double> engine, floor, handles, modules, window;
    std::size_t engineLocks = 0, floorLocks = 0;
    ULONG fileHandles = 0;
    ULONG timeouts = 0, givenUp = 0;

    double EngineMicros() const { return Median(engine) / fileHandles * 1e6; }
    double FloorMicros() const { return Median(floor) / fileHandles * 1e6; }
    double Ratio() const { return Median(engine) / Median(floor); }
    double HandleRatio() const { return Median(handles) / Median(floor); }
};

// Engine, floor, handle scan, module scan and, when asked, the window take turns, so that all
// meet the same machine.
Rounds Measure(const CSystemServices& services, const CTarget& target, int rounds, bool withWindow = false)
{
    Rounds r;
    for (int i = 0; i < rounds; ++i) {
        CLockScanResult scan;
        r.engine.push_back(Seconds([&] { scan = RunLockScans(services, target); }));
        r.engineLocks = std::count_if(scan.locks.begin(), scan.locks.end(),
                                      [](const CFileLock& lock) { return lock.kind == LockKind::Handle; });
        r.fileHandles = scan.stats.handles.fileHandles;
        r.timeouts += scan.stats.handles.timeouts;
        r.givenUp += scan.stats.handles.givenUp;
        FloorResult floor;
        r.floor.push_back(Seconds([&] { floor = FloorScan(services, target); }));
        r.floorLocks = floor.locks;
        r.handles.push_back(TimeHandleScan(services, target));
        r.modules.push_back(TimeModuleScan(services, target));
        if (withWindow)
            r.window.push_back(TimeWindow(target.written, scan.locks.size()));
    }
    return r;
}

void PrintHeader()
{
    std::printf("%-9s %8s %8s %6s %8s %10s %10s %7s %7s %9s %8s\n", "scan", "engine", "floor", "ratio", "handles",
                "us/handle", "floor us/h", "file h.", "locks", "time-outs", "modules");
}

void PrintLegend()
{
    std::printf(
        "ratio: the engine against the floor; handles: the handle scan alone against the floor;\n"
        "time-outs: workers killed over all rounds (handles given up); modules: the module and mapping\n"
        "scan alone against the engine; window: Tarnwick.exe from its start until it lists every row of the\n"
        "folder scan, against the engine's folder scan\n");
}

void PrintWindowRow(const Rounds& r)
{
    std::printf("%-9s %7.3fs %8s %6.2f\n", "window", Median(r.window), "", Median(r.window) / Median(r.engine));
}

void PrintRow(const char* label, const Rounds& r)
{
    std::printf("%-9s %7.3fs %7.3fs %6.2f %8.2f %10.1f %10.1f %7lu %7zu %5lu (%lu) %7.0f%%\n", label, Median(r.engine),
                Median(r.floor), r.Ratio(), r.HandleRatio(), r.EngineMicros(), r.FloorMicros(), r.fileHandles,
                r.engineLocks, r.timeouts, r.givenUp, Median(r.modules) / Median(r.engine) * 100);
    if (r.engineLocks != r.floorLocks)
        std::printf("          the floor found %zu handle locks, the engine %zu\n", r.floorLocks, r.engineLocks);
}

// Holder processes, four for the files under the target and one for those elsewhere.
class HeldFiles {
public:
    HeldFiles(const TempDir& dir, int held, int elsewhere) : target_(dir.Sub(L"target" + std::to_wstring(held)))
    {
        for (int i = 0; i < kTargetHolders; ++i)
            Hold(target_ + L"\\p" + std::to_wstring(i), held / kTargetHolders);
        Hold(dir.Sub(L"elsewhere" + std::to_wstring(held)), elsewhere);
    }
    const std::wstring& target() const { return target_; }

private:
    void Hold(const std::wstring& folder, int count)
    {
        CreateFolders(folder);
        holders_.push_back(std::make_unique<FixtureProcess>(
            BinPath(L"holder.exe"), std::vector<std::wstring>{L"many", folder, std::to_wstring(count)}));
    }

    std::wstring target_;
    std::vector<std::unique_ptr<FixtureProcess>> holders_;
};

int Compare(const CSystemServices& services, int held, int elsewhere, int rounds)
{
    // The one-time notice would stand before the window that is timed.
    ScopedNoticeFlag notice;
    notice.Set(NoticeFlagValue::Dword(1));
    TempDir dir(L"tarnwick-bench");
    const HeldFiles files(dir, held, elsewhere);
    std::printf("%d files held under the target by %d processes, %d elsewhere; medians of %d rounds\n", held,
                kTargetHolders, elsewhere, rounds);
    PrintHeader();
    const Rounds folder = Measure(services, MakeTarget(files.target(), false, services), rounds, true);
    PrintRow("folder", folder);
    PrintWindowRow(folder);
    PrintRow("show-all", Measure(services, MakeTarget(L"", true, services), rounds));
    PrintLegend();
    return 0;
}

int Growth(const CSystemServices& services, int maxHeld, int elsewhere, int rounds)
{
    std::printf("folder scans, %d files held elsewhere, medians of %d rounds\n", elsewhere, rounds);
    PrintHeader();
    for (int held = 2000; held <= maxHeld; held *= 2) {
        TempDir dir(L"tarnwick-bench");
        const HeldFiles files(dir, held, elsewhere);
        const std::string label = std::to_string(held);
        PrintRow(label.c_str(), Measure(services, MakeTarget(files.target(), false, services), rounds));
    }
    PrintLegend();
    return 0;
}

constexpr int kUnlockedHandles = 2001;

std::size_t CountProcesses()
{
    std::vector<DWORD> ids(4096);
    DWORD bytes = 0;
    return ::EnumProcesses(ids.data(), DWORD(ids.size() * sizeof(DWORD)), &bytes) ? bytes / sizeof(DWORD) : 0;
}

std::vector<const CLockItem*> RowsOf(const CLockSearch& search)
{
    std::vector<const CLockItem*> rows;
    for (const CLockItem& row : search.rows)
        rows.push_back(&row);
    return rows;
}

struct UnlockRounds {
    std::vector<double> scan, unlock, oneAtATime;
    std::size_t rows = 0, closed = 0, closedOneAtATime = 0;
};

// One process holds one file through 2,001 handles: its scan (as list does it), then the
// unlock of every row, the owner's rows together; beside it the rows closed one call each.
UnlockRounds MeasureUnlock(const CSystemServices& services, const TempDir& dir, int rounds)
{
    const std::wstring file = dir.Sub(L"unlocked.txt");
    const CTarget target = MakeTarget(file, false, services);
    const std::vector<std::wstring> args = {L"repeat", std::to_wstring(kUnlockedHandles), file};
    UnlockRounds r;
    for (int i = 0; i < rounds; ++i) {
        FixtureProcess holder(BinPath(L"holder.exe"), args);
        CLockSearch search;
        r.scan.push_back(Seconds([&] { search = SearchLocks(services, target); }));
        std::vector<UnlockResult> results;
        r.unlock.push_back(
            Seconds([&] { results = CHandleCloser(services, target.drives).CloseOwnerRows(RowsOf(search)); }));
        r.rows = search.rows.size();
        r.closed = std::count(results.begin(), results.end(), UnlockResult::Closed);

        FixtureProcess reference(BinPath(L"holder.exe"), args);
        const CLockSearch again = SearchLocks(services, target);
        r.closedOneAtATime = 0;
        r.oneAtATime.push_back(Seconds([&] {
            CHandleCloser closer(services, target.drives);
            for (const CLockItem& row : again.rows)
                r.closedOneAtATime += closer.Close(row) == UnlockResult::Closed;
        }));
    }
    return r;
}

void PrintUnlock(const UnlockRounds& r)
{
    std::printf("unlock of %d handles of one process on one file, against their scan; medians of %zu rounds\n",
                kUnlockedHandles, r.scan.size());
    std::printf("%8s %8s %11s %11s %11s %8s\n", "scan", "unlock", "unlock/scan", "one a call", "one/scan", "closed");
    std::printf("%7.3fs %7.3fs %11.2f %10.3fs %11.2f %3zu of %zu\n", Median(r.scan), Median(r.unlock),
                Median(r.unlock) / Median(r.scan), Median(r.oneAtATime), Median(r.oneAtATime) / Median(r.scan),
                r.closed, r.rows);
    if (r.closedOneAtATime != r.closed)
        std::printf("          one row a call closed %zu\n", r.closedOneAtATime);
    std::printf(
        "one a call: the same rows closed with one call each (the owner held still and its handle named once\n"
        "per row)\n\n");
}

// Processes of ours that hold nothing under the target: each loads a few libraries and maps a file.
class ExtraProcesses {
public:
    explicit ExtraProcesses(const TempDir& dir) : folder_(dir.Sub(L"elsewhere")) { CreateFolders(folder_); }

    void GrowTo(std::size_t count)
    {
        while (holders_.size() < count) {
            const std::wstring mapped = folder_ + L"\\m" + std::to_wstring(holders_.size()) + L".dat";
            holders_.push_back(std::make_unique<FixtureProcess>(
                BinPath(L"holder.exe"),
                std::vector<std::wstring>{L"load", BinPath(L"lockdll.dll"), L"load", SystemLibrary(L"version.dll"),
                                          L"load", SystemLibrary(L"dbghelp.dll"), L"map", mapped}));
        }
    }

private:
    static std::wstring SystemLibrary(const std::wstring& name)
    {
        wchar_t folder[MAX_PATH] = {};
        ::GetSystemDirectoryW(folder, MAX_PATH);
        return std::wstring(folder) + L"\\" + name;
    }

    std::wstring folder_;
    std::vector<std::unique_ptr<FixtureProcess>> holders_;
};

struct EmptyScanRounds {
    std::vector<double> pool, one;
};

// The pool and one thread take turns, so that both meet the same machine.
EmptyScanRounds MeasureEmptyScans(const CSystemServices& services, const CTarget& target, int rounds)
{
    CScanSeams pool, one;
    one.poolThreads = 1;
    EmptyScanRounds r;
    for (int i = 0; i < rounds; ++i) {
        r.pool.push_back(Seconds([&] { SearchLocks(services, target, pool); }));
        r.one.push_back(Seconds([&] { SearchLocks(services, target, one); }));
    }
    return r;
}

int Processes(const CSystemServices& services, int extra, int rounds, bool growth)
{
    TempDir dir(L"tarnwick-bench");
    PrintUnlock(MeasureUnlock(services, dir, rounds));

    const std::wstring empty = dir.Sub(L"empty");
    CreateFolders(empty);
    const CTarget target = MakeTarget(empty, false, services);
    std::set<int> counts = {0, extra};
    if (growth)
        counts.insert({25, 50, 100});
    std::printf(
        "an empty folder scanned with extra processes of ours (each loads three libraries and maps a file);\n"
        "pool: %u thread%s (four a core this program may run on, at most 8, one on a single core); medians of %d\n"
        "rounds\n",
        DefaultPoolThreads(), DefaultPoolThreads() == 1 ? "" : "s", rounds);
    std::printf("%6s %9s %8s %10s %8s %8s %8s %14s\n", "extra", "processes", "pool", "one thread", "pool/one",
                "vs none", "one/none", "ms/extra pool");
    ExtraProcesses processes(dir);
    double nonePool = 0, noneOne = 0;
    for (int count : counts) {
        processes.GrowTo(count);
        const EmptyScanRounds r = MeasureEmptyScans(services, target, rounds);
        const double pool = Median(r.pool), one = Median(r.one);
        if (count == 0)
            nonePool = pool, noneOne = one;
        std::printf("%6d %9zu %7.3fs %9.3fs %8.2f %8.2f %8.2f %14.1f\n", count, CountProcesses(), pool, one, pool / one,
                    pool / nonePool, one / noneOne, count ? (pool - nonePool) / count * 1000 : 0.0);
    }
    std::printf(
        "vs none: the pool's scan against its scan without extra processes; one/none: the same for one\n"
        "thread; ms/extra pool: what each extra process adds to the pool's scan\n");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    CSystemServices services;
    if (!BindSystemServices(services).empty())
        return 3;
    if (argc > 3 && std::wstring(argv[1]) == L"processes")
        return Processes(services, _wtoi(argv[2]), _wtoi(argv[3]), argc > 4 && std::wstring(argv[4]) == L"growth");
    const bool growth = argc > 1 && std::wstring(argv[1]) == L"growth";
    const int first = growth ? 2 : 1;
    const int held = argc > first ? _wtoi(argv[first]) : 16000;
    const int elsewhere = argc > first + 1 ? _wtoi(argv[first + 1]) : 2000;
    const int rounds = argc > first + 2 ? _wtoi(argv[first + 2]) : 5;
    return growth ? Growth(services, held, elsewhere, rounds) : Compare(services, held, elsewhere, rounds);
}
