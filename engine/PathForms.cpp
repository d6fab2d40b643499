#include "PathForms.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>

#include "ScopedHandle.h"

namespace tarnwick {

namespace {

constexpr DWORD kPathBuffer = MAX_PATH;  // 260 characters

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix)
{
    return _wcsnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// A device name applies only up to a path boundary, so \Device\HarddiskVolume1 never
// claims a name on \Device\HarddiskVolume10.
bool DeviceBeginsName(const std::wstring& device, const std::wstring& name)
{
    if (device.empty() || name.compare(0, device.size(), device) != 0)
        return false;
    return name.size() == device.size() || device.back() == L'\\' || name[device.size()] == L'\\';
}

}  // namespace

bool HasLongPathPrefix(const std::wstring& path)
{
    return path.compare(0, kLongPathPrefixLength, kLongPathPrefix) == 0;
}

std::wstring WithLongPathPrefix(const std::wstring& path)
{
    return HasLongPathPrefix(path) ? path : kLongPathPrefix + path;
}

std::wstring DropLongPathPrefix(const std::wstring& path)
{
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

CDeviceMap BuildDeviceMap(const wchar_t* driveStrings)
{
    CDeviceMap map;
    for (const wchar_t* root = driveStrings; root && *root; root += wcslen(root) + 1) {
        const std::wstring drive{root[0], L':'};
        wchar_t device[kPathBuffer] = {};
        if (::QueryDosDeviceW(drive.c_str(), device, kPathBuffer) == 0)
            continue;
        map.Set(device, drive);
    }
    return map;
}

CDeviceMap BuildCurrentDeviceMap()
{
    wchar_t drives[kPathBuffer - 1] = {};
    if (::GetLogicalDriveStringsW(kPathBuffer - 1, drives) == 0)
        return {};
    return BuildDeviceMap(drives);
}

bool DeviceFormToDriveForm(const CDeviceMap& map, const std::wstring& name, std::wstring& result)
{
    for (const auto& [device, drive] : map.entries()) {
        if (DeviceBeginsName(device, name)) {
            result = drive + name.substr(device.size());
            return true;
        }
    }
    return false;
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
        shortForm.erase(0, kLongPathPrefixLength);
    return shortForm;
}

CScanTarget BuildScanTarget(const std::wstring& path, bool objectNameMode, bool showAll)
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
    target.longPrefix = target.longForm + L'\\';
    target.shortPrefix = target.shortForm + L'\\';
    target.showAll = showAll;
    return target;
}

bool MatchesTarget(const CScanTarget& target, const std::wstring& candidate)
{
    if (target.showAll || EqualsNoCase(candidate, target.longForm))
        return true;
    if (target.hasShortForm && EqualsNoCase(candidate, target.shortForm))
        return true;
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
