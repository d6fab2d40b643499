#include "HandleScan.h"

#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "HandleTable.h"
#include "ScanThread.h"
#include "Text.h"

namespace tarnwick {

namespace {

constexpr ULONG kObjectNameInformation = 1;
constexpr DWORD kFileNameOpened = 8;     // the name as the handle was opened, drive letter volume
constexpr DWORD kNameCapacity = 32768;   // the longest name the system hands out, in characters
constexpr DWORD kObjectInfoBytes = sizeof(UNICODE_STRING) + 65536;
constexpr DWORD kWorkerExitGraceMs = 100;

// Shared by the scan and one worker, which take turns through the two events. The worker
// writes only into this block, prepared before any request: it may be killed at any
// instant after the time-out, and must never be holding a heap lock when that happens.
struct CNameQuery {
    UniqueHandle requestEvent = MakeAutoResetEvent();
    UniqueHandle answerEvent = MakeAutoResetEvent();
    HANDLE handle = nullptr;
    bool quit = false;
    bool objectNameMode = false;
    NtQueryObjectFn NtQueryObject = nullptr;
    GetFinalPathNameByHandleWFn GetFinalPathNameByHandleW = nullptr;
    DWORD nameLength = 0;
    bool isObjectName = false;  // the name is the object's (device form), not a final path
    wchar_t name[kNameCapacity];
    alignas(8) BYTE objectInfo[kObjectInfoBytes];
};

bool QueryObjectName(CNameQuery& query)
{
    if (!query.NtQueryObject)
        return false;
    ULONG returned = 0;
    if (query.NtQueryObject(query.handle, kObjectNameInformation, query.objectInfo, kObjectInfoBytes, &returned) < 0)
        return false;
    const auto* info = reinterpret_cast<const UNICODE_STRING*>(query.objectInfo);
    if (info->Length == 0 || !info->Buffer)
        return false;
    const DWORD chars = std::min<DWORD>(info->Length / sizeof(wchar_t), kNameCapacity);
    std::memcpy(query.name, info->Buffer, chars * sizeof(wchar_t));
    query.nameLength = chars;
    return true;
}

bool QueryFinalPath(CNameQuery& query)
{
    if (!query.GetFinalPathNameByHandleW)
        return false;
    const DWORD written = query.GetFinalPathNameByHandleW(query.handle, query.name, kNameCapacity, kFileNameOpened);
    if (written == 0 || written >= kNameCapacity)
        return false;
    query.nameLength = written;
    return true;
}

// A final path where the system gives one; otherwise (Wine refuses names over 260
// characters) the object's own name, which the scan brings into drive form.
void QueryName(CNameQuery& query)
{
    query.nameLength = 0;
    query.isObjectName = false;
    if (!query.objectNameMode && QueryFinalPath(query))
        return;
    query.isObjectName = QueryObjectName(query);
}

DWORD WINAPI NameQueryWorker(void* param)
{
    CNameQuery& query = *static_cast<CNameQuery*>(param);
    for (;;) {
        ::WaitForSingleObject(query.requestEvent.get(), INFINITE);
        if (query.quit)
            return 0;
        QueryName(query);
        ::SetEvent(query.answerEvent.get());
    }
}

enum class Answer { Named, TimedOut, NoWorker };

// Names one handle at a time for one run of the scan: opens each owner process once,
// and keeps one worker, replaced by a fresh one (with fresh events, so a late answer of
// the old one can never pass for the next handle's) whenever a query does not answer.
class CHandleResolver {
public:
    explicit CHandleResolver(CHandleScanParams& params) : params_(params) {}
    ~CHandleResolver() { RetireWorker(); }
    CHandleResolver(const CHandleResolver&) = delete;
    CHandleResolver& operator=(const CHandleResolver&) = delete;

    // True when name now holds the handle's name, in the form the target is compared in.
    bool Resolve(const CHandleEntry& entry, std::wstring& name);

private:
    HANDLE OwnerProcess(DWORD pid);
    bool NameOf(HANDLE handle, std::wstring& name);
    Answer Ask(HANDLE handle, DWORD timeoutMs);
    bool ToComparableForm(std::wstring& name) const;
    bool EnsureWorker();
    void KillWorker();
    void RetireWorker();
    void ForgetWorker();

