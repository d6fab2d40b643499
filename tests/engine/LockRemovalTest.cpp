// Closing handles and ending processes only while they are the locks a scan found, against
// fixture processes; where Wine cannot show a case (kernel objects, critical processes,
// process ids handed out again), the system's answer is replaced.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "HandleTable.h"
#include "LockRemoval.h"
#include "LockSearch.h"
#include "ProcessInfo.h"
#include "EngineSeams.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

NtQuerySystemInformationFn g_realTableQuery = nullptr;
ULONG_PTR g_objectSalt = 0;

// The table as the system would give it with kernel objects shown (Wine shows none): each
// entry's object is made from its process, its value and the salt of the moment.
LONG NTAPI TableWithObjects(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned)
{
    const LONG status = g_realTableQuery(infoClass, buffer, length, returned);
    if (status < 0 || infoClass != kSystemExtendedHandleInformation)
        return status;
    auto* bytes = static_cast<BYTE*>(buffer);
    const ULONG_PTR count = *reinterpret_cast<ULONG_PTR*>(bytes);
    auto* entries = reinterpret_cast<CExtendedHandleEntry*>(bytes + 2 * sizeof(ULONG_PTR));
    for (ULONG_PTR i = 0; i < count; ++i)
        entries[i].object = reinterpret_cast<PVOID>(((entries[i].pid << 24) ^ entries[i].handleValue) + g_objectSalt);
    return status;
}

bool Alive(const FixtureProcess& fixture) { return ::WaitForSingleObject(fixture.process(), 0) == WAIT_TIMEOUT; }

const CriticalProcessQuestion kNeverAsked = [](const std::wstring& question) {
    ADD_FAILURE() << "asked: " << WideToUtf8(question);
    return false;
};

class LockRemoval : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(BindSystemServices(services), L"");
        CreateFolders(folder);
    }

    // The one row a scan finds on path now.
    std::unique_ptr<CLockItem> RowOn(const std::wstring& path, const CSystemServices& with)
    {
        CLockSearch search = SearchLocks(with, path, false);
        EXPECT_EQ(search.rows.size(), 1u) << WideToUtf8(path);
        return search.rows.empty() ? std::make_unique<CLockItem>() : std::move(search.rows.front());
    }
    std::unique_ptr<CLockItem> RowOn(const std::wstring& path) { return RowOn(path, services); }

    TempDir dir{L"tarnwick-lock-removal"};
    const std::wstring folder = dir.Sub(L"held");
    const std::wstring a = folder + L"\\a.txt", b = folder + L"\\b.txt";
    CSystemServices services;
};

}  // namespace

TEST_F(LockRemoval, HandleThatNowNamesAnotherFileIsLeftOpenAndAFreshRowClosesIt)
{
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", a});
    const auto stale = RowOn(a);
    holder.Send("swap " + WideToUtf8(b));
    const std::string swapped = holder.ReadLine();
    ASSERT_EQ(std::strtoull(swapped.c_str() + 8, nullptr, 0), stale->value) << swapped;

    CHandleCloser closer(services);
    EXPECT_EQ(closer.Close(*stale), UnlockResult::Changed);
    EXPECT_TRUE(holder.StillHolds(stale->value)) << "b.txt stays open";
    EXPECT_EQ(closer.Close(*RowOn(b)), UnlockResult::Closed);
    EXPECT_FALSE(holder.StillHolds(stale->value));
}

TEST_F(LockRemoval, HandleProtectedFromClosingIsReportedAsSurvivingNotAsClosed)
{
    FixtureProcess holder(BinPath(L"holder.exe"), {L"protect", a});
    const auto row = RowOn(a);
    EXPECT_EQ(CHandleCloser(services).Close(*row), UnlockResult::Survived);
    EXPECT_TRUE(holder.StillHolds(row->value));
}

TEST_F(LockRemoval, HandleWhoseKernelObjectChangedIsLeftOpen)
{
    g_realTableQuery = services.NtQuerySystemInformation;
    CSystemServices withObjects = services;
    withObjects.NtQuerySystemInformation = TableWithObjects;
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", a});
    g_objectSalt = 0x1000;
    const auto row = RowOn(a, withObjects);
    ASSERT_NE(row->object, 0u) << "the row keeps the table's object";

    g_objectSalt = 0x2000;  // the same value now stands for another object of the same file
    EXPECT_EQ(CHandleCloser(withObjects).Close(*row), UnlockResult::Changed);
    EXPECT_TRUE(holder.StillHolds(row->value));
    g_objectSalt = 0x1000;
    EXPECT_EQ(CHandleCloser(withObjects).Close(*row), UnlockResult::Closed);
    EXPECT_FALSE(holder.StillHolds(row->value));
}

