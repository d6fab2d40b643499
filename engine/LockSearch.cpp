#include "LockSearch.h"

#include "ProgramWindows.h"

namespace tarnwick {

namespace {

// Who each row's owner is beside a program, from one query of the service manager and one
// walk over the windows for the whole scan.
void AddOwnerRoles(std::vector<CLockItem>& rows, OpenServiceManagerFn openServiceManager)
{
    if (rows.empty())
        return;
    const CServicesByProcess services = RunningServicesByProcess(openServiceManager);
    const std::unordered_set<DWORD> windowed = ProcessesWithWindows();
    for (CLockItem& row : rows) {
        row.services = ServicesOf(services, row.pid);
        row.hasWindows = windowed.count(row.pid) != 0;
    }
}

std::wstring Counted(ULONG count, const wchar_t* one, const wchar_t* many)
{
    return std::to_wstring(count) + L" " + (count == 1 ? one : many);
}

std::vector<DWORD> OwnersOf(const CList<CFileLock>& locks)
{
    std::vector<DWORD> pids;
    pids.reserve(locks.size());
    for (const CFileLock& lock : locks)
        pids.push_back(lock.pid);
    return pids;
}

}  // namespace

bool IsScannable(const CTarget& target) { return target.showAll || (target.problem.empty() && !target.path.empty()); }

CLockSearch SearchLocks(const CSystemServices& services, const CTarget& target, const CScanSeams& seams,
                        CScanProgress* progress)
{
    CLockSearch search;
    if (!IsScannable(target))
        return search;
    CLockScanResult scan = RunLockScans(services, target, seams, progress);
    search.failure = std::move(scan.failure);
    search.stats = scan.stats;
    search.cancelled = scan.cancelled;
    CProcessDirectory processes(target.drives.devices, seams.openProcess);
    processes.DescribeAll(OwnersOf(scan.locks), seams.poolThreads);
    search.rows.reserve(scan.locks.size());
    for (const CFileLock& lock : scan.locks)
        search.rows.push_back(MakeLockItem(lock, processes.GetOrCreate(lock.pid)));
    AddOwnerRoles(search.rows, seams.openServiceManager);
    return search;
}

std::wstring UnseenSentence(const CScanStats& stats)
{
    std::wstring unseen;
    if (stats.processesRefused)
        unseen =
            Counted(stats.processesRefused, L"process refused to be examined", L"processes refused to be examined");
    if (stats.handles.givenUp) {
        unseen += unseen.empty() ? L"" : L" and ";
        unseen += Counted(stats.handles.givenUp, L"handle did not give its name in time",
                          L"handles did not give their names in time");
    }
    return unseen.empty() ? unseen : unseen + L"; locks they hold are not listed.";
}

}  // namespace tarnwick
