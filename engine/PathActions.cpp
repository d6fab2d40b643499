#include "PathActions.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <vector>

#include "PathForms.h"
#include "Text.h"

namespace tarnwick {

namespace {

std::wstring JoinedWith(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty() || folder.back() == L'\\')
        return folder + name;
    return folder + L'\\' + name;
}

std::wstring LastElement(const std::wstring& path)
{
    std::wstring last = path;
    ::PathStripPathW(last.data());
    last.resize(wcslen(last.c_str()));
    return last;
}

// Sends the path to the Recycle Bin where its drive has one, through the shell.
void ShellDelete(const std::wstring& path, bool shellMayAsk)
{
    std::vector<wchar_t> list(path.begin(), path.end());
    list.insert(list.end(), {L'\0', L'\0'});  // a list of one path, ended by an empty one
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = list.data();
    operation.fFlags = FOF_ALLOWUNDO;
    if (!shellMayAsk)
        operation.fFlags |= FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    ::SHFileOperationW(&operation);
}

void DeleteProcedure(const CAfterActionRequest& request, IActionPrompts& prompts)
{
    if (!PathExists(request.path)) {
        prompts.Tell(L"It looks like the specified path does not exist");
        return;
    }
    const std::wstring target = ActionPath(request.path);
    ShellDelete(target, prompts.ShellMayAsk());
    if (!PathExists(request.path)) {
        prompts.Tell(L"Path was successfully deleted");
        return;
    }
    if (prompts.ConfirmDeleteAtBoot(
            L"Unable to delete path, would you like to schedule it for permanent deletion on the next boot?"))
        ::MoveFileExW(target.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

bool RenameProcedure(const CAfterActionRequest& request, IActionPrompts& prompts)
{
    const std::wstring renamed = RenamedPath(request.path, request.newName);
    if (::PathIsDirectoryW(request.path.c_str())) {
        ::MoveFileW(request.path.c_str(), renamed.c_str());
        return true;
    }
    const std::wstring from = ActionPath(request.path);
    if (::MoveFileW(from.c_str(), renamed.c_str()))
        return true;
    prompts.ReportError(L"Unable to rename \"" + request.path + L"\" to \"" + renamed + L"\":\n" +
                        SystemMessage(::GetLastError()));
    return false;
}

void MoveProcedure(const CAfterActionRequest& request)
{
    ::MoveFileW(request.path.c_str(), MovedPath(request.path, request.destination).c_str());
}

}  // namespace

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring ActionPath(const std::wstring& path)
{
    const std::wstring shortPath = ShortForm(path, true);
    return shortPath.empty() ? path : shortPath;
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

bool CarryOutAfterAction(const CAfterActionRequest& request, IActionPrompts& prompts)
{
    switch (request.action) {
    case AfterAction::Delete: DeleteProcedure(request, prompts); return true;
    case AfterAction::RenameTo: return RenameProcedure(request, prompts);
    case AfterAction::MoveTo:
        if (!request.destination.empty())
            MoveProcedure(request);
        return true;
    case AfterAction::DoNothing: return true;
    }
    return true;
}

}  // namespace tarnwick
