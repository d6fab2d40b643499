#include "LockRemoval.h"

#include <algorithm>
#include <iterator>

#include "ProcessInfo.h"
#include "ProcessPool.h"
#include "ScopedHandle.h"
#include "Text.h"

namespace tarnwick {

namespace {

constexpr ULONG kProcessBreakOnTermination = 29;
constexpr DWORD kSystemPid = 4;
constexpr UINT kEndedExitCode = 1;  // a parent reading 0 would take the end for a success
constexpr DWORD kImageNameCapacity = 32768;
// Handles checked and closed together: as many as the scan names in one go.
constexpr std::size_t kCloseBatch = 256;

// The processes Windows cannot run without, wherever they are started from the system folder.
constexpr const wchar_t* kCoreProcesses[] = {L"csrss.exe",    L"smss.exe",     L"wininit.exe",
                                             L"winlogon.exe", L"services.exe", L"lsass.exe"};

}  // namespace

// The row's process with the rights asked for, or nothing when it cannot be opened or is not
// the process the scan saw: a process id is handed out again once its process has gone. The
// handle keeps the process, and so its id, from going while it is held.
UniqueHandle OpenRowProcess(const CLockItem& row, DWORD access, bool& otherProcess)
{
    otherProcess = false;
    UniqueHandle process(::OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, row.pid));
    if (!process)  // version 5 systems know only the full query right
        process.reset(::OpenProcess(access | PROCESS_QUERY_INFORMATION, FALSE, row.pid));
    if (process && (row.processCreated == 0 || ProcessCreationTime(process.get()) != row.processCreated)) {
        otherProcess = true;
        process.reset();
    }
    return process;
}

namespace {

// A copy of the owner's handle; the owner's stays open unless options say to close it.
UniqueHandle CopyOf(HANDLE owner, const CLockItem& row, DWORD options = 0)
{
    UniqueHandle copy;
    if (!::DuplicateHandle(owner, reinterpret_cast<HANDLE>(ULONG_PTR(row.value)), ::GetCurrentProcess(), copy.put(), 0,
                           FALSE, options | DUPLICATE_SAME_ACCESS))
        copy.release();
    return copy;
}

std::vector<UniqueHandle> CopiesOf(HANDLE owner, const std::vector<const CLockItem*>& rows,
                                   const std::vector<std::size_t>& indices)
{
    std::vector<UniqueHandle> copies;
    for (std::size_t i : indices)
        copies.push_back(CopyOf(owner, *rows[i]));
    return copies;
}

// The indices in runs of at most size, in order.
std::vector<std::vector<std::size_t>> Split(const std::vector<std::size_t>& indices, std::size_t size)
{
    std::vector<std::vector<std::size_t>> runs;
    for (std::size_t first = 0; first < indices.size(); first += size) {
        const auto begin = indices.begin() + first;
        runs.emplace_back(begin, begin + std::min(size, indices.size() - first));
    }
    return runs;
}

// Whether the row's handle value still holds the kernel object the scan saw; true where the
// system hides objects.
bool IsRowObject(const CLockItem& row, const std::unordered_map<ULONG_PTR, ULONG_PTR>& objects)
{
    if (row.object == 0)
        return true;
    const auto found = objects.find(ULONG_PTR(row.value));
    return found != objects.end() && found->second == row.object;
}

std::wstring ImagePathOf(HANDLE process)
{
    std::wstring path(kImageNameCapacity, L'\0');
    DWORD length = kImageNameCapacity;
    if (!::QueryFullProcessImageNameW(process, 0, path.data(), &length))
        return {};
    path.resize(length);
    return path;
}

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

bool IsCoreProcessImage(const std::wstring& imagePath)
{
    const std::size_t slash = imagePath.find_last_of(L'\\');
    if (slash == std::wstring::npos || !EqualsNoCase(imagePath.substr(0, slash), SystemFolder()))
        return false;
    const std::wstring name = imagePath.substr(slash + 1);
    return std::any_of(std::begin(kCoreProcesses), std::end(kCoreProcesses),
                       [&](const wchar_t* core) { return EqualsNoCase(name, core); });
}

bool BreaksOnTermination(const CSystemServices& services, HANDLE process)
{
    ULONG critical = 0;
    return services.NtQueryInformationProcess &&
           services.NtQueryInformationProcess(process, kProcessBreakOnTermination, &critical, sizeof critical,
                                              nullptr) >= 0 &&
           critical != 0;
}

bool IsCritical(const CSystemServices& services, HANDLE process, DWORD pid)
{
    return pid == kSystemPid || BreaksOnTermination(services, process) || IsCoreProcessImage(ImagePathOf(process));
}

// Keeps a process from running while this lives. Not ourselves, and not a process the
// system cannot do without: it may serve what this thread needs meanwhile (thread creation).
class CHeldStill {
public:
    CHeldStill(const CSystemServices& services, HANDLE owner, DWORD pid) : resume_(services.NtResumeProcess)
    {
        if (!services.NtSuspendProcess || !resume_ || pid == ::GetCurrentProcessId() ||
            IsCritical(services, owner, pid))
            return;
        process_.reset(::OpenProcess(PROCESS_SUSPEND_RESUME, FALSE, pid));
        if (process_ && services.NtSuspendProcess(process_.get()) < 0)
            process_.reset();
    }
    ~CHeldStill()
    {
        if (process_)
            resume_(process_.get());
    }
    CHeldStill(const CHeldStill&) = delete;
    CHeldStill& operator=(const CHeldStill&) = delete;
    bool held() const { return bool(process_); }

private:
    NtProcessControlFn resume_;
    UniqueHandle process_;
};

}  // namespace

