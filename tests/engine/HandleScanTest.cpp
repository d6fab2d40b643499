#include <gtest/gtest.h>

#include <winternl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>

#include "EngineSeams.h"
#include "HandleScan.h"
#include "HandleTable.h"
#include "LockRemoval.h"
#include "ProcessInfo.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

CSystemServices BoundServices()
{
    CSystemServices services;
    EXPECT_EQ(BindSystemServices(services), L"");
    return services;
}

struct ScanResult {
    std::vector<CFileLock> locks;
    CHandleScanStats stats;
    double seconds = 0;
};

// Runs the handle scan on its own thread and waits for it.
ScanResult RunHandleScan(const std::wstring& path, bool showAll, const CSystemServices& services)
{
    CLockList locks;
    // The target is made without the name queries some tests block: only the scan meets them.
    CSystemServices unblocked;
    unblocked.objectNameMode = services.objectNameMode;
    const CTarget target = MakeTarget(path, showAll, unblocked);
    CHandleScanParams params;
    params.target = &target;
    params.services = services;
    params.locks = &locks;

    const auto start = std::chrono::steady_clock::now();
    UniqueHandle thread(::CreateThread(nullptr, 0, HandleScanThread, &params, 0, nullptr));
    EXPECT_TRUE(thread);
    EXPECT_EQ(::WaitForSingleObject(thread.get(), 120000), WAIT_OBJECT_0);
    ScanResult result;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (CFileLock& lock : locks.TakeAll())
        result.locks.push_back(std::move(lock));
    result.stats = params.stats;
    return result;
}

std::set<std::wstring> PathsOf(const std::vector<CFileLock>& locks)
{
    std::set<std::wstring> paths;
    for (const auto& lock : locks)
        paths.insert(lock.path);
    return paths;
}

// The paths beneath folder, leaving out what else a process holds (its working folder).
std::set<std::wstring> HeldBeneath(const std::wstring& folder, const std::vector<CFileLock>& locks)
{
    std::set<std::wstring> paths;
    for (const auto& lock : locks) {
        if (lock.path.rfind(folder + L"\\", 0) == 0)
            paths.insert(lock.path);
    }
    return paths;
}

// Names queried through the seam, to see which handles reached a worker.
std::mutex g_queriedMutex;
std::vector<std::wstring> g_queried;
GetFinalPathNameByHandleWFn g_realFinalPath = nullptr;

std::wstring RealFinalPath(HANDLE file)
{
    wchar_t name[1024] = {};
    const DWORD n = g_realFinalPath(file, name, 1024, 8);
    return n > 0 && n < 1024 ? std::wstring(name, n) : std::wstring();
}

DWORD WINAPI RecordingFinalPath(HANDLE file, LPWSTR buffer, DWORD length, DWORD flags)
{
    {
        std::lock_guard<std::mutex> guard(g_queriedMutex);
        g_queried.push_back(RealFinalPath(file));
    }
    return g_realFinalPath(file, buffer, length, flags);
}

// A name query that never returns for one file, as some pipe handles do on Windows.
DWORD WINAPI BlockingFinalPath(HANDLE file, LPWSTR buffer, DWORD length, DWORD flags)
{
    if (RealFinalPath(file).find(L"block-me") != std::wstring::npos)
        ::Sleep(INFINITE);
    return g_realFinalPath(file, buffer, length, flags);
}

// Wide enough that a loaded machine never keeps a query that does not block past them, nor
// the scan from seeing one that does, so the counts the tests expect are the scan's own.
constexpr CNameQueryLimits kLoadedMachineLimits{200, 500};

class HandleScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        services = BoundServices();
        services.nameQueryLimits = kLoadedMachineLimits;
        g_realFinalPath = services.GetFinalPathNameByHandleW;
        target = dir.Sub(L"target");
        CreateFolders(target + L"\\sub\\deeper");
        CreateFolders(target + L"2");
    }

    CSystemServices services;
    TempDir dir{L"tarnwick-scan"};
    std::wstring target;
};

}  // namespace

