#include "ScanDriver.h"

#include <memory>
#include <set>

#include "Text.h"

namespace tarnwick {

namespace {

// Starts a scan thread; a thread that cannot be created is the scan's failure.
UniqueHandle Launch(ScanThreadStarter startThread, LPTHREAD_START_ROUTINE routine, void* params, std::wstring& failure)
{
    UniqueHandle thread(startThread(routine, params));
    if (!thread && failure.empty())
        failure = L"a scan thread could not be started: " + SystemMessage(::GetLastError());
    return thread;
}

void Prepare(CScanThreadParams& params, const CTarget& target, CLockList& locks, const CScanSeams& seams,
             CScanProgress& progress)
{
    params.target = &target;
    params.locks = &locks;
    params.progress = &progress;
    params.openProcess = seams.openProcess;
}

// Waits for every thread that was started; none of them has a time limit.
void AwaitAll(const UniqueHandle (&threads)[2])
{
    HANDLE started[2];
    DWORD count = 0;
    for (const UniqueHandle& thread : threads) {
        if (thread)
            started[count++] = thread.get();
    }
    if (count)
        ::WaitForMultipleObjects(count, started, TRUE, INFINITE);
}

std::wstring ExceptionFailure(ScanException exception)
{
    switch (exception) {
    case ScanException::OutOfMemory: return L"there was not enough memory for it";
    case ScanException::Unexpected: return L"it stopped at an unexpected error";
    case ScanException::None: break;
    }
    return {};
}

ULONG DistinctCount(const std::vector<DWORD>& a, const std::vector<DWORD>& b)
{
    std::set<DWORD> pids(a.begin(), a.end());
    pids.insert(b.begin(), b.end());
    return ULONG(pids.size());
}

}  // namespace

HANDLE StartScanThread(LPTHREAD_START_ROUTINE routine, void* params)
{
    return ::CreateThread(nullptr, 0, routine, params, 0, nullptr);
}

CLockScanResult RunLockScans(const CSystemServices& services, const CTarget& target, const CScanSeams& seams,
                             CScanProgress* progress)
{
    CLockScanResult result;
    CLockList handleLocks, moduleLocks;
    CScanProgress unwatched;
    CScanProgress& followed = progress ? *progress : unwatched;  // both scans report to one
    auto handleScan = std::make_unique<CHandleScanParams>();
    auto moduleScan = std::make_unique<CModuleScanParams>();
    Prepare(*handleScan, target, handleLocks, seams, followed);
    handleScan->services = services;
    Prepare(*moduleScan, target, moduleLocks, seams, followed);
    moduleScan->objectNameMode = services.objectNameMode;
    moduleScan->NtQueryVirtualMemory = services.NtQueryVirtualMemory;
    moduleScan->NtQueryInformationProcess = services.NtQueryInformationProcess;
    moduleScan->poolThreads = seams.poolThreads;

    std::wstring launchFailure;
    const UniqueHandle threads[2] = {Launch(seams.startThread, HandleScanThread, handleScan.get(), launchFailure),
                                     Launch(seams.startThread, ModuleScanThread, moduleScan.get(), launchFailure)};
    AwaitAll(threads);

    result.stats = {handleScan->stats, moduleScan->stats,
                    DistinctCount(handleScan->refusedPids, moduleScan->refusedPids)};
    for (const std::wstring& failure :
         {launchFailure, ExceptionFailure(handleScan->exception), ExceptionFailure(moduleScan->exception),
          handleScan->failure, moduleScan->failure}) {
        if (result.failure.empty())
            result.failure = failure;
    }
    result.cancelled = followed.cancelled();
    if (!result.cancelled) {
        result.locks = handleLocks.TakeAll();
        result.locks.splice(result.locks.end(), moduleLocks.TakeAll());
    }
    return result;
}

}  // namespace tarnwick
