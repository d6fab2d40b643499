#pragma once
// What is done to the path once its locks are removed: delete it (or schedule its deletion
// at the next boot), rename it within its folder, or move it into another folder.

#include <string>

namespace tarnwick {

enum class AfterAction { DoNothing, Delete, RenameTo, MoveTo };

struct CAfterActionRequest {
    AfterAction action = AfterAction::DoNothing;
    std::wstring path;         // as shown to the user
    std::wstring newName;      // for RenameTo, taken as typed
    std::wstring destination;  // for MoveTo
};

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
    Kept,       // the path stays; its deletion at the next boot was not wanted
    Failed,     // refused, or the system failed the call: text says what and why
};

struct CActionOutcome {
    ActionResult result = ActionResult::Done;
    std::wstring text;  // for Failed: the message for the user, with the system's reason
};

// Carries out the after-action, unless the path is a folder that is never acted on.
CActionOutcome CarryOutAfterAction(const CAfterActionRequest& request, IActionPrompts& prompts);

// Why the after-action may not be carried out on the path; empty when it may, and always
// for "Do Nothing".
std::wstring RefusedAfterAction(const CAfterActionRequest& request);

bool PathExists(const std::wstring& path);
// The form the file system calls act on: the short form, or the path as shown when the
// volume keeps no short names or the path is too long for one.
std::wstring ActionPath(const std::wstring& path);
// The path's folder joined with the new name (one backslash between, none doubled).
std::wstring RenamedPath(const std::wstring& path, const std::wstring& newName);
// The destination joined with the path's last element.
std::wstring MovedPath(const std::wstring& path, const std::wstring& destination);
// The path without its last element, as the folder pickers open at it.
std::wstring ParentFolder(const std::wstring& path);

}  // namespace tarnwick
