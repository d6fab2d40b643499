#include "TargetPath.h"

#include <windows.h>

#include <algorithm>

#include "PathForms.h"
#include "Text.h"

namespace tarnwick {

namespace {

constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsDrivePathOrShare(const std::wstring& plain)
{
    return (plain.size() >= 2 && plain[1] == L':') || StartsWith(plain, L"\\\\");
}

// The full path, or empty when the system cannot form one.
std::wstring FullPathName(const std::wstring& path)
{
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = ::GetFullPathNameW(path.c_str(), DWORD(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.assign(length, L'\0');
        length = ::GetFullPathNameW(path.c_str(), DWORD(full.size()), full.data(), nullptr);
        if (length >= full.size())
            length = 0;
    }
    full.resize(length);
    return full;
}

// Long names for every element the system knows; the path as it was when it does not exist.
std::wstring ExpandShortNames(const std::wstring& full)
{
    if (full.size() >= MAX_PATH)
        return DropLongPathPrefix(LongForm(full));
    wchar_t expanded[MAX_PATH] = {};
    const DWORD length = ::GetLongPathNameW(full.c_str(), expanded, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(expanded, length) : full;
}

std::wstring DeviceProblem(const std::wstring& written)
{
    return L"\"" + written + L"\" names a device, not a file or folder.";
}

}  // namespace

CTargetPath NormalizeTargetPath(const std::wstring& written)
{
    if (written.empty())
        return {};
    std::wstring path = written;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (StartsWith(path, L"\\??\\"))
        path = kLongPathPrefix + path.substr(4);
    if (HasLongPathPrefix(path)) {
        path = DropLongPathPrefix(path);
        if (!IsDrivePathOrShare(path))
            return {{}, DeviceProblem(written)};
    }
    if (StartsWith(path, kDevicePrefix))
        return {{}, DeviceProblem(written)};
    const std::wstring full = FullPathName(path);
    if (full.empty())
        return {{}, L"\"" + written + L"\" is not a usable path: " + SystemMessage(::GetLastError())};
    // CON, NUL and their kind resolve to \\.\CON wherever they are written.
    if (StartsWith(full, kDevicePrefix))
        return {{}, DeviceProblem(written)};
    // Through what a subst or network drive letter stands for: what the scans compare, and
    // what any refusal of a protected folder must see.
    CTargetPath target{ExpandShortNames(CurrentDriveAliases().Resolve(full)), {}};
    // "C:\" keeps its backslash: without it the drive's current folder would be meant.
    while (target.path.size() > 3 && target.path.back() == L'\\')
        target.path.pop_back();
    return target;
}

}  // namespace tarnwick
