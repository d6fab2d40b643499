#include "PathActions.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <vector>

#include "PathForms.h"
#include "ProtectedFolders.h"
#include "ScopedHandle.h"
#include "Text.h"

namespace tarnwick {

namespace {

// What the shell's delete came to: its own code, and whether the person said No to its question.
struct CShellDeleteResult {
    int code = 0;
    bool declined = false;
};

// Sends the path to the Recycle Bin where its drive has one, through the shell.
CShellDeleteResult ShellDelete(const std::wstring& path, IActionPrompts& prompts)
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
    const int code = ::SHFileOperationW(&operation);
    prompts.ShellDeleteRunning(false);
    return {code, operation.fAnyOperationsAborted != FALSE};
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

// Why the system will not open the path for deletion; empty when it will. The handle goes at
// once: while it is open, nothing else may open the path without sharing its deletion.
std::wstring OpenForDeletionProblem(const std::wstring& path)
{
    const UniqueHandle opened(
        ::CreateFileW(WithLongPathPrefix(path).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return opened ? std::wstring() : Quoted(path) + L": " + SystemMessage(::GetLastError());
}

// The first part of the path (the path itself, or what a folder holds) that the system will
// not open for deletion, with the system's reason; empty when every part opens. Links inside a
// folder are looked at, never followed.
std::wstring FirstUndeletablePart(const std::wstring& path, DWORD attributes)
{
    if (std::wstring problem = OpenForDeletionProblem(path); !problem.empty())
        return problem;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return {};
    WIN32_FIND_DATAW found = {};
    const UniqueFindHandle find(::FindFirstFileW(WithLongPathPrefix(path + L"\\*").c_str(), &found));
    for (BOOL more = bool(find); more; more = ::FindNextFileW(find.get(), &found)) {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (std::wstring part = FirstUndeletablePart(path + L"\\" + name, found.dwFileAttributes); !part.empty())
            return part;
    }
    return {};
}

// Why the path is still there after the shell's delete, as the system tells it.
std::wstring UndeletedText(const std::wstring& path, int shellCode)
{
    std::wstring reason = FirstUndeletablePart(path, ::GetFileAttributesW(path.c_str()));
    if (reason.empty()) {
        wchar_t code[16];
        std::swprintf(code, 16, L"0x%x", unsigned(shellCode));
        reason = L"the shell left it in place (its code " + std::wstring(code) +
                 L"), and every part of it opens for deletion.";
    }
    return L"Unable to delete " + Quoted(path) + L":\n" + reason;
}

CActionOutcome DeleteProcedure(const std::wstring& path, IActionPrompts& prompts)
{
    if (!PathExists(path)) {
        prompts.Tell(L"It looks like the specified path does not exist");
        return {};
    }
    const CShellDeleteResult shell = ShellDelete(ActionPath(path), prompts);
    if (!PathExists(path)) {
        prompts.Tell(L"Path was successfully deleted");
        return {};
    }
    if (shell.declined)
        return {ActionResult::Kept, {}};  // the person said No to the shell: nothing more to ask
    const std::wstring undeleted = UndeletedText(path, shell.code);
    if (!prompts.ConfirmDeleteAtBoot(
            L"Unable to delete path, would you like to schedule it for permanent deletion on the next boot?"))
        return {ActionResult::Kept, undeleted};
    CActionOutcome scheduled = ScheduleDeletionAtBoot(path);
    scheduled.text = scheduled.result == ActionResult::Scheduled ? undeleted : undeleted + L"\n" + scheduled.text;
    return scheduled;
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

// The volume a path lies on, as the root or mount point it starts from; empty when unknown.
std::wstring VolumeOf(const std::wstring& path)
{
    wchar_t volume[MAX_PATH + 1] = {};
    return ::GetVolumePathNameW(path.c_str(), volume, MAX_PATH + 1) ? volume : L"";
}

// A folder moves by a rename of its entry, which stays on its volume.
bool OnAnotherVolume(const std::wstring& path, const std::wstring& destination)
{
    const std::wstring from = VolumeOf(path), to = VolumeOf(destination);
    return !from.empty() && !to.empty() && !EqualsNoCase(from, to);
}

std::wstring AlreadyExists(const std::wstring& path)
{
    return Quoted(path) + L" already exists; Tarnwick does not replace it.";
}

// A move needs a folder to go to, other than the one the path is in and not the path itself
// or below it; a folder only within its volume; and no name there that is taken.
std::wstring DestinationProblem(const CTarget& target, const CAfterActionRequest& request)
{
    if (!request.destinationProblem.empty())
        return request.destinationProblem;
    if (!::PathIsDirectoryW(request.destination.c_str()))
        return Quoted(request.destination) + L" is not an existing folder to move into.";
    if (EqualsNoCase(request.destination, target.path) || StartsWithNoCase(request.destination, target.path + L"\\"))
        return Quoted(request.destination) + L" is " + Quoted(target.path) + L" itself or inside it; " +
               L"a folder cannot be moved into itself.";
    if (EqualsNoCase(ParentFolder(target.path), request.destination))
        return Quoted(target.path) + L" is already in " + Quoted(request.destination) +
               L"; choose another folder to move it to.";
    if (::PathIsDirectoryW(target.path.c_str()) && OnAnotherVolume(target.path, request.destination))
        return Quoted(target.path) + L" is a folder, and " + Quoted(request.destination) +
               L" is on another volume; a folder moves only within its volume.";
    if (const std::wstring moved = MoveDestination(target, request); PathExists(moved))
        return AlreadyExists(moved);
    return {};
}

// A rename to a name that is taken, other than the path's own in another case.
std::wstring RenameProblem(const CTarget& target, const CAfterActionRequest& request)
{
    const std::wstring renamed = RenamedPath(target.path, request.newName);
    return PathExists(renamed) && !EqualsNoCase(renamed, target.path) ? AlreadyExists(renamed) : std::wstring();
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
    if (request.action == AfterAction::MoveTo)
        return DestinationProblem(target, request);
    return request.action == AfterAction::RenameTo ? RenameProblem(target, request) : std::wstring();
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
