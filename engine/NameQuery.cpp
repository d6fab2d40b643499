#include "NameQuery.h"

#include <winternl.h>

#include <algorithm>
#include <cstring>

#include "Text.h"

namespace tarnwick {

namespace {

constexpr ULONG kObjectNameInformation = 1;
constexpr DWORD kFileNameOpened = 8;     // the name as the handle was opened, drive letter volume
constexpr DWORD kNameCapacity = 32768;   // the longest name the system hands out, in characters
constexpr DWORD kObjectInfoBytes = sizeof(UNICODE_STRING) + 65536;
constexpr DWORD kWorkerExitGraceMs = 100;

}  // namespace

// Shared by a CNameQueryWorker and its thread, which take turns through the two events. The
// thread writes only into this block, prepared before any request: it may be killed at any
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

namespace {

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

}  // namespace

CNameQueryWorker::CNameQueryWorker(const CSystemServices& services, const CDeviceMap& deviceMap,
                                   CNameQueryStats& stats)
    : services_(services), deviceMap_(deviceMap), stats_(stats)
{
}

CNameQueryWorker::~CNameQueryWorker() { RetireWorker(); }

bool CNameQueryWorker::NameOf(HANDLE handle, std::wstring& name)
{
    name.clear();
    Answer answer = Ask(handle, kNameQueryTimeoutMs);
    if (answer == Answer::TimedOut) {
        ++stats_.retried;
        answer = Ask(handle, kNameQueryRetryTimeoutMs);
        if (answer == Answer::TimedOut)
            ++stats_.givenUp;
    }
    if (answer != Answer::Named)
        return false;
    name.assign(query_->name, query_->nameLength);
    return ToComparableForm(name);
}

CNameQueryWorker::Answer CNameQueryWorker::Ask(HANDLE handle, DWORD timeoutMs)
{
    if (!EnsureWorker())
        return Answer::NoWorker;
    query_->handle = handle;
    ++stats_.namesQueried;
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
bool CNameQueryWorker::ToComparableForm(std::wstring& name) const
{
    if (query_->isObjectName && !DeviceFormToDriveForm(deviceMap_, name, name))
        return false;
    if (query_->isObjectName && !services_.objectNameMode)
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
