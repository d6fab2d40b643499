#include "TargetPath.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "ScopedHandle.h"
#include "Text.h"

namespace tarnwick {

namespace {

constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";
constexpr ULONG kFileHardLinkInformation = 46;
constexpr LONG kStatusBufferOverflow = LONG(0x80000005);
constexpr ULONG kLargestLinkList = 1024 * 1024;

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
    if (full.size() >= MAX_PATH || HasLongPathPrefix(full)) {
        const std::wstring expanded = LongForm(full);
        return HasLongPathPrefix(full) ? expanded : DropLongPathPrefix(expanded);
    }
    wchar_t expanded[MAX_PATH] = {};
    const DWORD length = ::GetLongPathNameW(full.c_str(), expanded, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(expanded, length) : full;
}

std::wstring DeviceProblem(const std::wstring& written)
{
    return L"\"" + written + L"\" names a device, not a file or folder.";
}

// A path written with the long-path prefix means exactly what it says: the plain form only
// where the system's own clean-up of it (trailing dots and blanks, "." and "..") changes nothing.
std::wstring LiteralPath(const std::wstring& prefixed)
{
    const std::wstring plain = DropLongPathPrefix(prefixed);
    return FullPathName(plain) == plain ? plain : prefixed;
}

void DropTrailingBackslashes(std::wstring& path)
{
    // "C:\" keeps its backslash: without it the drive's current folder would be meant.
    const std::size_t keep = HasLongPathPrefix(path) ? kLongPathPrefixLength + 3 : 3;
    while (path.size() > keep && path.back() == L'\\')
        path.pop_back();
}

// A handle on the path itself, a folder's too, that asks for no access to it.
UniqueHandle OpenForQueries(const std::wstring& path)
{
    return UniqueHandle(::CreateFileW(WithLongPathPrefix(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

std::wstring PlainForm(const std::wstring& path) { return HasLongPathPrefix(path) ? DropLongPathPrefix(path) : path; }

// The normalised drive form of what the handle names after every link; empty when unknown.
std::wstring FinalPathOf(HANDLE file, const CSystemServices& services)
{
    if (!services.GetFinalPathNameByHandleW)
        return {};
    std::wstring name(32768, L'\0');
    const DWORD length = services.GetFinalPathNameByHandleW(file, name.data(), DWORD(name.size()),
                                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= name.size())
        return {};
    name.resize(length);
    return PlainForm(name);
}

// The native layout of a file's list of names: one entry per name, each naming its folder
// by the folder's file id.
struct CLinkEntry {
    ULONG nextEntryOffset;
    LONGLONG parentFileId;
    ULONG nameLength;  // characters
    WCHAR name[1];
};
struct CLinkList {
    ULONG bytesNeeded;
    ULONG entriesReturned;
    CLinkEntry entry;
};
struct CIoStatus {
    ULONG_PTR status;
    ULONG_PTR information;
};

// The folder a name of the file lies in, opened by the id the file's name list gives. The
// volume is told by a folder on it: Wine takes no other handle for it, Windows any.
std::wstring FolderById(HANDLE volumeFolder, LONGLONG folderId, const CSystemServices& services)
{
    FILE_ID_DESCRIPTOR id = {};
    id.dwSize = sizeof id;
    id.Type = FileIdType;
    id.FileId.QuadPart = folderId;
    const UniqueHandle folder(::OpenFileById(volumeFolder, &id, 0,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             FILE_FLAG_BACKUP_SEMANTICS));
    return folder ? FinalPathOf(folder.get(), services) : std::wstring();
}

// Every name of the file, in drive form: the system lists each as its folder's id and the
// name within it. Empty when they cannot be listed.
std::vector<std::wstring> LinkNamesOf(HANDLE file, HANDLE volumeFolder, const CSystemServices& services)
{
    if (!services.NtQueryInformationFile)
        return {};
    std::vector<std::uint64_t> buffer(512);
    CIoStatus io = {};
    LONG status;
    while ((status = services.NtQueryInformationFile(file, &io, buffer.data(), ULONG(buffer.size() * 8),
                                                     kFileHardLinkInformation)) == kStatusBufferOverflow &&
           buffer.size() * 8 < kLargestLinkList)
        buffer.resize(buffer.size() * 2);
    if (status < 0)
        return {};
    std::vector<std::wstring> names;
    const auto* list = reinterpret_cast<const CLinkList*>(buffer.data());
    const BYTE* end = reinterpret_cast<const BYTE*>(buffer.data()) + buffer.size() * 8;
    const auto* entry = &list->entry;
    for (ULONG i = 0; i < list->entriesReturned; ++i) {
        if (reinterpret_cast<const BYTE*>(entry->name + entry->nameLength) > end)
            break;
        const std::wstring folder = FolderById(volumeFolder, entry->parentFileId, services);
        if (!folder.empty())
            names.push_back(MovedPath(std::wstring(entry->name, entry->nameLength), folder));
        if (entry->nextEntryOffset == 0)
            break;
        entry = reinterpret_cast<const CLinkEntry*>(reinterpret_cast<const BYTE*>(entry) + entry->nextEntryOffset);
    }
    return names;
}

// Where the target leads and its other names: what handles opened through them are named.
void FindOtherNames(CTarget& target, const CSystemServices& services)
{
    const UniqueHandle file = OpenForQueries(target.path);
    if (!file)
        return;
    const std::wstring finalPath = FinalPathOf(file.get(), services);
    if (!finalPath.empty() && !EqualsNoCase(finalPath, PlainForm(target.path)))
        target.finalPath = finalPath;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(file.get(), &info) || info.nNumberOfLinks < 2 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    const UniqueHandle folder = OpenForQueries(ParentFolder(target.path));
    for (const std::wstring& name : LinkNamesOf(file.get(), folder.get(), services)) {
        if (!EqualsNoCase(name, target.path) && !EqualsNoCase(name, target.finalPath))
            target.linkNames.push_back(name);
    }
}

}  // namespace

CTargetPath NormalizeTargetPath(const std::wstring& written, const CDriveAliases& aliases)
{
    if (written.empty())
        return {};
    std::wstring path = written;
    if (StartsWith(path, L"\\??\\"))
        path = kLongPathPrefix + path.substr(4);
    std::wstring full;
    if (HasLongPathPrefix(path)) {
        if (!IsDrivePathOrShare(DropLongPathPrefix(path)))
            return {{}, DeviceProblem(written)};
        full = LiteralPath(WithLongPathPrefix(DropLongPathPrefix(path)));
    } else {
        std::replace(path.begin(), path.end(), L'/', L'\\');
        if (StartsWith(path, kDevicePrefix))
            return {{}, DeviceProblem(written)};
        full = FullPathName(path);
        if (full.empty())
            return {{}, L"\"" + written + L"\" is not a usable path: " + SystemMessage(::GetLastError())};
        // CON, NUL and their kind resolve to \\.\CON wherever they are written.
        if (StartsWith(full, kDevicePrefix))
            return {{}, DeviceProblem(written)};
    }
    // Through what a subst or network drive letter stands for: what the scans compare, and
    // what any refusal of a protected folder must see.
    CTargetPath target{ExpandShortNames(aliases.Resolve(full)), {}};
    DropTrailingBackslashes(target.path);
    return target;
}

CTarget MakeTarget(const std::wstring& written, bool showAll, const CSystemServices& services)
{
    CTarget target;
    target.written = written;
    target.showAll = showAll;
    target.drives = ReadCurrentDriveTable();
    CTargetPath normalized = NormalizeTargetPath(written, target.drives.aliases);
    target.path = std::move(normalized.path);
    target.problem = std::move(normalized.problem);
    if (!target.path.empty() && !services.objectNameMode)
        FindOtherNames(target, services);
    std::vector<std::wstring> otherNames = target.linkNames;
    if (!target.finalPath.empty())
        otherNames.push_back(target.finalPath);
    target.forms = BuildScanTarget(target.path, services.objectNameMode, showAll, otherNames);
    return target;
}

}  // namespace tarnwick
