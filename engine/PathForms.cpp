#include "PathForms.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>
#include <cwctype>

#include "ScopedHandle.h"
#include "Text.h"

namespace tarnwick {

namespace {

constexpr DWORD kPathBuffer = MAX_PATH;  // 260 characters
constexpr wchar_t kUncPrefix[] = L"\\\\?\\UNC\\";
constexpr wchar_t kObjectDrivePrefix[] = L"\\??\\";

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "C:" at offset at.
bool HasDriveAt(const std::wstring& path, std::size_t at)
{
    return path.size() >= at + 2 && IsDriveLetter(path[at]) && path[at + 1] == L':';
}

// A device name applies only up to a path boundary, so \Device\HarddiskVolume1 never
// claims a name on \Device\HarddiskVolume10.
bool DeviceBeginsName(const std::wstring& device, const std::wstring& name)
{
    if (device.empty() || name.compare(0, device.size(), device) != 0)
        return false;
    return name.size() == device.size() || device.back() == L'\\' || name[device.size()] == L'\\';
}

// Network redirectors name a share's files \Device\Mup\server\share\... (a mapped drive's
// own device adds a component ";Z:0000...": the drive and its logon session) .
const wchar_t* const kRedirectors[] = {L"\\Device\\Mup\\", L"\\Device\\LanmanRedirector\\"};

// \\server\share\rest from what follows a redirector's name, or empty.
std::wstring UncFromRedirected(const std::wstring& rest)
{
    std::size_t at = 0;
    while (at < rest.size() && rest[at] == L';') {
        const std::size_t end = rest.find(L'\\', at);
        if (end == std::wstring::npos)
            return {};
        at = end + 1;
    }
    return at < rest.size() ? L"\\\\" + rest.substr(at) : std::wstring();
}

// The names that convert without the map: \??\C:\x, \??\UNC\server\share\x and the
// redirectors' device forms. Empty when the name is none of them.
std::wstring FixedDeviceFormToDriveForm(const std::wstring& name)
{
    if (StartsWith(name, kObjectDrivePrefix)) {
        const std::wstring rest = name.substr(4);
        if (HasDriveAt(rest, 0))
            return rest;
        if (StartsWith(rest, L"UNC\\"))
            return L"\\\\" + rest.substr(4);
        return {};
    }
    for (const wchar_t* redirector : kRedirectors) {
        if (StartsWith(name, redirector))
            return UncFromRedirected(name.substr(wcslen(redirector)));
    }
    return {};
}

std::wstring WithTrailingBackslash(const std::wstring& path)
{
    return !path.empty() && path.back() == L'\\' ? path : path + L'\\';
}

std::wstring JoinedWith(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty() || folder.back() == L'\\')
        return folder + name;
    return folder + L'\\' + name;
}

// The long form, as the scans compare it in the naming mode.
std::wstring ComparedForm(const std::wstring& path, bool objectNameMode)
{
    const std::wstring longForm = LongForm(path);
    return objectNameMode ? DropLongPathPrefix(longForm) : longForm;
}

}  // namespace

bool HasLongPathPrefix(const std::wstring& path) { return StartsWith(path, kLongPathPrefix); }

std::wstring WithLongPathPrefix(const std::wstring& path)
{
    if (HasLongPathPrefix(path))
        return path;
    if (StartsWith(path, L"\\\\"))
        return kUncPrefix + path.substr(2);
    return kLongPathPrefix + path;
}

std::wstring DropLongPathPrefix(const std::wstring& path)
{
    if (StartsWith(path, kUncPrefix))
        return L"\\\\" + path.substr(wcslen(kUncPrefix));
    return path.size() > kLongPathPrefixLength ? path.substr(kLongPathPrefixLength) : std::wstring();
}

void CDeviceMap::Set(const std::wstring& device, const std::wstring& drive)
{
    for (auto& entry : entries_) {
        if (entry.first == device) {
            entry.second = drive;
            return;
        }
    }
    entries_.emplace_back(device, drive);
}

bool DeviceFormToDriveForm(const CDeviceMap& map, const std::wstring& name, std::wstring& result)
{
    for (const auto& [device, drive] : map.entries()) {
        if (DeviceBeginsName(device, name)) {
            result = drive + name.substr(device.size());
            return true;
        }
    }
    std::wstring fixed = FixedDeviceFormToDriveForm(name);
    if (fixed.empty())
        return false;
    result = std::move(fixed);
    return true;
}

void CDriveAliases::Add(wchar_t letter, const std::wstring& target)
{
    if (!IsDriveLetter(letter))
        return;
    std::wstring folder;
    if (StartsWith(target, kObjectDrivePrefix)) {
        folder = FixedDeviceFormToDriveForm(target);  // subst: \??\C:\Real
    } else {
        for (const wchar_t* redirector : kRedirectors) {
            if (StartsWith(target, redirector))
                folder = UncFromRedirected(target.substr(wcslen(redirector)));
        }
    }
    while (folder.size() > 3 && folder.back() == L'\\')
        folder.pop_back();
    folders_[towupper(letter) - L'A'] = folder;
}

std::wstring CDriveAliases::Resolve(const std::wstring& path) const
{
    const bool prefixed = HasLongPathPrefix(path);
    const std::size_t at = prefixed ? kLongPathPrefixLength : 0;
    if (!HasDriveAt(path, at))
        return path;
    const std::wstring& folder = folders_[towupper(path[at]) - L'A'];
    if (folder.empty())
        return path;
    std::wstring rest = path.substr(at + 2);
    if (rest == L"\\")  // the drive's root is the folder itself
        rest.clear();
    if (!rest.empty() && rest[0] == L'\\' && folder.back() == L'\\')
        rest.erase(0, 1);
    const std::wstring resolved = folder + rest;
    return prefixed ? WithLongPathPrefix(resolved) : resolved;
}

