// Closing handles and ending processes only while they are the locks a scan found, against
// fixture processes; where Wine cannot show a case (kernel objects, critical processes,
// process ids handed out again), the system's answer is replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "HandleTable.h"
#include "LockRemoval.h"
#include "LockSearch.h"
#include "RemovalSequence.h"
#include "ProcessInfo.h"
#include "EngineSeams.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

NtQuerySystemInformationFn g_realTableQuery = nullptr;
ULONG_PTR g_objectSalt = 0;
// After this many more reads of the table the salt becomes g_objectSaltLater: the objects are
// new ones, as those of files opened again.
int g_readsAtThisSalt = INT_MAX;
ULONG_PTR g_objectSaltLater = 0;

// The table as the system would give it with kernel objects shown (Wine shows none): each
// entry's object is made from its process, its value and the salt of the moment.
LONG NTAPI TableWithObjects(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned)
{
    const LONG status = g_realTableQuery(infoClass, buffer, length, returned);
    if (status < 0 || infoClass != kSystemExtendedHandleInformation)
        return status;
    const ULONG_PTR salt = g_readsAtThisSalt-- > 0 ? g_objectSalt : g_objectSaltLater;
    auto* bytes = static_cast<BYTE*>(buffer);
    const ULONG_PTR count = *reinterpret_cast<ULONG_PTR*>(bytes);
    auto* entries = reinterpret_cast<CExtendedHandleEntry*>(bytes + 2 * sizeof(ULONG_PTR));
    for (ULONG_PTR i = 0; i < count; ++i)
        entries[i].object = reinterpret_cast<PVOID>(((entries[i].pid << 24) ^ entries[i].handleValue) + salt);
    return status;
}

bool Alive(const FixtureProcess& fixture) { return ::WaitForSingleObject(fixture.process(), 0) == WAIT_TIMEOUT; }

// The values of the fixture's handles that are still open.
std::set<unsigned long long> OpenHandles(FixtureProcess& fixture)
{
    fixture.Send("check");
    std::set<unsigned long long> open;
    for (std::string line = fixture.ReadLine(); line != "checked" && !line.empty(); line = fixture.ReadLine()) {
        if (line.rfind("open ", 0) == 0)
            open.insert(std::strtoull(line.c_str() + 5, nullptr, 0));
    }
    return open;
}

// Answers a removal's questions as set and keeps what it was told.
class RecordingPrompts : public IRemovalPrompts {
public:
    void Tell(const std::wstring& text) override { told.push_back(text); }
    bool ConfirmDeleteAtBoot(const std::wstring&) override { return false; }
    bool ShellMayAsk() const override { return false; }
    bool ConfirmUnlockAll(const std::wstring& question) override
    {
        asked.push_back(question);
        return unlockAll;
    }
    Consent ConfirmEndCritical(const CLockItem&, const std::wstring& question) override
    {
        asked.push_back(question);
        return critical;
    }
    void Report(const CRowOutcome& outcome) override { reported.push_back(outcome); }

    bool unlockAll = false;
    Consent critical = Consent::No;
    std::vector<std::wstring> told, asked;
    std::vector<CRowOutcome> reported;
};

class LockRemoval : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(BindSystemServices(services), L"");
        CreateFolders(folder);
    }

    // The one row a scan finds on path now.
    CLockItem RowOn(const std::wstring& path, const CSystemServices& with)
    {
        CLockSearch search = SearchLocks(with, MakeTarget(path, false, with));
        EXPECT_EQ(search.rows.size(), 1u) << WideToUtf8(path);
        return search.rows.empty() ? CLockItem() : std::move(search.rows.front());
    }
    CLockItem RowOn(const std::wstring& path) { return RowOn(path, services); }
    CHandleCloser Closer(const CSystemServices& with) { return CHandleCloser(with, drives); }

    TempDir dir{L"tarnwick-lock-removal"};
    const std::wstring folder = dir.Sub(L"held");
    const std::wstring a = folder + L"\\a.txt", b = folder + L"\\b.txt";
    CSystemServices services;
    const CDriveTable drives = ReadCurrentDriveTable();
};

}  // namespace

TEST_F(LockRemoval, HandleThatNowNamesAnotherFileIsLeftOpenAndAFreshRowClosesIt)
{
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", a});
    const CLockItem stale = RowOn(a);
    holder.Send("swap " + WideToUtf8(b));
    const std::string swapped = holder.ReadLine();
    ASSERT_EQ(std::strtoull(swapped.c_str() + 8, nullptr, 0), stale.value) << swapped;

    CHandleCloser closer = Closer(services);
    EXPECT_EQ(closer.Close(stale), UnlockResult::Changed);
    EXPECT_TRUE(holder.StillHolds(stale.value)) << "b.txt stays open";
    EXPECT_EQ(closer.Close(RowOn(b)), UnlockResult::Closed);
    EXPECT_FALSE(holder.StillHolds(stale.value));
}

