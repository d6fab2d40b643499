#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "EngineSeams.h"
#include "LockSearch.h"
#include "ProcessInfo.h"
#include "ProcessPool.h"
#include "ScanDriver.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

bool ProcessCanBeOpened(DWORD pid) { return bool(UniqueHandle(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid))); }

class LockEngine : public ::testing::Test, protected ResidentFolder {
protected:
    LockEngine() : ResidentFolder(L"tarnwick-engine") {}
    void SetUp() override { ASSERT_EQ(BindSystemServices(services), L""); }

    CList<CFileLock> Scan(const std::wstring& path, bool showAll, CScanStats* stats = nullptr,
                          const CScanSeams& seams = {})
    {
        CLockScanResult scan = ScanWithResult(path, showAll, seams);
        if (stats)
            *stats = scan.stats;
        return std::move(scan.locks);
    }

    CLockScanResult ScanWithResult(const std::wstring& path, bool showAll, const CScanSeams& seams = {})
    {
        scanned = MakeTarget(path, showAll, services);
        return RunLockScans(services, scanned, seams);
    }

    CLockSearch Search(const std::wstring& path, const CScanSeams& seams = {})
    {
        scanned = MakeTarget(path, false, services);
        return SearchLocks(services, scanned, seams);
    }

    CSystemServices services;
    CTarget scanned;
    const CDeviceMap deviceMap = ReadCurrentDriveTable().devices;
};

}  // namespace

TEST_F(LockEngine, ProgramInsideTheTargetYieldsHandleAndModuleRowsSharingOneProcessRecord)
{
    const std::wstring a = target + L"\\a.txt", b = target + L"\\b.txt";
    FixtureProcess fixture(program, {L"open", a, L"open", b, L"load", library});

    const std::vector<CFileLock> locks = LocksOf(Scan(target, false), fixture.pid());
    std::map<std::wstring, uint64_t> byPath;
    for (const CFileLock& lock : locks)
        byPath[lock.path] = lock.value;
    ASSERT_EQ(locks.size(), 4u) << "two files, the program and the library";
    EXPECT_EQ(byPath[a], fixture.HandleOf(a));
    EXPECT_EQ(byPath[b], fixture.HandleOf(b));
    EXPECT_EQ(byPath[program], fixture.ModuleOf(program)) << "the program is listed as a module";
    EXPECT_EQ(byPath[library], fixture.ModuleOf(library));
    EXPECT_LT(byPath[a], 65536u);
    EXPECT_GE(byPath[library], 65536u);

    CProcessDirectory processes(deviceMap);
    const CProcessInfo* first = &processes.GetOrCreate(fixture.pid());
    for (const CFileLock& lock : locks) {
        const CProcessInfo& info = processes.GetOrCreate(lock.pid);
        EXPECT_EQ(&info, first) << "one record per process and scan";
        const CLockItem row = MakeLockItem(lock, info);
        EXPECT_EQ(row.processName, L"holder.exe");
        EXPECT_EQ(row.pid, fixture.pid());
        EXPECT_EQ(row.owner, CurrentUser());
        EXPECT_EQ(row.imagePath, program) << "image path in drive form";
        EXPECT_EQ(row.lockPath, lock.path);
        EXPECT_EQ(row.value, lock.value);
    }
}

TEST_F(LockEngine, SameLibraryInTwoProcessesGivesOneLockEachAndOneAccountLookUp)
{
    FixtureProcess one(BinPath(L"holder.exe"), {L"load", library});
    FixtureProcess two(BinPath(L"holder.exe"), {L"load", library});

    const CList<CFileLock> locks = Scan(library, false);
    ASSERT_EQ(locks.size(), 2u);
    EXPECT_EQ(LocksOf(locks, one.pid()).size(), 1u);
    EXPECT_EQ(LocksOf(locks, two.pid()).size(), 1u);

    CProcessDirectory processes(deviceMap);
    EXPECT_EQ(processes.GetOrCreate(one.pid()).owner, CurrentUser());
    EXPECT_EQ(processes.GetOrCreate(two.pid()).owner, CurrentUser());
    EXPECT_EQ(processes.owners().lookups(), 1u) << "the second process of the same user is answered from the cache";
    EXPECT_EQ(processes.size(), 2u);
}