TEST_F(HandleScan, FolderTargetReportsExactlyTheFilesHeldBeneathIt)
{
    const std::vector<std::wstring> inside = {target + L"\\a.txt", target + L"\\sub\\b.txt",
                                              target + L"\\sub\\deeper\\c.txt"};
    const std::wstring sibling = target + L"2\\x.txt";
    FixtureProcess holder(BinPath(L"holder.exe"),
                          {L"open", inside[0], L"open", inside[1], L"open", inside[2], L"open", sibling});

    const ScanResult result = RunHandleScan(target, false, services);
    ASSERT_EQ(result.locks.size(), 3u) << "only the fixture holds files there";
    EXPECT_EQ(PathsOf(result.locks), std::set<std::wstring>(inside.begin(), inside.end()));
    for (const CFileLock& lock : result.locks) {
        SCOPED_TRACE(WideToUtf8(lock.path));
        EXPECT_EQ(lock.pid, holder.pid());
        EXPECT_LT(lock.value, 65536u);
        EXPECT_EQ(lock.value, holder.HandleOf(lock.path)) << "not the fixture's own handle";
    }
    EXPECT_EQ(result.stats.timeouts, 0u);
}

TEST_F(HandleScan, FileTargetReportsOnlyThatFile)
{
    const std::wstring a = target + L"\\a.txt", b = target + L"\\sub\\b.txt";
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", a, L"open", b});

    const ScanResult result = RunHandleScan(b, false, services);
    ASSERT_EQ(result.locks.size(), 1u);
    EXPECT_EQ(result.locks[0].path, b);
    EXPECT_EQ(result.locks[0].value, holder.HandleOf(b));
}

TEST_F(HandleScan, ShowAllReportsTheHeldFilesAmongOthers)
{
    const std::wstring a = target + L"\\a.txt", sibling = target + L"2\\x.txt";
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", a, L"open", sibling});

    const ScanResult result = RunHandleScan(L"", true, services);
    EXPECT_EQ(HeldBeneath(dir.path(), LocksOf(result.locks, holder.pid())), (std::set<std::wstring>{a, sibling}));
    EXPECT_GT(result.locks.size(), 2u) << "other processes hold files too";
}

TEST_F(HandleScan, FileOpenedByItsShortNameIsFound)
{
    const std::wstring folder = target + L"\\Long Folder Name";
    const std::wstring file = folder + L"\\some long file name.txt";
    CreateFolders(folder);
    WriteFile(file);
    const std::wstring shortName = ShortForm(file, true);
    ASSERT_FALSE(shortName.empty());
    ASSERT_NE(shortName, file);
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", shortName});

    for (const std::wstring& scanned : {target, file}) {
        const ScanResult result = RunHandleScan(scanned, false, services);
        ASSERT_EQ(result.locks.size(), 1u) << WideToUtf8(scanned);
        EXPECT_EQ(result.locks[0].pid, holder.pid());
        EXPECT_EQ(_wcsicmp(result.locks[0].path.c_str(), file.c_str()), 0)
            << "reported as " << WideToUtf8(result.locks[0].path);
    }
}

TEST_F(HandleScan, QueryThatDoesNotAnswerIsSkippedAndAFreshWorkerGoesOn)
{
    const std::wstring before = target + L"\\before.txt", blocked = target + L"\\block-me.txt";
    const std::wstring after1 = target + L"\\after1.txt", after2 = target + L"\\sub\\after2.txt";
    FixtureProcess holder(BinPath(L"holder.exe"),
                          {L"open", before, L"open", blocked, L"open", after1, L"open", after2});

    CSystemServices seam = services;
    seam.GetFinalPathNameByHandleW = BlockingFinalPath;
    const ScanResult result = RunHandleScan(target, false, seam);
    EXPECT_EQ(PathsOf(result.locks), (std::set<std::wstring>{before, after1, after2}));
    EXPECT_EQ(result.stats.timeouts, 1u) << "killed once its retry ran out too";
    EXPECT_EQ(result.stats.retried, 1u);
    EXPECT_EQ(result.stats.givenUp, 1u);
    EXPECT_EQ(result.stats.workersStarted, 2u);
}

