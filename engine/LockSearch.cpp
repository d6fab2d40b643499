#include "LockSearch.h"

#include "TargetPath.h"

namespace tarnwick {

namespace {

std::wstring Counted(ULONG count, const wchar_t* one, const wchar_t* many)
{
    return std::to_wstring(count) + L" " + (count == 1 ? one : many);
}

}  // namespace

CLockSearch SearchLocks(const CSystemServices& services, const std::wstring& path, bool showAll,
                        const IconIndexSource& icons, const CScanSeams& seams)
{
    CLockSearch search;
    CTargetPath target;
    if (!showAll) {
        target = NormalizeTargetPath(path);
        search.problem = target.problem;
        if (target.path.empty())
            return search;
    }
    const CDeviceMap deviceMap = BuildCurrentDeviceMap();
    CLockScanResult scan =
        RunLockScans(services, BuildScanTarget(target.path, services.objectNameMode, showAll), deviceMap, seams);
    search.failure = std::move(scan.failure);
    search.stats = scan.stats;
    CProcessDirectory processes(deviceMap, icons, seams.openProcess);
    for (const CFileLock& lock : scan.locks)
        search.rows.push_back(MakeLockItem(lock, processes.GetOrCreate(lock.pid)));
    return search;
}

std::wstring UnseenSentence(const CScanStats& stats)
{
    std::wstring unseen;
    if (stats.processesRefused)
        unseen = Counted(stats.processesRefused, L"process refused to be examined", L"processes refused to be examined");
    if (stats.handles.givenUp) {
        unseen += unseen.empty() ? L"" : L" and ";
        unseen += Counted(stats.handles.givenUp, L"handle did not give its name in time",
                          L"handles did not give their names in time");
    }
    return unseen.empty() ? unseen : unseen + L"; locks they hold are not listed.";
}

}  // namespace tarnwick