CHandleCloser::CHandleCloser(const CSystemServices& services, const CDriveTable& drives)
    : services_(services), drives_(drives), worker_(services, drives.devices, stats_), names_(kCloseBatch)
{
}

std::vector<UnlockResult> CHandleCloser::CloseOwnerRows(const std::vector<const CLockItem*>& rows)
{
    std::vector<UnlockResult> results(rows.size(), UnlockResult::NotAHandle);
    std::vector<std::size_t> handles;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i]->kind == LockKind::Handle)
            handles.push_back(i);
    }
    if (handles.empty())
        return results;
    bool otherProcess = false;
    const UniqueHandle owner = OpenRowProcess(*rows[handles[0]], PROCESS_DUP_HANDLE, otherProcess);
    const UnlockResult unopened = otherProcess ? UnlockResult::OtherProcess : UnlockResult::NotOpened;
    const std::unordered_map<ULONG_PTR, ULONG_PTR> objects = ObjectsAtStart(rows, handles);
    std::vector<std::size_t> candidates;
    for (std::size_t i : handles) {
        results[i] = !owner ? unopened : IsRowObject(*rows[i], objects) ? UnlockResult::Closed : UnlockResult::Changed;
        if (results[i] == UnlockResult::Closed)
            candidates.push_back(i);
    }
    if (!owner)
        return results;
    CloseWhileStillNamed(owner.get(), rows, candidates, results);
    MarkSurvivors(owner.get(), rows, candidates, results);
    return results;
}

