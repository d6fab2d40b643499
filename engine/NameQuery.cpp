#include "NameQuery.h"

#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "Text.h"

namespace tarnwick {

namespace {

constexpr ULONG kObjectNameInformation = 1;
constexpr DWORD kFileNameOpened = 8;    // the name as the handle was opened, drive letter volume
constexpr DWORD kNameCapacity = 32768;  // the longest name the system hands out, in characters
constexpr DWORD kObjectInfoBytes = sizeof(UNICODE_STRING) + 65536;
constexpr DWORD kWorkerExitGraceMs = 100;

LONGLONG Now()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

}  // namespace

// One handle of a batch and, once the worker has got it, its name.
struct CNameSlot {
    HANDLE handle;
    DWORD length;       // 0: no name (yet)
    bool isObjectName;  // the name is the object's (device form), not a final path
    wchar_t name[kNameCapacity];
};

// Shared by a CNameQueryWorker and its thread, which take turns through the two events. The
// thread writes only into this block and into the slots of the batch it was handed, all
// prepared before the request: it may be killed at any instant, and must never be holding
// a heap lock when that happens.
struct CNameQuery {
    UniqueHandle requestEvent = MakeAutoResetEvent();
    UniqueHandle answerEvent = MakeAutoResetEvent();
    bool quit = false;
    bool objectNameMode = false;
    NtQueryObjectFn NtQueryObject = nullptr;
    GetFinalPathNameByHandleWFn GetFinalPathNameByHandleW = nullptr;
    // The round asked for: slots [first, end).
    CNameSlot* slots = nullptr;
    std::size_t first = 0;
    std::size_t end = 0;
    // Published by the thread so that the scan can tell a slow batch from a stuck handle:
    // the slot being named and when its query began.
    std::atomic<std::size_t> current{0};
    std::atomic<LONGLONG> startedAt{0};
    // The query's own buffers. A thread that is killed inside a query may not be gone at
    // once, and the system may still write the answer here: never into a slot.
    DWORD nameLength = 0;
    bool isObjectName = false;
    wchar_t name[kNameCapacity];
    alignas(8) BYTE objectInfo[kObjectInfoBytes];
};

namespace {

bool QueryObjectName(CNameQuery& query, HANDLE handle)
{
    if (!query.NtQueryObject)
        return false;
    ULONG returned = 0;
    if (query.NtQueryObject(handle, kObjectNameInformation, query.objectInfo, kObjectInfoBytes, &returned) < 0)
        return false;
    const auto* info = reinterpret_cast<const UNICODE_STRING*>(query.objectInfo);
    if (info->Length == 0 || !info->Buffer)
        return false;
    const DWORD chars = std::min<DWORD>(info->Length / sizeof(wchar_t), kNameCapacity);
    std::memcpy(query.name, info->Buffer, chars * sizeof(wchar_t));
    query.nameLength = chars;
    return true;
}

bool QueryFinalPath(CNameQuery& query, HANDLE handle)
{
    if (!query.GetFinalPathNameByHandleW)
        return false;
    const DWORD written = query.GetFinalPathNameByHandleW(handle, query.name, kNameCapacity, kFileNameOpened);
    if (written == 0 || written >= kNameCapacity)
        return false;
    query.nameLength = written;
    return true;
}

// A final path where the system gives one; otherwise (Wine refuses names over 260
// characters) the object's own name, which the scan brings into drive form.
void QueryName(CNameQuery& query, HANDLE handle)
{
    query.nameLength = 0;
    query.isObjectName = false;
    if (!query.objectNameMode && QueryFinalPath(query, handle))
        return;
    query.isObjectName = QueryObjectName(query, handle);
}

// The length goes last: a slot whose copy was cut short by a kill reads as unnamed.
void StoreName(const CNameQuery& query, CNameSlot& slot)
{
    std::memcpy(slot.name, query.name, query.nameLength * sizeof(wchar_t));
    slot.isObjectName = query.isObjectName;
    slot.length = query.nameLength;
}

DWORD WINAPI NameQueryWorker(void* param)
{
    CNameQuery& query = *static_cast<CNameQuery*>(param);
    for (;;) {
        ::WaitForSingleObject(query.requestEvent.get(), INFINITE);
        if (query.quit)
            return 0;
        for (std::size_t i = query.first; i < query.end; ++i) {
            query.startedAt.store(Now());
            query.current.store(i);
            QueryName(query, query.slots[i].handle);
            StoreName(query, query.slots[i]);
        }
        ::SetEvent(query.answerEvent.get());
    }
}

LONGLONG TicksPerSecond()
{
    static const LONGLONG perSecond = [] {
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        return frequency.QuadPart;
    }();
    return perSecond;
}

// Whole milliseconds until ticks have passed, at least one.
DWORD MillisecondsFor(LONGLONG ticks)
{
    return DWORD(std::max<LONGLONG>(1, (ticks * 1000 + TicksPerSecond() - 1) / TicksPerSecond()));
}

LONGLONG TicksFor(DWORD milliseconds) { return LONGLONG(milliseconds) * TicksPerSecond() / 1000; }

}  // namespace

// Reserved for the longest names, but the system backs only the pages a name touches.
CNameBatch::CNameBatch(std::size_t capacity)
    : memory_(::VirtualAlloc(nullptr, capacity * sizeof(CNameSlot), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)),
      capacity_(memory_ ? capacity : 0)
{
}

void CNameBatch::Add(HANDLE handle)
{
    CNameSlot& added = slot(size_++);
    added.handle = handle;
    added.length = 0;
}

CNameSlot& CNameBatch::slot(std::size_t i) const { return static_cast<CNameSlot*>(memory_.get())[i]; }

CNameQueryWorker::CNameQueryWorker(const CSystemServices& services, const CDeviceMap& deviceMap, CNameQueryStats& stats)
    : services_(services), deviceMap_(deviceMap), stats_(stats)
{
}

CNameQueryWorker::~CNameQueryWorker() { RetireWorker(); }

bool CNameQueryWorker::NameOf(HANDLE handle, std::wstring& name)
{
    name.clear();
    if (!single_)
        single_ = std::make_unique<CNameBatch>(1);
    if (!single_->ok()) {
        failure_ = L"no memory for a name: " + SystemMessage(::GetLastError());
        return false;
    }
    single_->Clear();
    single_->Add(handle);
    if (!Start(*single_))
        return false;
    Complete(*single_);
    return NameAt(*single_, 0, name);
}

bool CNameQueryWorker::Start(CNameBatch& batch) { return batch.size() == 0 || Hand(batch, 0, batch.size()); }

void CNameQueryWorker::Complete(CNameBatch& batch)
{
    if (handed_ != &batch)
        return;  // empty, or no worker could take it
    for (std::size_t stuck; (stuck = Await()) < roundEnd_;) {
        GiveUp(batch, stuck);
        if (stuck + 1 == batch.size() || !Hand(batch, stuck + 1, batch.size()))
            break;
    }
    handed_ = nullptr;
}

bool CNameQueryWorker::NameAt(const CNameBatch& batch, std::size_t i, std::wstring& name) const
{
    const CNameSlot& slot = batch.slot(i);
    name.assign(slot.name, slot.length);
    return !name.empty() && ToComparableForm(name, slot.isObjectName);
}

void CNameQueryWorker::GiveUp(CNameBatch& batch, std::size_t i)
{
    KillWorker();
    ++stats_.givenUp;
    batch.slot(i).length = 0;  // it may have answered just as it was killed; it is given up all the same
}

bool CNameQueryWorker::Hand(CNameBatch& batch, std::size_t first, std::size_t end)
{
    handed_ = nullptr;
    if (!EnsureWorker())
        return false;
    query_->slots = &batch.slot(0);
    query_->first = first;
    query_->end = end;
    // The wait for the first handle counts from here, as the worker may be slow to wake.
    query_->startedAt.store(Now());
    query_->current.store(first);
    handed_ = &batch;
    roundFirst_ = first;
    roundEnd_ = end;
    ::SetEvent(query_->requestEvent.get());
    return true;
}

// The index of the round's handle that has not answered in both limits, or the round's end
// once the worker has named them all. Each wake-up looks at the handle being named now, so a
// long batch of quick handles is never taken for a stuck one. A handle past the first limit
// gets the retry's time on the same worker rather than a fresh one: killing a thread that
// is still working inside the system can leave a lock of the process held, and every later
// query, or the whole program, waits on it for ever.
std::size_t CNameQueryWorker::Await()
{
    const HANDLE answer = query_->answerEvent.get();
    const LONGLONG firstTry = TicksFor(services_.nameQueryLimits.firstTryMs);
    const LONGLONG lastTry = firstTry + TicksFor(services_.nameQueryLimits.retryMs);
    std::size_t late = roundEnd_;  // the handle last counted as retried
    for (;;) {
        const std::size_t current = query_->current.load();
        const LONGLONG waited = Now() - query_->startedAt.load();
        if (waited >= firstTry && current != late) {
            ++stats_.retried;
            late = current;
        }
        const LONGLONG limit = waited >= firstTry ? lastTry : firstTry;
        const DWORD wait = waited >= limit ? 0 : MillisecondsFor(limit - waited);
        if (::WaitForSingleObject(answer, wait) == WAIT_OBJECT_0) {
            stats_.namesQueried += ULONG(roundEnd_ - roundFirst_);
            return roundEnd_;
        }
        if (wait == 0 && query_->current.load() == current) {
            stats_.namesQueried += ULONG(current + 1 - roundFirst_);
            return current;
        }
    }
}

// Final paths come with the long-path prefix, which the target's forms carry too; object
// names are in device form and go through the device map. In object-name mode neither
// side has the prefix.
bool CNameQueryWorker::ToComparableForm(std::wstring& name, bool isObjectName) const
{
    if (isObjectName && !DeviceFormToDriveForm(deviceMap_, name, name))
        return false;
    if (isObjectName && !services_.objectNameMode)
        name = WithLongPathPrefix(name);
    return !name.empty();
}

bool CNameQueryWorker::EnsureWorker()
{
    if (worker_)
        return true;
    auto query = std::make_unique<CNameQuery>();
    if (!query->requestEvent || !query->answerEvent) {
        failure_ = L"the name-query events could not be created: " + SystemMessage(::GetLastError());
        return false;
    }
    query->objectNameMode = services_.objectNameMode;
    query->NtQueryObject = services_.NtQueryObject;
    query->GetFinalPathNameByHandleW = services_.GetFinalPathNameByHandleW;
    worker_.reset(::CreateThread(nullptr, 0, NameQueryWorker, query.get(), 0, nullptr));
    if (!worker_) {
        failure_ = L"the name-query thread could not be started: " + SystemMessage(::GetLastError());
        return false;
    }
    query_ = std::move(query);
    ++stats_.workersStarted;
    return true;
}

void CNameQueryWorker::KillWorker()
{
    ++stats_.timeouts;
    ::TerminateThread(worker_.get(), 1);
    ForgetWorker();
}

// Lets a parked worker end of its own accord rather than leaving it waiting forever.
void CNameQueryWorker::RetireWorker()
{
    if (!worker_)
        return;
    query_->quit = true;
    ::SetEvent(query_->requestEvent.get());
    ForgetWorker();
}

void CNameQueryWorker::ForgetWorker()
{
    // The block may be freed only once the thread is gone; one that will not go keeps it.
    if (::WaitForSingleObject(worker_.get(), kWorkerExitGraceMs) != WAIT_OBJECT_0)
        (void)query_.release();
    query_.reset();
    worker_.reset();
}

}  // namespace tarnwick