TEST_F(LockEngine, ProcessThatExitedBeforeItsRowsIsUnknown)
{
    const std::wstring a = target + L"\\a.txt";
    DWORD pid = 0;
    CList<CFileLock> locks;
    {
        FixtureProcess fixture(program, {L"open", a});
        pid = fixture.pid();
        locks = Scan(target, false);
        ASSERT_EQ(fixture.Finish(), 0u);
    }
    ASSERT_FALSE(LocksOf(locks, pid).empty());
    // Wine keeps an ended process open to callers for a moment after its last handle closed.
    for (int i = 0; i < 100 && ProcessCanBeOpened(pid); ++i)
        ::Sleep(50);

    CProcessDirectory processes(deviceMap);
    const CProcessInfo& gone = processes.GetOrCreate(pid);
    EXPECT_EQ(gone.name, L"Unknown Process");
    EXPECT_EQ(gone.owner, L"");
    EXPECT_EQ(gone.imagePath, L"");
    EXPECT_EQ(MakeLockItem(LocksOf(locks, pid).front(), gone).processName, L"Unknown Process");

    // Process id 4 that cannot be queried (there is none under Wine) is the system.
    if (!ProcessCanBeOpened(4)) {
        EXPECT_EQ(processes.GetOrCreate(4).name, L"System");
    }
}

TEST_F(LockEngine, ShowAllListsModulesOfEveryProcess)
{
    FixtureProcess fixture(program, {L"load", library});
    CScanStats stats;
    const CList<CFileLock> locks = Scan(L"", true, &stats);
    std::set<DWORD> owners;
    bool libraryFound = false;
    for (const CFileLock& lock : locks) {
        owners.insert(lock.pid);
        libraryFound |= lock.pid == fixture.pid() && lock.path == library;
    }
    EXPECT_TRUE(libraryFound);
    EXPECT_GT(owners.size(), 3u) << "a prefix runs several processes of its own";
    EXPECT_GT(stats.modules.modules, stats.modules.processesOpened);
}

TEST_F(LockEngine, ObjectNameModeFindsModuleLocksToo)
{
    FixtureProcess fixture(program, {L"load", library});
    services.objectNameMode = true;  // handle names would come by object name; modules are compared unprefixed
    CModuleScanParams params;
    CLockList locks;
    CTarget objectNamed = MakeTarget(target, false, services);
    objectNamed.forms = BuildScanTarget(target, true, false);
    params.target = &objectNamed;
    params.objectNameMode = true;
    params.locks = &locks;
    ScanModules(params);
    std::set<std::wstring> paths;
    for (const CFileLock& lock : locks.TakeAll())
        paths.insert(lock.path);
    EXPECT_EQ(paths, (std::set<std::wstring>{program, library}));
}

namespace {

HANDLE RefuseModuleScan(LPTHREAD_START_ROUTINE routine, void* params)
{
    return routine == ModuleScanThread ? nullptr : StartScanThread(routine, params);
}

}  // namespace

TEST_F(LockEngine, ScanThreadThatCannotStartDoesNotLeaveTheDriverWaitingAndIsAFailure)
{
    const std::wstring a = target + L"\\a.txt";
    FixtureProcess fixture(program, {L"open", a, L"load", library});
    CScanSeams seams;
    seams.startThread = RefuseModuleScan;
    const CLockScanResult scan = ScanWithResult(target, false, seams);
    const std::vector<CFileLock> locks = LocksOf(scan.locks, fixture.pid());
    ASSERT_EQ(locks.size(), 1u) << "the handle scan ran; the module scan never started";
    EXPECT_EQ(locks[0].path, a);
    EXPECT_NE(scan.failure.find(L"scan thread could not be started"), std::wstring::npos) << WideToUtf8(scan.failure);
}

