#pragma once
// The one sequence of every command that removes locks: the window's "Unlock", "Unlock All",
// "Terminate" and "Close Program", and the command-line program's unlock, kill and close. Rows
// in, outcomes out; the questions and the waits go through one prompt interface that each
// front end answers its own way.

#include <windows.h>

#include <string>
#include <vector>

#include "LockRecords.h"
#include "LockRemoval.h"
#include "PathActions.h"
#include "ServiceControl.h"
#include "SystemServices.h"
#include "TargetPath.h"

namespace tarnwick {

// Close asks the owners to end (their services stopped through the service manager, their
// windows closed as a person closes them) and ends none of them unless told to.
enum class RemovalCommand { Unlock, UnlockAll, Terminate, Close };

// How long Close waits for the programs it asked, unless told otherwise, and how long every
// command waits for the processes it ended to be gone.
inline constexpr DWORD kCloseTimeoutMs = 10000;
inline constexpr DWORD kEndWaitMs = 5000;

// A reply to a question about one process; Stop ends the whole command before any lock
// is touched.
enum class Consent { Yes, No, Stop };

// What asking one owner to close came to.
enum class CloseResult {
    Closed,         // asked through its windows, and it has ended
    Stopped,        // its services were stopped (gone tells whether the process ended with them)
    StillRunning,   // asked, and still running when the time was up (it may be asking a question of its own)
    CannotBeAsked,  // it shows no window and hosts no service to be asked through: left alone
    Refused,        // the service manager would not stop one of its services (detail says which and why)
    Declined,       // stopping its services was answered No
    NotOpened,      // the process has gone, or refused to be opened
    OtherProcess,   // the process id now belongs to another process (or cannot be confirmed)
    Self,           // this program itself: left alone
};

// What became of one lock, or for Terminate and Close of one owner (told with the first of its
// rows).
struct CRowOutcome {
    const CLockItem* row = nullptr;
    UnlockResult unlocked = UnlockResult::NotOpened;  // Unlock, Unlock All
    EndResult ended = EndResult::NotOpened;           // Terminate; Close, where thenEnded
    CloseResult closed = CloseResult::NotOpened;      // Close
    bool thenEnded = false;  // Close: it did not close, and ending it was asked for (ended says how that went)
    bool gone = false;       // Terminate, Close: the process had ended when the waiting was over
    std::wstring detail;     // Close: the services stopped, or which one the manager refused and why
};

class IRemovalPrompts : public IActionPrompts {
public:
    // "Unlock All" would close every lock in the system.
    virtual bool ConfirmUnlockAll(const std::wstring& question) = 0;
    // An owner to end is a process Windows cannot run without.
    virtual Consent ConfirmEndCritical(const CLockItem& owner, const std::wstring& question) = 0;
    // An owner to end hosts services, which end with it. Asked as the question about a critical
    // process, where a front end does not ask it its own way.
    virtual Consent ConfirmEndServiceHost(const CLockItem& owner, const std::vector<CHostedService>& /*services*/,
                                          const std::wstring& question)
    {
        return ConfirmEndCritical(owner, question);
    }
    // Close: stopping an owner's services, and with them the running services that depend on
    // them. Nothing is stopped without a Yes.
    virtual Consent ConfirmStopServices(const CLockItem& /*owner*/, const CServiceStop& /*stop*/,
                                        const std::wstring& /*question*/)
    {
        return Consent::No;
    }
    // Close: the programs asked are still running when the time is up; true ends them, as
    // Terminate does.
    virtual bool ConfirmEndUnclosed(const std::vector<const CLockItem*>& /*owners*/, const std::wstring& /*question*/)
    {
        return false;
    }
    // Every wait of the sequence comes here: for a process to end (object), or a pause between
    // looks at a stopping service (no object). True when the object was signalled within ms.
    // This blocks the calling thread; a window that runs the sequence on its own thread waits
    // in a way that keeps its messages flowing instead.
    virtual bool Wait(HANDLE object, DWORD ms);
    virtual void Report(const CRowOutcome&) {}
    // The locks are dealt with (removed: the rows whose lock is gone) and the after-action
    // comes next; false ends the command here.
    virtual bool LocksRemoved(const std::vector<const CLockItem*>& /*removed*/) { return true; }
};

struct CRemovalRequest {
    RemovalCommand command = RemovalCommand::Unlock;
    std::vector<const CLockItem*> rows;  // the chosen rows: the selected ones, or all of them
    bool rowsListed = false;             // whether there are rows at all to choose from
    CAfterActionRequest afterAction;     // must have passed AfterActionProblem
    DWORD closeTimeoutMs = kCloseTimeoutMs;
};

// Why a command ended before its after-action; None when it ran to the end.
enum class RemovalStop { None, NothingChosen, Declined, Interrupted };

struct CRemovalOutcome {
    RemovalStop stopped = RemovalStop::None;
    std::vector<CRowOutcome> outcomes;
    std::vector<const CLockItem*> removed;  // the rows whose lock is gone, in the rows' order
    CActionOutcome action;
};

// Acts on the chosen rows, each owner once, and then carries out the after-action on the
// target. Tarnwick's own process is never acted on.
CRemovalOutcome RunRemoval(const CSystemServices& services, const CTarget& target, const CRemovalRequest& request,
                           IRemovalPrompts& prompts);

// "10 seconds", "1.5 seconds": how the sequence and the front ends say a time.
std::wstring SecondsText(DWORD ms);

// "owner.exe (PID 12)": how outcomes name a process.
std::wstring ProcessText(const CLockItem& owner);

// What became of an owner that was to be ended, and of one asked to close, as every front end
// says it: "Ended: owner.exe (PID 12)", "Still running after 10 seconds: owner.exe (PID 12) ...".
std::wstring EndOutcomeText(const CRowOutcome& outcome);
std::wstring CloseOutcomeText(const CRowOutcome& outcome, DWORD timeoutMs);

// "\"svc.exe\" (PID 640) hosts services: ending it stops these services: ...", as the question
// and the command-line program say it.
std::wstring ServiceHostWarning(const CLockItem& owner, const std::vector<CHostedService>& services);

}  // namespace tarnwick
