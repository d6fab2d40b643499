#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "ProcessInfo.h"
#include "ScanDriver.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

std::wstring CurrentUser()
{
    wchar_t name[256] = {};
    DWORD size = 256;
    ::GetUserNameW(name, &size);
    return name;
}

std::vector<CFileLock> LocksOf(const CList<CFileLock>& locks, DWORD pid)
{
    std::vector<CFileLock> mine;
    std::copy_if(locks.begin(), locks.end(), std::back_inserter(mine),
                 [pid](const CFileLock& lock) { return lock.pid == pid; });
    return mine;
}

bool ProcessCanBeOpened(DWORD pid)
{
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (process)
        ::CloseHandle(process);
    return process != nullptr;
}

class LockEngine : public ::testing::Test {
protected:
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
        return RunLockScans(services, BuildScanTarget(path, services.objectNameMode, showAll), deviceMap, seams);
    }

    CSystemServices services;
    CDeviceMap deviceMap = BuildCurrentDeviceMap();
    TempDir dir{L"tarnwick-engine"};
    const ResidentFolder resident = MakeResidentFolder(dir);
    const std::wstring target = resident.target, program = resident.program, library = resident.library;
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

    int iconRequests = 0;
    CProcessDirectory processes(deviceMap, [&](const std::wstring& imagePath) {
        ++iconRequests;
        EXPECT_EQ(imagePath, program);
        return 7;
    });
    const CProcessInfo* first = &processes.GetOrCreate(fixture.pid());
    for (const CFileLock& lock : locks) {
        const CProcessInfo& info = processes.GetOrCreate(lock.pid);
        EXPECT_EQ(&info, first) << "one record per process and scan";
        const auto row = MakeLockItem(lock, info);
        EXPECT_EQ(row->processName, L"holder.exe");
        EXPECT_EQ(row->pidText, std::to_wstring(fixture.pid()));
        EXPECT_EQ(row->owner, CurrentUser());
        EXPECT_EQ(row->imagePath, program) << "image path in drive form";
        EXPECT_EQ(row->lockPath, lock.path);
        EXPECT_EQ(row->value, lock.value);
        EXPECT_EQ(row->iconIndex, 7);
    }
    EXPECT_EQ(iconRequests, 1);
}

TEST_F(LockEngine, SameLibraryInTwoProcessesGivesOneLockEachAndOneAccountLookUp)
{
    FixtureProcess one(BinPath(L"holder.exe"), {L"load", library});
    FixtureProcess two(BinPath(L"holder.exe"), {L"load", library});

    const CList<CFileLock> locks = Scan(library, false);
    ASSERT_EQ(locks.size(), 2u);
    EXPECT_EQ(LocksOf(locks, one.pid()).size(), 1u);
    EXPECT_EQ(LocksOf(locks, two.pid()).size(), 1u);

    CProcessDirectory processes(deviceMap, nullptr);
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

    CProcessDirectory processes(deviceMap, [](const std::wstring&) { return 5; });
    const CProcessInfo& gone = processes.GetOrCreate(pid);
    EXPECT_EQ(gone.name, L"Unknown Process");
    EXPECT_EQ(gone.owner, L"");
    EXPECT_EQ(gone.imagePath, L"");
    EXPECT_EQ(gone.iconIndex, 0);
    EXPECT_EQ(MakeLockItem(LocksOf(locks, pid).front(), gone)->processName, L"Unknown Process");

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
    params.target = BuildScanTarget(target, true, false);
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
