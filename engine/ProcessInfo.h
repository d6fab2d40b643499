#pragma once
// What the lock list shows about each owner process, gathered once per process and scan,
// and the rows made from the locks.

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "LockRecords.h"
#include "PathForms.h"
#include "SystemServices.h"

namespace tarnwick {

// Finds the account a process runs as; the account look-ups are cached per user, since
// they can be slow (domain accounts). Threads may ask side by side.
class COwnerFinder {
public:
    // True when an account name was found; owner is emptied first and stays empty otherwise.
    bool FindOwner(HANDLE process, std::wstring& owner);
    // Account look-ups made so far (cache hits not counted).
    unsigned lookups() const { return lookups_; }

private:
    std::mutex mutex_;  // held across a look-up, so that a user is looked up once
    CMap<std::wstring, std::wstring> cache_;
    unsigned lookups_ = 0;
};

// The process table of one scan.
class CProcessDirectory {
public:
    explicit CProcessDirectory(const CDeviceMap& deviceMap, OpenProcessFn openProcess = ::OpenProcess);

    // The record for pid, made on first use; a known pid costs no system call.
    const CProcessInfo& GetOrCreate(DWORD pid);
    // Makes the records of the pids not yet known side by side on up to `threads` threads
    // (0: DefaultPoolThreads()), so that GetOrCreate finds them.
    void DescribeAll(const std::vector<DWORD>& pids, unsigned threads);
    std::size_t size() const { return table_.size(); }
    const COwnerFinder& owners() const { return owners_; }

private:
    std::unique_ptr<CProcessInfo> Describe(DWORD pid);

    const CDeviceMap& deviceMap_;
    OpenProcessFn openProcess_;
    CProcessTable table_ = MakeIdMap<CProcessTable>();
    COwnerFinder owners_;
};

// When the process was created (the system's file time), which tells it from a later
// process that receives the same id; 0 when it cannot be read.
uint64_t ProcessCreationTime(HANDLE process);

// Name shown for a process whose image name cannot be read.
std::wstring UnreadableProcessName(DWORD pid);

// The row for one lock, from the lock and its owner's record.
CLockItem MakeLockItem(const CFileLock& lock, const CProcessInfo& process);

}  // namespace tarnwick