// A running owner could close a value and open another file under it between the name check
// and the close, so it is held still from the first check to the last close. Holding still
// stops only the owner's own threads (another program may still close or hand it handles), so
// its handles are named a batch at a time and each batch closed as soon as it is named: no
// check is older than the naming of one batch of this owner when its handle is closed. Where
// the owner cannot be held still (a critical process), a batch is one handle and each close
// follows its own check.
void CHandleCloser::CloseWhileStillNamed(HANDLE owner, const std::vector<const CLockItem*>& rows,
                                         const std::vector<std::size_t>& candidates, std::vector<UnlockResult>& results)
{
    const CHeldStill still(services_, owner, rows.front()->pid);
    CClosedCopies unconfirmed;
    for (const std::vector<std::size_t>& batch : Split(candidates, still.held() ? kCloseBatch : 1)) {
        const std::vector<UniqueHandle> copies = CopiesOf(owner, rows, batch);
        CloseNamed(owner, rows, batch, copies, NameRowFiles(copies, rows, batch), results, unconfirmed);
    }
    // Closes that handed back another object than the one named (or where the system cannot
    // tell) count only when what came back names the row's file.
    const std::vector<bool> confirmed = NameRowFiles(unconfirmed.copies, rows, unconfirmed.rows);
    for (std::size_t k = 0; k < confirmed.size(); ++k) {
        if (!confirmed[k])
            results[unconfirmed.rows[k]] = UnlockResult::Changed;
    }
}

// Closes the batch's handles whose copies named their rows' files and marks the others Changed.
// A close counts only when what it closed is the row's file: the system closes the source
// whatever else fails, but not a value that names no handle any more. And a value can change
// under the close itself where the system closes it by running code inside the owner (Wine): a
// handle the owner was closing on its own may be gone, and one of the system's own may take its
// value. The copy the close hands back tells what was closed: the object that was named, or else
// a copy kept in unconfirmed to be named. The closes go out from the pool's threads side by side:
// where the owner runs each close itself, it answers them one after another without waiting for
// this thread between them.
void CHandleCloser::CloseNamed(HANDLE owner, const std::vector<const CLockItem*>& rows,
                               const std::vector<std::size_t>& batch, const std::vector<UniqueHandle>& copies,
                               const std::vector<bool>& named, std::vector<UnlockResult>& results,
                               CClosedCopies& unconfirmed)
{
    std::vector<UniqueHandle> handedBack(batch.size());
    RunOnPool(batch.size(), DefaultPoolThreads(), [&](unsigned, std::size_t k) {
        const std::size_t i = batch[k];
        if (!named[k]) {
            results[i] = UnlockResult::Changed;
            return;
        }
        UniqueHandle closed = CopyOf(owner, *rows[i], DUPLICATE_CLOSE_SOURCE);
        if (!closed) {
            if (::GetLastError() == ERROR_INVALID_HANDLE)
                results[i] = UnlockResult::Changed;
        } else if (!SameObject(closed.get(), copies[k].get())) {
            handedBack[k] = std::move(closed);
        }
    });
    for (std::size_t k = 0; k < batch.size(); ++k) {
        if (handedBack[k]) {
            unconfirmed.rows.push_back(batch[k]);
            unconfirmed.copies.push_back(std::move(handedBack[k]));
        }
    }
}

bool CHandleCloser::SameObject(HANDLE a, HANDLE b) const
{
    return services_.NtCompareObjects && services_.NtCompareObjects(a, b) == 0;
}

// The system may accept the close of a handle protected from closing, or refuse it, and the owner
// may have opened the file again under the same value once it runs again: the handle tells. One
// read of the table first: a value gone from the owner's table was closed for good, and only the
// others are copied and named.
void CHandleCloser::MarkSurvivors(HANDLE owner, const std::vector<const CLockItem*>& rows,
                                  const std::vector<std::size_t>& candidates, std::vector<UnlockResult>& results)
{
    std::vector<std::size_t> closed;
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(closed),
                 [&](std::size_t i) { return results[i] == UnlockResult::Closed; });
    if (closed.empty())
        return;
    const CHandleTableSnapshot table = CHandleTableSnapshot::Take(services_.NtQuerySystemInformation);
    const std::unordered_map<ULONG_PTR, ULONG_PTR> objects = table.ObjectsOf(rows[closed[0]]->pid);
    std::vector<std::size_t> open;
    std::copy_if(closed.begin(), closed.end(), std::back_inserter(open),
                 [&](std::size_t i) { return !table.ok() || objects.count(ULONG_PTR(rows[i]->value)); });
    const std::vector<bool> named = NameRowFiles(CopiesOf(owner, rows, open), rows, open);
    for (std::size_t k = 0; k < open.size(); ++k) {
        if (!named[k])
            continue;
        const auto now = objects.find(ULONG_PTR(rows[open[k]]->value));
        results[open[k]] = SurvivingHandleResult(rows[open[k]]->object, now == objects.end() ? 0 : now->second);
    }
}

