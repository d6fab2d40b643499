#include "ModuleScan.h"

#include <psapi.h>

#include <unordered_map>
#include <vector>

#include "ScanThread.h"

namespace tarnwick {

namespace {

constexpr DWORD kInitialListLength = 2048;
constexpr DWORD kQueryInformationAndRead = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x410

// Every process id; the list grows until the answer no longer fills it.
std::vector<DWORD> ListProcessIds()
{
    std::vector<DWORD> ids(kInitialListLength);
    for (;;) {
        DWORD bytes = 0;
        if (!::EnumProcesses(ids.data(), DWORD(ids.size() * sizeof(DWORD)), &bytes))
            return {};
        if (bytes < ids.size() * sizeof(DWORD)) {
            ids.resize(bytes / sizeof(DWORD));
            return ids;
        }
        ids.resize(ids.size() * 2);
    }
}

// The process's modules into a reused list, enlarged when the process has more.
bool ListModules(HANDLE process, std::vector<HMODULE>& modules)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD needed = 0;
        const DWORD capacity = DWORD(modules.size() * sizeof(HMODULE));
        if (!::EnumProcessModules(process, modules.data(), capacity, &needed) || needed < sizeof(HMODULE))
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

void ScanProcess(CModuleScanParams& params, DWORD pid, std::vector<HMODULE>& modules, CLongFormCache& longForms)
{
    UniqueHandle process(::OpenProcess(kQueryInformationAndRead, FALSE, pid));
    if (!process)
        return;
    ++params.stats.processesOpened;
    modules.resize(modules.capacity());  // the previous process may have shrunk it
    if (!ListModules(process.get(), modules))
        return;
    for (HMODULE module : modules) {
        wchar_t name[MAX_PATH];
        const DWORD length = ::GetModuleFileNameExW(process.get(), module, name, MAX_PATH);
        if (length == 0)
            continue;
        ++params.stats.modules;
        const std::wstring& candidate = longForms.Get(std::wstring(name, length));
        const std::wstring drivePath = DropLongPathPrefix(candidate);
        if (MatchesTarget(params.target, params.objectNameMode ? drivePath : candidate))
            params.locks->Append({pid, drivePath, reinterpret_cast<ULONG_PTR>(module)});
    }
}

}  // namespace

void ScanModules(CModuleScanParams& params)
{
    const std::vector<DWORD> ids = ListProcessIds();
    params.stats.processes = ULONG(ids.size());
    std::vector<HMODULE> modules(kInitialListLength);
    CLongFormCache longForms;
    for (DWORD pid : ids) {
        if (pid != 0)
            ScanProcess(params, pid, modules, longForms);
    }
}

DWORD WINAPI ModuleScanThread(void* param) { return RunScanThread<CModuleScanParams>(param, ScanModules); }

}  // namespace tarnwick