    CHandleScanParams& params_;
    CMap<DWORD, UniqueHandle> processes_ = MakeIdMap<CMap<DWORD, UniqueHandle>>();
    std::unique_ptr<CNameQuery> query_;
    UniqueHandle worker_;
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
    return NameOf(duplicate.get(), name);
}

bool CHandleResolver::NameOf(HANDLE handle, std::wstring& name)
{
    Answer answer = Ask(handle, kNameQueryTimeoutMs);
    if (answer == Answer::TimedOut) {
        ++params_.stats.retried;
        answer = Ask(handle, kNameQueryRetryTimeoutMs);
        if (answer == Answer::TimedOut)
            ++params_.stats.givenUp;
    }
    if (answer != Answer::Named)
        return false;
    name.assign(query_->name, query_->nameLength);
    return ToComparableForm(name);
}

Answer CHandleResolver::Ask(HANDLE handle, DWORD timeoutMs)
{
    if (!EnsureWorker())
        return Answer::NoWorker;
    query_->handle = handle;
    ++params_.stats.namesQueried;
    ::SetEvent(query_->requestEvent.get());
    if (::WaitForSingleObject(query_->answerEvent.get(), timeoutMs) != WAIT_OBJECT_0) {
        KillWorker();
        return Answer::TimedOut;
    }
    return Answer::Named;
}

// Final paths come with the long-path prefix, which the target's forms carry too; object
// names are in device form and go through the device map. In object-name mode neither
// side has the prefix.
bool CHandleResolver::ToComparableForm(std::wstring& name) const
{
    if (query_->isObjectName && !(params_.deviceMap && DeviceFormToDriveForm(*params_.deviceMap, name, name)))
        return false;
    if (query_->isObjectName && !params_.services.objectNameMode)
        name = WithLongPathPrefix(name);
    return true;
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

bool CHandleResolver::EnsureWorker()
{
    if (worker_)
        return true;
    auto query = std::make_unique<CNameQuery>();
    if (!query->requestEvent || !query->answerEvent) {
        params_.failure = L"the name-query events could not be created: " + SystemMessage(::GetLastError());
        return false;
    }
    query->objectNameMode = params_.services.objectNameMode;
    query->NtQueryObject = params_.services.NtQueryObject;
    query->GetFinalPathNameByHandleW = params_.services.GetFinalPathNameByHandleW;
    worker_.reset(::CreateThread(nullptr, 0, NameQueryWorker, query.get(), 0, nullptr));
    if (!worker_) {
        params_.failure = L"the name-query thread could not be started: " + SystemMessage(::GetLastError());
        return false;
    }
    query_ = std::move(query);
    ++params_.stats.workersStarted;
    return true;
}

void CHandleResolver::KillWorker()
{
    ++params_.stats.timeouts;
    ::TerminateThread(worker_.get(), 1);
    ForgetWorker();
}

// Lets a parked worker end of its own accord rather than leaving it waiting forever.
void CHandleResolver::RetireWorker()
{
    if (!worker_)
        return;
    query_->quit = true;
    ::SetEvent(query_->requestEvent.get());
    ForgetWorker();
}

void CHandleResolver::ForgetWorker()
{
    // The block may be freed only once the thread is gone; one that will not go keeps it.
    if (::WaitForSingleObject(worker_.get(), kWorkerExitGraceMs) != WAIT_OBJECT_0)
        (void)query_.release();
    query_.reset();
    worker_.reset();
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
        if (!resolver.Resolve(entry, name) || name.empty()) {
            if (!params.failure.empty())
                return;
            continue;
        }
        if (params.services.objectNameMode && !ExistsOnDisk(name))
            continue;
        name = CanonicalName(params.target, name);
        if (!MatchesTarget(params.target, name))
            continue;
        params.locks->Append(
            {DWORD(entry.pid), DropLongPathPrefix(LongForm(name)), entry.handleValue, LockKind::Handle});
    }
}

DWORD WINAPI HandleScanThread(void* param) { return RunScanThread<CHandleScanParams>(param, ScanHandles); }

}  // namespace tarnwick
