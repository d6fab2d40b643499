#include "ModuleScan.h"

#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <set>
#include <unordered_map>
#include <vector>

#include "ProcessPool.h"
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
bool ListModuleHandles(HANDLE process, std::vector<HMODULE>& modules)
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

// One module as the loader records it; size 0 where it is not known.
struct CModule {
    ULONG_PTR base = 0;
    ULONG size = 0;
    std::wstring name;
};

// The parts of a 64-bit process's loader records that are read (the engine is 64-bit only).
constexpr ULONG_PTR kPebLoaderData = 0x18;    // PEB::Ldr
constexpr ULONG_PTR kLoaderLoadOrder = 0x10;  // PEB_LDR_DATA::InLoadOrderModuleList
constexpr ULONG kMaxLoaderEntries = 16384;    // a list that runs on further is not trusted
struct CLoaderEntry {
    ULONG_PTR next;  // InLoadOrderLinks.Flink, the start of the record
    ULONG_PTR otherLinks[5];
    ULONG_PTR base;
    ULONG_PTR entryPoint;
    ULONG sizeOfImage;
    ULONG padding;
    USHORT nameBytes;  // FullDllName
    USHORT nameCapacity;
    ULONG_PTR nameBuffer;
};
static_assert(sizeof(void*) != 8 || offsetof(CLoaderEntry, base) == 0x30, "loader record layout");
static_assert(sizeof(void*) != 8 || offsetof(CLoaderEntry, nameBytes) == 0x48, "loader record layout");
static_assert(sizeof(void*) != 8 || offsetof(CLoaderEntry, nameBuffer) == 0x50, "loader record layout");

template <class T>
bool ReadRemote(HANDLE process, ULONG_PTR address, T& value)
{
    SIZE_T read = 0;
    return ::ReadProcessMemory(process, reinterpret_cast<const void*>(address), &value, sizeof value, &read) &&
           read == sizeof value;
}

// A 64-bit process's modules in one walk over its loader list, in load order: asking the
// platform for each module's name walks that list again from its head every time.
bool ReadLoaderList(HANDLE process, NtQueryInformationProcessFn query, std::vector<CModule>& modules)
{
    PROCESS_BASIC_INFORMATION basic = {};
    ULONG_PTR loaderData = 0, entry = 0;
    if (query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) < 0 ||
        !ReadRemote(process, reinterpret_cast<ULONG_PTR>(basic.PebBaseAddress) + kPebLoaderData, loaderData) ||
        !loaderData || !ReadRemote(process, loaderData + kLoaderLoadOrder, entry))
        return false;
    const ULONG_PTR head = loaderData + kLoaderLoadOrder;
    for (ULONG count = 0; entry != head && count < kMaxLoaderEntries; ++count) {
        CLoaderEntry record;
        if (!ReadRemote(process, entry, record))
            return false;
        CModule module{record.base, record.sizeOfImage, std::wstring(record.nameBytes / sizeof(wchar_t), L'\0')};
        SIZE_T read = 0;
        if (record.nameBytes &&
            ::ReadProcessMemory(process, reinterpret_cast<const void*>(record.nameBuffer), module.name.data(),
                                record.nameBytes, &read) &&
            read == record.nameBytes)
            modules.push_back(std::move(module));
        entry = record.next;
    }
    return true;
}

// Many processes load the same libraries: each name becomes a row's path once per run.
class CRowPathCache {
public:
    explicit CRowPathCache(const CDriveAliases& aliases) : aliases_(aliases) {}
    const std::wstring& Get(const std::wstring& name)
    {
        auto found = paths_.find(name);
        if (found == paths_.end())
            found = paths_.emplace(name, RowPathOf(aliases_, name)).first;
        return found->second;
    }

private:
    const CDriveAliases& aliases_;
    std::unordered_map<std::wstring, std::wstring> paths_;
};

// What the walk found in one process, kept until the processes listed before it are reported.
struct CProcessFindings {
    std::vector<CFileLock> locks;
    bool refused = false;
};

// Walks one process at a time: its modules, then its mapped views. Each thread of a scan has
// its own, with its own buffers.
class CProcessWalker {
public:
    explicit CProcessWalker(const CModuleScanParams& params) : params_(params), rowPaths_(params.target->drives.aliases)
    {
    }
    void Scan(DWORD pid, CProcessFindings& found);
    const CModuleScanStats& stats() const { return stats_; }

private:
    bool ListModulesOf(HANDLE process);
    bool ListThroughPlatform(HANDLE process);
    void ScanModulesOf(HANDLE process, DWORD pid);
    void ScanViewsOf(HANDLE process, DWORD pid);
    BYTE* PastImage(const MEMORY_BASIC_INFORMATION& region) const;
    std::wstring ViewFileName(HANDLE process, PVOID base);
    // Keeps the lock when the name (drive form, as loaded or mapped) matches the target.
    bool Report(DWORD pid, const std::wstring& name, uint64_t value, LockKind kind);

    const CModuleScanParams& params_;
    CModuleScanStats stats_;
    CProcessFindings* found_ = nullptr;  // the process being walked
    std::vector<HMODULE> handles_ = std::vector<HMODULE>(kInitialListLength);
    std::vector<CModule> modules_;
    std::unordered_map<ULONG_PTR, ULONG> imageSizes_;  // of this process's modules, where known
    std::vector<wchar_t> name_ = std::vector<wchar_t>(kNameCapacity);
    std::vector<BYTE> viewName_ = std::vector<BYTE>(sizeof(UNICODE_STRING) + kNameCapacity * sizeof(wchar_t));
    CRowPathCache rowPaths_;
};

