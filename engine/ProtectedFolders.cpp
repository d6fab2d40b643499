#include "ProtectedFolders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "PathActions.h"
#include "TargetPath.h"
#include "Text.h"

namespace tarnwick {

namespace {

struct CKnownFolder {
    const KNOWNFOLDERID* id;
    const wchar_t* what;
};

constexpr CKnownFolder kProtectedFolders[] = {
    {&FOLDERID_Windows, L"the Windows folder"},
    {&FOLDERID_System, L"a system folder"},
    {&FOLDERID_SystemX86, L"a system folder"},
    {&FOLDERID_ProgramFiles, L"a program folder"},
    {&FOLDERID_ProgramFilesX86, L"a program folder"},
    {&FOLDERID_ProgramFilesX64, L"a program folder"},
    {&FOLDERID_ProgramData, L"the program-data folder"},
    {&FOLDERID_UserProfiles, L"the users' folder"},
    {&FOLDERID_Profile, L"a user's profile folder"},
};

// The folder as the system names it, written as targets are; empty when it has none here
// (the 64-bit program folder in a 32-bit process).
std::wstring KnownFolder(const KNOWNFOLDERID& id)
{
    UniqueCoTaskString path;
    const HRESULT result = ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, path.put());
    const std::wstring folder = SUCCEEDED(result) && path ? path.get() : L"";
    return folder.empty() ? folder : NormalizeTargetPath(folder).path;
}

const wchar_t* WhatIs(const std::wstring& target)
{
    if (::PathIsRootW(target.c_str()))
        return L"a drive root";
    for (const CKnownFolder& known : kProtectedFolders) {
        if (EqualsNoCase(target, KnownFolder(*known.id)))
            return known.what;
    }
    // Every folder directly in the users' folder is one user's profile (or the shared one).
    const std::wstring users = KnownFolder(FOLDERID_UserProfiles);
    if (!users.empty() && EqualsNoCase(ParentFolder(target), users))
        return L"a user's profile folder";
    return nullptr;
}

}  // namespace

std::wstring ProtectedFolderProblem(const std::wstring& path)
{
    const std::wstring target = NormalizeTargetPath(path).path;
    const wchar_t* what = target.empty() ? nullptr : WhatIs(target);
    if (!what)
        return {};
    return L"\"" + path + L"\" is " + what + L"; Tarnwick does not delete, rename or move it.";
}

}  // namespace tarnwick