TEST_F(HandleScan, HandlesWithTheSkippedAccessMasksAreNeverQueried)
{
    const std::wstring plain = target + L"\\plain.txt";
    const std::vector<std::pair<ULONG, std::wstring>> skipped = {{0x120189, target + L"\\read-attributes.txt"},
                                                                 {0x100000, target + L"\\synchronize.txt"},
                                                                 {0x1A019F, target + L"\\owner.txt"}};
    std::vector<std::wstring> args = {L"open", plain};
    for (const auto& [mask, path] : skipped) {
        wchar_t hex[16];
        swprintf(hex, 16, L"%lx", mask);
        args.insert(args.end(), {L"access", hex, path});
    }
    FixtureProcess holder(BinPath(L"holder.exe"), args);

    // The table must really show those masks, or this test would prove nothing.
    std::set<ULONG> seenMasks;
    for (const CHandleEntry& entry : CHandleTableSnapshot::Take(services.NtQuerySystemInformation)) {
        if (entry.pid == holder.pid() && entry.objectType == services.fileTypeNumber)
            seenMasks.insert(entry.grantedAccess);
    }
    for (const auto& [mask, path] : skipped)
        EXPECT_EQ(seenMasks.count(mask), 1u) << std::hex << "mask 0x" << mask << " not in the table";

    g_queried.clear();
    CSystemServices seam = services;
    seam.GetFinalPathNameByHandleW = RecordingFinalPath;
    const ScanResult result = RunHandleScan(target, false, seam);
    EXPECT_EQ(PathsOf(result.locks), std::set<std::wstring>{plain});
    for (const auto& name : g_queried) {
        for (const auto& [mask, path] : skipped)
            EXPECT_EQ(name.find(path), std::wstring::npos) << "queried " << WideToUtf8(name);
    }
}

namespace {

NtQueryObjectFn g_realQueryObject = nullptr;
CDeviceMap g_testDevices;

// Windows names file objects in device form; Wine answers \??\C:\..., so turn that into
// the device form Windows would give, from the prefix's own drive devices.
LONG NTAPI DeviceFormQueryObject(HANDLE handle, ULONG infoClass, PVOID buffer, ULONG length, PULONG returned)
{
    const LONG status = g_realQueryObject(handle, infoClass, buffer, length, returned);
    auto* name = static_cast<UNICODE_STRING*>(buffer);
    if (status < 0 || name->Length < 12)
        return status;
    std::wstring text(name->Buffer, name->Length / sizeof(wchar_t));
    if (text.rfind(L"\\??\\", 0) == 0) {
        wchar_t device[MAX_PATH] = {};
        ::QueryDosDeviceW(text.substr(4, 2).c_str(), device, MAX_PATH);
        text = device + text.substr(6);
    }
    if (text.find(L"no-drive") != std::wstring::npos)
        text = L"\\Device\\NamedPipe\\no-drive";
    name->Buffer = reinterpret_cast<PWSTR>(name + 1);
    name->Length = USHORT(text.size() * sizeof(wchar_t));
    std::copy(text.begin(), text.end(), name->Buffer);
    return status;
}

}  // namespace

