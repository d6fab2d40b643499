#include "ProtectedFolders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

#include "ScopedHandle.h"
#include "Text.h"

namespace tarnwick {

namespace {

struct CKnownFolderId {
    const KNOWNFOLDERID* id;
    const wchar_t* what;
};

constexpr CKnownFolderId kProtectedFolders[] = {
    {&FOLDERID_Windows, L"the Windows folder"},          {&FOLDERID_System, L"a system folder"},
    {&FOLDERID_SystemX86, L"a system folder"},           {&FOLDERID_ProgramFiles, L"a program folder"},
    {&FOLDERID_ProgramFilesX86, L"a program folder"},    {&FOLDERID_ProgramFilesX64, L"a program folder"},
    {&FOLDERID_ProgramData, L"the program-data folder"}, {&FOLDERID_UserProfiles, L"the users' folder"},
    {&FOLDERID_Profile, L"a user's profile folder"},
};

struct CProtectedFolder {
    std::wstring path;  // written as targets are
    const wchar_t* what;
};

// The folder as the system names it, written as targets are; empty when it has none here
// (the 64-bit program folder in a 32-bit process).
std::wstring KnownFolder(const KNOWNFOLDERID& id, const CDriveAliases& aliases)
{
    UniqueCoTaskString path;
    const HRESULT result = ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, path.put());
    const std::wstring folder = SUCCEEDED(result) && path ? path.get() : L"";
    return folder.empty() ? folder : NormalizeTargetPath(folder, aliases).path;
}

// The system's folders do not move while the program runs: they are asked for once.
struct CProtectedFolders {
    std::vector<CProtectedFolder> folders;
    std::wstring users;  // every folder directly inside is one user's profile (or the shared one)

    CProtectedFolders()
    {
        const CDriveTable drives = ReadCurrentDriveTable();
        for (const CKnownFolderId& known : kProtectedFolders)
            folders.push_back({KnownFolder(*known.id, drives.aliases), known.what});
        users = KnownFolder(FOLDERID_UserProfiles, drives.aliases);
    }
};

const CProtectedFolders& ProtectedFolders()
{
    static const CProtectedFolders folders;
    return folders;
}

const wchar_t* WhatIs(const std::wstring& path)
{
    if (path.empty())
        return nullptr;
    if (::PathIsRootW(path.c_str()))
        return L"a drive root";
    const CProtectedFolders& known = ProtectedFolders();
    for (const CProtectedFolder& folder : known.folders) {
        if (!folder.path.empty() && EqualsNoCase(path, folder.path))
            return folder.what;
    }
    if (!known.users.empty() && EqualsNoCase(ParentFolder(path), known.users))
        return L"a user's profile folder";
    return nullptr;
}

std::wstring Refusal(const std::wstring& shown, const std::wstring& what)
{
    return L"\"" + shown + L"\" " + what + L"; Tarnwick does not delete, rename or move it.";
}

}  // namespace

std::wstring ProtectedFolderProblem(const CTarget& target)
{
    const std::wstring& shown = target.written.empty() ? target.path : target.written;
    if (const wchar_t* what = WhatIs(target.path))
        return Refusal(shown, L"is " + std::wstring(what));
    if (const wchar_t* what = WhatIs(target.finalPath))
        return Refusal(shown, L"leads to " + std::wstring(what) + L" (\"" + target.finalPath + L"\")");
    return {};
}

}  // namespace tarnwick