TEST_F(LockRemoval, HandleProtectedFromClosingIsToldFromOneItsProgramOpensAgainAtOnce)
{
    FixtureProcess holder(BinPath(L"holder.exe"), {L"protect", a});
    EXPECT_EQ(Closer(services).Close(RowOn(a)), UnlockResult::SurvivedOrReopened) << "Wine hides the objects";
    EXPECT_TRUE(holder.StillHolds(holder.HandleOf(a)));
    CSystemServices tableUnreadable = services;
    tableUnreadable.NtQuerySystemInformation = UnreadableHandleTable;
    EXPECT_EQ(Closer(tableUnreadable).Close(RowOn(a)), UnlockResult::SurvivedOrReopened)
        << "a table that cannot be read after the close says nothing of what is still open";
    g_realTableQuery = services.NtQuerySystemInformation;
    CSystemServices withObjects = services;
    withObjects.NtQuerySystemInformation = TableWithObjects;
    g_objectSalt = 0x1000;
    EXPECT_EQ(Closer(withObjects).Close(RowOn(a, withObjects)), UnlockResult::Survived) << "the same object";

    // Its handle is closed behind its back and opened again at once under the same value: the
    // table shows another object there. The owner is not held still during the close, as a
    // process the system cannot do without is not, so it opens the file again while the close
    // is being checked; a close checked before the opening is a close.
    FixtureProcess reopening(BinPath(L"owner.exe"), {L"reopen", b});
    ReportCriticalProcess(reopening.pid());
    withObjects.NtQueryInformationProcess = QueryProcessReportingCritical;
    std::vector<UnlockResult> results;
    while (results.size() < 100 && std::count(results.begin(), results.end(), UnlockResult::Reopened) == 0) {
        const CLockItem row = RowOn(b, withObjects);
        g_readsAtThisSalt = 1;  // the closer's look before its close
        g_objectSaltLater = g_objectSalt + 0x1000;
        results.push_back(Closer(withObjects).Close(row));
        g_readsAtThisSalt = INT_MAX;
        g_objectSalt = g_objectSaltLater;
    }
    reopening.Send("reopened");
    std::printf("[ measure  ] the close that found the file opened again was the %zu. one; the owner says %s\n",
                results.size(), reopening.ReadLine().c_str());
    EXPECT_EQ(results.back(), UnlockResult::Reopened) << "no close found the file opened again";
    EXPECT_EQ(std::count(results.begin(), results.end(), UnlockResult::Closed), std::ptrdiff_t(results.size() - 1))
        << "never reported as protected from closing";
}

TEST_F(LockRemoval, HandleWhoseKernelObjectChangedIsLeftOpen)
{
    g_realTableQuery = services.NtQuerySystemInformation;
    CSystemServices withObjects = services;
    withObjects.NtQuerySystemInformation = TableWithObjects;
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", a});
    g_objectSalt = 0x1000;
    const CLockItem row = RowOn(a, withObjects);
    ASSERT_NE(row.object, 0u) << "the row keeps the table's object";

    g_objectSalt = 0x2000;  // the same value now stands for another object of the same file
    EXPECT_EQ(Closer(withObjects).Close(row), UnlockResult::Changed);
    EXPECT_TRUE(holder.StillHolds(row.value));
    g_objectSalt = 0x1000;
    EXPECT_EQ(Closer(withObjects).Close(row), UnlockResult::Closed);
    EXPECT_FALSE(holder.StillHolds(row.value));
}

TEST_F(LockRemoval, ProcessIdNowOfAnotherProcessIsNeitherUnlockedNorEnded)
{
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", a});
    CLockItem row = RowOn(a);
    ASSERT_EQ(row.processCreated, ProcessCreationTime(holder.process())) << "the scan records the creation time";
    ASSERT_NE(row.processCreated, 0u);

    // What a process started later under the same id would show.
    row.processCreated += 1;
    EXPECT_EQ(Closer(services).Close(row), UnlockResult::OtherProcess);
    EXPECT_EQ(TerminateOwner(row), EndResult::OtherProcess);
    EXPECT_TRUE(holder.StillHolds(row.value));
    EXPECT_TRUE(Alive(holder));
}