TEST_F(HandleScan, ObjectNameModeConvertsDeviceNamesToDriveForm)
{
    const std::wstring a = target + L"\\a.txt", b = target + L"\\sub\\b.txt";
    const std::wstring noDrive = target + L"\\no-drive.txt";
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", a, L"open", b, L"open", noDrive});

    CSystemServices seam = services;
    seam.objectNameMode = true;
    g_realQueryObject = reinterpret_cast<NtQueryObjectFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    seam.NtQueryObject = DeviceFormQueryObject;
    seam.GetFinalPathNameByHandleW = nullptr;

    const ScanResult result = RunHandleScan(target, false, seam);
    EXPECT_EQ(PathsOf(result.locks), (std::set<std::wstring>{a, b}));
    const ScanResult all = RunHandleScan(L"", true, seam);
    EXPECT_EQ(HeldBeneath(dir.path(), LocksOf(all.locks, holder.pid())), (std::set<std::wstring>{a, b}))
        << "a name on a device without a drive letter is skipped";
}

TEST_F(HandleScan, ThousandHeldFilesAreAllFound)
{
    FixtureProcess holder(BinPath(L"holder.exe"), {L"many", target, L"1000"});
    ASSERT_EQ(holder.handles().size(), 1000u);

    const ScanResult result = RunHandleScan(target, false, services);
    std::printf(
        "[ measure  ] 1000 held files: %.3f s, %lu table entries, %lu file handles, %lu queried, "
        "%lu timed out\n",
        result.seconds, result.stats.tableEntries, result.stats.fileHandles, result.stats.namesQueried,
        result.stats.timeouts);
    EXPECT_EQ(result.locks.size(), 1000u);
    EXPECT_EQ(result.stats.timeouts, 0u);
}

TEST_F(HandleScan, HandleValuesAboveSixteenBitsAreFoundAndClosedExactly)
{
    const std::wstring high = target + L"\\high.txt", other = target + L"\\other.txt";
    FixtureProcess holder(BinPath(L"holder.exe"), {L"events", L"17000", L"open", high, L"open", other});
    ASSERT_GT(holder.HandleOf(high), 0xFFFFu) << "the fixture's handle is not above 16 bits";

    const ScanResult result = RunHandleScan(target, false, services);
    ASSERT_EQ(PathsOf(result.locks), (std::set<std::wstring>{high, other}));
    for (const CFileLock& lock : result.locks)
        EXPECT_EQ(lock.value, holder.HandleOf(lock.path)) << WideToUtf8(lock.path);

    CLockItem row;
    row.pid = holder.pid();
    row.value = holder.HandleOf(high);
    row.lockPath = high;
    row.processCreated = ProcessCreationTime(holder.process());
    ASSERT_EQ(CHandleCloser(services, ReadCurrentDriveTable()).Close(row), UnlockResult::Closed);
    EXPECT_FALSE(holder.StillHolds(holder.HandleOf(high)));
    EXPECT_TRUE(holder.StillHolds(holder.HandleOf(other))) << "only the chosen handle is closed";
}

namespace {

// A name query that answers only after 350 ms: late for the first try, in time for the retry.
DWORD WINAPI SlowFinalPath(HANDLE file, LPWSTR buffer, DWORD length, DWORD flags)
{
    if (RealFinalPath(file).find(L"slow") != std::wstring::npos)
        ::Sleep(350);
    return g_realFinalPath(file, buffer, length, flags);
}

}  // namespace

