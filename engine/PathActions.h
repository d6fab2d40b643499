#pragma once
// What is done to the path once its locks are removed: delete it (or schedule its deletion
// at the next boot), rename it within its folder, or move it into another folder.

#include <string>

#include "TargetPath.h"

namespace tarnwick {

enum class AfterAction { DoNothing, Delete, RenameTo, MoveTo };

struct CAfterActionRequest {
    AfterAction action = AfterAction::DoNothing;
    std::wstring newName;             // for RenameTo, taken as typed
    std::wstring destination;         // for MoveTo: normalised as targets are
    std::wstring destinationProblem;  // why the destination as written names no folder (a device)
};

// The request with its destination normalised once, through the command's drive table.
CAfterActionRequest MakeAfterActionRequest(const CTarget& target, AfterAction action, const std::wstring& newName,
                                           const std::wstring& destination);

// How a front end tells the user about outcomes and asks its one question.
class IActionPrompts {
public:
    virtual ~IActionPrompts() = default;
    virtual void Tell(const std::wstring& text) = 0;
    // The path stays after a delete: schedule its deletion at the next boot?
    virtual bool ConfirmDeleteAtBoot(const std::wstring& question) = 0;
    // Whether the shell may show its own confirmation and progress for the delete.
    virtual bool ShellMayAsk() const { return true; }
    // Called with true before the shell's delete and with false after it: its windows have
    // no owner, so a front end's own window would otherwise go on taking commands.
    virtual void ShellDeleteRunning(bool) {}
};

enum class ActionResult {
    Done,       // done as asked, or nothing was asked
    Scheduled,  // the path stays; its deletion at the next boot is registered
    Kept,       // the path stays: the person said No to the shell's question, or to the deletion at the next boot
    Failed,     // the system failed the call: text says what and why
};

struct CActionOutcome {
    ActionResult result = ActionResult::Done;
    // For Failed: the message for the user, with the system's reason. For a delete the system
    // refused (Scheduled, or Kept after the question about the next boot): why it did.
    std::wstring text;
};

// Why the after-action cannot be carried out on the target: a missing new name or folder, a
// destination that is no folder, the path's own folder, the path itself or inside it, a folder
// on another volume, a name there or a new name that is taken, a path that is never acted on.
// Empty when it can, and always for "Do Nothing". Asked before any lock is touched.
std::wstring AfterActionProblem(const CTarget& target, const CAfterActionRequest& request);

// Carries out an after-action that passed AfterActionProblem on the target's path.
CActionOutcome CarryOutAfterAction(const CTarget& target, const CAfterActionRequest& request, IActionPrompts& prompts);

bool PathExists(const std::wstring& path);
// The form the file system calls act on: the short form, or the path as shown when the
// volume keeps no short names or the path is too long for one.
std::wstring ActionPath(const std::wstring& path);
// Where a move takes the target: the destination folder joined with its last element.
std::wstring MoveDestination(const CTarget& target, const CAfterActionRequest& request);

}  // namespace tarnwick
