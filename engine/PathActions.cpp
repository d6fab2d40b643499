#include "PathActions.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <vector>

#include "PathForms.h"
#include "ProtectedFolders.h"
#include "Text.h"

namespace tarnwick {

namespace {

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
    if (::MoveFileExW(WithLongPathPrefix(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return {ActionResult::Scheduled, {}};
    const DWORD error = ::GetLastError();
    return Failure(L"Unable to schedule " + Quoted(path) + L" for deletion at the next boot", error);
}

CActionOutcome DeleteProcedure(const std::wstring& path, IActionPrompts& prompts)
{
    if (!PathExists(path)) {
        prompts.Tell(L"It looks like the specified path does not exist");
        return {};
    }
    ShellDelete(ActionPath(path), prompts);
    if (!PathExists(path)) {
        prompts.Tell(L"Path was successfully deleted");
        return {};
    }
    if (prompts.ConfirmDeleteAtBoot(
            L"Unable to delete path, would you like to schedule it for permanent deletion on the next boot?"))
        return ScheduleDeletionAtBoot(path);
    return {ActionResult::Kept, {}};
}

CActionOutcome Moved(const std::wstring& from, const std::wstring& to, const std::wstring& what)
{
    if (::MoveFileW(from.c_str(), to.c_str()))
        return {};
    const DWORD error = ::GetLastError();
    return Failure(what, error);
}

CActionOutcome RenameProcedure(const std::wstring& path, const std::wstring& newName)
{
    const std::wstring renamed = RenamedPath(path, newName);
    // A file is renamed through its short form, a folder as shown.
    const std::wstring from = ::PathIsDirectoryW(path.c_str()) ? path : ActionPath(path);
    return Moved(from, renamed, L"Unable to rename " + Quoted(path) + L" to " + Quoted(renamed));
}

CActionOutcome MoveProcedure(const CTarget& target, const CAfterActionRequest& request)
{
    const std::wstring moved = MoveDestination(target, request);
    return Moved(target.path, moved, L"Unable to move " + Quoted(target.path) + L" to " + Quoted(moved));
}

// A move needs a folder to go to, other than the one the path is in.
std::wstring DestinationProblem(const CTarget& target, const CAfterActionRequest& request)
{
    if (!request.destinationProblem.empty())
        return request.destinationProblem;
    if (!::PathIsDirectoryW(request.destination.c_str()))
        return Quoted(request.destination) + L" is not an existing folder to move into.";
    if (EqualsNoCase(ParentFolder(target.path), request.destination))
        return Quoted(target.path) + L" is already in " + Quoted(request.destination) +
               L"; choose another folder to move it to.";
    return {};
}

}  // namespace

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring ActionPath(const std::wstring& path)
{
    const std::wstring shortPath = ShortForm(path, true);
    return shortPath.empty() ? path : shortPath;
}

CAfterActionRequest MakeAfterActionRequest(const CTarget& target, AfterAction action, const std::wstring& newName,
                                           const std::wstring& destination)
{
    CAfterActionRequest request{action, newName, destination, {}};
    if (action == AfterAction::MoveTo && !destination.empty()) {
        CTargetPath folder = NormalizeTargetPath(destination, target.drives.aliases);
        request.destinationProblem = std::move(folder.problem);
        if (!folder.path.empty())
            request.destination = std::move(folder.path);
    }
    return request;
}

std::wstring MoveDestination(const CTarget& target, const CAfterActionRequest& request)
{
    return MovedPath(target.path, request.destination);
}

std::wstring AfterActionProblem(const CTarget& target, const CAfterActionRequest& request)
{
    switch (request.action) {
    case AfterAction::DoNothing: return {};
    case AfterAction::RenameTo:
        if (request.newName.empty())
            return L"Unable to rename unless a new name is specified!";
        break;
    case AfterAction::MoveTo:
        if (request.destination.empty())
            return L"Unable to move unless a new path is specified!";
        break;
    case AfterAction::Delete: break;
    }
    if (!target.problem.empty())
        return target.problem;
    if (std::wstring refused = ProtectedFolderProblem(target); !refused.empty())
        return refused;
    return request.action == AfterAction::MoveTo ? DestinationProblem(target, request) : std::wstring();
}

CActionOutcome CarryOutAfterAction(const CTarget& target, const CAfterActionRequest& request, IActionPrompts& prompts)
{
    switch (request.action) {
    case AfterAction::Delete: return DeleteProcedure(target.path, prompts);
    case AfterAction::RenameTo: return RenameProcedure(target.path, request.newName);
    case AfterAction::MoveTo: return MoveProcedure(target, request);
    case AfterAction::DoNothing: break;
    }
    return {};
}

}  // namespace tarnwick