TEST_F(HandleScan, SlowQueryIsGivenMoreTimeAndOneThatNeverAnswersIsCountedAsGivenUp)
{
    const std::wstring slow = target + L"\\slow.txt", blocked = target + L"\\block-me.txt";
    const std::wstring plain = target + L"\\plain.txt";
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", slow, L"open", blocked, L"open", plain});

    CSystemServices seam = services;
    seam.GetFinalPathNameByHandleW = SlowFinalPath;
    const ScanResult late = RunHandleScan(target, false, seam);
    EXPECT_EQ(PathsOf(late.locks), (std::set<std::wstring>{slow, blocked, plain})) << "no lock lost for being slow";
    EXPECT_EQ(late.stats.retried, 1u);
    EXPECT_EQ(late.stats.givenUp, 0u);
    EXPECT_EQ(late.stats.timeouts, 0u) << "a query still at work is waited for, not killed";

    const ScanResult quick = RunHandleScan(blocked, false, services);
    seam.GetFinalPathNameByHandleW = BlockingFinalPath;
    const ScanResult given = RunHandleScan(blocked, false, seam);
    EXPECT_EQ(quick.locks.size(), 1u);
    EXPECT_TRUE(given.locks.empty());
    EXPECT_EQ(given.stats.givenUp, 1u);
    EXPECT_GE(given.seconds, (seam.nameQueryLimits.firstTryMs + seam.nameQueryLimits.retryMs) / 1000.0);
    EXPECT_LT(given.seconds - quick.seconds, 1.5) << "a blocking handle costs its two waits, not more";
    std::printf("[ measure  ] a handle that never answers costs %.0f ms\n", (given.seconds - quick.seconds) * 1000);
}

TEST_F(HandleScan, FileHeldUnderAPathLongerThan260CharactersIsFound)
{
    std::wstring deep = target;
    while (deep.size() < 300) {
        deep += L"\\a-long-folder-name";
        ASSERT_TRUE(::CreateDirectoryW(WithLongPathPrefix(deep).c_str(), nullptr));
    }
    const std::wstring file = deep + L"\\held.txt";
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", WithLongPathPrefix(file)});

    const ScanResult result = RunHandleScan(deep, false, services);
    ASSERT_EQ(result.locks.size(), 1u);
    EXPECT_EQ(result.locks[0].path, file);
    EXPECT_EQ(result.locks[0].value, holder.handles()[0].value);
    holder.Finish();
    RemoveTree(WithLongPathPrefix(target));
}

namespace {

// A name query that takes 60 ms for some files: well within the first try's limit.
DWORD WINAPI UnhurriedFinalPath(HANDLE file, LPWSTR buffer, DWORD length, DWORD flags)
{
    if (RealFinalPath(file).find(L"unhurried") != std::wstring::npos)
        ::Sleep(60);
    return g_realFinalPath(file, buffer, length, flags);
}

// Files of this process's own, all named in one batch through a seam.
class NameBatch : public HandleScan {
protected:
    static constexpr std::size_t kFiles = 300;