namespace {

// The paths a process holds among the rows, with their kinds.
std::set<std::pair<std::wstring, LockKind>> HeldBy(const CLockSearch& search, DWORD pid)
{
    std::set<std::pair<std::wstring, LockKind>> held;
    for (const CLockItem& row : search.rows) {
        if (row.pid == pid)
            held.emplace(row.lockPath, row.kind);
    }
    return held;
}

DWORD g_refusedPid = 0;
DWORD g_refusedAccess = 0;  // 0: every access

// What a service or a protected process answers a tool without the rights it asks for.
HANDLE WINAPI RefusingOpenProcess(DWORD access, BOOL inherit, DWORD pid)
{
    if (pid == g_refusedPid && (g_refusedAccess == 0 || access == g_refusedAccess)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return ::OpenProcess(access, inherit, pid);
}

}  // namespace

TEST_F(LockEngine, EverySpellingOfTheTargetFindsTheLocksBeneathIt)
{
    const std::wstring a = target + L"\\sub\\a.txt";
    CreateFolders(target + L"\\sub");
    FixtureProcess fixture(BinPath(L"holder.exe"), {L"open", a});
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(dir.path().c_str()));
    std::wstring slashes = target;
    for (wchar_t& c : slashes)
        c = c == L'\\' ? L'/' : c;
    for (const std::wstring& written : {target + L"\\", slashes + L"/", std::wstring(L"target\\sub\\.."),
                                        std::wstring(L"target/sub/a.txt"), target.substr(0, 3)}) {
        const CLockSearch search = Search(written);
        EXPECT_EQ(HeldBy(search, fixture.pid()).count({a, LockKind::Handle}), 1u) << WideToUtf8(written);
    }
    ::SetCurrentDirectoryW(previous);
}

TEST_F(LockEngine, LetterThatStandsForAFolderFindsTheLocksInThatFolder)
{
    const std::wstring a = target + L"\\sub\\a.txt";
    CreateFolders(target + L"\\sub");
    FixtureProcess fixture(program, {L"open", a, L"load", library});
    SubstDrive drive(target);
    ASSERT_TRUE(drive.defined());
    const CLockSearch sub = Search(drive.letter() + L"\\sub");
    EXPECT_EQ(HeldBy(sub, fixture.pid()), (std::set<std::pair<std::wstring, LockKind>>{{a, LockKind::Handle}}));
    const CLockSearch root = Search(drive.letter() + L"\\");
    EXPECT_EQ(HeldBy(root, fixture.pid()).size(), 3u) << "the file, the program and the library";
}

TEST_F(LockEngine, FolderNamesDifferingInTheCaseOfAnyLetterAreOne)
{
    const std::wstring folder = target + L"\\caf\u00e9 \u0434\u043e\u043c";
    CreateFolders(folder);
    FixtureProcess fixture(BinPath(L"holder.exe"), {L"open", folder + L"\\x.txt"});
    const CLockSearch search = Search(target + L"\\CAF\u00c9 \u0414\u041e\u041c");
    EXPECT_EQ(HeldBy(search, fixture.pid()).size(), 1u);
}

TEST_F(LockEngine, MappedViewWhoseHandleIsClosedIsOneMappingLock)
{
    const std::wstring mapped = target + L"\\m.dat", held = target + L"\\b.txt";
    FixtureProcess fixture(BinPath(L"holder.exe"), {L"map", mapped, L"map", mapped, L"open", held});
    const CLockSearch search = Search(target);
    EXPECT_EQ(HeldBy(search, fixture.pid()),
              (std::set<std::pair<std::wstring, LockKind>>{{mapped, LockKind::Mapping}, {held, LockKind::Handle}}))
        << "two views of one file are one lock";
    for (const CLockItem& row : search.rows) {
        if (row.kind == LockKind::Mapping) {
            EXPECT_TRUE(row.value == fixture.mappings()[0].value || row.value == fixture.mappings()[1].value);
        }
    }
}

