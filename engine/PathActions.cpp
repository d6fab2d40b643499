#include "PathActions.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <vector>

#include "PathForms.h"
#include "ProtectedFolders.h"
#include "TargetPath.h"
#include "Text.h"

namespace tarnwick {

namespace {

std::wstring JoinedWith(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty() || folder.back() == L'\\')
        return folder + name;
    return folder + L'\\' + name;
}

// Sends the path to the Recycle Bin where its drive has one, through the shell.
void ShellDelete(const std::wstring& path, IActionPrompts& prompts)
{
    std::vector<wchar_t> list(path.begin(), path.end());
    list.insert(list.end(), {L'\0', L'\0'});  // a list of one path, ended by an empty one
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = list.data();
    operation.fFlags = FOF_ALLOWUNDO;
    if (!prompts.ShellMayAsk())
        operation.fFlags |= FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    prompts.ShellDeleteRunning(true);
    ::SHFileOperationW(&operation);
    prompts.ShellDeleteRunning(false);
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// What failed, with the system's reason for it.
CActionOutcome Failure(const std::wstring& what, DWORD error)
{
    return {ActionResult::Failed, what + L":\n" + SystemMessage(error)};
}

// The short name may belong to another file by the next boot: the long one is registered.
CActionOutcome ScheduleDeletionAtBoot(const std::wstring& path)
{
    const std::wstring longPath = NormalizeTargetPath(path).path;
    if (::MoveFileExW(WithLongPathPrefix(longPath.empty() ? path : longPath).c_str(), nullptr,
                      MOVEFILE_DELAY_UNTIL_REBOOT))
        return {ActionResult::Scheduled, {}};
    const DWORD error = ::GetLastError();
    return Failure(L"Unable to schedule " + Quoted(path) + L" for deletion at the next boot", error);
}

CActionOutcome DeleteProcedure(const CAfterActionRequest& request, IActionPrompts& prompts)
{
    if (!PathExists(request.path)) {
        prompts.Tell(L"It looks like the specified path does not exist");
        return {};
    }
    ShellDelete(ActionPath(request.path), prompts);
    if (!PathExists(request.path)) {
        prompts.Tell(L"Path was successfully deleted");
        return {};
    }
    if (prompts.ConfirmDeleteAtBoot(
            L"Unable to delete path, would you like to schedule it for permanent deletion on the next boot?"))
        return ScheduleDeletionAtBoot(request.path);
    return {ActionResult::Kept, {}};
}

CActionOutcome Moved(const std::wstring& from, const std::wstring& to, const std::wstring& what)
{
    if (::MoveFileW(from.c_str(), to.c_str()))
        return {};
    const DWORD error = ::GetLastError();
    return Failure(what, error);
}

CActionOutcome RenameProcedure(const CAfterActionRequest& request)
{
    const std::wstring renamed = RenamedPath(request.path, request.newName);
    // A file is renamed through its short form, a folder as shown.
    const std::wstring from = ::PathIsDirectoryW(request.path.c_str()) ? request.path : ActionPath(request.path);
    return Moved(from, renamed, L"Unable to rename " + Quoted(request.path) + L" to " + Quoted(renamed));
}

CActionOutcome MoveProcedure(const CAfterActionRequest& request)
{
    const std::wstring moved = MovedPath(request.path, request.destination);
    return Moved(request.path, moved, L"Unable to move " + Quoted(request.path) + L" to " + Quoted(moved));
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

std::wstring RefusedAfterAction(const CAfterActionRequest& request)
{
    return request.action == AfterAction::DoNothing ? std::wstring() : ProtectedFolderProblem(request.path);
}

CActionOutcome CarryOutAfterAction(const CAfterActionRequest& request, IActionPrompts& prompts)
{
    if (const std::wstring refused = RefusedAfterAction(request); !refused.empty())
        return {ActionResult::Failed, refused};
    switch (request.action) {
    case AfterAction::Delete: return DeleteProcedure(request, prompts);
    case AfterAction::RenameTo: return RenameProcedure(request);
    case AfterAction::MoveTo: return request.destination.empty() ? CActionOutcome{} : MoveProcedure(request);
    case AfterAction::DoNothing: break;
    }
    return {};
}

}  // namespace tarnwick