    // File i is called special where the list names it, plain otherwise.
    void OpenFiles(const std::set<std::size_t>& specialAt, const std::wstring& special)
    {
        for (std::size_t i = 0; i < kFiles; ++i) {
            paths.push_back(target + L"\\" + (specialAt.count(i) ? special : L"plain") + std::to_wstring(i) + L".txt");
            files.emplace_back(::CreateFileW(paths.back().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(files.back()) << WideToUtf8(paths.back());
        }
    }

    // The name each file got, empty for none.
    std::vector<std::wstring> NameAll(GetFinalPathNameByHandleWFn finalPath)
    {
        CSystemServices seam = services;
        seam.GetFinalPathNameByHandleW = finalPath;
        CNameQueryWorker worker(seam, devices, stats);
        CNameBatch batch(kFiles);
        for (const UniqueHandle& file : files)
            batch.Add(file.get());
        EXPECT_TRUE(worker.Start(batch));
        worker.Complete(batch);
        std::vector<std::wstring> names(kFiles);
        for (std::size_t i = 0; i < kFiles; ++i)
            worker.NameAt(batch, i, names[i]);
        return names;
    }

    std::vector<std::wstring> paths;
    std::vector<UniqueHandle> files;
    CDeviceMap devices = ReadCurrentDriveTable().devices;
    CNameQueryStats stats;
};

}  // namespace

TEST_F(NameBatch, QueryStuckInTheMiddleIsGivenUpAndTheHandlesBeforeAndAfterItAreNamed)
{
    OpenFiles({150}, L"block-me");
    const std::vector<std::wstring> names = NameAll(BlockingFinalPath);
    for (std::size_t i = 0; i < kFiles; ++i)
        EXPECT_EQ(names[i], i == 150 ? L"" : WithLongPathPrefix(paths[i])) << "handle " << i;
    EXPECT_EQ(stats.timeouts, 1u) << "killed once its retry ran out too";
    EXPECT_EQ(stats.retried, 1u);
    EXPECT_EQ(stats.givenUp, 1u);
    EXPECT_EQ(stats.workersStarted, 2u) << "the first worker and one for the rest of the batch";
    EXPECT_EQ(stats.namesQueried, kFiles);
}

TEST_F(NameBatch, HandlesThatAnswerWithinTheLimitAreNotKilledThoughTogetherTheyTakeLonger)
{
    // Five take 300 ms against a limit of 200: only a watch on each handle lets them be.
    OpenFiles({50, 100, 150, 200, 250}, L"unhurried");
    const std::vector<std::wstring> names = NameAll(UnhurriedFinalPath);
    for (std::size_t i = 0; i < kFiles; ++i)
        EXPECT_EQ(names[i], WithLongPathPrefix(paths[i])) << "handle " << i;
    EXPECT_EQ(stats.timeouts, 0u);
    EXPECT_EQ(stats.workersStarted, 1u);
    EXPECT_EQ(stats.namesQueried, kFiles);
}

namespace {

// The scan as it was before batches: each file handle handed to the worker alone, in
// table order; the reference the batched scan must agree with.
std::vector<CFileLock> ScanOneHandleAtATime(const std::wstring& path, const CSystemServices& services)
{
    CLockList locks;
    const CTarget target = MakeTarget(path, false, services);
    CHandleScanParams params;
    params.target = &target;
    params.services = services;
    params.locks = &locks;
    CNameQueryWorker worker(services, target.drives.devices, params.stats);
    CMap<DWORD, UniqueHandle> processes;
    std::wstring name;
    for (const CHandleEntry& entry : CHandleTableSnapshot::Take(services.NtQuerySystemInformation)) {
        if (entry.objectType != services.fileTypeNumber || IsSkippedAccessMask(entry.grantedAccess))
            continue;
        UniqueHandle& process = processes[DWORD(entry.pid)];
        if (!process)
            process.reset(::OpenProcess(PROCESS_DUP_HANDLE, FALSE, DWORD(entry.pid)));
        UniqueHandle copy;
        if (process &&
            ::DuplicateHandle(process.get(), reinterpret_cast<HANDLE>(entry.handleValue), ::GetCurrentProcess(),
                              copy.put(), 0, FALSE, DUPLICATE_SAME_ACCESS) &&
            worker.NameOf(copy.get(), name))
            ReportIfMatching(params, entry, name);
    }
    const CList<CFileLock> found = locks.TakeAll();
    return {found.begin(), found.end()};
}

}  // namespace

TEST_F(HandleScan, BatchedScanFindsWhatNamingOneHandleAtATimeFinds)
{
    const std::wstring folder = target + L"\\Folder With A Long Name";
    CreateFolders(folder);
    const std::wstring shortFolder = ShortForm(folder, true);
    ASSERT_NE(shortFolder, folder);
    FixtureProcess holder(BinPath(L"holder.exe"), {L"many", shortFolder, L"2000"});

    const ScanResult batched = RunHandleScan(target, false, services);
    const std::vector<CFileLock> reference = ScanOneHandleAtATime(target, services);
    ASSERT_EQ(batched.locks.size(), 2000u);
    ASSERT_EQ(reference.size(), batched.locks.size());
    for (std::size_t i = 0; i < reference.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(batched.locks[i].pid, reference[i].pid);
        ASSERT_EQ(batched.locks[i].path, reference[i].path);
        ASSERT_EQ(batched.locks[i].value, reference[i].value);
        ASSERT_EQ(batched.locks[i].kind, reference[i].kind);
    }
    EXPECT_EQ(batched.stats.timeouts, 0u);
}
