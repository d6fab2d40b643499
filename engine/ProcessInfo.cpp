#include "ProcessInfo.h"

#include <psapi.h>
#include <sddl.h>
#include <shlwapi.h>

#include <unordered_set>
#include <vector>

#include "ProcessPool.h"
#include "ScopedHandle.h"

namespace tarnwick {

namespace {

constexpr DWORD kSystemPid = 4;
constexpr DWORD kTokenInfoBytes = 1024;
constexpr DWORD kAccountChars = 1024;

// The token's user, copied out of the token information; empty when it cannot be read.
std::vector<BYTE> ProcessUserSid(HANDLE process)
{
    UniqueHandle token;
    if (!::OpenProcessToken(process, TOKEN_QUERY, token.put()))
        return {};
    std::vector<BYTE> info(kTokenInfoBytes, 0);
    DWORD needed = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, info.data(), DWORD(info.size()), &needed)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return {};
        info.assign(needed, 0);
        if (!::GetTokenInformation(token.get(), TokenUser, info.data(), DWORD(info.size()), &needed))
            return {};
    }
    const PSID sid = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
    std::vector<BYTE> copy(::GetLengthSid(sid));
    if (!::CopySid(DWORD(copy.size()), copy.data(), sid))
        return {};
    return copy;
}

std::wstring SidText(PSID sid)
{
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
        return {};
    const UniqueLocalMemory owner(text);
    return text ? text : L"";
}

constexpr DWORD kImageNameCapacity = 32768;

std::wstring ImageNameOf(HANDLE process)
{
    std::wstring name(kImageNameCapacity, L'\0');
    name.resize(::GetProcessImageFileNameW(process, name.data(), kImageNameCapacity));
    return name;
}

}  // namespace

bool COwnerFinder::FindOwner(HANDLE process, std::wstring& owner)
{
    owner.clear();
    std::vector<BYTE> sid = ProcessUserSid(process);
    if (sid.empty())
        return false;
    const std::wstring key = SidText(sid.data());
    if (key.empty())
        return false;
    const std::lock_guard<std::mutex> guard(mutex_);
    if (const auto cached = cache_.find(key); cached != cache_.end()) {
        owner = cached->second;
        return true;
    }
    ++lookups_;
    wchar_t account[kAccountChars] = {}, domain[kAccountChars] = {};
    DWORD accountChars = kAccountChars, domainChars = kAccountChars;
    SID_NAME_USE use;
    if (!::LookupAccountSidW(nullptr, sid.data(), account, &accountChars, domain, &domainChars, &use))
        return false;
    owner = account;  // the domain is not shown
    cache_.emplace(key, owner);
    return true;
}

CProcessDirectory::CProcessDirectory(const CDeviceMap& deviceMap, OpenProcessFn openProcess)
    : deviceMap_(deviceMap), openProcess_(openProcess)
{
}

const CProcessInfo& CProcessDirectory::GetOrCreate(DWORD pid)
{
    auto found = table_.find(pid);
    if (found == table_.end())
        found = table_.emplace(pid, Describe(pid)).first;
    return *found->second;
}

void CProcessDirectory::DescribeAll(const std::vector<DWORD>& pids, unsigned threads)
{
    std::vector<DWORD> unknown;
    std::unordered_set<DWORD> seen;
    for (DWORD pid : pids) {
        if (!table_.count(pid) && seen.insert(pid).second)
            unknown.push_back(pid);
    }
    std::vector<std::unique_ptr<CProcessInfo>> described(unknown.size());
    RunOnPool(unknown.size(), threads ? threads : DefaultPoolThreads(),
              [&](unsigned, std::size_t i) { described[i] = Describe(unknown[i]); });
    for (std::size_t i = 0; i < unknown.size(); ++i)
        table_.emplace(unknown[i], std::move(described[i]));
}

std::unique_ptr<CProcessInfo> CProcessDirectory::Describe(DWORD pid)
{
    auto info = std::make_unique<CProcessInfo>();
    info->pid = pid;
    info->name = UnreadableProcessName(pid);
    UniqueHandle process(openProcess_(PROCESS_QUERY_INFORMATION, FALSE, pid));
    std::wstring deviceName = process ? ImageNameOf(process.get()) : L"";
    if (deviceName.empty()) {
        // Services and protected processes grant the limited right where they refuse the full one.
        UniqueHandle limited(openProcess_(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        if (limited) {
            deviceName = ImageNameOf(limited.get());
            if (!process)
                process = std::move(limited);
        }
    }
    if (!process)
        return info;
    owners_.FindOwner(process.get(), info->owner);
    info->created = ProcessCreationTime(process.get());
    process.reset();
    if (deviceName.empty())
        return info;
    DeviceFormToDriveForm(deviceMap_, deviceName, info->imagePath);
    info->name = LastElement(deviceName);
    return info;
}

uint64_t ProcessCreationTime(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return (uint64_t(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

std::wstring UnreadableProcessName(DWORD pid) { return pid == kSystemPid ? L"System" : L"Unknown Process"; }

CLockItem MakeLockItem(const CFileLock& lock, const CProcessInfo& process)
{
    CLockItem item;
    item.value = lock.value;
    item.pid = lock.pid;
    item.processName = process.name;
    item.lockPath = lock.path;
    item.imagePath = process.imagePath;
    item.owner = process.owner;
    item.kind = lock.kind;
    item.object = lock.object;
    item.processCreated = process.created;
    return item;
}

}  // namespace tarnwick
