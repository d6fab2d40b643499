#include "HandleScan.h"

#include <algorithm>
#include <cstdio>

#include "HandleTable.h"
#include "ScanThread.h"
#include "Text.h"

namespace tarnwick {

namespace {

// How many handles are duplicated before they go to the worker together: enough that the
// hand-off costs little beside the names, few enough that the worker starts early.
constexpr std::size_t kNameBatchSize = 256;

// One batch of file handles: where each came from, this process's copy of it, its name.
struct CHandleBatch {
    CNameBatch names{kNameBatchSize};
    std::vector<CHandleEntry> entries;
    std::vector<UniqueHandle> copies;

    void Clear()  // closes the copies
    {
        names.Clear();
        entries.clear();
        copies.clear();
    }
};

// Names the file handles of one run in batches, opening each owner process once. While the
// worker names one batch, this thread duplicates the next and reports and closes the one
// before, so that two cores share the work.
class CBatchedResolver {
public:
    explicit CBatchedResolver(CHandleScanParams& params)
        : params_(params), worker_(params.services, params.target->drives.devices, params.stats)
    {
    }
    bool ok() const { return batches_[0].names.ok() && batches_[1].names.ok(); }

    // Takes one file handle; false when the scan cannot go on (failure() says why).
    bool Add(const CHandleEntry& entry);
    // Names and reports the handles still in hand.
    bool Finish();
    // Lets the worker finish the batch it has, reporting nothing more: the scan is to stop.
    void Abandon();
    const std::wstring& failure() const { return worker_.failure(); }

private:
    bool HandOver();
    void Report(CHandleBatch& batch);
    HANDLE OwnerProcess(DWORD pid);

    CHandleScanParams& params_;
    CMap<DWORD, UniqueHandle> processes_ = MakeIdMap<CMap<DWORD, UniqueHandle>>();
    CNameQueryWorker worker_;
    CHandleBatch batches_[2];
    CHandleBatch* filling_ = &batches_[0];
    CHandleBatch* naming_ = nullptr;  // the batch the worker has, once one is handed over
    std::wstring name_;
};

bool CBatchedResolver::Add(const CHandleEntry& entry)
{
    const HANDLE owner = OwnerProcess(DWORD(entry.pid));
    UniqueHandle copy;
    if (!owner ||
        !::DuplicateHandle(owner, reinterpret_cast<HANDLE>(entry.handleValue), ::GetCurrentProcess(), copy.put(), 0,
                           FALSE, DUPLICATE_SAME_ACCESS) ||
        !copy)
        return true;
    filling_->names.Add(copy.get());
    filling_->copies.push_back(std::move(copy));
    filling_->entries.push_back(entry);
    return !filling_->names.full() || HandOver();
}

bool CBatchedResolver::Finish()
{
    if (!HandOver())
        return false;
    worker_.Complete(naming_->names);
    if (!failure().empty())
        return false;
    Report(*naming_);
    return true;
}

void CBatchedResolver::Abandon()
{
    if (naming_)
        worker_.Complete(naming_->names);
}

// The batch being named is waited for, the filled one goes to the worker, and only then is
// the named one reported, while the worker is busy.
bool CBatchedResolver::HandOver()
{
    if (naming_)
        worker_.Complete(naming_->names);
    if (!failure().empty() || !worker_.Start(filling_->names))
        return false;
    CHandleBatch* named = naming_;
    naming_ = filling_;
    filling_ = naming_ == &batches_[0] ? &batches_[1] : &batches_[0];
    if (named)
        Report(*named);
    return true;
}

void CBatchedResolver::Report(CHandleBatch& batch)
{
    for (std::size_t i = 0; i < batch.entries.size(); ++i) {
        if (worker_.NameAt(batch.names, i, name_))
            ReportIfMatching(params_, batch.entries[i], name_);
    }
    batch.Clear();
}

HANDLE CBatchedResolver::OwnerProcess(DWORD pid)
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

void ReportIfMatching(CHandleScanParams& params, const CHandleEntry& entry, const std::wstring& name)
{
    if (params.services.objectNameMode && !ExistsOnDisk(name))
        return;
    const CDriveAliases& aliases = params.target->drives.aliases;
    if (MatchesTarget(params.target->forms, ComparableName(aliases, name)))
        params.locks->Append(
            {DWORD(entry.pid), RowPathOf(aliases, name), entry.handleValue, LockKind::Handle, entry.object});
}

void ScanHandles(CHandleScanParams& params)
{
    const CHandleTableSnapshot snapshot = CHandleTableSnapshot::Take(params.services.NtQuerySystemInformation);
    if (!snapshot.ok()) {
        params.failure = L"the system handle table could not be read (status " + StatusText(snapshot.status()) + L")";
        return;
    }
    params.stats.tableEntries = ULONG(snapshot.size());
    CScanProgress& progress = params.Progress();
    progress.fileHandles = ULONG(std::count_if(snapshot.begin(), snapshot.end(), [&](const CHandleEntry& entry) {
        return entry.objectType == params.services.fileTypeNumber;
    }));
    CBatchedResolver resolver(params);
    if (!resolver.ok()) {
        params.failure = L"no memory for the handles' names: " + SystemMessage(::GetLastError());
        return;
    }
    for (const CHandleEntry& entry : snapshot) {
        // The cheap tests come before any system call on the entry.
        if (entry.objectType != params.services.fileTypeNumber)
            continue;
        if (progress.cancelled()) {
            resolver.Abandon();
            return;
        }
        ++params.stats.fileHandles;
        ++progress.handlesDone;
        if (IsSkippedAccessMask(entry.grantedAccess))
            continue;
        if (!resolver.Add(entry)) {
            params.failure = resolver.failure();
            return;
        }
    }
    if (!resolver.Finish())
        params.failure = resolver.failure();
}

DWORD WINAPI HandleScanThread(void* param) { return RunScanThread<CHandleScanParams>(param, ScanHandles); }

}  // namespace tarnwick