TEST_F(LockEngine, LocksUnderAPathLongerThan260CharactersAreFoundByHandleModuleAndMapping)
{
    std::wstring deep = target;
    while (deep.size() < 300) {
        deep += L"\\a-long-folder-name";
        ASSERT_TRUE(::CreateDirectoryW(WithLongPathPrefix(deep).c_str(), nullptr));
    }
    const std::wstring held = deep + L"\\held.txt", mapped = deep + L"\\m.dat", lib = deep + L"\\lockdll.dll";
    ASSERT_TRUE(::CopyFileW(library.c_str(), WithLongPathPrefix(lib).c_str(), FALSE));
    {
        FixtureProcess fixture(BinPath(L"holder.exe"), {L"open", WithLongPathPrefix(held), L"map",
                                                        WithLongPathPrefix(mapped), L"load", WithLongPathPrefix(lib)});
        const CLockSearch search = Search(deep);
        EXPECT_EQ(HeldBy(search, fixture.pid()),
                  (std::set<std::pair<std::wstring, LockKind>>{
                      {held, LockKind::Handle}, {mapped, LockKind::Mapping}, {lib, LockKind::Module}}));
    }
    RemoveTree(WithLongPathPrefix(target));
}

TEST_F(LockEngine, LibraryOfA32BitProcessIsAModuleLock)
{
    SKIP_UNLESS_32BIT_PROGRAMS_RUN();
    const std::wstring lib32 = target + L"\\lockdll32.dll";
    ASSERT_TRUE(::CopyFileW(X86BinPath(L"lockdll.dll").c_str(), lib32.c_str(), FALSE));
    FixtureProcess fixture(X86BinPath(L"holder.exe"), {L"load", lib32});
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(fixture.process(), &wow64) && wow64) << "the fixture is not a 32-bit process";
    const CLockSearch search = Search(target);
    EXPECT_EQ(HeldBy(search, fixture.pid()).count({lib32, LockKind::Module}), 1u);
}

TEST_F(LockEngine, ProcessesThatRefuseToBeExaminedAreCountedOnce)
{
    FixtureProcess fixture(program, {L"open", target + L"\\a.txt", L"load", library});
    g_refusedPid = fixture.pid();
    g_refusedAccess = 0;
    CScanSeams seams;
    seams.openProcess = RefusingOpenProcess;
    const CLockSearch search = Search(target, seams);
    EXPECT_TRUE(HeldBy(search, fixture.pid()).empty());
    EXPECT_EQ(search.stats.processesRefused, 1u) << "refused by both scans, counted once";
    EXPECT_EQ(search.failure, L"");
    EXPECT_EQ(UnseenSentence(search.stats), L"1 process refused to be examined; locks they hold are not listed.");

    CScanStats both;
    both.processesRefused = 2;
    both.handles.givenUp = 3;
    EXPECT_EQ(UnseenSentence(both),
              L"2 processes refused to be examined and 3 handles did not give their names "
              L"in time; locks they hold are not listed.");
    EXPECT_EQ(UnseenSentence(CScanStats{}), L"");
}

TEST_F(LockEngine, ImageNameComesWithLimitedRightsWhereFullOnesAreRefused)
{
    FixtureProcess fixture(program, {L"open", target + L"\\a.txt"});
    g_refusedPid = fixture.pid();
    g_refusedAccess = PROCESS_QUERY_INFORMATION;
    CProcessDirectory processes(deviceMap, RefusingOpenProcess);
    const CProcessInfo& info = processes.GetOrCreate(fixture.pid());
    EXPECT_EQ(info.name, L"holder.exe");
    EXPECT_EQ(info.imagePath, program);
    EXPECT_EQ(info.owner, CurrentUser());
}

TEST_F(LockEngine, TableThatCannotBeReadIsAFailedScanNotAnEmptyOne)
{
    services.NtQuerySystemInformation = UnreadableHandleTable;
    const CLockSearch search = Search(target);
    EXPECT_NE(search.failure.find(L"handle table could not be read"), std::wstring::npos) << WideToUtf8(search.failure);
}

namespace {

CList<CFileLock> ScanModulesOnly(const CSystemServices& services, CModuleScanStats& stats)
{
    CLockList locks;
    CModuleScanParams params;
    const CTarget everything = MakeTarget(L"", true, services);
    params.target = &everything;
    params.NtQueryVirtualMemory = services.NtQueryVirtualMemory;
    params.NtQueryInformationProcess = services.NtQueryInformationProcess;
    params.locks = &locks;
    ScanModules(params);
    stats = params.stats;
    return locks.TakeAll();
}

}  // namespace