// Whether each handle names its row's file (indices[k] is handle k's row): named through the scan's
// own worker a batch at a time and written as the scan writes a row's path. False for a handle
// that is not there, and wherever no worker could name them.
std::vector<bool> CHandleCloser::NameRowFiles(const std::vector<UniqueHandle>& handles,
                                              const std::vector<const CLockItem*>& rows,
                                              const std::vector<std::size_t>& indices)
{
    std::vector<bool> named(handles.size(), false);
    std::vector<std::size_t> present;
    for (std::size_t k = 0; k < handles.size(); ++k) {
        if (handles[k])
            present.push_back(k);
    }
    for (const std::vector<std::size_t>& batch : Split(present, kCloseBatch)) {
        if (!NameBatch(handles, batch))
            continue;
        std::wstring name;
        for (std::size_t n = 0; n < batch.size(); ++n) {
            named[batch[n]] = worker_.NameAt(names_, n, name) &&
                              EqualsNoCase(RowPathOf(drives_.aliases, name), rows[indices[batch[n]]]->lockPath);
        }
    }
    return named;
}

// Names the chosen handles; false when no worker could take them.
bool CHandleCloser::NameBatch(const std::vector<UniqueHandle>& handles, const std::vector<std::size_t>& batch)
{
    if (!names_.ok())
        return false;
    names_.Clear();
    for (std::size_t k : batch)
        names_.Add(handles[k].get());
    if (!worker_.Start(names_))
        return false;
    worker_.Complete(names_);
    return true;
}

// The kernel objects under the owner's handle values, where the system shows objects. The table
// is read once per command: reading it for every row would make a command on a thousand rows
// take many seconds. Changes after it are for the name check to find.
std::unordered_map<ULONG_PTR, ULONG_PTR> CHandleCloser::ObjectsAtStart(const std::vector<const CLockItem*>& rows,
                                                                       const std::vector<std::size_t>& handles)
{
    if (std::none_of(handles.begin(), handles.end(), [&](std::size_t i) { return rows[i]->object != 0; }))
        return {};  // the system hides objects, so there is nothing to compare
    if (!table_)
        table_ = CHandleTableSnapshot::Take(services_.NtQuerySystemInformation);
    return table_->ObjectsOf(rows[handles[0]]->pid);
}

UnlockResult SurvivingHandleResult(uint64_t objectAtScan, uint64_t objectNow)
{
    if (objectAtScan == 0 || objectNow == 0)
        return UnlockResult::SurvivedOrReopened;
    return objectAtScan == objectNow ? UnlockResult::Survived : UnlockResult::Reopened;
}

EndResult TerminateOwner(const CLockItem& row)
{
    bool otherProcess = false;
    const UniqueHandle process = OpenRowProcess(row, PROCESS_TERMINATE, otherProcess);
    if (!process)
        return otherProcess ? EndResult::OtherProcess : EndResult::NotOpened;
    return ::TerminateProcess(process.get(), kEndedExitCode) ? EndResult::Ended : EndResult::NotOpened;
}

bool IsCriticalOwner(const CSystemServices& services, const CLockItem& row)
{
    bool otherProcess = false;
    const UniqueHandle process = OpenRowProcess(row, 0, otherProcess);
    return process && IsCritical(services, process.get(), row.pid);
}

std::wstring CriticalProcessWarning(const CLockItem& row)
{
    return L"\"" + row.processName + L"\" (PID " + std::to_wstring(row.pid) +
           L") is a critical part of Windows: ending it stops Windows at once.";
}

}  // namespace tarnwick