CDriveTable ReadDriveTable(const wchar_t* driveStrings)
{
    CDriveTable table;
    for (const wchar_t* root = driveStrings; root && *root; root += wcslen(root) + 1) {
        const std::wstring drive{root[0], L':'};
        wchar_t device[kPathBuffer] = {};
        if (::QueryDosDeviceW(drive.c_str(), device, kPathBuffer) == 0)
            continue;
        table.aliases.Add(root[0], device);
        if (!StartsWith(device, kObjectDrivePrefix))
            table.devices.Set(device, drive);
    }
    return table;
}

CDriveTable ReadCurrentDriveTable()
{
    wchar_t drives[kPathBuffer - 1] = {};
    if (::GetLogicalDriveStringsW(kPathBuffer - 1, drives) == 0)
        return {};
    return ReadDriveTable(drives);
}

CDeviceMap BuildDeviceMap(const wchar_t* driveStrings) { return ReadDriveTable(driveStrings).devices; }

std::wstring LastElement(const std::wstring& path)
{
    std::wstring last = path;
    ::PathStripPathW(last.data());
    last.resize(wcslen(last.c_str()));
    return last;
}

std::wstring ParentFolder(const std::wstring& path)
{
    std::wstring parent = path;
    ::PathRemoveFileSpecW(parent.data());
    parent.resize(wcslen(parent.c_str()));
    return parent;
}

std::wstring RenamedPath(const std::wstring& path, const std::wstring& newName)
{
    return JoinedWith(ParentFolder(path), newName);
}

std::wstring MovedPath(const std::wstring& path, const std::wstring& destination)
{
    return JoinedWith(destination, LastElement(path));
}

std::wstring LongForm(const std::wstring& path)
{
    const std::wstring prefixed = WithLongPathPrefix(path);
    DWORD size = prefixed.size() >= kPathBuffer ? DWORD(prefixed.size() + 1) : kPathBuffer + 1;
    std::wstring buffer(size, L'\0');
    DWORD written = ::GetLongPathNameW(prefixed.c_str(), buffer.data(), size);
    if (written >= size) {
        // Asked for more room: one more call with exactly the size it reported.
        size = written;
        buffer.assign(size, L'\0');
        written = ::GetLongPathNameW(prefixed.c_str(), buffer.data(), size);
        if (written >= size)  // the path changed between the calls
            written = 0;
    }
    if (written == 0)
        return prefixed;
    buffer.resize(written);
    return buffer;
}

std::wstring ShortForm(const std::wstring& path, bool stripPrefix)
{
    const std::wstring prefixed = WithLongPathPrefix(path);
    wchar_t buffer[kPathBuffer] = {};
    const DWORD written = ::GetShortPathNameW(prefixed.c_str(), buffer, kPathBuffer);
    if (written == 0 || written >= kPathBuffer)
        return {};
    std::wstring shortForm(buffer, written);
    if (stripPrefix && HasLongPathPrefix(shortForm))
        shortForm = DropLongPathPrefix(shortForm);
    return shortForm;
}

CScanTarget BuildScanTarget(const std::wstring& path, bool objectNameMode, bool showAll,
                            const std::vector<std::wstring>& otherNames)
{
    CScanTarget target;
    target.longForm = LongForm(path);
    target.shortForm = ShortForm(path, false);
    target.hasShortForm = !target.shortForm.empty() && target.shortForm != target.longForm;
    if (objectNameMode) {
        target.longForm = DropLongPathPrefix(target.longForm);
        target.shortForm = DropLongPathPrefix(target.shortForm);
    }
    target.isFolder = ::PathIsDirectoryW(target.longForm.c_str()) != FALSE;
    target.longPrefix = WithTrailingBackslash(target.longForm);
    target.shortPrefix = WithTrailingBackslash(target.shortForm);
    target.showAll = showAll;
    for (const std::wstring& name : otherNames) {
        const std::wstring form = ComparedForm(name, objectNameMode);
        target.otherForms.push_back({form, WithTrailingBackslash(form)});
    }
    return target;
}

std::wstring RowPathOf(const CDriveAliases& aliases, const std::wstring& reported)
{
    return DropLongPathPrefix(LongForm(ComparableName(aliases, reported)));
}

bool MatchesTarget(const CScanTarget& target, const std::wstring& candidate)
{
    if (target.showAll || EqualsNoCase(candidate, target.longForm))
        return true;
    if (target.hasShortForm && EqualsNoCase(candidate, target.shortForm))
        return true;
    for (const CTargetForm& other : target.otherForms) {
        if (EqualsNoCase(candidate, other.form) || (target.isFolder && StartsWithNoCase(candidate, other.prefix)))
            return true;
    }
    if (!target.isFolder)
        return false;
    return StartsWithNoCase(candidate, target.longPrefix) ||
           (target.hasShortForm && StartsWithNoCase(candidate, target.shortPrefix));
}

bool FileStatusExists(const std::wstring& path)
{
    wchar_t full[kPathBuffer] = {};
    const DWORD length = ::GetFullPathNameW(path.c_str(), kPathBuffer, full, nullptr);
    if (length == 0 || length >= kPathBuffer)
        return false;
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(::FindFirstFileW(full, &data));
    return bool(find);
}

}  // namespace tarnwick
