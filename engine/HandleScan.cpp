#include "HandleScan.h"

#include <cstdio>

#include "HandleTable.h"
#include "ScanThread.h"

namespace tarnwick {

namespace {

// Names one handle at a time for one run of the scan, opening each owner process once.
class CHandleResolver {
public:
    explicit CHandleResolver(CHandleScanParams& params)
        : params_(params), worker_(params.services, *params.deviceMap, params.stats)
    {
    }

    // True when name now holds the handle's name, in the form the target is compared in.
    bool Resolve(const CHandleEntry& entry, std::wstring& name);
    const std::wstring& failure() const { return worker_.failure(); }

private:
    HANDLE OwnerProcess(DWORD pid);

    CHandleScanParams& params_;
    CMap<DWORD, UniqueHandle> processes_ = MakeIdMap<CMap<DWORD, UniqueHandle>>();
    CNameQueryWorker worker_;
};

bool CHandleResolver::Resolve(const CHandleEntry& entry, std::wstring& name)
{
    name.clear();
    const HANDLE owner = OwnerProcess(DWORD(entry.pid));
    if (!owner)
        return false;
    UniqueHandle duplicate;
    if (!::DuplicateHandle(owner, reinterpret_cast<HANDLE>(entry.handleValue), ::GetCurrentProcess(),
                           duplicate.put(), 0, FALSE, DUPLICATE_SAME_ACCESS) ||
        !duplicate)
        return false;
    return worker_.NameOf(duplicate.get(), name);
}

HANDLE CHandleResolver::OwnerProcess(DWORD pid)
{
    auto found = processes_.find(pid);
    if (found == processes_.end()) {
        // A refusal is remembered too, so that a process is asked only once per run.
        UniqueHandle process(params_.openProcess(PROCESS_DUP_HANDLE, FALSE, pid));
        if (!process && ::GetLastError() == ERROR_ACCESS_DENIED)
            params_.refusedPids.push_back(pid);
        found = processes_.emplace(pid, std::move(process)).first;
    }
    return found->second.get();
}

// In object-name mode a name must also exist on disk under a short form.
bool ExistsOnDisk(const std::wstring& name)
{
    const std::wstring shortName = ShortForm(name, true);
    return !shortName.empty() && FileStatusExists(shortName);
}

std::wstring StatusText(LONG status)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(status));
    return text;
}

}  // namespace

bool IsSkippedAccessMask(ULONG grantedAccess)
{
    return grantedAccess == 0x1A019F || grantedAccess == 0x120189 || grantedAccess == 0x100000;
}

void ScanHandles(CHandleScanParams& params)
{
    const CHandleTableSnapshot snapshot = CHandleTableSnapshot::Take(params.services.NtQuerySystemInformation);
    if (!snapshot.ok()) {
        params.failure = L"the system handle table could not be read (status " + StatusText(snapshot.status()) + L")";
        return;
    }
    params.stats.tableEntries = ULONG(snapshot.size());
    CHandleResolver resolver(params);
    std::wstring name;
    for (const CHandleEntry& entry : snapshot) {
        // The cheap tests come before any system call on the entry.
        if (entry.objectType != params.services.fileTypeNumber)
            continue;
        ++params.stats.fileHandles;
        if (IsSkippedAccessMask(entry.grantedAccess))
            continue;
        if (!resolver.Resolve(entry, name)) {
            if (!resolver.failure().empty()) {
                params.failure = resolver.failure();
                return;
            }
            continue;
        }
        if (params.services.objectNameMode && !ExistsOnDisk(name))
            continue;
        name = CanonicalName(params.target, name);
        if (!MatchesTarget(params.target, name))
            continue;
        params.locks->Append(
            {DWORD(entry.pid), DropLongPathPrefix(LongForm(name)), entry.handleValue, LockKind::Handle, entry.object});
    }
}

DWORD WINAPI HandleScanThread(void* param) { return RunScanThread<CHandleScanParams>(param, ScanHandles); }

}  // namespace tarnwick