TEST_F(LockEngine, LoaderListsReadInOneWalkGiveTheModulesAndViewsThePlatformGives)
{
    SKIP_UNLESS_32BIT_PROGRAMS_RUN();
    // A view right behind an image shows whether the walk steps over images exactly.
    FixtureProcess fixture(program, {L"load", library, L"mapnext", target + L"\\m.dat"});
    FixtureProcess fixture32(X86BinPath(L"holder.exe"), {L"map", target + L"\\m32.dat"});
    ASSERT_TRUE(services.NtQueryInformationProcess);
    CSystemServices platformOnly = services;
    platformOnly.NtQueryInformationProcess = nullptr;

    CModuleScanStats walked, listed;
    const CList<CFileLock> fromLoader = ScanModulesOnly(services, walked);
    const CList<CFileLock> fromPlatform = ScanModulesOnly(platformOnly, listed);
    ASSERT_EQ(fromLoader.size(), fromPlatform.size());
    for (auto a = fromLoader.begin(), b = fromPlatform.begin(); a != fromLoader.end(); ++a, ++b) {
        ASSERT_EQ(a->pid, b->pid);
        ASSERT_EQ(a->path, b->path);
        ASSERT_EQ(a->value, b->value);
        ASSERT_EQ(a->kind, b->kind);
    }
    EXPECT_EQ(walked.modules, listed.modules);
    EXPECT_EQ(walked.views, listed.views);
    EXPECT_EQ(std::count_if(fromLoader.begin(), fromLoader.end(),
                            [&](const CFileLock& lock) {
                                return lock.pid == fixture.pid() && lock.kind == LockKind::Mapping &&
                                       lock.value == fixture.mappings()[0].value;
                            }),
              1);
}

TEST_F(LockEngine, FolderReachedThroughALinkIsScannedWhereItLeads)
{
    const std::wstring real = target + L"\\real", held = real + L"\\sub\\held.txt";
    CreateFolders(real + L"\\sub");
    FixtureProcess fixture(program, {L"open", held});
    const FolderLink link(target + L"\\link", real);
    ASSERT_TRUE(link.made());

    const CLockSearch search = Search(target + L"\\link");
    EXPECT_EQ(scanned.path, target + L"\\link") << "the target stays what was written";
    EXPECT_EQ(scanned.finalPath, real);
    EXPECT_EQ(HeldBy(search, fixture.pid()), (std::set<std::pair<std::wstring, LockKind>>{{held, LockKind::Handle}}))
        << "handles name the folder the link leads to";
    EXPECT_EQ(HeldBy(Search(target + L"\\link\\sub\\held.txt"), fixture.pid()).size(), 1u)
        << "a file reached through it";
}

TEST_F(LockEngine, FileHeldThroughItsOtherNameIsFound)
{
    const std::wstring held = target + L"\\a.txt", other = target + L"\\b.txt";
    WriteFile(held);
    ASSERT_TRUE(::CreateHardLinkW(other.c_str(), held.c_str(), nullptr));
    FixtureProcess fixture(program, {L"open", held});

    // Windows lists a file's names; Wine cannot, and its answer is given here.
    ReportLinkNames({held, other});
    CSystemServices naming = services;
    naming.NtQueryInformationFile = QueryFileReportingLinks;
    scanned = MakeTarget(other, false, naming);
    EXPECT_EQ(scanned.linkNames, std::vector<std::wstring>{held});
    const CLockSearch search = SearchLocks(services, scanned);
    EXPECT_EQ(HeldBy(search, fixture.pid()), (std::set<std::pair<std::wstring, LockKind>>{{held, LockKind::Handle}}));

    ReportLinkNames({});
    EXPECT_TRUE(HeldBy(Search(other), fixture.pid()).empty()) << "without the names the other name finds nothing";
}