TEST_F(LockRemoval, EndedOwnerExitsWithCodeOne)
{
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", a});
    EXPECT_EQ(TerminateOwner(RowOn(a)), EndResult::Ended);
    ASSERT_EQ(::WaitForSingleObject(holder.process(), 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(::GetExitCodeProcess(holder.process(), &code));
    EXPECT_EQ(code, 1u) << "a parent must not read the end as a success";
}

TEST_F(LockRemoval, CriticalOwnersAreAskedAboutFirstAndEndedOnlyAfterAYes)
{
    FixtureProcess critical(BinPath(L"holder.exe"), {L"open", a});
    FixtureProcess plain(BinPath(L"holder.exe"), {L"open", b});
    ReportCriticalProcess(critical.pid());
    CSystemServices marking = services;
    marking.NtQueryInformationProcess = QueryProcessReportingCritical;
    const CTarget target = MakeTarget(folder, false, marking);
    const CLockSearch search = SearchLocks(marking, target);
    ASSERT_EQ(search.rows.size(), 2u);
    EXPECT_TRUE(IsCriticalOwner(marking, search.rows[0]) != IsCriticalOwner(marking, search.rows[1]));
    CRemovalRequest request;
    request.command = RemovalCommand::Terminate;
    request.rows = {&search.rows[0], &search.rows[1]};
    request.rowsListed = true;

    RecordingPrompts stop;
    stop.critical = Consent::Stop;
    EXPECT_EQ(RunRemoval(marking, target, request, stop).stopped, RemovalStop::Declined);
    ASSERT_EQ(stop.asked.size(), 1u);
    EXPECT_NE(stop.asked[0].find(L"\"holder.exe\" (PID " + std::to_wstring(critical.pid()) + L")"), std::wstring::npos)
        << WideToUtf8(stop.asked[0]);
    EXPECT_NE(stop.asked[0].find(L"stops Windows at once"), std::wstring::npos);
    EXPECT_TRUE(Alive(critical) && Alive(plain)) << "a Stop touches nothing, not even the plain process";

    RecordingPrompts no;
    const CRemovalOutcome declined = RunRemoval(marking, target, request, no);
    EXPECT_TRUE(Alive(critical));
    ASSERT_EQ(::WaitForSingleObject(plain.process(), 5000), WAIT_OBJECT_0) << "a No spares only the critical one";
    ASSERT_EQ(declined.outcomes.size(), 2u);
    EXPECT_EQ(declined.removed.size(), 1u);

    RecordingPrompts yes;
    yes.critical = Consent::Yes;
    const CLockItem* criticalRow = IsCriticalOwner(marking, search.rows[0]) ? &search.rows[0] : &search.rows[1];
    request.rows = {criticalRow};
    EXPECT_EQ(RunRemoval(marking, target, request, yes).removed, std::vector<const CLockItem*>{criticalRow});
    EXPECT_EQ(::WaitForSingleObject(critical.process(), 5000), WAIT_OBJECT_0);
}

TEST_F(LockRemoval, OwnerOfSeveralRowsIsActedOnOnceAndTheProgramItselfNever)
{
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", a, L"open", b});
    WriteFile(folder + L"\\own.txt");
    UniqueHandle own(::CreateFileW((folder + L"\\own.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    const CTarget target = MakeTarget(folder, false, services);
    const CLockSearch search = SearchLocks(services, target);
    ASSERT_EQ(search.rows.size(), 3u);
    CRemovalRequest request;
    request.command = RemovalCommand::Terminate;
    for (const CLockItem& row : search.rows)
        request.rows.push_back(&row);
    request.rowsListed = true;
    RecordingPrompts prompts;
    const CRemovalOutcome outcome = RunRemoval(services, target, request, prompts);
    ASSERT_EQ(prompts.reported.size(), 2u) << "one outcome per owner";
    for (const CRowOutcome& told : prompts.reported)
        EXPECT_EQ(told.ended, told.row->pid == holder.pid() ? EndResult::Ended : EndResult::Self);
    EXPECT_EQ(outcome.removed.size(), 2u) << "both rows of the ended owner";
    DWORD flags = 0;
    EXPECT_TRUE(::GetHandleInformation(own.get(), &flags));

    request.command = RemovalCommand::UnlockAll;
    request.rows.erase(std::remove_if(request.rows.begin(), request.rows.end(),
                                      [&](const CLockItem* row) { return row->pid == holder.pid(); }),
                       request.rows.end());
    EXPECT_EQ(RunRemoval(services, target, request, prompts).outcomes.front().unlocked, UnlockResult::Self);
    EXPECT_TRUE(::GetHandleInformation(own.get(), &flags)) << "its own handles are never closed";
}

TEST_F(LockRemoval, CoreProcessNamesCountOnlyFromTheSystemFolder)
{
    // Wine's own service manager runs from the system folder under its Windows name; it is
    // only looked at here.
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring servicesExe = std::wstring(system) + L"\\services.exe";
    const CLockSearch services32 = SearchLocks(services, MakeTarget(servicesExe, false, services));
    ASSERT_FALSE(services32.rows.empty());
    EXPECT_TRUE(IsCriticalOwner(services, services32.rows.front()));

    const std::wstring impostor = folder + L"\\services.exe";
    ASSERT_TRUE(::CopyFileW(BinPath(L"holder.exe").c_str(), impostor.c_str(), FALSE));
    FixtureProcess holder(impostor, {});
    EXPECT_FALSE(IsCriticalOwner(services, RowOn(impostor)));
}

TEST_F(LockRemoval, OnlyHandleRowsAreClosedWhateverTheirValue)
{
    WriteFile(a);
    UniqueHandle file(::CreateFileW(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    CLockItem row;
    row.pid = ::GetCurrentProcessId();
    row.processCreated = ProcessCreationTime(::GetCurrentProcess());
    row.value = reinterpret_cast<ULONG_PTR>(file.get());
    row.lockPath = a;
    CHandleCloser closer = Closer(services);
    DWORD flags = 0;
    for (const LockKind kind : {LockKind::Module, LockKind::Mapping}) {
        row.kind = kind;
        EXPECT_EQ(closer.Close(row), UnlockResult::NotAHandle)
            << "a value that happens to be a handle is no handle lock";
        EXPECT_TRUE(::GetHandleInformation(file.get(), &flags));
    }
    row.kind = LockKind::Handle;
    EXPECT_EQ(closer.Close(row), UnlockResult::Closed);
    EXPECT_FALSE(::GetHandleInformation(file.release(), &flags)) << "and is gone";
    row.pid = 0xFFFFFFF0u;
    EXPECT_EQ(closer.Close(row), UnlockResult::NotOpened) << "no such process";
}

TEST_F(LockRemoval, RowsOfOneOwnerAreClosedInBatchesAndEveryStaleOneIsLeftOpen)
{
    CSystemServices withoutComparing = services;  // as before Windows 10: each close is confirmed by name
    withoutComparing.NtCompareObjects = nullptr;
    CSystemServices critical = services;  // not held still: a batch is one handle
    critical.NtQueryInformationProcess = QueryProcessReportingCritical;
    for (const CSystemServices* with : {&services, &withoutComparing, &critical}) {
        // More than two batches of handles on two files.
        FixtureProcess holder(BinPath(L"holder.exe"), {L"repeat", L"300", a, L"repeat", L"300", b});
        ReportCriticalProcess(with == &critical ? holder.pid() : 0);
        std::vector<CLockItem> rows = SearchLocks(*with, MakeTarget(folder, false, *with)).rows;
        ASSERT_EQ(rows.size(), 600u);
        // Every seventh row names the other file, as one does whose handle was closed and opened
        // again on another file since the scan; a module row stands among them.
        for (std::size_t i = 0; i < rows.size(); i += 7)
            rows[i].lockPath = EqualsNoCase(rows[i].lockPath, a) ? b : a;
        CLockItem module = rows[1];
        module.kind = LockKind::Module;
        std::vector<const CLockItem*> chosen;
        for (const CLockItem& row : rows)
            chosen.push_back(&row);
        chosen.insert(chosen.begin() + 300, &module);

        const std::vector<UnlockResult> results = Closer(*with).CloseOwnerRows(chosen);
        const std::set<unsigned long long> open = OpenHandles(holder);
        ASSERT_EQ(results.size(), chosen.size());
        EXPECT_EQ(results[300], UnlockResult::NotAHandle);
        EXPECT_EQ(open.size(), 86u) << "the stale rows' handles, and only they, stay open";
        for (std::size_t k = 0; k < chosen.size(); ++k) {
            if (chosen[k] == &module)
                continue;
            const std::size_t i = chosen[k] - rows.data();
            SCOPED_TRACE("row " + std::to_string(i));
            EXPECT_EQ(results[k], i % 7 == 0 ? UnlockResult::Changed : UnlockResult::Closed);
            EXPECT_EQ(open.count(rows[i].value), i % 7 == 0 ? 1u : 0u);
        }
    }
    ReportCriticalProcess(0);
}
