// Scan benchmark: fixture processes hold many files under one folder and more elsewhere;
// the engine scans the folder and the whole system several times, beside a floor that
// names every file handle directly on one thread, with no worker hand-off.
//   scan_bench [HELD_IN_TARGET [HELD_ELSEWHERE [RUNS]]]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "HandleTable.h"
#include "ModuleScan.h"
#include "ScanDriver.h"
#include "TestSupport.h"

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

// The least a scan must do: one snapshot, then each file handle duplicated and named
// on this thread.
std::size_t FloorScan(const CSystemServices& services, const CScanTarget& target)
{
    std::size_t found = 0;
    CMap<DWORD, UniqueHandle> processes;
    wchar_t name[32768];
    for (const CHandleEntry& entry : CHandleTableSnapshot::Take(services.NtQuerySystemInformation)) {
        if (entry.objectType != services.fileTypeNumber || IsSkippedAccessMask(entry.grantedAccess))
            continue;
        auto& process = processes[DWORD(entry.pid)];
        if (!process)
            process.reset(::OpenProcess(PROCESS_DUP_HANDLE, FALSE, DWORD(entry.pid)));
        UniqueHandle copy;
        if (!process || !::DuplicateHandle(process.get(), reinterpret_cast<HANDLE>(entry.handleValue),
                                           ::GetCurrentProcess(), copy.put(), 0, FALSE, DUPLICATE_SAME_ACCESS))
            continue;
        const DWORD n = services.GetFinalPathNameByHandleW(copy.get(), name, 32768, 8);
        if (n > 0 && n < 32768 && MatchesTarget(target, std::wstring(name, n)))
            ++found;
    }
    return found;
}

struct Figures {
    std::vector<double> times;
    std::size_t locks = 0;
    ULONG handlesExamined = 0;
    ULONG timeouts = 0;
};

Figures TimeEngine(const CSystemServices& services, const CScanTarget& target, const CDeviceMap& devices, int runs)
{
    Figures figures;
    for (int i = 0; i < runs; ++i) {
        CLockScanResult scan;
        figures.times.push_back(Seconds([&] { scan = RunLockScans(services, target, devices); }));
        figures.locks = scan.locks.size();
        figures.handlesExamined = scan.stats.handles.fileHandles;
        figures.timeouts += scan.stats.handles.timeouts;
    }
    return figures;
}

void Report(const char* label, const Figures& engine, double floor)
{
    const double median = Median(engine.times);
    std::printf("%-10s median %.3f s  %8.0f file handles/s  %6zu locks  %lu time-outs  floor %.3f s  ratio %.2f\n",
                label, median, engine.handlesExamined / median, engine.locks, engine.timeouts, floor,
                median / floor);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int held = argc > 1 ? _wtoi(argv[1]) : 20000;
    const int elsewhere = argc > 2 ? _wtoi(argv[2]) : 2000;
    const int runs = argc > 3 ? _wtoi(argv[3]) : 5;

    CSystemServices services;
    if (!BindSystemServices(services).empty())
        return 3;
    TempDir dir(L"tarnwick-bench");
    const std::wstring target = dir.Sub(L"target"), other = dir.Sub(L"elsewhere");
    std::vector<std::unique_ptr<FixtureProcess>> holders;
    for (int i = 0; i < kTargetHolders; ++i) {
        const std::wstring folder = target + L"\\p" + std::to_wstring(i);
        CreateFolders(folder);
        holders.push_back(std::make_unique<FixtureProcess>(
            BinPath(L"holder.exe"), std::vector<std::wstring>{L"many", folder, std::to_wstring(held / kTargetHolders)}));
    }
    CreateFolders(other);
    holders.push_back(std::make_unique<FixtureProcess>(
        BinPath(L"holder.exe"), std::vector<std::wstring>{L"many", other, std::to_wstring(elsewhere)}));
    std::printf("%d files held under the target by %d processes, %d elsewhere; %d runs each\n", held,
                kTargetHolders, elsewhere, runs);

    const CDeviceMap devices = BuildCurrentDeviceMap();
    const CScanTarget folder = BuildScanTarget(target, services.objectNameMode, false);
    const CScanTarget all = BuildScanTarget(L"", services.objectNameMode, true);

    for (const auto& [label, scanTarget] : {std::pair{"folder", &folder}, std::pair{"show-all", &all}}) {
        const Figures engine = TimeEngine(services, *scanTarget, devices, runs);
        std::vector<double> floors;
        for (int i = 0; i < runs; ++i)
            floors.push_back(Seconds([&] { FloorScan(services, *scanTarget); }));
        Report(label, engine, Median(floors));
    }

    for (const auto& [label, scanTarget] : {std::pair{"folder", &folder}, std::pair{"show-all", &all}}) {
        std::vector<double> times;
        std::size_t locks = 0;
        CModuleScanStats stats;
        for (int i = 0; i < runs; ++i) {
            CLockList list;
            CModuleScanParams params;
            params.target = *scanTarget;
            params.NtQueryVirtualMemory = services.NtQueryVirtualMemory;
            params.deviceMap = &devices;
            params.locks = &list;
            times.push_back(Seconds([&] { ScanModules(params); }));
            locks = list.Count();
            stats = params.stats;
        }
        std::printf("modules and mappings %-8s median %.3f s  %lu processes opened  %lu modules  %lu views  %zu locks\n",
                    label, Median(times), stats.processesOpened, stats.modules, stats.views, locks);
    }
    return 0;
}