TEST_F(LockEngine, ProgressCountsWhatTheScansGoThroughAndACancelledScanKeepsNothing)
{
    FixtureProcess fixture(program, {L"open", target + L"\\a.txt", L"load", library});
    CScanProgress progress;
    const CLockSearch whole = SearchLocks(services, MakeTarget(target, false, services), {}, &progress);
    EXPECT_FALSE(whole.cancelled);
    EXPECT_EQ(HeldBy(whole, fixture.pid()).size(), 3u);
    EXPECT_EQ(progress.fileHandles.load(), whole.stats.handles.fileHandles);
    EXPECT_EQ(progress.handlesDone.load(), progress.fileHandles.load());
    EXPECT_GT(progress.processes.load(), 3u);
    EXPECT_EQ(progress.processesDone.load(), progress.processes.load());

    CScanProgress stopped;
    stopped.cancel = true;
    const CLockSearch cancelled = SearchLocks(services, MakeTarget(target, false, services), {}, &stopped);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_TRUE(cancelled.rows.empty());
    EXPECT_EQ(stopped.handlesDone.load(), 0u) << "stopped before its first handle";
    EXPECT_EQ(stopped.processesDone.load(), 0u) << "and before its first process";
}

// The pool is sized by the cores this process may run on, not by those the machine has.
TEST(ProcessPool, ThreadsFollowTheCoresThisProcessMayRunOn)
{
    DWORD_PTR mine = 0, machine = 0;
    ASSERT_TRUE(::GetProcessAffinityMask(::GetCurrentProcess(), &mine, &machine));
    ASSERT_TRUE(::SetProcessAffinityMask(::GetCurrentProcess(), 1));
    EXPECT_EQ(DefaultPoolThreads(), 1u) << "on one core nothing overlaps";
    if (machine & 2) {
        ASSERT_TRUE(::SetProcessAffinityMask(::GetCurrentProcess(), 3));
        EXPECT_EQ(DefaultPoolThreads(), 8u) << "four a core";
    }
    ::SetProcessAffinityMask(::GetCurrentProcess(), mine);
}

TEST_F(LockEngine, RowsOfThePoolAreThoseOfOneThreadInTheSameOrder)
{
    constexpr int kHolders = 20;
    std::vector<std::unique_ptr<FixtureProcess>> holders;
    for (int i = 0; i < kHolders; ++i) {
        const std::wstring own = target + L"\\" + std::to_wstring(i);
        holders.push_back(std::make_unique<FixtureProcess>(
            program, std::vector<std::wstring>{L"open", own + L".txt", L"load", library, L"map", own + L".dat"}));
    }
    CScanSeams oneThread, pool;
    oneThread.poolThreads = 1;
    pool.poolThreads = 4;  // more than one whatever the machine
    CScanProgress progress;
    scanned = MakeTarget(target, false, services);
    SearchLocks(services, scanned, oneThread);  // loads what a first scan loads into this program
    const CLockSearch walked = SearchLocks(services, scanned, oneThread);
    const CLockSearch pooled = SearchLocks(services, scanned, pool, &progress);

    ASSERT_GE(walked.rows.size(), 4u * kHolders) << "each holds its file, the program, the library and a view";
    ASSERT_EQ(pooled.rows.size(), walked.rows.size());
    for (std::size_t i = 0; i < walked.rows.size(); ++i) {
        const CLockItem &a = walked.rows[i], &b = pooled.rows[i];
        SCOPED_TRACE(WideToUtf8(a.lockPath) + " of " + std::to_string(a.pid));
        ASSERT_EQ(b.pid, a.pid);
        ASSERT_EQ(b.lockPath, a.lockPath);
        ASSERT_EQ(b.value, a.value);
        ASSERT_EQ(b.kind, a.kind);
        ASSERT_EQ(b.processName, a.processName);
        ASSERT_EQ(b.owner, a.owner);
        ASSERT_EQ(b.imagePath, a.imagePath);
        ASSERT_EQ(b.processCreated, a.processCreated);
    }
    EXPECT_EQ(pooled.stats.modules.processesOpened, walked.stats.modules.processesOpened);
    EXPECT_EQ(pooled.stats.modules.modules, walked.stats.modules.modules);
    EXPECT_EQ(pooled.stats.modules.views, walked.stats.modules.views);
    EXPECT_EQ(progress.processesDone.load(), progress.processes.load());

    CProcessDirectory processes(deviceMap);
    std::vector<DWORD> pids;
    for (const auto& holder : holders)
        pids.push_back(holder->pid());
    processes.DescribeAll(pids, 4);
    EXPECT_EQ(processes.size(), std::size_t(kHolders));
    EXPECT_EQ(processes.owners().lookups(), 1u) << "threads side by side look the one user up once";
}
