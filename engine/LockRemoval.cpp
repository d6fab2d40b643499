#include "LockRemoval.h"

#include <algorithm>

#include "ProcessInfo.h"
#include "ScopedHandle.h"
#include "Text.h"

namespace tarnwick {

namespace {

constexpr ULONG kProcessBreakOnTermination = 29;
constexpr DWORD kSystemPid = 4;
constexpr UINT kEndedExitCode = 1;  // a parent reading 0 would take the end for a success
constexpr DWORD kImageNameCapacity = 32768;

// The processes Windows cannot run without, wherever they are started from the system folder.
constexpr const wchar_t* kCoreProcesses[] = {L"csrss.exe",    L"smss.exe",     L"wininit.exe",
                                             L"winlogon.exe", L"services.exe", L"lsass.exe"};

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

// A copy of the owner's handle; the owner's stays open unless options say to close it.
UniqueHandle CopyOf(HANDLE owner, const CLockItem& row, DWORD options = 0)
{
    UniqueHandle copy;
    if (!::DuplicateHandle(owner, reinterpret_cast<HANDLE>(ULONG_PTR(row.value)), ::GetCurrentProcess(), copy.put(), 0,
                           FALSE, options | DUPLICATE_SAME_ACCESS))
        copy.release();
    return copy;
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

private:
    NtProcessControlFn resume_;
    UniqueHandle process_;
};

}  // namespace

CHandleCloser::CHandleCloser(const CSystemServices& services, const CDriveTable& drives)
    : services_(services), drives_(drives), worker_(services, drives.devices, stats_)
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
    for (std::size_t i : handles)
        results[i] = !owner ? unopened : IsRowObject(*rows[i]) ? UnlockResult::Closed : UnlockResult::Changed;
    if (!owner)
        return results;
    CloseIfStillNamed(owner.get(), rows, results);
    // The system may accept the close of a handle protected from closing, or refuse it: the
    // handle tells which way it went.
    for (std::size_t i : handles) {
        if (results[i] != UnlockResult::Closed)
            continue;
        const UniqueHandle after = CopyOf(owner.get(), *rows[i]);
        if (after && NamesRowFile(after.get(), *rows[i]))
            results[i] = UnlockResult::Survived;
    }
    return results;
}

// Closes each handle still marked Closed while it still names its row's file, and marks the
// others Changed. A running owner could close a value and open another file under it between
// the name check and the close, so it is held still from the first check to the last close;
// where it cannot be (a critical process), each close follows its check with no other call
// in between.
void CHandleCloser::CloseIfStillNamed(HANDLE owner, const std::vector<const CLockItem*>& rows,
                                      std::vector<UnlockResult>& results)
{
    const CHeldStill still(services_, owner, rows.front()->pid);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (results[i] != UnlockResult::Closed)
            continue;
        const UniqueHandle copy = CopyOf(owner, *rows[i]);
        if (!copy || !NamesRowFile(copy.get(), *rows[i]) || !ClosedRowFile(owner, *rows[i]))
            results[i] = UnlockResult::Changed;
    }
}

// Closes the owner's handle; true when what was closed is the row's file. The system closes the
// source whatever else fails, but not a value that names no handle any more. And a value can
// change under the close itself where the system closes it by running code inside the owner
// (Wine): a handle the owner was closing on its own may be gone, and one of the system's own
// may take its value; the copy the close hands back tells what was closed.
bool CHandleCloser::ClosedRowFile(HANDLE owner, const CLockItem& row)
{
    const UniqueHandle closed = CopyOf(owner, row, DUPLICATE_CLOSE_SOURCE);
    if (!closed)
        return ::GetLastError() != ERROR_INVALID_HANDLE;
    return NamesRowFile(closed.get(), row);
}

// Named through the scan's own worker and written as the scan writes a row's path.
bool CHandleCloser::NamesRowFile(HANDLE copy, const CLockItem& row)
{
    std::wstring name;
    if (!worker_.NameOf(copy, name))
        return false;
    return EqualsNoCase(RowPathOf(drives_.aliases, name), row.lockPath);
}

// The table is read once per command: reading it for every row would make a command on a
// thousand rows take many seconds. Changes after it are for the name check to find.
bool CHandleCloser::IsRowObject(const CLockItem& row)
{
    if (row.object == 0)
        return true;  // the system hides objects, so there is nothing to compare
    if (!table_)
        table_ = CHandleTableSnapshot::Take(services_.NtQuerySystemInformation);
    return std::any_of(table_->begin(), table_->end(), [&](const CHandleEntry& entry) {
        return entry.pid == row.pid && entry.handleValue == row.value && entry.object == row.object;
    });
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