TEST_F(LockRemoval, ProcessIdNowOfAnotherProcessIsNeitherUnlockedNorEnded)
{
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", a});
    const auto row = RowOn(a);
    ASSERT_EQ(row->processCreated, ProcessCreationTime(holder.process())) << "the scan records the creation time";
    ASSERT_NE(row->processCreated, 0u);

    // What a process started later under the same id would show.
    row->processCreated += 1;
    EXPECT_EQ(CHandleCloser(services).Close(*row), UnlockResult::OtherProcess);
    EXPECT_EQ(TerminateOwner(services, *row, kNeverAsked), EndResult::OtherProcess);
    EXPECT_TRUE(holder.StillHolds(row->value));
    EXPECT_TRUE(Alive(holder));
}

TEST_F(LockRemoval, EndedOwnerExitsWithCodeOne)
{
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", a});
    EXPECT_EQ(TerminateOwner(services, *RowOn(a), kNeverAsked), EndResult::Ended);
    ASSERT_EQ(::WaitForSingleObject(holder.process(), 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(::GetExitCodeProcess(holder.process(), &code));
    EXPECT_EQ(code, 1u) << "a parent must not read the end as a success";
}

TEST_F(LockRemoval, CriticalOwnerIsEndedOnlyAfterAYes)
{
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", a});
    ReportCriticalProcess(holder.pid());
    CSystemServices marking = services;
    marking.NtQueryInformationProcess = QueryProcessReportingCritical;
    const auto row = RowOn(a, marking);
    EXPECT_TRUE(IsCriticalOwner(marking, *row));
    EXPECT_FALSE(IsCriticalOwner(services, *row));

    std::wstring asked;
    const auto answer = [&](bool yes) {
        return [&asked, yes](const std::wstring& question) {
            asked = question;
            return yes;
        };
    };
    EXPECT_EQ(TerminateOwner(marking, *row, answer(false)), EndResult::Declined);
    EXPECT_NE(asked.find(L"\"holder.exe\" (PID " + std::to_wstring(holder.pid()) + L")"), std::wstring::npos)
        << WideToUtf8(asked);
    EXPECT_NE(asked.find(L"stops Windows at once"), std::wstring::npos);
    EXPECT_TRUE(Alive(holder));
    EXPECT_EQ(TerminateOwner(marking, *row, answer(true)), EndResult::Ended);
    EXPECT_EQ(::WaitForSingleObject(holder.process(), 5000), WAIT_OBJECT_0);
}

TEST_F(LockRemoval, CoreProcessNamesCountOnlyFromTheSystemFolder)
{
    // Wine's own service manager runs from the system folder under its Windows name; it is
    // only looked at here.
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const CLockSearch services32 = SearchLocks(services, std::wstring(system) + L"\\services.exe", false);
    ASSERT_FALSE(services32.rows.empty());
    EXPECT_TRUE(IsCriticalOwner(services, *services32.rows.front()));

    const std::wstring impostor = folder + L"\\services.exe";
    ASSERT_TRUE(::CopyFileW(BinPath(L"holder.exe").c_str(), impostor.c_str(), FALSE));
    FixtureProcess holder(impostor, {});
    EXPECT_FALSE(IsCriticalOwner(services, *RowOn(impostor)));
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
    CHandleCloser closer(services);
    DWORD flags = 0;
    for (const LockKind kind : {LockKind::Module, LockKind::Mapping}) {
        row.kind = kind;
        EXPECT_EQ(closer.Close(row), UnlockResult::NotAHandle) << "a value that happens to be a handle is no handle lock";
        EXPECT_TRUE(::GetHandleInformation(file.get(), &flags));
    }
    row.kind = LockKind::Handle;
    EXPECT_EQ(closer.Close(row), UnlockResult::Closed);
    EXPECT_FALSE(::GetHandleInformation(file.release(), &flags)) << "and is gone";
    row.pid = 0xFFFFFFF0u;
    EXPECT_EQ(closer.Close(row), UnlockResult::NotOpened) << "no such process";
}
