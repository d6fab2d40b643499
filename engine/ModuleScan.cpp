#include "ModuleScan.h"

#include <psapi.h>
#include <winternl.h>

#include <set>
#include <unordered_map>
#include <vector>

#include "ScanThread.h"
#include "Text.h"

namespace tarnwick {

namespace {

constexpr DWORD kInitialListLength = 2048;
constexpr DWORD kQueryInformationAndRead = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x410
constexpr DWORD kNameCapacity = 32768;  // the longest path the system hands out, in characters
constexpr ULONG kMemoryMappedFilenameInformation = 2;

// Every process id; the list grows until the answer no longer fills it. False when the
// system will not list them.
bool ListProcessIds(std::vector<DWORD>& ids)
{
    ids.resize(kInitialListLength);
    for (;;) {
        DWORD bytes = 0;
        if (!::EnumProcesses(ids.data(), DWORD(ids.size() * sizeof(DWORD)), &bytes))
            return false;
        if (bytes < ids.size() * sizeof(DWORD)) {
            ids.resize(bytes / sizeof(DWORD));
            return true;
        }
        ids.resize(ids.size() * 2);
    }
}

// The process's modules into a reused list, enlarged when the process has more. Both
// widths: a 32-bit process's own libraries are listed too.
bool ListModules(HANDLE process, std::vector<HMODULE>& modules)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD needed = 0;
        const DWORD capacity = DWORD(modules.size() * sizeof(HMODULE));
        if (!::EnumProcessModulesEx(process, modules.data(), capacity, &needed, LIST_MODULES_ALL) ||
            needed < sizeof(HMODULE))
            return false;
        if (needed <= capacity) {
            modules.resize(needed / sizeof(HMODULE));
            return true;
        }
        modules.resize(needed / sizeof(HMODULE) + 64);  // modules may load in between
    }
    return false;
}

// Many processes load the same libraries: each name is converted once per run.
class CLongFormCache {
public:
    const std::wstring& Get(const std::wstring& name)
    {
        auto found = forms_.find(name);
        if (found == forms_.end())
            found = forms_.emplace(name, LongForm(name)).first;
        return found->second;
    }

private:
    std::unordered_map<std::wstring, std::wstring> forms_;
};

// One run over every process: its modules, then its mapped views.
class CProcessWalker {
public:
    explicit CProcessWalker(CModuleScanParams& params) : params_(params) {}
    void Scan(DWORD pid);

private:
    void ScanModulesOf(HANDLE process, DWORD pid);
    void ScanViewsOf(HANDLE process, DWORD pid);
    std::wstring ViewFileName(HANDLE process, PVOID base);
    // Appends the lock when the name (drive form, as loaded or mapped) matches the target.
    bool Report(DWORD pid, const std::wstring& name, uint64_t value, LockKind kind);

    CModuleScanParams& params_;
    std::vector<HMODULE> modules_ = std::vector<HMODULE>(kInitialListLength);
    std::vector<wchar_t> name_ = std::vector<wchar_t>(kNameCapacity);
    std::vector<BYTE> viewName_ = std::vector<BYTE>(sizeof(UNICODE_STRING) + kNameCapacity * sizeof(wchar_t));
    CLongFormCache longForms_;
};

void CProcessWalker::Scan(DWORD pid)
{
    UniqueHandle process(params_.openProcess(kQueryInformationAndRead, FALSE, pid));
    if (!process) {
        if (::GetLastError() == ERROR_ACCESS_DENIED)
            params_.refusedPids.push_back(pid);
        return;
    }
    ++params_.stats.processesOpened;
    ScanModulesOf(process.get(), pid);
    ScanViewsOf(process.get(), pid);
}

void CProcessWalker::ScanModulesOf(HANDLE process, DWORD pid)
{
    modules_.resize(modules_.capacity());  // the previous process may have shrunk it
    if (!ListModules(process, modules_))
        return;
    for (HMODULE module : modules_) {
        const DWORD length = ::GetModuleFileNameExW(process, module, name_.data(), kNameCapacity);
        if (length == 0)
            continue;
        ++params_.stats.modules;
        Report(pid, std::wstring(name_.data(), length), reinterpret_cast<ULONG_PTR>(module), LockKind::Module);
    }
}

// Data views only: image views are the modules. One lock per file, however many views.
void CProcessWalker::ScanViewsOf(HANDLE process, DWORD pid)
{
    if (!params_.NtQueryVirtualMemory)
        return;
    std::set<std::wstring> reported;
    PVOID lastAllocation = nullptr;
    MEMORY_BASIC_INFORMATION region;
    for (auto* address = static_cast<BYTE*>(nullptr);
         ::VirtualQueryEx(process, address, &region, sizeof region) == sizeof region;) {
        if (region.Type == MEM_MAPPED && region.AllocationBase != lastAllocation) {
            lastAllocation = region.AllocationBase;
            const std::wstring file = ViewFileName(process, region.AllocationBase);
            if (!file.empty() && !reported.count(file) &&
                Report(pid, file, reinterpret_cast<ULONG_PTR>(region.AllocationBase), LockKind::Mapping))
                reported.insert(file);
        }
        auto* next = static_cast<BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
}

// The drive form of the file behind a view; empty for views of no file or no drive.
std::wstring CProcessWalker::ViewFileName(HANDLE process, PVOID base)
{
    SIZE_T returned = 0;
    if (params_.NtQueryVirtualMemory(process, base, kMemoryMappedFilenameInformation, viewName_.data(),
                                     viewName_.size(), &returned) < 0)
        return {};
    ++params_.stats.views;
    const auto* name = reinterpret_cast<const UNICODE_STRING*>(viewName_.data());
    const std::wstring deviceForm(name->Buffer, name->Length / sizeof(wchar_t));
    std::wstring driveForm;
    if (!params_.deviceMap || !DeviceFormToDriveForm(*params_.deviceMap, deviceForm, driveForm))
        return {};
    return driveForm;
}

bool CProcessWalker::Report(DWORD pid, const std::wstring& name, uint64_t value, LockKind kind)
{
    const std::wstring& candidate = longForms_.Get(CanonicalName(params_.target, name));
    const std::wstring drivePath = DropLongPathPrefix(candidate);
    if (!MatchesTarget(params_.target, params_.objectNameMode ? drivePath : candidate))
        return false;
    params_.locks->Append({pid, drivePath, value, kind});
    return true;
}

}  // namespace

void ScanModules(CModuleScanParams& params)
{
    std::vector<DWORD> ids;
    if (!ListProcessIds(ids)) {
        params.failure = L"the process list could not be read: " + SystemMessage(::GetLastError());
        return;
    }
    params.stats.processes = ULONG(ids.size());
    CProcessWalker walker(params);
    for (DWORD pid : ids) {
        if (pid != 0)
            walker.Scan(pid);
    }
}

DWORD WINAPI ModuleScanThread(void* param) { return RunScanThread<CModuleScanParams>(param, ScanModules); }

}  // namespace tarnwick