void CProcessWalker::Scan(DWORD pid, CProcessFindings& found)
{
    UniqueHandle process(params_.openProcess(kQueryInformationAndRead, FALSE, pid));
    if (!process) {
        found.refused = ::GetLastError() == ERROR_ACCESS_DENIED;
        return;
    }
    ++stats_.processesOpened;
    found_ = &found;
    // This program's own memory is read directly. Under Wine a query through a handle to itself
    // goes by way of the server, and walked beside the pool's other threads it cost this program
    // its standard output (every later line written was lost).
    const HANDLE walked = pid == ::GetCurrentProcessId() ? ::GetCurrentProcess() : process.get();
    ScanModulesOf(walked, pid);
    ScanViewsOf(walked, pid);
}

// A 32-bit process's list lies where systems disagree on how to find it: the platform reads it.
bool CProcessWalker::ListModulesOf(HANDLE process)
{
    modules_.clear();
    BOOL wow64 = FALSE;
    if (params_.NtQueryInformationProcess && ::IsWow64Process(process, &wow64) && !wow64 &&
        ReadLoaderList(process, params_.NtQueryInformationProcess, modules_))
        return true;
    // A list that could not be read to its end (a module unloading meanwhile, say) is asked
    // of the platform instead, so that no module goes unseen.
    modules_.clear();
    return ListThroughPlatform(process);
}

bool CProcessWalker::ListThroughPlatform(HANDLE process)
{
    handles_.resize(handles_.capacity());  // the previous process may have shrunk it
    if (!ListModuleHandles(process, handles_))
        return false;
    for (HMODULE module : handles_) {
        const DWORD length = ::GetModuleFileNameExW(process, module, name_.data(), kNameCapacity);
        if (length != 0)
            modules_.push_back({reinterpret_cast<ULONG_PTR>(module), 0, std::wstring(name_.data(), length)});
    }
    return true;
}

void CProcessWalker::ScanModulesOf(HANDLE process, DWORD pid)
{
    imageSizes_.clear();
    if (!ListModulesOf(process))
        return;
    for (const CModule& module : modules_) {
        ++stats_.modules;
        if (module.size)
            imageSizes_[module.base] = module.size;
        Report(pid, module.name, module.base, LockKind::Module);
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
        BYTE* next = std::max(static_cast<BYTE*>(region.BaseAddress) + region.RegionSize, PastImage(region));
        if (next <= address)
            break;
        address = next;
    }
}

// Where a module's image ends, so that the walk steps over its sections in one go: each
// step is a request answered inside the other process. Null where it is not known.
BYTE* CProcessWalker::PastImage(const MEMORY_BASIC_INFORMATION& region) const
{
    if (region.Type != MEM_IMAGE)
        return nullptr;
    const auto found = imageSizes_.find(reinterpret_cast<ULONG_PTR>(region.AllocationBase));
    return found == imageSizes_.end() ? nullptr : static_cast<BYTE*>(region.AllocationBase) + found->second;
}

// The drive form of the file behind a view; empty for views of no file or no drive.
std::wstring CProcessWalker::ViewFileName(HANDLE process, PVOID base)
{
    SIZE_T returned = 0;
    if (params_.NtQueryVirtualMemory(process, base, kMemoryMappedFilenameInformation, viewName_.data(),
                                     viewName_.size(), &returned) < 0)
        return {};
    ++stats_.views;
    const auto* name = reinterpret_cast<const UNICODE_STRING*>(viewName_.data());
    const std::wstring deviceForm(name->Buffer, name->Length / sizeof(wchar_t));
    std::wstring driveForm;
    if (!DeviceFormToDriveForm(params_.target->drives.devices, deviceForm, driveForm))
        return {};
    return driveForm;
}

bool CProcessWalker::Report(DWORD pid, const std::wstring& name, uint64_t value, LockKind kind)
{
    const std::wstring& rowPath = rowPaths_.Get(name);
    if (!MatchesTarget(params_.target->forms, params_.objectNameMode ? rowPath : WithLongPathPrefix(rowPath)))
        return false;
    found_->locks.push_back({pid, rowPath, value, kind});
    return true;
}

void AddStats(CModuleScanStats& total, const CModuleScanStats& part)
{
    total.processesOpened += part.processesOpened;
    total.modules += part.modules;
    total.views += part.views;
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
    CScanProgress& progress = params.Progress();
    progress.processes = ULONG(std::count_if(ids.begin(), ids.end(), [](DWORD pid) { return pid != 0; }));
    const unsigned threads = params.poolThreads ? params.poolThreads : DefaultPoolThreads();
    std::vector<CProcessWalker> walkers;
    walkers.reserve(threads);
    for (unsigned i = 0; i < threads; ++i)
        walkers.emplace_back(params);
    std::vector<CProcessFindings> found(ids.size());
    RunOnPool(ids.size(), threads, [&](unsigned thread, std::size_t i) {
        if (ids[i] == 0 || progress.cancelled())
            return;
        walkers[thread].Scan(ids[i], found[i]);
        ++progress.processesDone;
    });
    // In the order the processes were listed, whichever thread finished first.
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (found[i].refused)
            params.refusedPids.push_back(ids[i]);
        for (CFileLock& lock : found[i].locks)
            params.locks->Append(std::move(lock));
    }
    for (const CProcessWalker& walker : walkers)
        AddStats(params.stats, walker.stats());
}

DWORD WINAPI ModuleScanThread(void* param) { return RunScanThread<CModuleScanParams>(param, ScanModules); }

}  // namespace tarnwick
